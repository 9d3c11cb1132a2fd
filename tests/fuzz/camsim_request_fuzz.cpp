// Fuzzes camsim's request handling through its image model, without sockets.
// The input chooses the sensor size (up to 1200 x 64, so that rows of 1024
// pixels and more, which are given in place, are reached too) and is then the
// byte stream a client sends: requests with any 32-bit fields, and garbage or
// a short piece at the end. Checked for every whole request: the reply header
// reports the requested window clipped to the sensor (steps below 1 taken as
// 1; a window wholly outside delivers no pixels), total = 28 + pixels, the
// pixels are the sensor's at the window's positions and steps; an incomplete
// request at the end is not answered.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "imageproto.h"
#include "model.h"

namespace {

constexpr const char* kName = "camsim_request_fuzz";

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", kName, what.c_str());
    std::abort();
}

// The part of [pos, pos + size) inside [0, limit): first position and length.
std::pair<std::int64_t, std::int64_t> inside(std::int64_t pos, std::int64_t size, std::int64_t limit) {
    const std::int64_t from = std::max<std::int64_t>(pos, 0), to = std::min<std::int64_t>(pos + size, limit);
    return to > from ? std::pair{from, to - from} : std::pair{std::int64_t(0), std::int64_t(0)};
}

void check_reply(const ziv::camsim::FrameSource& sensor, const imageproto::ImageRequest& q,
                 const imageproto::ImageHeader& h, std::uint64_t frame, const std::vector<std::uint8_t>* pixels) {
    const auto [x, dx] = inside(q.x, q.dx, sensor.width());
    const auto [y, dy] = inside(q.y, q.dy, sensor.height());
    const std::int64_t sx = std::max(q.incrx, 1), sy = std::max(q.incry, 1);
    const bool empty = dx == 0 || dy == 0;
    if (h.incrx != sx || h.incry != sy) fail("steps in the header differ from the request's");
    if (empty ? h.dx != 0 && h.dy != 0 : h.x != x || h.y != y || h.dx != dx || h.dy != dy)
        fail("header window is not the request clipped to the sensor");
    const std::int64_t width = empty ? 0 : imageproto::image_width(dx, sx);
    const std::int64_t rows = empty ? 0 : imageproto::image_rows(dy, sy);
    if (h.total != imageproto::kHeaderSize + width * rows) fail("total length is not 28 + the window's pixels");
    if (!pixels) return;
    if (std::int64_t(pixels->size()) != width * rows) fail("pixel count differs from the header");
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::uint8_t* src = sensor.row(frame, int(y + r * sy));
        for (std::int64_t c = 0; c < width; ++c)
            if ((*pixels)[std::size_t(r * width + c)] != src[x + c * sx]) fail("a pixel is not the sensor's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int width = in.ConsumeIntegralInRange(1, 1200), height = in.ConsumeIntegralInRange(1, 64);
    const std::vector<std::uint8_t> stream = in.ConsumeRemainingBytes<std::uint8_t>();
    ziv::camsim::ImageModel model(ziv::camsim::FrameSource::pattern(width, height));
    const ziv::camsim::FrameSource& sensor = model.source();

    // The replies a client sending the stream gets, one after the other.
    ziv::camsim::Session session(model);
    const std::vector<std::uint8_t> replies = session.answer(stream);
    std::size_t at = 0;
    const std::size_t requests = stream.size() / imageproto::kRequestSize;
    for (std::size_t i = 0; i < requests; ++i) {
        const imageproto::ImageRequest q = imageproto::decode_request(stream.data() + i * imageproto::kRequestSize);
        if (replies.size() - at < std::size_t(imageproto::kHeaderSize)) fail("a request without its reply");
        const imageproto::ImageHeader h = imageproto::decode_header(replies.data() + at);
        check_reply(sensor, q, h, 0, nullptr);
        at += std::size_t(h.total);
        if (at > replies.size()) fail("a reply shorter than its total length");
    }
    if (at != replies.size()) fail("more reply bytes than the requests ask for");

    // The same requests block by block, each pixel held against the sensor.
    ziv::camsim::Session blocks(model);
    for (std::size_t i = 0; i < requests; ++i) {
        const imageproto::ImageRequest q = imageproto::decode_request(stream.data() + i * imageproto::kRequestSize);
        const ziv::camsim::Reply& reply = blocks.begin(q);
        std::vector<std::uint8_t> pixels;
        for (auto block = blocks.next_block(); !block.empty(); block = blocks.next_block())
            for (const auto& piece : block) pixels.insert(pixels.end(), piece.begin(), piece.end());
        check_reply(sensor, q, reply.header, reply.frame, &pixels);
    }
    return 0;
}
