#include "download.h"

#include <cstring>

namespace ziv {

namespace {
struct HexTables {
    char lower[256][2];
    char upper[256][2];
    // Each byte's whole data line ("hh" CR LF), ready to store in one go.
    std::uint32_t line_lower[256];
    std::uint32_t line_upper[256];
    HexTables()
    {
        const char* lo = "0123456789abcdef";
        const char* up = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i) {
            lower[i][0] = lo[i >> 4];
            lower[i][1] = lo[i & 15];
            upper[i][0] = up[i >> 4];
            upper[i][1] = up[i & 15];
            const char lo_line[4] = {lower[i][0], lower[i][1], '\r', '\n'};
            const char up_line[4] = {upper[i][0], upper[i][1], '\r', '\n'};
            std::memcpy(&line_lower[i], lo_line, 4);
            std::memcpy(&line_upper[i], up_line, 4);
        }
    }
};
const HexTables kHex;

void put_hex(OutFile& out, std::uint32_t value, int digits)
{
    char buf[9];
    for (int i = digits - 1; i >= 0; --i) {
        buf[i] = "0123456789abcdef"[value & 15];
        value >>= 4;
    }
    out.write(buf, static_cast<std::size_t>(digits));
}
}  // namespace

const char* hex_pair(unsigned char byte, HexCase hc)
{
    return hc == HexCase::Upper ? kHex.upper[byte] : kHex.lower[byte];
}

NameField make_name_field(std::string_view name)
{
    NameField f{};
    for (std::size_t i = 0; i < name.size() && i < kMaxName; ++i) f[i] = static_cast<unsigned char>(name[i]);
    return f;
}

int name_check_sum(const NameField& name)
{
    int sum = 0;
    for (std::size_t i = 0; i < name.size(); i += 2) sum += static_cast<signed char>(name[i]);
    return sum;
}

void DownloadWriter::header_line(unsigned char type_code)
{
    out_.write("ABCD", 4);
    out_.write(hex_pair(type_code, HexCase::Upper), 2);
    out_.write("\r\n", 2);
}

void DownloadWriter::name_line(const NameField& name, std::uint16_t module_count, std::uint16_t check,
                               bool module_type_follows, HexCase name_case)
{
    for (unsigned char b : name) out_.write(hex_pair(b, name_case), 2);
    put_hex(out_, module_count, 4);
    put_hex(out_, check, 4);
    if (module_type_follows) out_.write("00", 2);
    out_.write("\r\n", 2);
}

void DownloadWriter::module_record(unsigned char module_type, std::uint32_t length, std::uint32_t start)
{
    out_.write(hex_pair(module_type, HexCase::Lower), 2);
    put_hex(out_, length, 8);
    put_hex(out_, start, 8);
    out_.write("\r\n", 2);
}

void DownloadWriter::length_line(std::uint32_t length)
{
    put_hex(out_, length, 8);
    out_.write("\r\n", 2);
}

void DownloadWriter::data_lines(const unsigned char* bytes, std::size_t n, HexCase hc)
{
    const std::uint32_t* table = hc == HexCase::Upper ? kHex.line_upper : kHex.line_lower;
    constexpr std::size_t kChunk = 16384;
    while (n > 0) {
        std::size_t k = n < kChunk ? n : kChunk;
        unsigned char* p = out_.reserve(4 * k);
        for (std::size_t i = 0; i < k; ++i) std::memcpy(p + 4 * i, &table[bytes[i]], 4);
        out_.commit(4 * k);
        bytes += k;
        n -= k;
    }
}

void DownloadWriter::end_line() { out_.write("55\r\n", 4); }

}  // namespace ziv
