// camsim's image model without sockets: requests in, whole replies out.

#include "model.h"

#include <gtest/gtest.h>

#include <climits>

using namespace imageproto;
using ziv::camsim::FrameSource;
using ziv::camsim::ImageModel;
using ziv::camsim::Session;

namespace {

// Pixel (c, r) of the reply with header `h` to image `frame`, cut from the source.
std::uint8_t pixel(const FrameSource& s, std::uint64_t frame, const ImageHeader& h, std::int64_t c, std::int64_t r) {
    return s.row(frame, int(h.y + r * h.incry))[h.x + c * h.incrx];
}

// Checks one reply: its header, its size, and its pixels at the corners and
// in the middle (or all of them with `every`).
void expect_reply(const std::vector<std::uint8_t>& bytes, const ImageHeader& want, const FrameSource& s,
                  std::uint64_t frame, bool every = false) {
    ASSERT_GE(bytes.size(), size_t(kHeaderSize));
    const ImageHeader h = decode_header(bytes.data());
    EXPECT_EQ(h, want);
    const std::int64_t w = image_width(h.dx, h.incrx), rows = image_rows(h.dy, h.incry);
    ASSERT_EQ(std::int64_t(bytes.size()), kHeaderSize + w * rows);
    const std::uint8_t* pixels = bytes.data() + kHeaderSize;
    for (std::int64_t r = 0; r < rows; ++r)
        for (std::int64_t c = 0; c < w; ++c) {
            const bool probe =
                every || ((r == 0 || r == rows - 1 || r == rows / 2) && (c == 0 || c == w - 1 || c == w / 2));
            if (probe) {
                ASSERT_EQ(pixels[r * w + c], pixel(s, frame, h, c, r)) << c << "," << r;
            }
        }
}

TEST(CamsimModel, RequestsGiveTheClippedHeaderAndThePixels) {
    struct Case {
        const char* name;
        ImageRequest request;
        ImageHeader want;  // total filled in below
    };
    const Case cases[] = {
        {"whole sensor", {0, 0, 300, 400, 1, 1}, {0, 0, 0, 300, 400, 1, 1}},  // gathered in two blocks
        {"stepped, steps that do not divide", {7, 5, 100, 50, 3, 4}, {0, 7, 5, 100, 50, 3, 4}},
        {"over the edges", {250, 390, 100, 100, 1, 1}, {0, 250, 390, 50, 10, 1, 1}},
        {"zero and negative steps taken as 1", {1, 2, 3, 2, 0, -4}, {0, 1, 2, 3, 2, 1, 1}},
        {"huge origin: nothing", {INT32_MAX, INT32_MIN, 10, 10, 1, 1}, {0, 300, 0, 0, 0, 1, 1}},
        {"negative size: nothing", {10, 10, -10, 5, 1, 1}, {0, 10, 10, 0, 5, 1, 1}},
    };
    ImageModel model(FrameSource::pattern(300, 400));
    Session session(model);
    std::uint64_t frame = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageHeader want = c.want;
        want.total = std::int32_t(kHeaderSize + image_pixel_count(want));
        expect_reply(session.build_reply(c.request), want, model.source(), frame++, true);
    }
}

TEST(CamsimModel, WideRowsInBlocksAndRepeatedWindowsOverTheAnimationCycle) {
    // Rows of 2000 pixels are given in place; a narrow window asked for again
    // and again is kept per image of the cycle, and another one now and then
    // must not disturb what is kept. Every reply must be the current image.
    ImageModel model(FrameSource::pattern(2048, 3000));
    Session session(model);
    const ImageRequest narrow{5, 3, 100, 50, 1, 1};
    const ImageRequest others[7] = {{0, 0, 2048, 3000, 1, 1}, narrow, narrow, {0, 1, 2000, 2999, 1, 2}, narrow, narrow,
                                    {0, 1, 300, 200, 2, 3}};
    const int phases = model.source().phases();
    std::uint64_t frame = 0;
    for (int k = 0; k < 3 * phases; ++k, ++frame) {
        const ImageRequest& r = others[k % 7];
        SCOPED_TRACE(k);
        const ImageHeader want{std::int32_t(kHeaderSize + image_pixel_count(r.dx, r.dy, r.incrx, r.incry)),
                               r.x,
                               r.y,
                               r.dx,
                               r.dy,
                               r.incrx,
                               r.incry};
        expect_reply(session.build_reply(r), want, model.source(), frame, r.dx <= 300);
    }
}

TEST(CamsimModel, AReplyLeftUnfinishedIsNotKept) {
    // A caller may stop taking blocks (a connection cut mid-reply); the rows
    // never gathered must not be served from the cache for the same image later.
    ImageModel model(FrameSource::pattern(300, 400));
    Session session(model);
    const ImageRequest r{0, 0, 300, 400, 1, 1};  // gathered, in two blocks
    session.begin(r);
    ASSERT_FALSE(session.next_block().empty());
    const int phases = model.source().phases();
    for (int k = 1; k < phases; ++k) session.build_reply(r);
    const ImageHeader want{28 + 300 * 400, 0, 0, 300, 400, 1, 1};
    expect_reply(session.build_reply(r), want, model.source(), std::uint64_t(phases), true);
}

TEST(CamsimModel, RequestBytesInRepliesOutAndTheAnnouncedLengthOff) {
    ImageModel model(FrameSource::pattern(64, 48), -10);
    Session session(model);
    // Two requests and the start of a third, which is waited for.
    std::vector<std::uint8_t> bytes(2 * kRequestSize + 3, 1);
    encode(ImageRequest{0, 0, 4, 4, 1, 1}, bytes.data());
    encode(ImageRequest{2, 3, 8, 2, 2, 1}, bytes.data() + kRequestSize);
    const std::vector<std::uint8_t> replies = session.answer(bytes);
    ASSERT_EQ(replies.size(), size_t(28 + 16 + 28 + 8));
    const std::vector<std::uint8_t> first(replies.begin(), replies.begin() + 44);
    const std::vector<std::uint8_t> second(replies.begin() + 44, replies.end());
    // The header announces 10 bytes fewer than the real pixels that follow.
    expect_reply(first, {28 + 16 - 10, 0, 0, 4, 4, 1, 1}, model.source(), 0);
    expect_reply(second, {28 + 8 - 10, 2, 3, 8, 2, 2, 1}, model.source(), 1);
}

}  // namespace
