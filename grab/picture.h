// What zivgrab does with a picture once the control has saved it: the output
// names (with a counter for the images of a stream), the file format chosen by
// the name, writing files so that only a complete one ever appears, and the
// coarse preview in the terminal.
#pragma once

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace ziv::grab {

// An output name, possibly with one counter that numbers the images of a
// stream: "img-%06d.png". Parsed here and formatted here, so no text of the
// command line ever becomes a printf format.
class OutputName {
public:
    // Reads `text`: at most one integer conversion %d, %i or %u with an
    // optional 0 flag and width (%06d), and %% for a literal %; false for any
    // other % (a name without % is taken as it is).
    bool parse(const std::string& text);
    bool has_counter() const { return counter_; }
    // The name of image `number` (the name itself when there is no counter).
    std::string name(std::uint64_t number) const;

private:
    std::string prefix_, suffix_;
    bool counter_ = false;
    bool zero_pad_ = false;
    int width_ = 0;
};

// Qt's writer format for an output name ("png" for "a.PNG"), or null when the
// control's own BMP file is the output.
const char* qt_format_for(const std::string& file_name);

// Writes `image` (8-bit grey) to `file_name` in `format`, or `bytes` as they
// are. A regular file appears only once all of it was written (it is written
// beside and then put in place); a device or pipe such as /dev/null is
// written directly. False with the reason in `error`, the target untouched.
bool write_picture(const QImage& image, const std::string& file_name, const char* format, std::string& error);
bool write_bytes(const QByteArray& bytes, const std::string& file_name, std::string& error);

// The grey levels of an 8-bit grey image as lines of characters at most
// `columns` wide (a character is about twice as high as wide), dark to bright
// " .:-=+*#%@", each line indented by four blanks.
std::vector<std::string> preview_lines(const QImage& grey, int columns = 64);

}  // namespace ziv::grab
