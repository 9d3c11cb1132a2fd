#include "download.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZIV_HAVE_SSSE3_PATH 1
#endif

namespace ziv {

namespace {

void put_hex(OutFile& out, std::uint32_t value, int digits) {
    char buf[9];
    for (int i = digits - 1; i >= 0; --i) {
        buf[i] = "0123456789abcdef"[value & 15];
        value >>= 4;
    }
    out.write(buf, static_cast<std::size_t>(digits));
}
}  // namespace

namespace detail {
HexTables::HexTables() {
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
const HexTables kHex;
}  // namespace detail

using detail::kHex;

NameField make_name_field(std::string_view name) {
    NameField f{};
    for (std::size_t i = 0; i < name.size() && i < kMaxName; ++i) f[i] = static_cast<unsigned char>(name[i]);
    return f;
}

int name_check_sum(const NameField& name) {
    int sum = 0;
    for (std::size_t i = 0; i < name.size(); i += 2) sum += static_cast<signed char>(name[i]);
    return sum;
}

void DownloadWriter::header_line(unsigned char type_code) {
    out_.write("ABCD", 4);
    out_.write(hex_pair(type_code, HexCase::Upper), 2);
    out_.write("\r\n", 2);
}

void DownloadWriter::name_line(const NameField& name, std::uint16_t module_count, std::uint16_t check,
                               bool module_type_follows, HexCase name_case) {
    for (unsigned char b : name) out_.write(hex_pair(b, name_case), 2);
    put_hex(out_, module_count, 4);
    put_hex(out_, check, 4);
    if (module_type_follows) out_.write("00", 2);
    out_.write("\r\n", 2);
}

void DownloadWriter::module_record(unsigned char module_type, std::uint32_t length, std::uint32_t start) {
    out_.write(hex_pair(module_type, HexCase::Lower), 2);
    put_hex(out_, length, 8);
    put_hex(out_, start, 8);
    out_.write("\r\n", 2);
}

void DownloadWriter::length_line(std::uint32_t length) {
    put_hex(out_, length, 8);
    out_.write("\r\n", 2);
}

#ifdef ZIV_HAVE_SSSE3_PATH
namespace {
// Sixteen bytes at a time: split into nibbles, look both up as hex digits with
// one shuffle each, and interleave them with CR LF. Writes 64 bytes per 16.
__attribute__((target("ssse3"))) std::size_t data_lines_ssse3(const unsigned char* in, std::size_t n,
                                                              unsigned char* out, HexCase hc) {
    const __m128i digits = _mm_loadu_si128(
        reinterpret_cast<const __m128i*>(hc == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef"));
    const __m128i low_nibble = _mm_set1_epi8(0x0F);
    const __m128i crlf = _mm_set1_epi16(0x0A0D);  // '\r', '\n' in memory order
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i hi = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(v, 4), low_nibble));
        __m128i lo = _mm_shuffle_epi8(digits, _mm_and_si128(v, low_nibble));
        __m128i pairs0 = _mm_unpacklo_epi8(hi, lo);
        __m128i pairs1 = _mm_unpackhi_epi8(hi, lo);
        auto* o = reinterpret_cast<__m128i*>(out + 4 * i);
        _mm_storeu_si128(o + 0, _mm_unpacklo_epi16(pairs0, crlf));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(pairs0, crlf));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(pairs1, crlf));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(pairs1, crlf));
    }
    return i;
}
const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");
}  // namespace
#endif

void DownloadWriter::data_lines(const unsigned char* bytes, std::size_t n, HexCase hc) {
    const std::uint32_t* table = hc == HexCase::Upper ? kHex.line_upper : kHex.line_lower;
    constexpr std::size_t kChunk = std::min<std::size_t>(16384, OutFile::kSize / 4);  // 4 bytes a line
    while (n > 0) {
        std::size_t k = n < kChunk ? n : kChunk;
        unsigned char* p = out_.reserve(4 * k);
        std::size_t i = 0;
#ifdef ZIV_HAVE_SSSE3_PATH
        if (kHaveSsse3) i = data_lines_ssse3(bytes, k, p, hc);
#endif
        for (; i < k; ++i) std::memcpy(p + 4 * i, &table[bytes[i]], 4);
        out_.commit(4 * k);
        bytes += k;
        n -= k;
    }
}

void DownloadWriter::end_line() { out_.write("55\r\n", 4); }

}  // namespace ziv
