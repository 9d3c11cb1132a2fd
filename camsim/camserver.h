// camsim: a simulated camera image server. It answers every 24-byte image
// request on a connection with one reply (28-byte header, then the 8-bit grey
// pixels of the requested window and steps, clipped to the sensor), serves
// several clients at once (a thread per connection), and can misbehave on
// purpose so that clients can be tested against a faulty peer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ziv::camsim {

struct Options {
    std::string bindAddress = "127.0.0.1";
    int port = 2002;                 // 0: chosen by the system (see Server::port)
    int sensorWidth = 1280;
    int sensorHeight = 1024;
    std::string imageFile;           // empty: the animated test pattern
    bool verbose = false;            // one line per request on the log stream
    // Faults, for testing clients.
    std::int64_t chunk = 0;          // > 0: write replies in pieces of this many bytes
    std::int64_t closeAfter = -1;    // >= 0: close a connection once this many reply bytes went out on it
    std::int64_t wrongLength = 0;    // added to the total length announced in the header
    int delayMs = 0;                 // wait before each reply
    std::int64_t maxRequests = 0;    // > 0: close a connection after serving this many requests
};

// Parses the command line (argv[0] is the program). Returns false with a
// message in `error` when an argument is wrong; `help` is set for --help.
bool parseArguments(int argc, const char* const* argv, Options& out, std::string& error, bool& help);
const char* usageText();

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
    friend bool operator==(const Delivered&, const Delivered&) = default;
};
Delivered clipRequest(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, std::int32_t incrx,
                      std::int32_t incry, int sensorWidth, int sensorHeight);

class Server {
public:
    explicit Server(Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Prepares the pixels, binds and listens, and starts serving in background
    // threads. False with a message when anything fails.
    bool start(std::string& error);
    // Stops accepting, ends every connection and joins all threads.
    void stop();

    int port() const { return port_; }
    const Options& options() const { return options_; }
    const FrameSource& source() const { return *source_; }
    // Requests taken so far (each counted as its reply starts).
    std::uint64_t requestsServed() const { return served_.load(); }
    // Where -v lines go (stdout unless set before start).
    void setLog(std::FILE* log) { log_ = log; }

private:
    struct Buffers;
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void acceptLoop();
    void serve(Connection* conn);
    bool sendReply(Connection* conn, const std::uint8_t header[], const Delivered& d, std::uint64_t frame,
                   Buffers& buffers, std::int64_t& sentOnConnection);
    bool waitStopping(int ms);  // true when stop() was called
    void closeConnection(Connection* conn);
    void reapFinished();

    Options options_;
    std::unique_ptr<FrameSource> source_;
    std::FILE* log_ = stdout;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptThread_;
    std::mutex mutex_;  // guards connections_ and each connection's fd
    std::condition_variable stopCv_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> served_{0};
    bool running_ = false;
};

}  // namespace ziv::camsim
