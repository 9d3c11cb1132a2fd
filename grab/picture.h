// What zivgrab does with a picture once the control has saved it: the file
// format chosen by the output name, the conversion through Qt's image writers,
// and the coarse preview in the terminal.
#pragma once

#include <QImage>

#include <string>
#include <vector>

namespace ziv::grab {

// Qt's writer format for an output name ("png" for "a.PNG"), or null when the
// control's own BMP file is the output.
const char* qt_format_for(const std::string& file_name);

// Writes `image` (8-bit grey) to `file_name` in `format`; false with the
// writer's reason in `error`.
bool write_picture(const QImage& image, const std::string& file_name, const char* format, std::string& error);

// The grey levels of an 8-bit grey image as lines of characters at most
// `columns` wide (a character is about twice as high as wide), dark to bright
// " .:-=+*#%@", each line indented by four blanks.
std::vector<std::string> preview_lines(const QImage& grey, int columns = 64);

}  // namespace ziv::grab
