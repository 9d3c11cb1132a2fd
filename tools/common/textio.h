// File access for the download tools.
//
// The tools were made for a C library whose text mode changes what a program
// reads: a CR LF pair arrives as a single LF and a byte 0x1A ends the file.
// InFile applies exactly these rules, and nothing else does: a file opened in
// text mode reads the same whether it is taken as bytes or as lines, and on any
// platform. OutFile writes bytes as they are given; only its line() ends a
// line with CR LF, as the old text mode wrote a line feed. Both work in large
// blocks: the tools handle files of many megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace ziv {

enum class FileMode { Text, Binary };

// The block size of both kinds of file. A build may set a smaller one: the
// fuzz targets run a whole tool per input, and under the sanitizers a fresh
// megabyte per file costs many times the tool's own work. The tools read and
// write the same bytes with any size; it must hold the largest piece a writer
// reserves at once (an S-record line).
#ifndef ZIV_TOOLS_BLOCK_BYTES
#define ZIV_TOOLS_BLOCK_BYTES (1 << 20)
#endif
inline constexpr std::size_t kToolsBlock = ZIV_TOOLS_BLOCK_BYTES;

// What an input must be. A tool that reads its input twice needs a regular
// file: a pipe or a device gives its bytes only once, and a second opening of
// a pipe would wait for ever for a writer.
enum class InputKind { Any, RegularFile };

class InFile {
public:
    static constexpr std::size_t kBlock = kToolsBlock;

    // `block`: the most bytes taken from the file (or memory) at a time.
    explicit InFile(std::size_t block = kBlock);
    ~InFile();
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;

    // False when the file cannot be opened for reading, is a folder, or is not
    // of the kind asked for (wrong_kind() then says so). An input that must be
    // a regular file is checked without waiting for a pipe's writer.
    bool open(const char* path, FileMode mode, InputKind kind = InputKind::Any);
    // Reads `bytes` as if they were a file's; they must outlive the reading.
    void open_memory(std::string_view bytes, FileMode mode);
    void close();

    bool wrong_kind() const { return wrong_kind_; }
    // True once a read failed (until the next open). The input ends there;
    // what was read before stays valid.
    bool failed() const { return failed_; }
    // Whether `path` names the file being read.
    bool is_file(const char* path) const;

    // --- as bytes -------------------------------------------------------------

    // Copies up to n bytes of the input (text mode: translated); 0 at the end.
    std::size_t read(unsigned char* dst, std::size_t n);

    // The next byte, or -1 at the end of the input.
    int getc() {
        if (pos_ < end_ && (!text_ || *pos_ != '\r')) return static_cast<unsigned char>(*pos_++);
        unsigned char c;
        return read(&c, 1) == 1 ? c : -1;
    }

    // Bytes left in the input when it is a regular file or memory read in
    // binary mode (-1 otherwise). Lets binary counting skip a read of the whole file.
    std::int64_t remaining_binary_size() const;

    // --- as lines -------------------------------------------------------------

    // The next line without its line end (LF; in text mode also CR LF); false
    // at the end of the input. A last line without a line end is not read.
    // The view stays valid until the next read. max_line > 0: a longer line
    // may be handed out cut, though never to max_line characters or fewer, so
    // that memory stays bounded whatever the input; without it the buffer
    // grows to hold the longest line.
    bool next_line(std::string_view& line, std::size_t max_line = 0) {
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
        if (!nl) return next_line_slow(line, max_line);
        take_line(nl, line);
        return true;
    }

    // For tight loops over short lines: the bytes buffered but not yet taken
    // (line ends still in them, as stored; only the end at 0x1A applied), and
    // skip_to() to take some of them. Only whole lines, line end included, may
    // be taken.
    const char* pending_begin() const { return pos_; }
    const char* pending_end() const { return end_; }
    void skip_to(const char* p) { pos_ += p - pos_; }

private:
    void start(FileMode mode);
    std::size_t read_source(char* to, std::size_t n);
    bool take_more(std::size_t space);
    bool refill();
    bool next_line_slow(std::string_view& line, std::size_t max_line);
    bool pass_over_long_line(std::string_view& line, std::size_t max_line);
    void take_line(const char* nl, std::string_view& line) {
        std::size_t k = static_cast<std::size_t>(nl - pos_);
        if (text_ && k > 0 && pos_[k - 1] == '\r') --k;
        line = std::string_view(pos_, k);
        pos_ += (nl - pos_) + 1;
    }

    std::size_t block_;
    int fd_ = -1;
    bool in_memory_ = false;
    std::string_view memory_;
    std::size_t memory_pos_ = 0;
    bool text_ = false;
    bool at_end_ = true;  // nothing more will come from the source
    bool failed_ = false;
    bool wrong_kind_ = false;
    std::unique_ptr<char[]> buf_;
    std::size_t cap_ = 0;
    char* pos_ = nullptr;  // [pos_, end_): buffered, not yet taken
    char* end_ = nullptr;
};

class OutFile {
public:
    OutFile() = default;
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // Creates or empties the file. False when it cannot be opened.
    bool open(const char* path);
    // Opens the file of the last open() again, which empties it.
    bool reopen();
    const std::string& path() const { return path_; }
    // Writes what is buffered and closes; false if any write failed.
    bool close();
    bool flush();

    // Bytes written since the file was opened, buffered ones included.
    std::uint64_t size() const { return flushed_ + used_; }

    // A scratch file that never outgrew the buffer can be read back from
    // memory: written_through() is false and pending() holds everything.
    bool written_through() const { return written_through_; }
    std::string_view pending() const { return {reinterpret_cast<const char*>(buf_.get()), used_}; }
    void drop_pending() { used_ = 0; }

    void write(const void* data, std::size_t n) {
        if (n <= kSize - used_) {
            std::memcpy(buf_.get() + used_, data, n);
            used_ += n;
        } else {
            write_slow(data, n);
        }
    }
    void write(std::string_view s) { write(s.data(), s.size()); }
    // One text line: its characters and the line end CR LF.
    void line(std::string_view s) {
        write(s);
        write("\r\n", 2);
    }

    // Direct access to the buffer for tight formatting loops: reserve(n) makes
    // room for n bytes (at most kSize) and returns where to put them; commit(n)
    // keeps them.
    static constexpr std::size_t kSize = kToolsBlock;
    unsigned char* reserve(std::size_t n) {
        if (kSize - used_ < n) flush();
        return buf_.get() + used_;
    }
    void commit(std::size_t n) { used_ += n; }

private:
    void write_slow(const void* data, std::size_t n);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    bool written_through_ = false;
    std::unique_ptr<unsigned char[]> buf_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
};

// Opening as the tools do it: when the file cannot be opened, `message` (a
// whole line, line end included) goes to standard output and the result is
// false; the caller then ends with its exit status. An input of the wrong kind
// is named instead: "<path> is not a regular file: ...".
bool open_or_report(InFile& in, const char* path, FileMode mode, const char* message, InputKind kind = InputKind::Any);
bool open_or_report(OutFile& out, const char* path, const char* message);

// Opening an output empties it: were it the input, the input would be lost
// before it is read. When `output` names the file `in` reads, prints
// "<output_label> is <input_label>: it would be emptied before it is read"
// and returns true; the caller then ends with exit status 1.
bool output_is_input(const char* output, const InFile& in, const char* output_label, const char* input_label);

// When a read of `in` failed, prints "read error on <name>" and returns true;
// the caller then ends with exit status 1, keeping what it has written.
bool report_read_error(const InFile& in, const char* name);

}  // namespace ziv
