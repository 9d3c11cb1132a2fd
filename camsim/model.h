// camsim's image model, without sockets: the pixels a reply is cut from (an
// animated test pattern or a still picture), the clipping of a requested
// window to the sensor, and the building of one reply (header, then the pixel
// rows in blocks) with a per-client cache of repeated windows. The server
// sends what this builds; tests and fuzzers can call it directly.
#pragma once

#include "imageproto.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ziv::camsim {

// A sensor side fits 16 bits, and a reply of the whole sensor fits the
// header's signed 32-bit total length.
constexpr std::int64_t kMaxSensorSide = 65535;
constexpr std::int64_t kMaxSensorPixels = std::int64_t(1) << 30;
constexpr bool sensor_size_fits(std::int64_t width, std::int64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxSensorSide && height <= kMaxSensorSide &&
           width * height <= kMaxSensorPixels;
}

// The pixels the server cuts its replies from.
class FrameSource {
public:
    // Each image of the animation is the previous one moved this many pixels to the left.
    static constexpr int kShiftPerFrame = 8;
    // The test pattern repeats horizontally with this period, so one buffer this
    // much wider than the sensor holds every image of the animation.
    static constexpr int kPatternPeriod = 64;

    // The animated test pattern.
    static std::unique_ptr<FrameSource> pattern(int width, int height);
    // A still picture in any format Qt reads, converted to 8-bit grey; the
    // sensor takes its size.
    static std::unique_ptr<FrameSource> picture(const std::string& file, std::string& error);

    int width() const { return width_; }
    int height() const { return height_; }
    // Row `y` of image number `frame`, `width()` bytes.
    const std::uint8_t* row(std::uint64_t frame, int y) const;
    // Distinct images before the animation repeats (1 for a still picture).
    int phases() const { return period_ > 0 ? period_ / kShiftPerFrame : 1; }

private:
    FrameSource(int width, int height, int period);
    int width_, height_, period_, pitch_;
    std::vector<std::uint8_t> pixels_;
};

// The window a reply delivers for a request: clipped to the sensor, steps of
// at least 1; an empty window has dx or dy 0 and no pixels.
struct Delivered {
    std::int32_t x = 0, y = 0, dx = 0, dy = 0, incrx = 1, incry = 1;
    std::int64_t width = 0, rows = 0;
    std::int64_t pixel_bytes() const { return width * rows; }
    friend bool operator==(const Delivered&, const Delivered&) = default;
};
Delivered clip_request(const imageproto::ImageRequest& r, int sensor_width, int sensor_height);

// What one request is answered with, before any pixel is touched.
struct Reply {
    imageproto::ImageRequest request;
    Delivered window;
    imageproto::ImageHeader header;  // as announced (see ImageModel's wrong_length)
    imageproto::HeaderBytes header_bytes{};
    std::uint64_t frame = 0;  // image number: which image of the animation
    // Bytes that really go out: the header and every pixel of the window.
    std::int64_t size() const { return imageproto::kHeaderSize + window.pixel_bytes(); }
};

// The image source with what all clients share. Thread-safe.
class ImageModel {
public:
    // `wrong_length` is added to the total length every header announces.
    explicit ImageModel(std::unique_ptr<FrameSource> source, std::int64_t wrong_length = 0);

    const FrameSource& source() const { return *source_; }
    // Clips the window, takes the next image number (images are counted over
    // all clients, so single images move too) and makes the header.
    Reply plan_reply(const imageproto::ImageRequest& request);

private:
    std::unique_ptr<FrameSource> source_;
    std::int64_t wrong_length_;
    std::atomic<std::uint64_t> frames_{0};
};

// One client's run of requests: builds each reply's pixels in blocks of rows,
// so that a sender can send one block while the next is being prepared.
// Narrow or stepped windows are gathered into a buffer; a client in live mode
// asks for the same window again and again and the animation repeats after
// FrameSource::phases() images, so the gathered pixels of each phase are kept
// while they fit kCacheBytes: once the cycle has been seen, a reply is one
// block and no copying. Wide rows with step 1 are given where they lie in the
// source. Not thread-safe: one per client.
class Session {
public:
    using Piece = std::span<const std::uint8_t>;
    static constexpr std::int64_t kCacheBytes = std::int64_t(16) << 20;

    explicit Session(ImageModel& model) : model_(model) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts the reply to `request`; its pixels follow from next_block().
    const Reply& begin(const imageproto::ImageRequest& request);
    // The next block of pixel rows of the reply begun last, in pieces in
    // order; empty when every row has been given. The pieces stay valid until
    // the next call of begin().
    std::span<const Piece> next_block();

    // The whole reply to one request, header and pixels, as a client receives it.
    std::vector<std::uint8_t> build_reply(const imageproto::ImageRequest& request);
    // The replies a client sending `bytes` receives: one per whole request, in
    // order; an incomplete request at the end is waited for, so unanswered.
    std::vector<std::uint8_t> answer(std::span<const std::uint8_t> bytes);

private:
    std::vector<std::uint8_t>& cached_pixels();

    ImageModel& model_;
    Reply reply_;
    // The reply in progress.
    bool direct_ = false;                          // rows given in place
    bool ready_ = false;                           // all pixels already in *pixels_
    std::vector<std::uint8_t>* pixels_ = nullptr;  // where rows are gathered
    int cache_phase_ = -1;                         // *pixels_ is images_[cache_phase_]; -1: gather_
    std::int64_t next_row_ = 0;
    std::int64_t rows_per_block_ = 1;
    std::vector<Piece> pieces_;
    // The cache of gathered windows.
    std::vector<std::uint8_t> gather_;  // windows too large to keep
    Delivered cached_window_;
    std::vector<std::vector<std::uint8_t>> images_;  // by phase
    std::vector<bool> complete_;
};

}  // namespace ziv::camsim
