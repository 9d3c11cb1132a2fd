// camsim's image model: frame source, window clipping and reply building.
#include "model.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <climits>
#include <cstring>

namespace ziv::camsim {

// --- FrameSource -----------------------------------------------------------

FrameSource::FrameSource(int width, int height, int period)
    : width_(width), height_(height), period_(period), pitch_(width + period),
      pixels_(size_t(pitch_) * size_t(height)) {}

std::unique_ptr<FrameSource> FrameSource::pattern(int width, int height) {
    std::unique_ptr<FrameSource> s(new FrameSource(width, height, kPatternPeriod));
    // A diagonal ramp on a checkerboard of 32-pixel squares that swaps light
    // and dark; both repeat every kPatternPeriod columns, so the images of the
    // animation are windows into this one buffer.
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = s->pixels_.data() + size_t(y) * size_t(s->pitch_);
        for (int x = 0; x < s->pitch_; ++x) {
            const int ramp = ((x + y) & 63) * 4;
            const bool dark = ((x >> 5) ^ (y >> 5)) & 1;
            row[x] = std::uint8_t(dark ? ramp / 2 : 255 - ramp / 2);
        }
    }
    return s;
}

std::unique_ptr<FrameSource> FrameSource::picture(const std::string& file, std::string& error) {
    QImage image;
    if (!image.load(QString::fromStdString(file))) {
        error = "cannot read the picture " + file;
        return nullptr;
    }
    image = image.convertToFormat(QImage::Format_Grayscale8);
    const int w = image.width(), h = image.height();
    if (!sensor_size_fits(w, h)) {
        error = "picture too large: " + file;
        return nullptr;
    }
    std::unique_ptr<FrameSource> s(new FrameSource(w, h, 0));
    for (int y = 0; y < h; ++y)
        std::memcpy(s->pixels_.data() + size_t(y) * size_t(w), image.constScanLine(y), size_t(w));
    return s;
}

const std::uint8_t* FrameSource::row(std::uint64_t frame, int y) const {
    const size_t shift = size_t(frame % std::uint64_t(phases())) * (period_ > 0 ? kShiftPerFrame : 0);
    return pixels_.data() + size_t(y) * size_t(pitch_) + shift;
}

// --- Geometry --------------------------------------------------------------

Delivered clip_request(const imageproto::ImageRequest& r, int sensor_width, int sensor_height) {
    auto clip = [](std::int64_t pos, std::int64_t size, std::int64_t limit, std::int32_t& out_pos,
                   std::int32_t& out_size) {
        const std::int64_t from = std::clamp<std::int64_t>(pos, 0, limit);
        const std::int64_t to = std::clamp<std::int64_t>(pos + std::max<std::int64_t>(size, 0), from, limit);
        out_pos = std::int32_t(from);
        out_size = std::int32_t(to - from);
    };
    Delivered d;
    clip(r.x, r.dx, sensor_width, d.x, d.dx);
    clip(r.y, r.dy, sensor_height, d.y, d.dy);
    // A step below 1 is taken as 1: every pixel of the window.
    d.incrx = std::max<std::int32_t>(r.incrx, 1);
    d.incry = std::max<std::int32_t>(r.incry, 1);
    d.width = imageproto::image_width(d.dx, d.incrx);
    d.rows = imageproto::image_rows(d.dy, d.incry);
    return d;
}

// --- ImageModel ------------------------------------------------------------

ImageModel::ImageModel(std::unique_ptr<FrameSource> source, std::int64_t wrong_length)
    : source_(std::move(source)), wrong_length_(std::clamp<std::int64_t>(wrong_length, INT32_MIN, INT32_MAX)) {}

Reply ImageModel::plan_reply(const imageproto::ImageRequest& request) {
    Reply r;
    r.request = request;
    r.window = clip_request(request, source_->width(), source_->height());
    const Delivered& d = r.window;
    const std::int64_t announced = std::clamp<std::int64_t>(r.size() + wrong_length_, INT32_MIN, INT32_MAX);
    r.header = imageproto::ImageHeader{std::int32_t(announced), d.x, d.y, d.dx, d.dy, d.incrx, d.incry};
    r.header_bytes = imageproto::encode(r.header);
    r.frame = frames_.fetch_add(1);
    return r;
}

// --- Session ---------------------------------------------------------------

const Reply& Session::begin(const imageproto::ImageRequest& request) {
    reply_ = model_.plan_reply(request);
    const Delivered& d = reply_.window;
    const std::int64_t bytes = d.pixel_bytes();
    direct_ = d.incrx == 1 && d.width >= 1024;
    ready_ = false;
    pixels_ = nullptr;
    cache_phase_ = -1;
    next_row_ = bytes > 0 ? 0 : d.rows;  // no pixels: no blocks
    if (bytes == 0) return reply_;
    if (!direct_) pixels_ = &cached_pixels();
    // Rows sent in place go out in large blocks (one gathered send each);
    // gathered rows in blocks small enough to stay in the cache while sent.
    const std::int64_t block_bytes = direct_ ? (std::int64_t(1) << 22) : (std::int64_t(1) << 16);
    rows_per_block_ = std::max<std::int64_t>(1, block_bytes / d.width);
    return reply_;
}

std::vector<std::uint8_t>& Session::cached_pixels() {
    const Delivered& d = reply_.window;
    const std::int64_t bytes = d.pixel_bytes();
    const int phases = model_.source().phases();
    if (bytes * phases > kCacheBytes) {
        gather_.resize(size_t(bytes));
        return gather_;
    }
    if (!(cached_window_ == d) || int(images_.size()) != phases) {
        cached_window_ = d;
        images_.resize(size_t(phases));
        complete_.assign(size_t(phases), false);
    }
    cache_phase_ = int(reply_.frame % std::uint64_t(phases));
    images_[size_t(cache_phase_)].resize(size_t(bytes));
    ready_ = complete_[size_t(cache_phase_)];
    return images_[size_t(cache_phase_)];
}

std::span<const Session::Piece> Session::next_block() {
    pieces_.clear();
    const Delivered& d = reply_.window;
    if (next_row_ >= d.rows) return {};
    if (ready_) {
        pieces_.emplace_back(pixels_->data(), pixels_->size());
        next_row_ = d.rows;
        return pieces_;
    }
    const FrameSource& source = model_.source();
    const std::int64_t r0 = next_row_;
    const std::int64_t r1 = std::min(d.rows, r0 + rows_per_block_);
    if (direct_) {
        for (std::int64_t r = r0; r < r1; ++r)
            pieces_.emplace_back(source.row(reply_.frame, int(d.y + r * d.incry)) + d.x, size_t(d.width));
    } else {
        std::uint8_t* const start = pixels_->data() + r0 * d.width;
        std::uint8_t* dst = start;
        for (std::int64_t r = r0; r < r1; ++r) {
            const std::uint8_t* src = source.row(reply_.frame, int(d.y + r * d.incry)) + d.x;
            if (d.incrx == 1) {
                std::memcpy(dst, src, size_t(d.width));
                dst += d.width;
            } else {
                for (std::int64_t c = 0; c < d.width; ++c) *dst++ = src[c * d.incrx];
            }
        }
        pieces_.emplace_back(start, size_t(dst - start));
        if (r1 == d.rows && cache_phase_ >= 0) complete_[size_t(cache_phase_)] = true;
    }
    next_row_ = r1;
    return pieces_;
}

std::vector<std::uint8_t> Session::build_reply(const imageproto::ImageRequest& request) {
    const Reply& r = begin(request);
    std::vector<std::uint8_t> out;
    out.reserve(size_t(r.size()));
    out.insert(out.end(), r.header_bytes.begin(), r.header_bytes.end());
    for (auto block = next_block(); !block.empty(); block = next_block())
        for (const Piece& p : block) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::uint8_t> Session::answer(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    for (size_t at = 0; bytes.size() - at >= size_t(imageproto::kRequestSize); at += imageproto::kRequestSize) {
        const std::vector<std::uint8_t> reply = build_reply(imageproto::decode_request(bytes.data() + at));
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

}  // namespace ziv::camsim
