// The camera image protocol on the wire: the 24-byte request a client sends and
// the 28-byte header that opens every reply, both little-endian signed 32-bit
// fields, and the rule that turns a header's geometry into pixel counts.
// No Qt, no sockets: the control, camsim and the tests all share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imageproto {

struct ImageRequest {
    std::int32_t x = 0, y = 0, dx = 0, dy = 0, incrx = 0, incry = 0;
    friend bool operator==(const ImageRequest&, const ImageRequest&) = default;
};

struct ImageHeader {
    std::int32_t total = 0;  // bytes of the whole reply, these header bytes included
    std::int32_t x = 0, y = 0, dx = 0, dy = 0, incrx = 0, incry = 0;
    friend bool operator==(const ImageHeader&, const ImageHeader&) = default;
};

constexpr int kRequestSize = 24;
constexpr int kHeaderSize = 28;

using RequestBytes = std::array<std::uint8_t, kRequestSize>;
using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

namespace detail {

inline void put_le32(std::uint8_t* out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
    out[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::int32_t get_le32(const std::uint8_t* in) {
    const std::uint32_t v = std::uint32_t(in[0]) | (std::uint32_t(in[1]) << 8) | (std::uint32_t(in[2]) << 16) |
                            (std::uint32_t(in[3]) << 24);
    return static_cast<std::int32_t>(v);  // two's complement, well defined since C++20
}

}  // namespace detail

// Writes kRequestSize bytes to `out`.
inline void encode(const ImageRequest& r, void* out) {
    auto* p = static_cast<std::uint8_t*>(out);
    const std::int32_t fields[6] = {r.x, r.y, r.dx, r.dy, r.incrx, r.incry};
    for (int i = 0; i < 6; ++i) detail::put_le32(p + 4 * i, fields[i]);
}

inline RequestBytes encode(const ImageRequest& r) {
    RequestBytes bytes{};
    encode(r, bytes.data());
    return bytes;
}

// Writes kHeaderSize bytes to `out`.
inline void encode(const ImageHeader& h, void* out) {
    auto* p = static_cast<std::uint8_t*>(out);
    const std::int32_t fields[7] = {h.total, h.x, h.y, h.dx, h.dy, h.incrx, h.incry};
    for (int i = 0; i < 7; ++i) detail::put_le32(p + 4 * i, fields[i]);
}

inline HeaderBytes encode(const ImageHeader& h) {
    HeaderBytes bytes{};
    encode(h, bytes.data());
    return bytes;
}

// Reads kRequestSize bytes from `in`.
inline ImageRequest decode_request(const void* in) {
    const auto* p = static_cast<const std::uint8_t*>(in);
    using detail::get_le32;
    return ImageRequest{get_le32(p),      get_le32(p + 4),  get_le32(p + 8),
                        get_le32(p + 12), get_le32(p + 16), get_le32(p + 20)};
}

// Reads kHeaderSize bytes from `in`.
inline ImageHeader decode_header(const void* in) {
    const auto* p = static_cast<const std::uint8_t*>(in);
    using detail::get_le32;
    return ImageHeader{get_le32(p),      get_le32(p + 4),  get_le32(p + 8), get_le32(p + 12),
                       get_le32(p + 16), get_le32(p + 20), get_le32(p + 24)};
}

inline void decode(const void* in, ImageRequest& r) { r = decode_request(in); }
inline void decode(const void* in, ImageHeader& h) { h = decode_header(in); }

// --- The size rule -------------------------------------------------------
// Everything is computed in 64 bits: any pair of 32-bit header values, however
// hostile, gives a result without overflow (|width|, |rows| <= 2^31, and so
// stride * rows < 2^63).

// Quotient truncated toward zero, plus one when the remainder is greater than
// zero. A zero divisor has no quotient; 0 is returned so that callers that
// report sizes (a zero step) report 0 rather than trap.
constexpr std::int64_t ceil_div(std::int64_t a, std::int64_t b) {
    if (b == 0) return 0;
    const std::int64_t q = a / b;
    return (a % b > 0) ? q + 1 : q;
}

// Pixels per row.
constexpr std::int64_t image_width(std::int64_t dx, std::int64_t incrx) { return ceil_div(dx, incrx); }

// Number of rows.
constexpr std::int64_t image_rows(std::int64_t dy, std::int64_t incry) { return ceil_div(dy, incry); }

// Bytes per row of 4-byte aligned pixel rows.
constexpr std::int64_t image_stride(std::int64_t width) { return (width + 3) / 4 * 4; }

// A geometry the display can be built for: every size and step positive.
constexpr bool geometry_valid(std::int64_t dx, std::int64_t dy, std::int64_t incrx, std::int64_t incry) {
    return dx > 0 && dy > 0 && incrx > 0 && incry > 0;
}

// Pixel bytes of a well-formed reply (width x rows, no fill bytes); 0 for an
// invalid geometry.
constexpr std::int64_t image_pixel_count(std::int64_t dx, std::int64_t dy, std::int64_t incrx, std::int64_t incry) {
    return geometry_valid(dx, dy, incrx, incry) ? image_width(dx, incrx) * image_rows(dy, incry) : 0;
}

inline std::int64_t image_pixel_count(const ImageHeader& h) { return image_pixel_count(h.dx, h.dy, h.incrx, h.incry); }

// Pixel bytes a header announces (total length minus the header); may be
// negative for a malformed header.
constexpr std::int64_t announced_pixels(const ImageHeader& h) { return std::int64_t(h.total) - kHeaderSize; }

}  // namespace imageproto
