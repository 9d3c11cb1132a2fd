// camsim: a simulated camera image server. It answers every 24-byte image
// request on a connection with one reply (28-byte header, then the 8-bit grey
// pixels of the requested window and steps, clipped to the sensor), serves
// several clients at once (a thread per connection), and can misbehave on
// purpose so that clients can be tested against a faulty peer. This layer is
// the network: accepting, sending what the image model builds, and pacing
// the faults.
#pragma once

#include "model.h"
#include "options.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ziv::camsim {

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
    const FrameSource& source() const { return model_->source(); }
    // Requests taken so far (each counted as its reply starts).
    std::uint64_t requests_served() const { return served_.load(); }
    // Where -v lines go (stdout unless set before start).
    void set_log(std::FILE* log) { log_ = log; }

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void accept_loop();
    void serve(Connection* conn);
    bool send_reply(Connection* conn, const Reply& reply, Session& session, std::int64_t& sent_on_connection);
    bool wait_stopping(int ms);  // true when stop() was called
    void close_connection(Connection* conn);
    void reap_finished();

    Options options_;
    std::unique_ptr<ImageModel> model_;
    std::FILE* log_ = stdout;
    int listen_fd_ = -1;
    int wake_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread accept_thread_;
    std::mutex mutex_;  // guards connections_ and each connection's fd
    std::condition_variable stop_cv_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> served_{0};
    bool running_ = false;
};

}  // namespace ziv::camsim
