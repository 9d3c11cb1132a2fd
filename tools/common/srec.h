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
inline std::uint8_t getspair(char hi, char lo) {
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
    std::string_view data;          // Data: 2n characters
    const char* problem = nullptr;  // Bad: what is wrong with the line
};
SrecLine parse_srec_line(std::string_view line);

// The longest record line: type, byte count FF and 255 bytes.
inline constexpr std::size_t kSrecMaxLine = 4 + 2 * 0xFF;

// The S-record line reader of recjoin and recraw: the data fields of a file's
// lines in order, each line taken by parse_srec_line.
class SrecReader {
public:
    enum class Result { Data, End, Bad };

    // `in` is open in text mode.
    explicit SrecReader(InFile& in) : in_(in) {}

    // Data: `data` holds the next data field. End: the input is over, by its
    // end or by a read error (the InFile's failed() tells). Bad: the line
    // lineno() is refused for problem().
    Result next(std::string_view& data);
    unsigned long long lineno() const { return lineno_; }
    const char* problem() const { return problem_; }

private:
    InFile& in_;
    unsigned long long lineno_ = 0;
    const char* problem_ = nullptr;
};

// Writes one S2 record: byte count and address in upper case, the data
// characters exactly as given (2n characters for n bytes, case kept), the
// checksum recomputed, CR LF. Returns false, writing nothing, when the data
// does not fit one record or would reach beyond address FFFFFF. A record
// without data at the very end of the address space (a download of exactly
// 16 MiB) has no address left to carry and is left out.
bool srcflush(OutFile& out, std::string_view data, std::uint32_t address);

// recmake's work on open files: the download file `in` (text mode) as
// S-records into `out`, terminator included, and closes `out`. Prints what
// stops it and returns the exit status.
int make_records(InFile& in, OutFile& out);

// The three tools; each returns the process exit status.
int run_recmake(int argc, char** argv);
int run_recjoin(int argc, char** argv);
int run_recraw(int argc, char** argv);

}  // namespace ziv
