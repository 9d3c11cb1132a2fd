#include "srec.h"

#include "download.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ziv {

namespace detail {
namespace {
int digit_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return static_cast<signed char>(c);  // a non-digit counts with its own code
}
}  // namespace

SpairTable::SpairTable() {
    for (int hi = 0; hi < 256; ++hi)
        for (int lo = 0; lo < 256; ++lo)
            value[hi | lo << 8] = static_cast<std::uint8_t>(((digit_value(hi) << 4) | digit_value(lo)) & 0xFF);
}
const SpairTable kSpair;
}  // namespace detail

namespace {

inline void put_upper(unsigned char* o, unsigned byte) {
    std::memcpy(o, hex_pair(static_cast<unsigned char>(byte), HexCase::Upper), 2);
}

#if defined(__SSE2__)
// Sixteen (or eight, in the low half) hex digits to o, their pair values
// summed as sum of the high halves and sum of the low halves. False when a
// character is no hex digit: getspair's rule for those is left to the caller.
inline bool copy_and_sum_hex(unsigned char* o, __m128i v, unsigned mask, __m128i& highs, __m128i& lows) {
    const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i digit =
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
    const __m128i letter =
        _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
    if ((static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digit, letter))) & mask) != mask) return false;
    if (mask == 0xFFFF) _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
    else _mm_storel_epi64(reinterpret_cast<__m128i*>(o), v);
    // '0'..'9' keep their low four bits; 'A'..'F' and 'a'..'f' are 1..6 there, plus 9.
    __m128i value = _mm_add_epi8(_mm_and_si128(v, _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
    if (mask != 0xFFFF) value = _mm_and_si128(value, _mm_set_epi64x(0, -1));
    const __m128i first = _mm_set1_epi16(0x00FF);  // the first character of each pair
    highs = _mm_add_epi64(highs, _mm_sad_epu8(_mm_and_si128(value, first), _mm_setzero_si128()));
    lows = _mm_add_epi64(lows, _mm_sad_epu8(_mm_andnot_si128(first, value), _mm_setzero_si128()));
    return true;
}

inline unsigned lane_total(__m128i v) {
    return static_cast<unsigned>(_mm_cvtsi128_si32(_mm_add_epi64(v, _mm_srli_si128(v, 8))));
}
#endif

// Copies the 2n data characters to o and returns the sum of their getspair
// values (only the low 8 bits count). Runs of hex digits go 16 at a time.
unsigned copy_and_sum(unsigned char* o, const char* d, std::size_t n) {
    std::size_t i = 0;
    unsigned sum = 0;
#if defined(__SSE2__)
    __m128i highs = _mm_setzero_si128();
    __m128i lows = _mm_setzero_si128();
    for (; i + 16 <= 2 * n; i += 16)
        if (!copy_and_sum_hex(o + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i)), 0xFFFF, highs, lows))
            break;
    if (i + 8 <= 2 * n &&
        copy_and_sum_hex(o + i, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d + i)), 0xFF, highs, lows))
        i += 8;
    sum = 16 * lane_total(highs) + lane_total(lows);
#endif
    for (; i < 2 * n; i += 2) {
        std::memcpy(o + i, d + i, 2);
        sum += getspair(d[i], d[i + 1]);
    }
    return sum;
}
}  // namespace

static_assert(OutFile::kSize >= 2 + 8 + 2 * kSrecMaxData + 2 + 2, "a whole record line must fit the buffer");

bool srcflush(OutFile& out, std::string_view data, std::uint32_t address) {
    const std::size_t n = data.size() / 2;
    if (n > kSrecMaxData || std::uint64_t{address} + n > kSrecAddressSpace) return false;
    if (address == kSrecAddressSpace) return true;  // an empty record with no address left

    const unsigned count = static_cast<unsigned>(n + 4);
    unsigned sum = count + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
    const std::size_t size = 2 + 8 + 2 * n + 2 + 2;
    unsigned char* o = out.reserve(size);
    o[0] = 'S';
    o[1] = '2';
    put_upper(o + 2, count);
    put_upper(o + 4, address >> 16);
    put_upper(o + 6, address >> 8);
    put_upper(o + 8, address);
    sum += copy_and_sum(o + 10, data.data(), n);
    unsigned char* t = o + 10 + 2 * n;
    put_upper(t, ~sum);
    t[2] = '\r';
    t[3] = '\n';
    out.commit(size);
    return true;
}

SrecLine parse_srec_line(std::string_view line) {
    SrecLine r;
    if (line.empty()) return r;
    if (line.size() >= 2 && line[1] == '9') return r;  // a terminator, whatever its form
    if (line.size() < 2 || line[0] != 'S') {
        r.kind = SrecLine::Kind::Bad;
        r.problem = "not an S-record";
        return r;
    }
    std::size_t data_start = 0;
    switch (line[1]) {
    case '0':  // header
    case '5':  // record counts
    case '6':
    case '7':  // terminators of S3 and S2 files
    case '8': return r;
    case '1': data_start = 8; break;
    case '2': data_start = 10; break;
    case '3': data_start = 12; break;
    default:
        r.kind = SrecLine::Kind::Bad;
        r.problem = "not an S-record";
        return r;
    }
    r.kind = SrecLine::Kind::Bad;
    if (line.size() < data_start + 2) {
        r.problem = "too short for an S-record";
    } else if (line.size() > kSrecMaxLine || (line.size() - data_start - 2) / 2 > kSrecMaxData) {
        r.problem = "too long for an S2 record";
    } else if (line.size() % 2 != 0) {
        r.problem = "odd number of characters";
    } else {
        r.kind = SrecLine::Kind::Data;
        r.data = line.substr(data_start, line.size() - data_start - 2);
    }
    return r;
}

}  // namespace ziv
