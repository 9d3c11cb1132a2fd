// File access for the download tools.
//
// The tools were made for a C library whose text mode changes what a program
// reads and writes: on input a CR LF pair arrives as a single LF and a byte
// 0x1A ends the file; on output every LF goes out as CR LF. InFile and OutFile
// reproduce exactly that on any platform, so every tool reads and writes the
// same bytes everywhere. Both are buffered in large blocks: the converters
// handle files of many megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ziv {

enum class FileMode { Text, Binary };

class InFile {
public:
    InFile() = default;
    ~InFile();
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;

    // False when the file cannot be opened for reading.
    bool open(const char* path, FileMode mode);
    void close();

    // Copies up to n bytes of the (translated) input; 0 at the end.
    std::size_t read(unsigned char* dst, std::size_t n);

    // The next byte, or -1 at the end of the input.
    int getc()
    {
        if (pos_ == end_ && !fill()) return -1;
        return buf_[pos_++];
    }

    // Bytes left in the input when it is a regular file read in binary mode
    // (-1 otherwise). Lets binary counting skip a read of the whole file.
    std::int64_t remaining_binary_size() const;

private:
    bool fill();

    int fd_ = -1;
    FileMode mode_ = FileMode::Binary;
    bool at_end_ = false;       // no more raw bytes will be read
    bool held_cr_ = false;      // a CR at the end of the last raw block, undecided
    std::unique_ptr<unsigned char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

class OutFile {
public:
    OutFile() = default;
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // Creates or empties the file. False when it cannot be opened.
    bool open(const char* path);
    // Writes what is buffered and closes; false if any write failed.
    bool close();
    bool flush();

    // A scratch file that never outgrew the buffer can be read back from
    // memory: written_through() is false and pending() holds everything.
    bool written_through() const { return written_through_; }
    std::string_view pending() const { return {reinterpret_cast<const char*>(buf_.get()), used_}; }
    void drop_pending() { used_ = 0; }

    void write(const void* data, std::size_t n)
    {
        if (n <= kSize - used_) {
            std::memcpy(buf_.get() + used_, data, n);
            used_ += n;
        } else {
            write_slow(data, n);
        }
    }
    void write(std::string_view s) { write(s.data(), s.size()); }
    // One text line: its characters and the line end CR LF.
    void line(std::string_view s)
    {
        write(s);
        write("\r\n", 2);
    }

    // Direct access to the buffer for tight formatting loops: reserve(n) makes
    // room for n bytes and returns where to put them; commit(n) keeps them.
    static constexpr std::size_t kSize = 1 << 20;
    unsigned char* reserve(std::size_t n)
    {
        if (kSize - used_ < n) flush();
        return buf_.get() + used_;
    }
    void commit(std::size_t n) { used_ += n; }

private:
    void write_slow(const void* data, std::size_t n);

    int fd_ = -1;
    bool failed_ = false;
    bool written_through_ = false;
    std::unique_ptr<unsigned char[]> buf_;
    std::size_t used_ = 0;
};

// Opening as the tools do it: when the file cannot be opened, `message` (a
// whole line, line end included) goes to standard output and the result is
// false; the caller then ends with its exit status.
bool open_or_report(InFile& in, const char* path, FileMode mode, const char* message);
bool open_or_report(OutFile& out, const char* path, const char* message);

// The lines of a text file, by the text-mode rules above (a CR LF pair ends a
// line, a lone CR is an ordinary character, a byte 0x1A ends the input, a last
// line without a line end is dropped). It reads from an InFile opened in
// binary mode and applies the rules itself, per line. It hands out views into its own large block instead of copying every
// line, which the tools need to keep up with the disk on 64 MB download files;
// its tests hold it to the same lines as InFile::readline.
class TextLines {
public:
    // max_line > 0: a longer line may be handed out cut, though never to
    // max_line characters or fewer, so that memory stays bounded whatever the
    // input. Without it the block grows to hold the longest line.
    explicit TextLines(InFile& in, std::size_t max_line = 0, std::size_t block = 1 << 20);

    // The next line without its line end; false at the end of the input. The
    // view stays valid until the next call.
    bool next(std::string_view& line)
    {
        // Most lines of the tools' files are a few characters long: look for
        // the line feed in the next eight bytes at once before paying for a call.
        const char* nl = nullptr;
        const std::size_t avail = static_cast<std::size_t>(end_ - pos_);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if (avail >= 8) {
            std::uint64_t word;
            std::memcpy(&word, pos_, 8);
            const std::uint64_t x = word ^ 0x0A0A0A0A0A0A0A0Aull;  // zero bytes where a LF stands
            const std::uint64_t found = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
            if (found) {
                nl = pos_ + (__builtin_ctzll(found) >> 3);  // little-endian: first byte lowest
            } else {
                nl = static_cast<const char*>(std::memchr(pos_ + 8, '\n', avail - 8));
            }
        } else
#endif
        if (avail > 0) {
            nl = static_cast<const char*>(std::memchr(pos_, '\n', avail));
        }
        if (!nl) return next_slow(line);
        std::size_t k = static_cast<std::size_t>(nl - pos_);
        if (k > 0 && pos_[k - 1] == '\r') --k;
        line = std::string_view(pos_, k);
        pos_ = nl + 1;
        return true;
    }

    // For tight loops over short lines: the bytes buffered but not yet taken
    // (line ends still in them; only the end at 0x1A applied), and skip_to() to
    // take some of them. Only whole lines, line end included, may be taken.
    const char* pending_begin() const { return pos_; }
    const char* pending_end() const { return end_; }
    void skip_to(const char* p) { pos_ = p; }

private:
    bool next_slow(std::string_view& line);
    bool next_overlong(std::string_view& line);
    std::size_t read_block(std::size_t from);

    InFile& in_;
    std::size_t max_line_;
    std::vector<char> buf_;
    const char* pos_ = nullptr;
    const char* end_ = nullptr;
    bool at_end_ = false;
};

}  // namespace ziv
