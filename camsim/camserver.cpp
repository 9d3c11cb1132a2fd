#include "camserver.h"

#include "imageproto.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace ziv::camsim {

namespace {

bool parseInt64(const std::string& text, std::int64_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

bool parseSize(const std::string& text, int& w, int& h) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    std::int64_t a = 0, b = 0;
    if (!parseInt64(text.substr(0, x), a) || !parseInt64(text.substr(x + 1), b)) return false;
    // Replies must fit the header's signed 32-bit total length.
    if (a < 1 || b < 1 || a > 65535 || b > 65535 || a * b > (std::int64_t(1) << 30)) return false;
    w = int(a);
    h = int(b);
    return true;
}

// Reads exactly n bytes; false on end of file or error.
bool readFully(int fd, std::uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r > 0) {
            p += r;
            n -= size_t(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// Pieces of a reply waiting to be sent, sent with as few calls as possible.
class Gather {
public:
    void add(const std::uint8_t* p, size_t n) {
        if (n) parts_.push_back(iovec{const_cast<std::uint8_t*>(p), n});
    }
    bool empty() const { return index_ >= parts_.size(); }
    void clear() {
        parts_.clear();
        index_ = offset_ = 0;
    }

    // Sends up to `budget` bytes (fewer only when it runs empty); returns the
    // number sent, or -1 when the connection failed.
    std::int64_t send(int fd, std::int64_t budget) {
        std::int64_t done = 0;
        while (done < budget && !empty()) {
            iovec batch[IOV_MAX];
            int count = 0;
            std::int64_t planned = 0;
            size_t i = index_;
            size_t off = offset_;
            while (i < parts_.size() && count < IOV_MAX && done + planned < budget) {
                const size_t len =
                    size_t(std::min<std::int64_t>(std::int64_t(parts_[i].iov_len - off), budget - done - planned));
                batch[count++] = iovec{static_cast<std::uint8_t*>(parts_[i].iov_base) + off, len};
                planned += std::int64_t(len);
                ++i;
                off = 0;
            }
            msghdr msg{};
            msg.msg_iov = batch;
            msg.msg_iovlen = size_t(count);
            const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            advance(size_t(n));
            done += n;
        }
        return done;
    }

private:
    void advance(size_t n) {
        while (n > 0) {
            const size_t left = parts_[index_].iov_len - offset_;
            if (n < left) {
                offset_ += n;
                return;
            }
            n -= left;
            ++index_;
            offset_ = 0;
        }
    }
    std::vector<iovec> parts_;
    size_t index_ = 0;
    size_t offset_ = 0;
};

// Waits (bounded) until everything written has reached the peer's receive
// queue, so that each piece of a chunked reply arrives as a piece.
void flushSocket(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    int pending = 0;
    while (::ioctl(fd, SIOCOUTQ, &pending) == 0 && pending > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

}  // namespace

const char* usageText() {
    return "usage: camsim [options]\n"
           "  --bind ADDRESS     listen on this IPv4 address (default 127.0.0.1)\n"
           "  --port N           TCP port (default 2002; 0: chosen by the system)\n"
           "  --sensor WxH       sensor size (default 1280x1024)\n"
           "  --image FILE       serve this picture (any format Qt reads, as 8-bit grey)\n"
           "                     instead of the animated test pattern; the sensor takes its size\n"
           "  -v                 print one line per request\n"
           "faults, for testing clients:\n"
           "  --chunk N          write replies in pieces of N bytes, waiting for each to arrive\n"
           "  --close-after N    close a connection once N reply bytes went out on it\n"
           "                     (counted over all its replies; 0: answer nothing)\n"
           "  --wrong-length D   announce a total length D bytes off the real one\n"
           "  --delay MS         wait MS milliseconds before each reply\n"
           "  --max-requests N   close a connection after serving N requests\n"
           "The first line printed is \"listening on ADDRESS:PORT\".\n";
}

bool parseArguments(int argc, const char* const* argv, Options& out, std::string& error, bool& help) {
    help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            help = true;
            return true;
        }
        if (arg == "-v") {
            out.verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = arg.rfind("--", 0) == 0 ? "missing value for " + arg : "unknown argument " + arg;
            return false;
        }
        const std::string value = argv[++i];
        std::int64_t n = 0;
        auto number = [&](std::int64_t lo, std::int64_t hi) {
            if (!parseInt64(value, n) || n < lo || n > hi) {
                error = "bad value for " + arg + ": " + value;
                return false;
            }
            return true;
        };
        if (arg == "--bind") {
            in_addr a{};
            if (::inet_pton(AF_INET, value.c_str(), &a) != 1) {
                error = "not an IPv4 address: " + value;
                return false;
            }
            out.bindAddress = value;
        } else if (arg == "--port") {
            if (!number(0, 65535)) return false;
            out.port = int(n);
        } else if (arg == "--sensor") {
            if (!parseSize(value, out.sensorWidth, out.sensorHeight)) {
                error = "bad sensor size (WxH, each 1..65535, at most 2^30 pixels): " + value;
                return false;
            }
        } else if (arg == "--image") {
            out.imageFile = value;
        } else if (arg == "--chunk") {
            if (!number(1, INT32_MAX)) return false;
            out.chunk = n;
        } else if (arg == "--close-after") {
            if (!number(0, INT64_MAX)) return false;
            out.closeAfter = n;
        } else if (arg == "--wrong-length") {
            if (!number(INT32_MIN, INT32_MAX)) return false;
            out.wrongLength = n;
        } else if (arg == "--delay") {
            if (!number(0, 3600000)) return false;
            out.delayMs = int(n);
        } else if (arg == "--max-requests") {
            if (!number(1, INT64_MAX)) return false;
            out.maxRequests = n;
        } else {
            error = "unknown argument " + arg;
            return false;
        }
    }
    return true;
}

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
    const std::int64_t w = image.width(), h = image.height();
    if (w < 1 || h < 1 || w > 65535 || h > 65535 || w * h > (std::int64_t(1) << 30)) {
        error = "picture too large: " + file;
        return nullptr;
    }
    std::unique_ptr<FrameSource> s(new FrameSource(int(w), int(h), 0));
    for (int y = 0; y < h; ++y) std::memcpy(s->pixels_.data() + size_t(y) * size_t(w), image.constScanLine(y), size_t(w));
    return s;
}

const std::uint8_t* FrameSource::row(std::uint64_t frame, int y) const {
    const size_t shift = size_t(frame % std::uint64_t(phases())) * (period_ > 0 ? kShiftPerFrame : 0);
    return pixels_.data() + size_t(y) * size_t(pitch_) + shift;
}

// --- Geometry --------------------------------------------------------------

Delivered clipRequest(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, std::int32_t incrx,
                      std::int32_t incry, int sensorWidth, int sensorHeight) {
    auto clip = [](std::int64_t pos, std::int64_t size, std::int64_t limit, std::int32_t& outPos,
                   std::int32_t& outSize) {
        const std::int64_t from = std::clamp<std::int64_t>(pos, 0, limit);
        const std::int64_t to = std::clamp<std::int64_t>(pos + std::max<std::int64_t>(size, 0), from, limit);
        outPos = std::int32_t(from);
        outSize = std::int32_t(to - from);
    };
    Delivered d;
    clip(x, dx, sensorWidth, d.x, d.dx);
    clip(y, dy, sensorHeight, d.y, d.dy);
    // A step below 1 is taken as 1: every pixel of the window.
    d.incrx = std::max<std::int32_t>(incrx, 1);
    d.incry = std::max<std::int32_t>(incry, 1);
    d.width = imageproto::image_width(d.dx, d.incrx);
    d.rows = imageproto::image_rows(d.dy, d.incry);
    return d;
}

// --- Server ----------------------------------------------------------------

// Per connection: the pixels of gathered (narrow or stepped) windows. A client
// in live mode asks for the same window again and again, and the animation
// repeats after FrameSource::phases() images, so the gathered pixels of each
// phase are kept while they fit kCacheBytes: once the cycle has been seen, a
// reply costs one send and no copying.
struct Server::Buffers {
    static constexpr std::int64_t kCacheBytes = std::int64_t(16) << 20;
    std::vector<std::uint8_t> gather;  // windows too large to keep
    Delivered key;
    std::vector<std::vector<std::uint8_t>> images;  // by phase
    std::vector<bool> complete;

    // The buffer for the pixels of `d` in `phase`, and whether it already holds them.
    std::vector<std::uint8_t>& lookup(const Delivered& d, int phases, std::uint64_t frame, bool& ready) {
        const std::int64_t bytes = d.width * d.rows;
        ready = false;
        if (bytes * phases > kCacheBytes) {
            gather.resize(size_t(bytes));
            return gather;
        }
        if (!(key == d) || int(images.size()) != phases) {
            key = d;
            images.resize(size_t(phases));
            complete.assign(size_t(phases), false);
        }
        const size_t phase = size_t(frame % std::uint64_t(phases));
        images[phase].resize(size_t(bytes));
        ready = complete[phase];
        return images[phase];
    }
    void markComplete(const Delivered& d, int phases, std::uint64_t frame) {
        if (key == d && int(complete.size()) == phases) complete[size_t(frame % std::uint64_t(phases))] = true;
    }
};

Server::Server(Options options) : options_(std::move(options)) {}

Server::~Server() { stop(); }

bool Server::start(std::string& error) {
    if (running_) return true;
    if (!options_.imageFile.empty()) {
        source_ = FrameSource::picture(options_.imageFile, error);
        if (!source_) return false;
    } else {
        source_ = FrameSource::pattern(options_.sensorWidth, options_.sensorHeight);
    }

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(options_.port));
    if (::inet_pton(AF_INET, options_.bindAddress.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.bindAddress;
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0) {
        error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    stopping_ = false;
    running_ = true;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void Server::stop() {
    if (!running_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (auto& c : connections_)
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);  // wakes a blocked recv or send
    }
    stopCv_.notify_all();
    const char wake = 1;
    [[maybe_unused]] const ssize_t w = ::write(wakePipe_[1], &wake, 1);
    acceptThread_.join();
    for (auto& c : connections_) c->thread.join();
    connections_.clear();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
    running_ = false;
}

void Server::acceptLoop() {
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping_ || p[1].revents) return;
        if (!(p[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Header and pixels leave at once, never held back for coalescing.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reapFinished();
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        auto conn = std::make_unique<Connection>();
        conn->fd = fd;
        Connection* raw = conn.get();
        connections_.push_back(std::move(conn));
        raw->thread = std::thread([this, raw] { serve(raw); });
    }
}

void Server::reapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) c->thread.join();
}

bool Server::waitStopping(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void Server::closeConnection(Connection* conn) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn->fd >= 0) ::close(conn->fd);
    conn->fd = -1;
}

void Server::serve(Connection* conn) {
    const int fd = conn->fd;  // closed only by this thread, at its end
    Buffers buffers;
    std::uint64_t served = 0;
    std::int64_t sentOnConnection = 0;  // reply bytes, for --close-after
    std::uint8_t request[imageproto::kRequestSize];
    while (!stopping_ && readFully(fd, request, sizeof request)) {
        const imageproto::ImageRequest r = imageproto::decode_request(request);
        if (options_.delayMs > 0 && waitStopping(options_.delayMs)) break;

        const Delivered d = clipRequest(r.x, r.y, r.dx, r.dy, r.incrx, r.incry, source_->width(), source_->height());
        const std::int64_t total = imageproto::kHeaderSize + d.width * d.rows;
        const std::int64_t announced = std::clamp<std::int64_t>(total + options_.wrongLength, INT32_MIN, INT32_MAX);
        const imageproto::ImageHeader h{std::int32_t(announced), d.x, d.y, d.dx, d.dy, d.incrx, d.incry};
        std::uint8_t header[imageproto::kHeaderSize];
        imageproto::encode(h, header);
        const std::uint64_t frame = frames_.fetch_add(1);
        if (options_.verbose) {
            std::fprintf(log_, "request %d %d %d %d %d %d -> %d %d %d %d %d %d, %lld pixels, total %lld\n", r.x, r.y,
                         r.dx, r.dy, r.incrx, r.incry, d.x, d.y, d.dx, d.dy, d.incrx, d.incry,
                         static_cast<long long>(d.width * d.rows), static_cast<long long>(announced));
            std::fflush(log_);
        }
        served_.fetch_add(1);  // counted before the reply, which the client may see at once
        const bool keepOpen = sendReply(conn, header, d, frame, buffers, sentOnConnection);
        ++served;
        if (!keepOpen || (options_.maxRequests > 0 && std::int64_t(served) >= options_.maxRequests)) break;
    }
    closeConnection(conn);
    conn->done = true;
}

// Sends one reply; false when the connection is to end (a fault option or an
// error). The reply goes out in blocks of rows, each sent as soon as it is
// ready, so the client is receiving while the rest is being prepared. Wide
// rows are sent where they lie in the source; narrow or stepped ones are
// gathered into one reused buffer first.
bool Server::sendReply(Connection* conn, const std::uint8_t header[], const Delivered& d, std::uint64_t frame,
                       Buffers& buffers, std::int64_t& sentOnConnection) {
    const std::int64_t total = imageproto::kHeaderSize + d.width * d.rows;
    std::int64_t limit = total;  // bytes of this reply that go out
    bool closeAfterwards = false;
    if (options_.closeAfter >= 0 && options_.closeAfter - sentOnConnection <= total) {
        limit = options_.closeAfter - sentOnConnection;
        closeAfterwards = true;
    }
    const std::int64_t chunk = options_.chunk;
    std::int64_t sent = 0;
    Gather out;
    // Sends what `out` holds, in pieces of `chunk` bytes when asked to.
    auto flushOut = [&]() {
        while (!out.empty() && sent < limit) {
            std::int64_t n = limit - sent;
            if (chunk > 0) n = std::min(n, chunk - sent % chunk);
            const std::int64_t m = out.send(conn->fd, n);
            if (m < 0) return false;
            sent += m;
            sentOnConnection += m;
            // A piece that continues in the next block is not complete yet.
            if (chunk > 0 && sent % chunk == 0 && sent < limit) {
                flushSocket(conn->fd);
                if (stopping_) return false;
            }
        }
        return true;
    };

    out.add(header, imageproto::kHeaderSize);
    const bool direct = d.incrx == 1 && d.width >= 1024;
    const std::int64_t bytes = d.width * d.rows;
    bool ready = false;
    std::vector<std::uint8_t>* pixels = nullptr;
    if (!direct && bytes > 0) pixels = &buffers.lookup(d, source_->phases(), frame, ready);
    if (ready) {
        out.add(pixels->data(), pixels->size());
    } else if (bytes > 0) {
        const std::int64_t blockBytes = direct ? (std::int64_t(1) << 22) : (std::int64_t(1) << 16);
        const std::int64_t rowsPerBlock = std::max<std::int64_t>(1, blockBytes / d.width);
        std::uint8_t* dst = direct ? nullptr : pixels->data();
        std::int64_t r0 = 0;
        for (; r0 < d.rows && sent < limit; r0 += rowsPerBlock) {
            const std::int64_t r1 = std::min(d.rows, r0 + rowsPerBlock);
            if (direct) {
                for (std::int64_t r = r0; r < r1; ++r)
                    out.add(source_->row(frame, int(d.y + r * d.incry)) + d.x, size_t(d.width));
            } else {
                std::uint8_t* const blockStart = dst;
                for (std::int64_t r = r0; r < r1; ++r) {
                    const std::uint8_t* src = source_->row(frame, int(d.y + r * d.incry)) + d.x;
                    if (d.incrx == 1) {
                        std::memcpy(dst, src, size_t(d.width));
                        dst += d.width;
                    } else {
                        for (std::int64_t c = 0; c < d.width; ++c) *dst++ = src[c * d.incrx];
                    }
                }
                out.add(blockStart, size_t(dst - blockStart));
            }
            if (!flushOut()) return false;
            if (out.empty()) out.clear();
        }
        if (!direct && r0 >= d.rows) buffers.markComplete(d, source_->phases(), frame);
    }
    if (!flushOut()) return false;
    return !closeAfterwards;
}

}  // namespace ziv::camsim
