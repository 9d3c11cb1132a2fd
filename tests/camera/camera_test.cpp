// zivcam against camsim in-process (pixels, single and live) and against a
// scripted peer on 127.0.0.1 (every failure gets its error type, in bounded time).
#include "zivcam/camera.h"

#include "imageproto.h"
#include "server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <climits>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ziv::camsim::FrameSource;

struct Camsim {
    explicit Camsim(int width = 320, int height = 240) : server(options(width, height)) {
        server.set_log(stderr);
        std::string error;
        EXPECT_TRUE(server.start(error)) << error;
    }
    static ziv::camsim::Options options(int width, int height) {
        ziv::camsim::Options o;
        o.port = 0;
        o.sensor_width = width;
        o.sensor_height = height;
        return o;
    }
    ziv::camsim::Server server;
};

// True when `image` is one image of camsim's animation cut as its geometry says.
bool matches_some_frame(const FrameSource& src, const ziv::Image& image) {
    const ziv::Geometry& g = image.geometry();
    for (int frame = 0; frame < src.phases(); ++frame) {
        bool same = true;
        for (std::int64_t r = 0; r < g.rows && same; ++r) {
            const std::uint8_t* row = src.row(std::uint64_t(frame), int(g.y + r * g.incry));
            for (std::int64_t c = 0; c < g.width && same; ++c) same = image.row(r)[c] == row[g.x + c * g.incrx];
            for (std::int64_t c = g.width; c < image.stride() && same; ++c) same = image.row(r)[c] == 0;
        }
        if (same) return true;
    }
    return false;
}

struct WindowCase {
    const char* name;
    ziv::Window window;
    int alignment;
    ziv::Geometry expected;  // width and rows as delivered
};

const WindowCase kWindows[] = {
    {"whole sensor", {0, 0, 320, 240, 1, 1}, 1, {0, 0, 320, 240, 1, 1, 320, 240}},
    {"odd steps and offset", {7, 3, 101, 77, 3, 5}, 1, {7, 3, 101, 77, 3, 5, 34, 16}},
    {"stride padding", {1, 1, 37, 9, 1, 1}, 4, {1, 1, 37, 9, 1, 1, 37, 9}},
    {"clipped right and bottom", {300, 200, 100, 100, 2, 1}, 4, {300, 200, 20, 40, 2, 1, 10, 40}},
    {"clipped left", {-10, 0, 30, 5, 1, 1}, 1, {0, 0, 20, 5, 1, 1, 20, 5}},
    {"step below 1 taken as 1", {0, 0, 6, 2, 0, -3}, 1, {0, 0, 6, 2, 1, 1, 6, 2}},
    {"empty window", {0, 0, 0, 10, 1, 1}, 1, {0, 0, 0, 10, 1, 1, 0, 10}},
};

TEST(CameraPixels, SingleAndLiveDeliverCamsimsPixels) {
    Camsim sim;
    ziv::Camera cam("127.0.0.1", sim.server.port(), 5s);
    for (const WindowCase& c : kWindows) {
        SCOPED_TRACE(c.name);
        ziv::Image single(c.alignment);
        cam.grab(c.window, single);
        EXPECT_EQ(single.geometry(), c.expected);
        EXPECT_EQ(single.stride() % c.alignment, 0);
        EXPECT_TRUE(matches_some_frame(sim.server.source(), single));

        cam.start_stream(c.window);
        ziv::Image live(c.alignment);
        for (int i = 0; i < 10; ++i) {
            cam.next(live);
            const std::uint8_t* buffer = live.data();
            ASSERT_EQ(live.geometry(), c.expected);
            ASSERT_TRUE(matches_some_frame(sim.server.source(), live)) << "image " << i;
            if (i > 0) {
                EXPECT_EQ(live.data(), buffer);  // reused
            }
        }
        cam.stop_stream();
    }
}

// Images larger than a few MiB come through a small buffer rather than
// straight into place: the pixels must come out the same.
TEST(CameraPixels, LargeImagesArriveWhole) {
    Camsim sim(2400, 1800);
    ziv::Camera cam("127.0.0.1", sim.server.port(), 5s);
    ziv::Image image;
    cam.grab({0, 0, 2400, 1800, 1, 1}, image);
    EXPECT_TRUE(matches_some_frame(sim.server.source(), image));
    cam.start_stream({1, 0, 2399, 1800, 1, 1});
    for (int i = 0; i < 2; ++i) {
        cam.next(image);
        ASSERT_EQ(image.geometry().width, 2399);
        EXPECT_TRUE(matches_some_frame(sim.server.source(), image)) << "image " << i;
    }
}

TEST(CameraPixels, ReadPixelsPlacesRowsAtTheCallersStride) {
    Camsim sim;
    ziv::Camera cam("127.0.0.1", sim.server.port(), 5s);
    cam.start_stream({5, 5, 33, 4, 1, 1});
    for (int i = 0; i < 3; ++i) {
        const ziv::Geometry g = cam.begin_frame();
        std::vector<std::uint8_t> buffer(size_t(40 * g.rows), 0xEE);
        EXPECT_THROW(cam.read_pixels(buffer.data(), 40 * 3, 40), ziv::UsageError);  // frame stays readable
        cam.read_pixels(buffer.data(), buffer.size(), 40);
        ziv::Image image(8);  // stride 40, the same layout, fill bytes 0xEE
        std::memcpy(image.prepare(g), buffer.data(), buffer.size());
        for (std::int64_t r = 0; r < g.rows; ++r) std::memset(image.data() + r * 40 + 33, 0, 7);
        EXPECT_TRUE(matches_some_frame(sim.server.source(), image));
        EXPECT_EQ(buffer[33], 0xEE);  // fill bytes untouched
    }
    EXPECT_EQ(cam.images(), 3u);
}

// --- Failures ------------------------------------------------------------------

// A peer on 127.0.0.1 that accepts one connection, reads the request and
// then follows its script.
class Peer {
public:
    using Script = std::function<void(int fd)>;
    explicit Peer(Script script) {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_fd_, 4);
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script] {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) return;
            const int fd = ::accept(listen_fd_, nullptr, nullptr);
            std::uint8_t request[imageproto::kRequestSize];
            if (::recv(fd, request, sizeof request, MSG_WAITALL) == ssize_t(sizeof request)) script(fd);
            ::close(fd);
        });
    }
    ~Peer() {
        thread_.join();
        ::close(listen_fd_);
    }
    int port() const { return port_; }

private:
    int listen_fd_ = -1, port_ = 0;
    std::thread thread_;
};

void send_header(int fd, std::int32_t total, std::int32_t dx, std::int32_t dy) {
    const auto bytes = imageproto::encode(imageproto::ImageHeader{total, 0, 0, dx, dy, 1, 1});
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void send_pixels(int fd, size_t n) {
    const std::vector<std::uint8_t> pixels(n, 7);
    ::send(fd, pixels.data(), n, MSG_NOSIGNAL);
}

void wait_for_close(int fd) {  // the peer stays silent until the client gives up
    std::uint8_t b[64];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 3000) == 1 && ::recv(fd, b, sizeof b, 0) > 0) {}
}

// A port nothing listens on: bound for a moment, never listened on.
int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct FailureCase {
    const char* name;
    Peer::Script script;  // null: nothing listening
    ziv::ErrorKind kind;
    const char* message_part;
};

const ziv::Window kRequest{0, 0, 64, 48, 1, 1};
constexpr int kPixels = 64 * 48;

const FailureCase kFailures[] = {
    {"nothing listening", nullptr, ziv::ErrorKind::Connect, "Connection refused"},
    {"closed before the reply", [](int) {}, ziv::ErrorKind::ConnectionClosed, "closed the connection"},
    {"closed inside the header", [](int fd) { ::send(fd, "0123456789", 10, MSG_NOSIGNAL); }, ziv::ErrorKind::ShortReply,
     "10 of the reply header's 28 bytes"},
    {"closed mid-image",
     [](int fd) {
         send_header(fd, 28 + kPixels, 64, 48);
         send_pixels(fd, 1000);
     },
     ziv::ErrorKind::ShortReply, "1000 of 3072 announced pixel bytes"},
    {"larger image than requested",
     [](int fd) {
         send_header(fd, 28 + 128 * 48, 128, 48);
         send_pixels(fd, 128 * 48);
     },
     ziv::ErrorKind::BadHeader, "128x48 pixels is larger than the 64x48 requested"},
    {"length that is not the window's", [](int fd) { send_header(fd, 28 + kPixels - 1, 64, 48); },
     ziv::ErrorKind::BadHeader, "3071 pixel bytes announced for an image of 64x48"},
    {"announced 2^31-1", [](int fd) { send_header(fd, INT32_MAX, 64, 48); }, ziv::ErrorKind::BadHeader,
     "2147483619 pixel bytes announced"},
    {"negative length", [](int fd) { send_header(fd, -1, 64, 48); }, ziv::ErrorKind::BadHeader,
     "shorter than the header"},
    {"zero step",
     [](int fd) {
         const auto bytes = imageproto::encode(imageproto::ImageHeader{28 + kPixels, 0, 0, 64, 48, 0, 1});
         ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
     },
     ziv::ErrorKind::BadHeader, "not positive"},
    {"reset mid-image",
     [](int fd) {
         send_header(fd, 28 + kPixels, 64, 48);
         send_pixels(fd, 100);
         const linger reset{1, 0};  // close with a reset, not an orderly end
         ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
     },
     ziv::ErrorKind::Receive, "Connection reset by peer"},
    {"silence", wait_for_close, ziv::ErrorKind::Timeout, "no reply from"},
    {"silence mid-image",
     [](int fd) {
         send_header(fd, 28 + kPixels, 64, 48);
         send_pixels(fd, 100);
         wait_for_close(fd);
     },
     ziv::ErrorKind::Timeout, "stopped for more than 300 ms"},
};

TEST(CameraFailures, EachFailureHasItsErrorInBoundedTime) {
    for (const FailureCase& c : kFailures) {
        for (const bool live : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (live ? ", live" : ", single"));
            int port = 0;
            std::optional<Peer> peer;
            if (c.script) {
                peer.emplace(c.script);
                port = peer->port();
            } else {
                port = free_port();
            }
            ziv::Camera cam("127.0.0.1", port, 300ms);
            ziv::Image image;
            const auto start = Clock::now();
            try {
                if (live) {
                    cam.start_stream(kRequest);
                    cam.next(image);
                } else {
                    cam.grab(kRequest, image);
                }
                ADD_FAILURE() << "no error";
            } catch (const ziv::Error& e) {
                EXPECT_EQ(e.kind(), c.kind) << e.what();
                EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
            }
            EXPECT_LT(Clock::now() - start, 2s);
            if (c.kind == ziv::ErrorKind::BadHeader) {
                EXPECT_EQ(image.data(), nullptr);  // nothing allocated
            }
        }
    }
}

TEST(CameraFailures, CancelEndsABlockingWaitFromAnotherThread) {
    Peer peer(wait_for_close);
    ziv::Camera cam("127.0.0.1", peer.port(), 10s);
    cam.start_stream(kRequest);
    const auto start = Clock::now();
    std::thread canceller([&cam] {
        std::this_thread::sleep_for(100ms);
        cam.cancel();
    });
    ziv::Image image;
    EXPECT_THROW(cam.next(image), ziv::CancelledError);
    canceller.join();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_THROW(cam.next(image), ziv::CancelledError);  // until cleared
    cam.clear_cancel();
    EXPECT_FALSE(cam.cancelled());
}

TEST(CameraFailures, ALiveStreamConnectsAgainAfterACancel) {
    Camsim sim;
    ziv::Camera cam("127.0.0.1", sim.server.port(), 5s);
    cam.start_stream({0, 0, 16, 16, 1, 1});
    ziv::Image image;
    cam.next(image);
    cam.cancel();
    EXPECT_THROW(cam.next(image), ziv::CancelledError);
    cam.clear_cancel();
    cam.next(image);  // connects again
    EXPECT_EQ(image.width(), 16);
}

}  // namespace
