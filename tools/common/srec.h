// The S-record dialect of the download tools: S2 data records with 24-bit
// addresses counted from 0 and the single terminator "S9030000FC", and the
// pieces that recmake, recjoin and recraw share to read and write it.
#pragma once

#include "textio.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace ziv {

inline constexpr std::string_view kSrecTerminator = "S9030000FC";

// An S2 address has 24 bits: data may fill 000000 to FFFFFF.
inline constexpr std::uint32_t kSrecAddressSpace = 0x1000000;

// The byte count field holds n + 4 in two digits.
inline constexpr std::size_t kSrecMaxData = 0xFF - 4;

namespace detail {
// getspair for every pair of characters, indexed by first | second << 8.
struct SpairTable {
    std::uint8_t value[1 << 16];
    SpairTable();
};
extern const SpairTable kSpair;
}  // namespace detail

// Two hex characters to a byte, the first the high half. A hex digit of either
// case gives its value; any other character counts with its own code taken as
// a signed 8-bit value, and the result is ((first << 4) | second) & 0xFF.
// Input is converted by this rule without complaint.
inline std::uint8_t getspair(char hi, char lo)
{
    return detail::kSpair.value[static_cast<unsigned char>(hi) | static_cast<unsigned char>(lo) << 8];
}

// A line of an S-record file as recjoin and recraw take it. Terminators (any
// line whose second character is 9, and S7, S8), header and count records
// (S0, S5, S6) and empty lines carry no data and are passed over. S1, S2 and
// S3 lines give their data field: from behind the address to before the last
// two characters (the checksum). Neither the byte count, the address nor the
// checksum is checked; the data characters are converted by getspair's rule.
struct SrecLine {
    enum class Kind { Data, Skip, Bad };
    Kind kind = Kind::Skip;
    std::string_view data;        // Data: 2n characters
    const char* problem = nullptr;  // Bad: what is wrong with the line
};
SrecLine parse_srec_line(std::string_view line);

// The longest record line: type, byte count FF and 255 bytes.
inline constexpr std::size_t kSrecMaxLine = 4 + 2 * 0xFF;

// Writes one S2 record: byte count and address in upper case, the data
// characters exactly as given (2n characters for n bytes, case kept), the
// checksum recomputed, CR LF. Returns false, writing nothing, when the data
// does not fit one record or would reach beyond address FFFFFF. A record
// without data at the very end of the address space (a download of exactly
// 16 MiB) has no address left to carry and is left out.
bool srcflush(OutFile& out, std::string_view data, std::uint32_t address);

// Lines of a file with the text-mode rules of textio.h (a CR LF pair ends a
// line, a lone CR is an ordinary character, a byte 0x1A ends the input, a last
// line without a line end is dropped), read from an InFile opened in binary
// mode. It hands out views into its own large block instead of copying every
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
        const char* nl = nullptr;
        if (pos_ != end_) nl = static_cast<const char*>(std::memchr(pos_, '\n', static_cast<std::size_t>(end_ - pos_)));
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

// The three tools; each returns the process exit status.
int run_recmake(int argc, char** argv);
int run_recjoin(int argc, char** argv);
int run_recraw(int argc, char** argv);

}  // namespace ziv
