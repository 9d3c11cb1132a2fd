// camsim's network side: accepting clients, reading their requests, and
// sending the replies the image model builds, paced as the fault options say.
#include "server.h"

#include "imageproto.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <span>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace ziv::camsim {

namespace {

// Reads exactly n bytes; false on end of file or error.
bool read_fully(int fd, std::uint8_t* p, size_t n) {
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
    void add(std::span<const std::uint8_t> piece) {
        if (!piece.empty()) parts_.push_back(iovec{const_cast<std::uint8_t*>(piece.data()), piece.size()});
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
void flush_socket(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    int pending = 0;
    while (::ioctl(fd, SIOCOUTQ, &pending) == 0 && pending > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

// Sends one reply as the fault options allow: at most `limit` bytes
// (--close-after), and with a `chunk` size (--chunk) in pieces that each
// reach the client before the next one leaves.
class PacedSender {
public:
    PacedSender(int fd, std::int64_t limit, std::int64_t chunk, const std::atomic<bool>& stopping)
        : fd_(fd), limit_(limit), chunk_(chunk), stopping_(stopping) {}

    bool done() const { return sent_ >= limit_; }
    std::int64_t sent() const { return sent_; }

    // Sends what `out` holds, up to the limit; false when the connection
    // failed or the server is stopping.
    bool flush(Gather& out) {
        while (!out.empty() && sent_ < limit_) {
            std::int64_t n = limit_ - sent_;
            if (chunk_ > 0) n = std::min(n, chunk_ - sent_ % chunk_);
            const std::int64_t m = out.send(fd_, n);
            if (m < 0) return false;
            sent_ += m;
            // A piece that continues in the next block is not complete yet.
            if (chunk_ > 0 && sent_ % chunk_ == 0 && sent_ < limit_) {
                flush_socket(fd_);
                if (stopping_) return false;
            }
        }
        return true;
    }

private:
    int fd_;
    std::int64_t limit_, chunk_;
    const std::atomic<bool>& stopping_;
    std::int64_t sent_ = 0;
};

}  // namespace

Server::Server(Options options) : options_(std::move(options)) {}

Server::~Server() { stop(); }

bool Server::start(std::string& error) {
    if (running_) return true;
    std::unique_ptr<FrameSource> source = options_.image_file.empty()
                                              ? FrameSource::pattern(options_.sensor_width, options_.sensor_height)
                                              : FrameSource::picture(options_.image_file, error);
    if (!source) return false;
    model_ = std::make_unique<ImageModel>(std::move(source), options_.wrong_length);

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(options_.port));
    if (::inet_pton(AF_INET, options_.bind_address.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.bind_address;
        return false;
    }
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 64) != 0) {
        error = "cannot listen on " + options_.bind_address + ":" + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wake_pipe_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    stopping_ = false;
    running_ = true;
    accept_thread_ = std::thread([this] { accept_loop(); });
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
    stop_cv_.notify_all();
    const char wake = 1;
    [[maybe_unused]] const ssize_t w = ::write(wake_pipe_[1], &wake, 1);
    accept_thread_.join();
    for (auto& c : connections_) c->thread.join();
    connections_.clear();
    ::close(listen_fd_);
    ::close(wake_pipe_[0]);
    ::close(wake_pipe_[1]);
    listen_fd_ = wake_pipe_[0] = wake_pipe_[1] = -1;
    running_ = false;
}

void Server::accept_loop() {
    for (;;) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping_ || p[1].revents) return;
        if (!(p[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Header and pixels leave at once, never held back for coalescing.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reap_finished();
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

void Server::reap_finished() {
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

bool Server::wait_stopping(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void Server::close_connection(Connection* conn) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (conn->fd >= 0) ::close(conn->fd);
    conn->fd = -1;
}

void Server::serve(Connection* conn) {
    const int fd = conn->fd;  // closed only by this thread, at its end
    Session session(*model_);
    std::uint64_t served = 0;
    std::int64_t sent_on_connection = 0;  // reply bytes, for --close-after
    std::uint8_t request[imageproto::kRequestSize];
    while (!stopping_ && read_fully(fd, request, sizeof request)) {
        const imageproto::ImageRequest r = imageproto::decode_request(request);
        if (options_.delay_ms > 0 && wait_stopping(options_.delay_ms)) break;

        const Reply& reply = session.begin(r);
        if (options_.verbose) {
            const Delivered& d = reply.window;
            std::fprintf(log_, "request %d %d %d %d %d %d -> %d %d %d %d %d %d, %lld pixels, total %lld\n", r.x, r.y,
                         r.dx, r.dy, r.incrx, r.incry, d.x, d.y, d.dx, d.dy, d.incrx, d.incry,
                         static_cast<long long>(d.pixel_bytes()), static_cast<long long>(reply.header.total));
            std::fflush(log_);
        }
        served_.fetch_add(1);  // counted before the reply, which the client may see at once
        const bool keep_open = send_reply(conn, reply, session, sent_on_connection);
        ++served;
        if (!keep_open || (options_.max_requests > 0 && std::int64_t(served) >= options_.max_requests)) break;
    }
    close_connection(conn);
    conn->done = true;
}

// Sends one reply; false when the connection is to end (a fault option or an
// error). Each block of rows goes out as soon as the session has it ready, so
// the client is receiving while the rest is being prepared.
bool Server::send_reply(Connection* conn, const Reply& reply, Session& session, std::int64_t& sent_on_connection) {
    std::int64_t limit = reply.size();  // bytes of this reply that go out
    bool close_afterwards = false;
    if (options_.close_after >= 0 && options_.close_after - sent_on_connection <= limit) {
        limit = options_.close_after - sent_on_connection;
        close_afterwards = true;
    }
    PacedSender sender(conn->fd, limit, options_.chunk, stopping_);
    Gather out;
    out.add(reply.header_bytes);
    while (!sender.done()) {
        const auto block = session.next_block();
        if (block.empty()) break;
        for (const Session::Piece& piece : block) out.add(piece);
        if (!sender.flush(out)) return false;
        if (out.empty()) out.clear();
    }
    if (!sender.flush(out)) return false;
    sent_on_connection += sender.sent();
    return !close_afterwards;
}

}  // namespace ziv::camsim
