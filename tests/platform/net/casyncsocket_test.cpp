// CAsyncSocket over real loopback sockets, driven by a QCoreApplication only
// (no GUI). The peer is a plain blocking POSIX socket in the test itself;
// every wait is bounded.

#include "casyncsocket.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "event_loop.h"

namespace {

using ziv::test::RunFor;
using ziv::test::RunUntil;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// A TCP socket on 127.0.0.1 with a port chosen by the system; listening or
// only bound (then connecting to it is refused).
class Peer {
public:
    explicit Peer(bool listening = true) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        if (listening) {
            EXPECT_EQ(::listen(fd_.get(), 8), 0);
        }
        socklen_t len = sizeof a;
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    UINT port() const { return port_; }

    // Accepts one connection (the handshake is done by the kernel already).
    Fd accept(int timeoutMs = 5000) {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return Fd();
        return Fd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    Fd fd_;
    UINT port_ = 0;
};

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        done += size_t(n);
    }
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 7 + i / 251) & 0xFF);
    return s;
}

enum class Ev { Connect, Send, Receive, Close };

struct Event {
    Ev ev;
    int err;
    bool operator==(const Event&) const = default;
};

// Records every notification; each may be given a handler that runs after
// recording. Receive by default takes up to `readSize` bytes per notification.
class Probe : public CAsyncSocket {
public:
    std::vector<Event> events;
    std::string data;
    int readSize = 65536;
    bool autoRead = true;
    size_t bytesAtClose = 0;
    std::function<void(Probe&, int)> onConnect, onSend, onReceive, onClose;

    int count(Ev e) const {
        int n = 0;
        for (const auto& x : events) n += x.ev == e;
        return n;
    }
    void PostFailure(int err) { PostConnectFailure(err); }

protected:
    void OnConnect(int err) override {
        events.push_back({Ev::Connect, err});
        if (onConnect) onConnect(*this, err);
    }
    void OnSend(int err) override {
        events.push_back({Ev::Send, err});
        if (onSend) onSend(*this, err);
    }
    void OnReceive(int err) override {
        events.push_back({Ev::Receive, err});
        if (onReceive) {
            onReceive(*this, err);
            return;
        }
        if (!autoRead) return;
        std::vector<char> buf(static_cast<size_t>(readSize));
        const int n = Receive(buf.data(), readSize);
        if (n > 0) data.append(buf.data(), size_t(n));
    }
    void OnClose(int err) override {
        events.push_back({Ev::Close, err});
        bytesAtClose = data.size();
        if (onClose) onClose(*this, err);
    }
};

// Creates `s`, connects it to `port` and waits for OnConnect.
void connectTo(Probe& s, UINT port) {
    ASSERT_TRUE(s.Create());
    const BOOL ok = s.Connect("127.0.0.1", port);
    if (!ok) {
        ASSERT_EQ(CAsyncSocket::GetLastError(), WSAEWOULDBLOCK);
    }
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Connect) > 0; }));
}

TEST(WinSockStartup, ReportsVersion11) {
    WSADATA data{};
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0101);
    EXPECT_EQ(MAKEWORD(2, 1), 0x0102);
}

TEST(CAsyncSocketCreate, OnlyAStreamSocketWithoutALocalEnd) {
    const struct {
        UINT port;
        int type;
        const char* address;
        int error;
    } cases[] = {
        {0, 2, nullptr, WSAESOCKTNOSUPPORT},  // datagram
        {5000, SOCK_STREAM_TYPE, nullptr, WSAEOPNOTSUPP},
        {0, SOCK_STREAM_TYPE, "127.0.0.1", WSAEOPNOTSUPP},
    };
    for (const auto& c : cases) {
        Probe s;
        EXPECT_FALSE(s.Create(c.port, c.type, FD_CONNECT, c.address));
        EXPECT_EQ(CAsyncSocket::GetLastError(), c.error);
        EXPECT_EQ(s.m_hSocket, INVALID_SOCKET);
    }
}

TEST(CAsyncSocketConnect, SuccessGivesConnectThenSendAndNothingMore) {
    Peer peer;
    Probe s;
    connectTo(s, peer.port());
    Fd server = peer.accept();
    ASSERT_GE(server.get(), 0);
    RunFor(150);  // long enough for a level-triggered write notifier to flood
    EXPECT_EQ(s.events, (std::vector<Event>{{Ev::Connect, 0}, {Ev::Send, 0}}));
}

TEST(CAsyncSocketConnect, RefusedGivesOneConnectWithError) {
    Peer bound(false);  // bound, not listening: the kernel refuses
    Probe s;
    connectTo(s, bound.port());
    RunFor(100);
    EXPECT_EQ(s.events, (std::vector<Event>{{Ev::Connect, WSAECONNREFUSED}}));
    // The socket stays created but unconnected.
    EXPECT_NE(s.m_hSocket, INVALID_SOCKET);
    char c = 0;
    EXPECT_EQ(s.Send(&c, 1), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAENOTCONN);
}

TEST(CAsyncSocketConnect, ImmediateFailuresReturnFalseAndNotifyNothing) {
    struct Case {
        const char* name;
        const char* host;
        bool create;
        int error;
    };
    const Case cases[] = {
        {"empty name", "", true, WSAEINVAL},
        {"null name", nullptr, true, WSAEINVAL},
        // An empty label fails inside the resolver without asking a name server.
        {"unresolvable name", "a..b", true, WSAHOST_NOT_FOUND},
        {"socket not created", "127.0.0.1", false, WSAENOTSOCK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Probe s;
        if (c.create) {
            ASSERT_TRUE(s.Create());
        }
        EXPECT_FALSE(s.Connect(c.host, 1));
        EXPECT_EQ(CAsyncSocket::GetLastError(), c.error);
        RunFor(50);
        EXPECT_TRUE(s.events.empty());
    }
}

TEST(CAsyncSocketConnect, PostedFailureArrivesLaterAndOnce) {
    Probe s;
    ASSERT_TRUE(s.Create());
    EXPECT_FALSE(s.Connect("", 2002));
    s.PostFailure(WSAEINVAL);
    EXPECT_TRUE(s.events.empty());  // not from inside the call
    ASSERT_TRUE(RunUntil([&] { return !s.events.empty(); }));
    RunFor(50);
    EXPECT_EQ(s.events, (std::vector<Event>{{Ev::Connect, WSAEINVAL}}));
}

TEST(CAsyncSocketConnect, PostedFailureIsDroppedWhenClosedOrRecreated) {
    for (bool recreate : {false, true}) {
        SCOPED_TRACE(recreate ? "recreated" : "closed");
        Probe s;
        ASSERT_TRUE(s.Create());
        s.PostFailure(WSAEINVAL);
        s.Close();
        if (recreate) {
            ASSERT_TRUE(s.Create());
        }
        RunFor(50);
        EXPECT_TRUE(s.events.empty());
    }
}

TEST(CAsyncSocketConnect, PortUsesLow16Bits) {
    Peer peer;
    Probe s;
    connectTo(s, peer.port() + 0x10000u);
    EXPECT_EQ(s.events.front(), (Event{Ev::Connect, 0}));
}

TEST(CAsyncSocketReceive, DataInPiecesThenCloseAfterLastByte) {
    // Read sizes smaller than, equal to and larger than the kernel's chunks;
    // a short read must bring another OnReceive for the bytes left behind.
    for (int readSize : {1000, 65536}) {
        SCOPED_TRACE(readSize);
        Peer peer;
        Probe s;
        s.readSize = readSize;
        connectTo(s, peer.port());
        Fd server = peer.accept();
        ASSERT_GE(server.get(), 0);

        const std::string sent = pattern(300000);
        writeAll(server.get(), sent.substr(0, 5));
        ASSERT_TRUE(RunUntil([&] { return s.data.size() == 5; }));
        writeAll(server.get(), sent.substr(5));
        server.reset();  // peer closes with all bytes on the way
        ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Close) > 0; }));
        EXPECT_EQ(s.data, sent);
        EXPECT_EQ(s.bytesAtClose, sent.size());
        EXPECT_EQ(s.events.back(), (Event{Ev::Close, 0}));
        RunFor(100);  // no OnReceive or OnClose storm after end of file
        EXPECT_EQ(s.count(Ev::Close), 1);
        EXPECT_EQ(s.events.back(), (Event{Ev::Close, 0}));
    }
}

TEST(CAsyncSocketReceive, OwnerThatDoesNotReadIsToldOnce) {
    Peer peer;
    Probe s;
    s.autoRead = false;
    connectTo(s, peer.port());
    Fd server = peer.accept();
    writeAll(server.get(), "abc");
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Receive) > 0; }));
    RunFor(100);
    EXPECT_EQ(s.count(Ev::Receive), 1);
    // Reading re-arms it: one byte taken, two left behind.
    char c;
    EXPECT_EQ(s.Receive(&c, 1), 1);
    EXPECT_EQ(c, 'a');
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Receive) == 2; }));
    RunFor(50);
    EXPECT_EQ(s.count(Ev::Receive), 2);
}

TEST(CAsyncSocketReceive, ResetGivesCloseWithError) {
    Peer peer;
    Probe s;
    connectTo(s, peer.port());
    Fd server = peer.accept();
    const linger hard{1, 0};
    ASSERT_EQ(::setsockopt(server.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    server.reset();  // sends RST
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Close) > 0; }));
    RunFor(50);
    EXPECT_EQ(s.events.back(), (Event{Ev::Close, WSAECONNRESET}));
    EXPECT_EQ(s.count(Ev::Close), 1);
}

TEST(CAsyncSocketReceive, ReceiveAtEndOfFileReturnsZero) {
    Peer peer;
    Probe s;
    s.autoRead = false;
    connectTo(s, peer.port());
    peer.accept().reset();
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Close) > 0; }));
    char buf[16];
    EXPECT_EQ(s.Receive(buf, sizeof buf), 0);
    EXPECT_EQ(s.count(Ev::Receive), 0);
}

TEST(CAsyncSocketSend, WouldBlockThenOnSendWhenThereIsRoomAgain) {
    Peer peer;
    Probe s;
    connectTo(s, peer.port());
    Fd server = peer.accept();
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Send) == 1; }));

    const std::string chunk = pattern(65536);
    size_t sent = 0;
    int rc = 0;
    for (int i = 0; i < 10000; ++i) {
        rc = s.Send(chunk.data(), int(chunk.size()));
        if (rc == SOCKET_ERROR) break;
        sent += size_t(rc);
    }
    ASSERT_EQ(rc, SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEWOULDBLOCK);
    RunFor(50);
    EXPECT_EQ(s.count(Ev::Send), 1);  // no room yet, so no notification

    // Drain everything the peer was sent; then the socket may send again.
    std::vector<char> buf(1 << 16);
    size_t got = 0;
    while (got < sent) {
        const ssize_t n = ::recv(server.get(), buf.data(), buf.size(), 0);
        ASSERT_GT(n, 0);
        got += size_t(n);
    }
    ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Send) == 2; }));
    RunFor(50);
    EXPECT_EQ(s.count(Ev::Send), 2);
}

TEST(CAsyncSocketClose, HarmlessWhenNotOpenAndTwice) {
    Probe s;
    s.Close();
    ASSERT_TRUE(s.Create());
    s.Close();
    s.Close();
    EXPECT_EQ(s.m_hSocket, INVALID_SOCKET);
    char buf[4] = {};
    EXPECT_EQ(s.Send(buf, 4), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAENOTSOCK);
    EXPECT_EQ(s.Receive(buf, 4), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAENOTSOCK);
}

TEST(CAsyncSocketClose, ClosedSocketIsNeverNotifiedAgain) {
    Peer peer;
    Probe s;
    connectTo(s, peer.port());
    Fd server = peer.accept();
    s.Close();
    writeAll(server.get(), "late");
    server.reset();
    RunFor(100);
    EXPECT_EQ(s.count(Ev::Receive), 0);
    EXPECT_EQ(s.count(Ev::Close), 0);
}

TEST(CAsyncSocketClose, NotifierDoesNotFollowAReusedDescriptor) {
    // A descriptor number freed by Close and reused by another socket must not
    // bring notifications to the closed one.
    Peer peer;
    Probe s;
    connectTo(s, peer.port());
    Fd server = peer.accept();
    const int oldFd = s.m_hSocket;
    s.Close();
    Probe other;
    connectTo(other, peer.port());
    Fd server2 = peer.accept();
    ASSERT_EQ(other.m_hSocket, oldFd);  // the number was reused
    writeAll(server2.get(), "x");
    ASSERT_TRUE(RunUntil([&] { return other.data == "x"; }));
    EXPECT_EQ(s.count(Ev::Receive), 0);
}

TEST(CAsyncSocketReentrancy, HandlersMayCloseOrRestartTheSocket) {
    Peer peer;

    {
        SCOPED_TRACE("close inside OnConnect: no OnSend follows");
        Probe s;
        s.onConnect = [](Probe& p, int) { p.Close(); };
        connectTo(s, peer.port());
        RunFor(50);
        EXPECT_EQ(s.events, (std::vector<Event>{{Ev::Connect, 0}}));
        peer.accept();
    }
    {
        SCOPED_TRACE("close inside OnReceive");
        Probe s;
        s.onReceive = [](Probe& p, int) { p.Close(); };
        connectTo(s, peer.port());
        Fd server = peer.accept();
        writeAll(server.get(), "data");
        server.reset();
        ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Receive) == 1; }));
        RunFor(50);
        EXPECT_EQ(s.count(Ev::Receive), 1);
        EXPECT_EQ(s.count(Ev::Close), 0);
    }
    {
        SCOPED_TRACE("new connection started inside OnClose");
        Probe s;
        int connects = 0;
        s.onConnect = [&](Probe&, int err) {
            EXPECT_EQ(err, 0);
            ++connects;
        };
        s.onClose = [&](Probe& p, int) {
            if (connects == 1) {
                p.Close();
                ASSERT_TRUE(p.Create());
                p.Connect("127.0.0.1", peer.port());
            }
        };
        connectTo(s, peer.port());
        peer.accept().reset();
        ASSERT_TRUE(RunUntil([&] { return connects == 2; }));
        Fd server = peer.accept();
        writeAll(server.get(), "second");
        ASSERT_TRUE(RunUntil([&] { return s.data == "second"; }));
    }
    {
        SCOPED_TRACE("new connection started inside OnConnect of a failed connect");
        Peer refusing(false);
        Probe s;
        s.onConnect = [&](Probe& p, int err) {
            if (err != 0) {
                p.Close();
                ASSERT_TRUE(p.Create());
                p.Connect("127.0.0.1", peer.port());
            }
        };
        connectTo(s, refusing.port());
        ASSERT_TRUE(RunUntil([&] { return s.count(Ev::Send) == 1; }));
        EXPECT_EQ(s.events, (std::vector<Event>{{Ev::Connect, WSAECONNREFUSED}, {Ev::Connect, 0}, {Ev::Send, 0}}));
        peer.accept();
    }
}

TEST(CAsyncSocketReentrancy, HandlerMayDeleteTheSocket) {
    Peer peer;
    for (Ev when : {Ev::Connect, Ev::Receive, Ev::Close}) {
        auto* s = new Probe;
        bool deleted = false;
        // The handler lives in the socket: take what it needs before deleting it.
        auto drop = [&](Probe& p, int) {
            bool& flag = deleted;
            delete &p;
            flag = true;
        };
        if (when == Ev::Connect) s->onConnect = drop;
        if (when == Ev::Receive) s->onReceive = drop;
        if (when == Ev::Close) s->onClose = drop;
        ASSERT_TRUE(s->Create());
        s->Connect("127.0.0.1", peer.port());
        Fd server = peer.accept();
        writeAll(server.get(), "x");
        server.reset();
        ASSERT_TRUE(RunUntil([&] { return deleted; }));
        RunFor(30);
    }
    {
        SCOPED_TRACE("posted failure");
        auto* s = new Probe;
        bool deleted = false;
        s->onConnect = [&](Probe& p, int) {
            bool& flag = deleted;
            delete &p;
            flag = true;
        };
        ASSERT_TRUE(s->Create());
        s->PostFailure(WSAEINVAL);
        ASSERT_TRUE(RunUntil([&] { return deleted; }));
        RunFor(30);
    }
    {
        // The failure is queued, then a handler deletes the socket before the
        // loop delivers it: the queued call must find the socket gone.
        SCOPED_TRACE("failure posted, socket deleted before delivery");
        auto* s = new Probe;
        bool deleted = false;
        s->onConnect = [&](Probe& p, int) {
            bool& flag = deleted;
            p.PostFailure(WSAECONNREFUSED);
            delete &p;
            flag = true;
        };
        ASSERT_TRUE(s->Create());
        s->Connect("127.0.0.1", peer.port());
        Fd server = peer.accept();
        ASSERT_TRUE(RunUntil([&] { return deleted; }));
        RunFor(30);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
