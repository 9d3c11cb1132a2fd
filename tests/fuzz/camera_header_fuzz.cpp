// Fuzzes zivcam's check of a reply header against its request: the input is
// a 24-byte request and a 28-byte header with any 32-bit fields (missing bytes
// are zero). Checked: the header is accepted exactly when its length is the
// pixel count of its geometry, its steps are positive, its sizes are not
// negative and the image is no larger than the request can give (computed here
// independently, in 128 bits); an accepted header's geometry is its fields
// with width and rows rounded up; a refusal is a BadHeaderError with a reason.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imageproto.h"
#include "zivcam/camera.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "camera_header_fuzz: %s\n", what.c_str());
    std::abort();
}

using Wide = __int128;

Wide up(Wide a, Wide b) { return (a + b - 1) / b; }  // a >= 0, b >= 1

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, imageproto::kRequestSize + imageproto::kHeaderSize> bytes{};
    std::memcpy(bytes.data(), data, std::min(size, bytes.size()));
    const imageproto::ImageRequest r = imageproto::decode_request(bytes.data());
    const imageproto::ImageHeader h = imageproto::decode_header(bytes.data() + imageproto::kRequestSize);
    const ziv::Window request{r.x, r.y, r.dx, r.dy, r.incrx, r.incry};

    const Wide max_width = r.dx > 0 ? up(r.dx, r.incrx > 1 ? r.incrx : 1) : 0;
    const Wide max_rows = r.dy > 0 ? up(r.dy, r.incry > 1 ? r.incry : 1) : 0;
    bool fits = h.total >= imageproto::kHeaderSize && h.incrx >= 1 && h.incry >= 1 && h.dx >= 0 && h.dy >= 0;
    Wide width = 0, rows = 0;
    if (fits) {
        width = up(h.dx, h.incrx);
        rows = up(h.dy, h.incry);
        fits = width <= max_width && rows <= max_rows && Wide(h.total) - imageproto::kHeaderSize == width * rows;
    }

    std::span<const std::uint8_t, 28> header(bytes.data() + imageproto::kRequestSize, 28);
    try {
        const ziv::Geometry g = ziv::check_reply_header(header, request);
        if (!fits) fail("a header that does not fit was accepted");
        const ziv::Geometry expected{h.x, h.y, h.dx, h.dy, h.incrx, h.incry, std::int64_t(width), std::int64_t(rows)};
        if (!(g == expected)) fail("the geometry is not the header's");
        if (g.width > ziv::max_width(request) || g.rows > ziv::max_rows(request)) fail("larger than requested");
    } catch (const ziv::BadHeaderError& e) {
        if (fits) fail(std::string("a header that fits was refused: ") + e.what());
        if (std::string(e.what()).rfind("the reply's header does not fit the request: ", 0) != 0)
            fail(std::string("refusal without its reason: ") + e.what());
    }
    return 0;
}
