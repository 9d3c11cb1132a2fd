// zivcam: a client of the camera's image server for programs of your own.
// Fetches single images (one connection per image) or a live stream (one
// connection, the next request sent as soon as an image is complete) of 8-bit
// grey pixels. Standard library and POSIX only; failures are exceptions
// derived from ziv::Error.
//
//   ziv::Camera cam("127.0.0.1", 2002, std::chrono::seconds(5));
//   ziv::Image image = cam.grab({0, 0, 640, 480, 1, 1});
//
// Stream into a reused buffer (no allocation per image once it has grown):
//
//   cam.start_stream({0, 0, 640, 480, 1, 1});
//   ziv::Image image;
//   for (;;) cam.next(image);
//
// or read the header first and the pixels into memory of your own:
//
//   ziv::Geometry g = cam.begin_frame();
//   cam.read_pixels(my_buffer, my_capacity, my_stride);
//
// One thread uses a Camera at a time; cancel() may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace ziv {

// The part of the sensor image a request asks for: position, size, and the
// steps between the pixels taken (1: every pixel).
struct Window {
    std::int32_t x = 0, y = 0, dx = 0, dy = 0, incrx = 1, incry = 1;
    friend bool operator==(const Window&, const Window&) = default;
};

// What a reply delivers, from its header: the window the camera sent (it may
// be clipped to the sensor), and the pixel counts it gives.
struct Geometry {
    std::int32_t x = 0, y = 0, dx = 0, dy = 0, incrx = 1, incry = 1;
    std::int64_t width = 0;  // pixels per row: dx / incrx rounded up
    std::int64_t rows = 0;   // dy / incry rounded up
    std::int64_t pixel_bytes() const { return width * rows; }
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

// --- Errors ------------------------------------------------------------------

enum class ErrorKind {
    Connect,           // nothing listening, connection refused, no such host
    ConnectionClosed,  // the camera closed the connection before a reply began
    ShortReply,        // the connection ended before all announced pixels came
    BadHeader,         // the reply's header does not fit the request
    Timeout,           // the camera stayed silent longer than the time-out
    Send,              // the request could not be sent
    Receive,           // the connection failed while receiving
    NoMemory,          // no memory for the image
    Cancelled,         // cancel() was called
    Usage,             // a call that does not fit the camera's state
};

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const { return kind_; }

private:
    ErrorKind kind_;
};

#define ZIV_CAMERA_ERROR(Name, Kind)                                        \
    class Name : public Error {                                             \
    public:                                                                 \
        explicit Name(const std::string& message) : Error(Kind, message) {} \
    };
ZIV_CAMERA_ERROR(ConnectError, ErrorKind::Connect)
ZIV_CAMERA_ERROR(ConnectionClosedError, ErrorKind::ConnectionClosed)
ZIV_CAMERA_ERROR(ShortReplyError, ErrorKind::ShortReply)
ZIV_CAMERA_ERROR(BadHeaderError, ErrorKind::BadHeader)
ZIV_CAMERA_ERROR(TimeoutError, ErrorKind::Timeout)
ZIV_CAMERA_ERROR(SendError, ErrorKind::Send)
ZIV_CAMERA_ERROR(ReceiveError, ErrorKind::Receive)
ZIV_CAMERA_ERROR(NoMemoryError, ErrorKind::NoMemory)
ZIV_CAMERA_ERROR(CancelledError, ErrorKind::Cancelled)
ZIV_CAMERA_ERROR(UsageError, ErrorKind::Usage)
#undef ZIV_CAMERA_ERROR

// A short name of the kind ("timeout", "bad header", ...).
const char* error_kind_name(ErrorKind kind);

// --- Images --------------------------------------------------------------------

// One image: its geometry and its pixels, `rows` rows of `width` bytes, each
// row `stride` bytes after the one before (fill bytes are zero). Reusing an
// Image for the next image of the same size allocates nothing.
class Image {
public:
    Image() = default;
    // Rows start every `alignment` bytes (1: packed as on the wire; 4: the
    // layout of 4-byte aligned bitmaps). Takes effect with the next image.
    explicit Image(int row_alignment);

    const Geometry& geometry() const { return geometry_; }
    std::int32_t x() const { return geometry_.x; }
    std::int32_t y() const { return geometry_.y; }
    std::int64_t width() const { return geometry_.width; }
    std::int64_t rows() const { return geometry_.rows; }
    std::int64_t stride() const { return stride_; }
    int row_alignment() const { return alignment_; }
    void set_row_alignment(int alignment);

    const std::uint8_t* data() const { return pixels_.data(); }
    std::uint8_t* data() { return pixels_.data(); }
    const std::uint8_t* row(std::int64_t r) const { return pixels_.data() + r * stride_; }
    // stride x rows
    std::size_t size_bytes() const { return std::size_t(stride_ * geometry_.rows); }
    bool empty() const { return geometry_.pixel_bytes() == 0; }

    // Makes room for an image of `g` (used by Camera; keeps the buffer when it
    // is large enough). Returns the first row.
    std::uint8_t* prepare(const Geometry& g);

private:
    Geometry geometry_;
    std::int64_t stride_ = 0;
    int alignment_ = 1;
    std::vector<std::uint8_t> pixels_;
};

// The check every reply's header goes through before anything is allocated:
// a total length of at least the header, a geometry whose pixel count is
// exactly the announced length (an empty window announces none), and no more
// pixels per row or rows than the request can give. Returns the geometry, or
// throws BadHeaderError saying what does not fit.
Geometry check_reply_header(std::span<const std::uint8_t, 28> header, const Window& request);
// The most pixels per row and rows a reply to `request` may have.
std::int64_t max_width(const Window& request);
std::int64_t max_rows(const Window& request);

// --- The camera ----------------------------------------------------------------

class Camera {
public:
    // Nothing is connected yet. `timeout` bounds connecting and every wait for
    // the camera: a camera silent for longer gives TimeoutError (taken as
    // 1 ms to 24 h).
    Camera(std::string host, int port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    const std::string& host() const { return host_; }
    int port() const { return port_; }
    std::chrono::milliseconds timeout() const { return timeout_; }
    void set_timeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // One image on a connection of its own, closed afterwards. Ends a live
    // stream that is running.
    Image grab(const Window& window);
    void grab(const Window& window, Image& into);

    // Live stream: one connection, the request sent again after each image.
    // start_stream connects and sends the first request. After a failure or a
    // cancel the connection is dropped; the next call of next()/begin_frame()
    // connects again while the stream is on.
    void start_stream(const Window& window);
    void stop_stream();
    bool streaming() const { return streaming_; }
    const Window& window() const { return window_; }

    // The next image of the stream into `into` (its buffer reused).
    void next(Image& into);

    // The same in two steps: the next reply's header, checked against the
    // request, then its pixels into memory of the caller's. read_pixels puts
    // row r at dst + r * stride (stride 0: width, rows packed) and needs
    // capacity >= stride * (rows - 1) + width; fill bytes are left as they
    // are. After read_pixels the next request is on its way.
    Geometry begin_frame();
    void read_pixels(std::uint8_t* dst, std::size_t capacity, std::size_t stride = 0);
    // Reads and drops the pixels of the frame begun (the stream goes on).
    void skip_pixels();

    // Makes a blocking call (in another thread, or the next one) throw
    // CancelledError at once, and drops the connection of the image under
    // way. Stays in effect until clear_cancel(). Thread-safe, never blocks.
    void cancel();
    void clear_cancel();
    bool cancelled() const { return cancelled_.load(); }

    // Images completed since construction (single and live).
    std::uint64_t images() const { return images_; }

private:
    enum class Phase { Idle, Requested, HeaderRead };
    void connect_socket();
    void close_socket();
    void send_request();
    std::size_t receive_some(std::uint8_t* dst, std::size_t n, bool in_pixels);
    void wait_readable(bool in_pixels);
    void fail_stream();
    void ensure_requested();
    Geometry read_header();
    void finish_frame();
    int poll_ms() const;
    [[noreturn]] void throw_cancelled();

    std::string host_;
    int port_;
    std::chrono::milliseconds timeout_;
    int fd_ = -1;
    int wake_fd_ = -1;  // eventfd: cancel() wakes a poll
    std::atomic<bool> cancelled_{false};
    bool streaming_ = false;
    Window window_;
    Window request_;  // of the exchange under way
    Phase phase_ = Phase::Idle;
    Geometry frame_;
    std::uint64_t images_ = 0;
    std::vector<std::uint8_t> scratch_;  // pixels on their way into the caller's rows
    std::exception_ptr deferred_;        // a failed re-request, reported by the next frame
};

}  // namespace ziv
