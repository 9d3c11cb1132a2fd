// The download file ADSP.OUT: the hex text form of the byte stream that the
// camera takes in (signature AB CD, type code, name field, module count, check
// word, modules closed by the end mark 55). The writer steps here are shared
// by every converter.
#pragma once

#include "textio.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace ziv {

inline constexpr const char* kDownloadFile = "ADSP.OUT";
inline constexpr std::size_t kMaxName = 8;

enum class HexCase { Lower, Upper };

namespace detail {
struct HexTables {
    char lower[256][2];
    char upper[256][2];
    // Each byte's whole data line ("hh" CR LF), ready to store in one go.
    std::uint32_t line_lower[256];
    std::uint32_t line_upper[256];
    HexTables();
};
extern const HexTables kHex;
}  // namespace detail

// The two hex digits of a byte, for tight formatting loops.
inline const char* hex_pair(unsigned char byte, HexCase hc) {
    return hc == HexCase::Upper ? detail::kHex.upper[byte] : detail::kHex.lower[byte];
}

// Nine bytes: the name as typed, zero-padded; the ninth is always zero.
using NameField = std::array<unsigned char, 9>;
NameField make_name_field(std::string_view name);

// b0 + b2 + b4 + b6 + b8 with each byte taken as a signed 8-bit value.
int name_check_sum(const NameField& name);

// A 16-bit field value as four hex digits. The check word is a sum kept to
// its low 16 bits, so it always fits its four digits.
inline std::uint16_t check_word(int sum) { return static_cast<std::uint16_t>(sum & 0xFFFF); }

class DownloadWriter {
public:
    explicit DownloadWriter(OutFile& out) : out_(out) {}

    void header_line(unsigned char type_code);
    void name_line(const NameField& name, std::uint16_t module_count, std::uint16_t check, bool module_type_follows,
                   HexCase name_case);
    void module_record(unsigned char module_type, std::uint32_t length, std::uint32_t start);
    void length_line(std::uint32_t length);
    // One data line per byte, in the given case.
    void data_lines(const unsigned char* bytes, std::size_t n, HexCase hc);
    void end_line();

private:
    OutFile& out_;
};

}  // namespace ziv
