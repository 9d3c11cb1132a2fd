// zivcam's camera client: connecting, the request and reply exchange, the
// header check, and the waits that cancel() can interrupt.
#include "zivcam/camera.h"

#include "imageproto.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ziv {

namespace {

// The most one recv takes: the kernel sends its window updates after each
// recv, so one recv of a whole large image would hold the camera back.
constexpr std::size_t kRecvPiece = 64 * 1024;
// Images up to this size are received straight into their place; larger ones
// through a buffer of kRecvPiece (see read_pixels; measured with bench/camera).
constexpr std::size_t kDirectBytes = 4 * 1024 * 1024;

std::string errno_text(int err) { return std::strerror(err); }

std::string window_text(std::int64_t width, std::int64_t rows) {
    return std::to_string(width) + "x" + std::to_string(rows);
}

}  // namespace

const char* error_kind_name(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Connect: return "connect failed";
    case ErrorKind::ConnectionClosed: return "connection closed";
    case ErrorKind::ShortReply: return "short reply";
    case ErrorKind::BadHeader: return "bad header";
    case ErrorKind::Timeout: return "timeout";
    case ErrorKind::Send: return "send failed";
    case ErrorKind::Receive: return "receive failed";
    case ErrorKind::NoMemory: return "no memory";
    case ErrorKind::Cancelled: return "cancelled";
    case ErrorKind::Usage: return "usage";
    }
    return "error";
}

// --- Image -------------------------------------------------------------------

Image::Image(int row_alignment) { set_row_alignment(row_alignment); }

void Image::set_row_alignment(int alignment) {
    if (alignment < 1 || alignment > 4096) throw UsageError("row alignment must be 1..4096 bytes");
    alignment_ = alignment;
}

std::uint8_t* Image::prepare(const Geometry& g) {
    const std::int64_t stride = (g.width + alignment_ - 1) / alignment_ * alignment_;
    const std::size_t bytes = std::size_t(stride * g.rows);
    // Fill bytes are zero: cleared whenever the row layout changes, never
    // written by a reply afterwards.
    const bool layout_changed = stride != stride_ || g.width != geometry_.width;
    try {
        if (pixels_.size() < bytes) pixels_.resize(bytes);
    } catch (const std::bad_alloc&) {
        throw NoMemoryError("no memory for an image of " + std::to_string(bytes) + " bytes");
    }
    if (layout_changed && stride != g.width) std::memset(pixels_.data(), 0, bytes);
    geometry_ = g;
    stride_ = stride;
    return pixels_.data();
}

// --- Header check --------------------------------------------------------------

std::int64_t max_width(const Window& r) {
    return r.dx > 0 ? imageproto::image_width(r.dx, std::max<std::int32_t>(r.incrx, 1)) : 0;
}

std::int64_t max_rows(const Window& r) {
    return r.dy > 0 ? imageproto::image_rows(r.dy, std::max<std::int32_t>(r.incry, 1)) : 0;
}

Geometry check_reply_header(std::span<const std::uint8_t, 28> bytes, const Window& request) {
    const imageproto::ImageHeader h = imageproto::decode_header(bytes.data());
    const std::int64_t announced = imageproto::announced_pixels(h);
    auto refuse = [](const std::string& why) -> BadHeaderError {
        return BadHeaderError("the reply's header does not fit the request: " + why);
    };
    if (announced < 0)
        throw refuse("total length " + std::to_string(h.total) + " is shorter than the header's 28 bytes");
    if (h.incrx < 1 || h.incry < 1)
        throw refuse("step " + std::to_string(h.incrx) + "x" + std::to_string(h.incry) + " is not positive");
    if (h.dx < 0 || h.dy < 0)
        throw refuse("window size " + std::to_string(h.dx) + "x" + std::to_string(h.dy) + " is negative");
    Geometry g{h.x,
               h.y,
               h.dx,
               h.dy,
               h.incrx,
               h.incry,
               imageproto::image_width(h.dx, h.incrx),
               imageproto::image_rows(h.dy, h.incry)};
    if (g.width > max_width(request) || g.rows > max_rows(request))
        throw refuse("an image of " + window_text(g.width, g.rows) + " pixels is larger than the " +
                     window_text(max_width(request), max_rows(request)) + " requested");
    if (announced != g.pixel_bytes())
        throw refuse(std::to_string(announced) + " pixel bytes announced for an image of " +
                     window_text(g.width, g.rows) + " pixels");
    return g;
}

// --- Camera --------------------------------------------------------------------

Camera::Camera(std::string host, int port, std::chrono::milliseconds timeout)
    : host_(std::move(host)), port_(port), timeout_(timeout) {
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) throw NoMemoryError("cannot create an event descriptor: " + errno_text(errno));
}

Camera::~Camera() {
    close_socket();
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

void Camera::cancel() {
    cancelled_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(wake_fd_, &one, sizeof one);
}

void Camera::clear_cancel() {
    cancelled_.store(false);
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t r = ::read(wake_fd_, &value, sizeof value);
}

void Camera::throw_cancelled() {
    fail_stream();
    throw CancelledError("cancelled while talking to " + host_ + ":" + std::to_string(port_));
}

void Camera::close_socket() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    phase_ = Phase::Idle;
}

void Camera::fail_stream() { close_socket(); }

int Camera::poll_ms() const {
    return int(std::clamp<std::chrono::milliseconds::rep>(timeout_.count(), 1, 24 * 3600 * 1000));
}

void Camera::connect_socket() {
    close_socket();
    if (cancelled_.load()) throw_cancelled();
    const std::string where = host_ + ":" + std::to_string(port_);
    if (port_ < 1 || port_ > 65535) throw ConnectError("cannot connect to " + where + ": no such port");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port_);
    if (const int rc = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found); rc != 0)
        throw ConnectError("cannot connect to " + where + ": " + ::gai_strerror(rc));
    std::string reason = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            reason = errno_text(errno);
            continue;
        }
        int err = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                pollfd p[2] = {{fd, POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
                int n;
                do n = ::poll(p, 2, poll_ms());
                while (n < 0 && errno == EINTR);
                if (p[1].revents) {
                    ::close(fd);
                    ::freeaddrinfo(found);
                    throw_cancelled();
                }
                if (n == 0) {
                    ::close(fd);
                    ::freeaddrinfo(found);
                    throw TimeoutError("no connection to " + where + " within " + std::to_string(timeout_.count()) +
                                       " ms");
                }
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            }
        }
        if (err == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
            ::freeaddrinfo(found);
            return;
        }
        reason = errno_text(err);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    throw ConnectError("cannot connect to " + where + ": " + reason);
}

void Camera::send_request() {
    const imageproto::RequestBytes bytes = imageproto::encode(
        imageproto::ImageRequest{request_.x, request_.y, request_.dx, request_.dy, request_.incrx, request_.incry});
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (cancelled_.load()) throw_cancelled();
        const ssize_t w = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (w > 0) {
            sent += std::size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p[2] = {{fd_, POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
            const int n = ::poll(p, 2, poll_ms());
            if (p[1].revents) throw_cancelled();
            if (n == 0) {
                fail_stream();
                throw TimeoutError("the request to " + host_ + ":" + std::to_string(port_) +
                                   " could not be sent within " + std::to_string(timeout_.count()) + " ms");
            }
            continue;
        }
        const int err = errno;
        fail_stream();
        throw SendError("cannot send the request to " + host_ + ":" + std::to_string(port_) + ": " + errno_text(err));
    }
    phase_ = Phase::Requested;
}

void Camera::wait_readable(bool in_pixels) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    int n;
    do n = ::poll(p, 2, poll_ms());
    while (n < 0 && errno == EINTR);
    if (p[1].revents || cancelled_.load()) throw_cancelled();
    if (n == 0) {
        fail_stream();
        throw TimeoutError(std::string(in_pixels ? "the image from " : "no reply from ") + host_ + ":" +
                           std::to_string(port_) + (in_pixels ? " stopped for more than " : " within ") +
                           std::to_string(timeout_.count()) + " ms");
    }
}

// Reads n bytes; returns fewer only when the camera closed the connection.
std::size_t Camera::receive_some(std::uint8_t* dst, std::size_t n, bool in_pixels) {
    std::size_t got = 0;
    while (got < n) {
        if (cancelled_.load()) throw_cancelled();
        const ssize_t r = ::recv(fd_, dst + got, std::min(n - got, kRecvPiece), MSG_DONTWAIT);
        if (r > 0) {
            got += std::size_t(r);
        } else if (r == 0) {
            return got;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait_readable(in_pixels);
        } else if (errno != EINTR) {
            const int err = errno;
            fail_stream();
            throw ReceiveError("receiving from " + host_ + ":" + std::to_string(port_) + " failed: " + errno_text(err));
        }
    }
    return got;
}

void Camera::ensure_requested() {
    if (fd_ >= 0 && phase_ == Phase::Requested) return;
    connect_socket();
    send_request();
}

Geometry Camera::begin_frame() {
    if (!streaming_) throw UsageError("begin_frame() needs a live stream: call start_stream() first");
    if (phase_ == Phase::HeaderRead) skip_pixels();
    if (deferred_) std::rethrow_exception(std::exchange(deferred_, nullptr));
    ensure_requested();
    return read_header();
}

Geometry Camera::read_header() {
    std::array<std::uint8_t, imageproto::kHeaderSize> header{};
    const std::size_t got = receive_some(header.data(), header.size(), false);
    const std::string where = host_ + ":" + std::to_string(port_);
    if (got == 0) {
        fail_stream();
        throw ConnectionClosedError("the camera at " + where + " closed the connection");
    }
    if (got < header.size()) {
        fail_stream();
        throw ShortReplyError("the camera at " + where + " closed the connection after " + std::to_string(got) +
                              " of the reply header's 28 bytes");
    }
    try {
        frame_ = check_reply_header(header, request_);
    } catch (const Error&) {
        fail_stream();
        throw;
    }
    phase_ = Phase::HeaderRead;
    return frame_;
}

void Camera::finish_frame() {
    ++images_;
    phase_ = Phase::Idle;
    if (!streaming_) {
        close_socket();
        return;
    }
    // The next request leaves at once, so that the camera prepares the next
    // image while this one is being used. A failure to send belongs to the
    // next image, not to this one, which arrived whole.
    try {
        send_request();
    } catch (const Error&) {
        deferred_ = std::current_exception();
    }
}

void Camera::read_pixels(std::uint8_t* dst, std::size_t capacity, std::size_t stride) {
    if (phase_ != Phase::HeaderRead) throw UsageError("read_pixels() without a frame begun");
    const std::size_t width = std::size_t(frame_.width), rows = std::size_t(frame_.rows);
    if (stride == 0) stride = width;
    if (stride < width)
        throw UsageError("a stride of " + std::to_string(stride) + " bytes is less than the image's width " +
                         std::to_string(width));
    const std::size_t need = rows == 0 || width == 0 ? 0 : stride * (rows - 1) + width;
    if (capacity < need || (need > 0 && !dst))
        throw UsageError("a buffer of " + std::to_string(capacity) + " bytes is too small for the image's " +
                         std::to_string(need));
    const std::size_t total = width * rows;
    std::size_t got = 0;
    if (stride == width && total <= kDirectBytes) {
        got = receive_some(dst, total, true);
    } else if (stride == width) {
        // A large image through a small buffer the cache keeps, as the
        // reference client does: the kernel's copy straight into an image
        // larger than the cache was up to a fifth slower.
        if (scratch_.size() < kRecvPiece) scratch_.resize(kRecvPiece);
        while (got < total) {
            const std::size_t take = std::min(total - got, kRecvPiece);
            const std::size_t n = receive_some(scratch_.data(), take, true);
            std::memcpy(dst + got, scratch_.data(), n);
            got += n;
            if (n < take) break;
        }
    } else {
        // Rows land apart: taken through a buffer of whole rows.
        const std::size_t rows_per_read = std::max<std::size_t>(1, (std::size_t(1) << 16) / width);
        if (scratch_.size() < rows_per_read * width) scratch_.resize(rows_per_read * width);
        for (std::size_t row = 0; row < rows && got == row * width;) {
            const std::size_t take = std::min(rows_per_read, rows - row);
            const std::size_t n = receive_some(scratch_.data(), take * width, true);
            for (std::size_t i = 0; i * width < n && i < take; ++i)
                std::memcpy(dst + (row + i) * stride, scratch_.data() + i * width, std::min(width, n - i * width));
            got += n;
            row += take;
        }
    }
    if (got < total) {
        fail_stream();
        throw ShortReplyError("the camera at " + host_ + ":" + std::to_string(port_) + " closed the connection after " +
                              std::to_string(got) + " of " + std::to_string(total) + " announced pixel bytes");
    }
    finish_frame();
}

void Camera::skip_pixels() {
    if (phase_ != Phase::HeaderRead) return;
    std::size_t left = std::size_t(frame_.pixel_bytes());
    if (scratch_.size() < 65536) scratch_.resize(65536);
    while (left > 0) {
        const std::size_t take = std::min(left, scratch_.size());
        const std::size_t n = receive_some(scratch_.data(), take, true);
        if (n < take) {
            fail_stream();
            throw ShortReplyError("the camera at " + host_ + ":" + std::to_string(port_) +
                                  " closed the connection inside an image");
        }
        left -= n;
    }
    finish_frame();
}

void Camera::next(Image& into) {
    const Geometry g = begin_frame();
    std::uint8_t* dst = into.prepare(g);
    read_pixels(dst, into.size_bytes(), std::size_t(into.stride()));
}

void Camera::start_stream(const Window& window) {
    stop_stream();
    window_ = window;
    request_ = window;
    streaming_ = true;
    deferred_ = nullptr;
    connect_socket();
    send_request();
}

void Camera::stop_stream() {
    streaming_ = false;
    deferred_ = nullptr;
    close_socket();
}

void Camera::grab(const Window& window, Image& into) {
    stop_stream();
    request_ = window;
    connect_socket();
    try {
        send_request();
        const Geometry g = read_header();
        std::uint8_t* dst = into.prepare(g);
        read_pixels(dst, into.size_bytes(), std::size_t(into.stride()));
    } catch (...) {
        close_socket();
        throw;
    }
}

Image Camera::grab(const Window& window) {
    Image image;
    grab(window, image);
    return image;
}

}  // namespace ziv
