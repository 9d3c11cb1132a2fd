// camsim over real loopback sockets with a plain blocking client: the server
// class in-process (port chosen by the system), and the program itself.

#include "server.h"
#include "imageproto.h"
#include "workdir.h"

#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace imageproto;

namespace {

using ziv::camsim::FrameSource;
using ziv::camsim::Options;
using ziv::camsim::Server;
using Clock = std::chrono::steady_clock;

struct Reply {
    ImageHeader header;
    std::vector<std::uint8_t> pixels;
};

// A blocking client; every read gives up after a few seconds.
class Client {
public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }

    void send(const ImageRequest& r) {
        const auto bytes = encode(r);
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }

    // Reads exactly n bytes; false on end of file, error or time-out.
    bool read(void* out, size_t n) {
        auto* p = static_cast<std::uint8_t*>(out);
        while (n > 0) {
            const ssize_t r = ::recv(fd_, p, n, 0);
            if (r <= 0) return false;
            ++reads;
            p += r;
            n -= size_t(r);
        }
        return true;
    }

    // One request and its reply, taking as many pixel bytes as announced.
    Reply get(const ImageRequest& r) {
        send(r);
        return receive();
    }

    Reply receive() {
        Reply reply{};
        std::uint8_t h[kHeaderSize];
        EXPECT_TRUE(read(h, sizeof h));
        reply.header = decode_header(h);
        const std::int64_t n = announced_pixels(reply.header);
        EXPECT_GE(n, 0);
        reply.pixels.resize(size_t(std::max<std::int64_t>(n, 0)));
        EXPECT_TRUE(read(reply.pixels.data(), reply.pixels.size()));
        return reply;
    }

    // Everything until the server closes (or nothing more comes for `quietMs`).
    std::vector<std::uint8_t> drain(int quietMs = 3000) {
        std::vector<std::uint8_t> all;
        std::uint8_t buf[65536];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) != 1) {
                closedByServer = false;
                return all;
            }
            const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
            if (r <= 0) {
                closedByServer = true;
                return all;
            }
            all.insert(all.end(), buf, buf + r);
        }
    }

    int reads = 0;
    bool closedByServer = false;

private:
    int fd_;
    bool connected_ = false;
};

// A server on 127.0.0.1 with a port chosen by the system, for one test.
struct Running {
    explicit Running(Options o = small()) : server(std::move(o)) {
        server.set_log(stderr);
        std::string error;
        ok = server.start(error);
        EXPECT_TRUE(ok) << error;
    }
    static Options small() {
        Options o;
        o.port = 0;
        o.sensor_width = 160;
        o.sensor_height = 120;
        return o;
    }
    Server server;
    bool ok = false;
};

// The pixels of image `frame` for a delivered window, cut from the source.
std::vector<std::uint8_t> expectedPixels(const FrameSource& src, std::uint64_t frame, const ImageHeader& h) {
    std::vector<std::uint8_t> out;
    const auto w = image_width(h.dx, h.incrx), rows = image_rows(h.dy, h.incry);
    for (std::int64_t r = 0; r < rows; ++r)
        for (std::int64_t c = 0; c < w; ++c) out.push_back(src.row(frame, int(h.y + r * h.incry))[h.x + c * h.incrx]);
    return out;
}

TEST(CamsimGeometry, WindowIsClippedToTheSensorAndReportedInTheHeader) {
    struct Case {
        const char* name;
        ImageRequest request;
        ImageHeader delivered;  // total filled in below
    };
    const Case cases[] = {
        {"whole sensor", {0, 0, 160, 120, 1, 1}, {0, 0, 0, 160, 120, 1, 1}},
        {"inside, stepped", {100, 50, 40, 30, 2, 2}, {0, 100, 50, 40, 30, 2, 2}},
        {"steps that do not divide", {0, 0, 10, 10, 3, 4}, {0, 0, 0, 10, 10, 3, 4}},
        {"over the right and bottom edge", {150, 110, 100, 100, 1, 1}, {0, 150, 110, 10, 10, 1, 1}},
        {"negative origin", {-5, -7, 20, 20, 1, 1}, {0, 0, 0, 15, 13, 1, 1}},
        {"step beyond the window", {0, 0, 5, 5, 100, 100}, {0, 0, 0, 5, 5, 100, 100}},
        {"zero and negative steps taken as 1", {0, 0, 3, 2, 0, -4}, {0, 0, 0, 3, 2, 1, 1}},
        {"huge size, no overflow", {10, 10, INT32_MAX, INT32_MAX, 1, 1}, {0, 10, 10, 150, 110, 1, 1}},
        {"huge origin", {INT32_MAX, INT32_MIN, 10, 10, 1, 1}, {0, 160, 0, 0, 0, 1, 1}},
        {"outside the sensor", {500, 500, 10, 10, 1, 1}, {0, 160, 120, 0, 0, 1, 1}},
        {"negative size", {10, 10, -10, 5, 1, 1}, {0, 10, 10, 0, 5, 1, 1}},
    };
    Running run;
    Client client(run.server.port());
    ASSERT_TRUE(client.connected());
    std::uint64_t frame = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageHeader want = c.delivered;
        want.total = std::int32_t(kHeaderSize + image_pixel_count(want));
        const Reply reply = client.get(c.request);
        EXPECT_EQ(reply.header, want);
        EXPECT_EQ(reply.pixels, expectedPixels(run.server.source(), frame, want));
        ++frame;
    }
}

TEST(CamsimPattern, MovesFromImageToImage) {
    Running run;
    Client client(run.server.port());
    const ImageRequest r{0, 0, 160, 120, 1, 1};
    const Reply first = client.get(r);
    const Reply second = client.get(r);
    ASSERT_EQ(first.pixels.size(), 160u * 120u);
    ASSERT_EQ(second.pixels.size(), first.pixels.size());
    EXPECT_NE(first.pixels, second.pixels);
    // Each image is the previous one moved left by a fixed number of pixels.
    const int s = FrameSource::kShiftPerFrame;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x + s < 160; ++x)
            ASSERT_EQ(second.pixels[size_t(y * 160 + x)], first.pixels[size_t(y * 160 + x + s)]) << x << "," << y;
    // A new connection goes on with the animation rather than starting over.
    Client other(run.server.port());
    EXPECT_EQ(other.get(r).pixels, expectedPixels(run.server.source(), 2, second.header));
}

TEST(CamsimPattern, RepeatedWindowsStayRightOverSeveralAnimationCycles) {
    // Live clients ask for one window again and again; the server may reuse
    // what it prepared, but each reply must still be the current image.
    Running run;
    Client client(run.server.port());
    const ImageRequest windows[] = {{5, 3, 100, 50, 1, 1}, {0, 0, 160, 120, 3, 2}};
    const int phases = run.server.source().phases();
    std::uint64_t frame = 0;
    for (int k = 0; k < 2 * phases + 5; ++k, ++frame) {
        // Another window now and then must not disturb what is kept.
        const ImageRequest& r = windows[(k % 11 == 10) ? 1 : 0];
        const Reply reply = client.get(r);
        ASSERT_EQ(reply.pixels, expectedPixels(run.server.source(), frame, reply.header)) << "request " << k;
    }
}

TEST(CamsimPattern, LargeDirectWindowsMatchTheSource) {
    // Wide rows go out straight from the source; check them against it.
    Options o = Running::small();
    o.sensor_width = 1280;
    o.sensor_height = 64;
    Running run(o);
    Client client(run.server.port());
    const Reply reply = client.get({3, 1, 1200, 60, 1, 1});
    EXPECT_EQ(reply.pixels, expectedPixels(run.server.source(), 0, reply.header));
    const Reply stepped = client.get({3, 1, 1200, 60, 1, 3});
    EXPECT_EQ(stepped.pixels, expectedPixels(run.server.source(), 1, stepped.header));
}

TEST(CamsimConnections, ManyRequestsPerConnectionAndSeveralClientsAtOnce) {
    Running run;
    Client idle(run.server.port());  // an idle connection must not hold up the others
    ASSERT_TRUE(idle.connected());
    constexpr int kClients = 4, kRequests = 10;
    std::vector<std::thread> threads;
    std::vector<int> good(kClients, 0);
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            Client c(run.server.port());
            for (int k = 0; k < kRequests; ++k) {
                const ImageRequest r{i, k, 20 + i, 10 + k, 1, 1};
                const Reply reply = c.get(r);
                if (reply.header == ImageHeader{28 + (20 + i) * (10 + k), i, k, 20 + i, 10 + k, 1, 1} &&
                    reply.pixels.size() == size_t((20 + i) * (10 + k)))
                    ++good[size_t(i)];
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kClients; ++i) EXPECT_EQ(good[size_t(i)], kRequests) << "client " << i;
    EXPECT_EQ(run.server.requests_served(), std::uint64_t(kClients * kRequests));
}

TEST(CamsimPicture, ServesAPictureFileAsGrey) {
    ziv::test::WorkDir dir;
    QImage picture(37, 23, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x * 7, y * 11, (x * y) & 255));
    ASSERT_TRUE(picture.save(QString::fromStdString(dir.file("p.png"))));
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);

    Options o = Running::small();
    o.image_file = dir.file("p.png");
    Running run(o);
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.server.source().width(), 37);  // the sensor takes the picture's size
    Client client(run.server.port());
    for (int k = 0; k < 2; ++k) {  // a picture stands still
        const Reply reply = client.get({0, 0, 100, 100, 1, 1});
        ASSERT_EQ(reply.header, (ImageHeader{28 + 37 * 23, 0, 0, 37, 23, 1, 1}));
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) ASSERT_EQ(reply.pixels[size_t(y * 37 + x)], grey.constScanLine(y)[x]);
    }

    Options missing = Running::small();
    missing.image_file = dir.file("none.png");
    Server server(missing);
    std::string error;
    EXPECT_FALSE(server.start(error));
    EXPECT_NE(error.find("none.png"), std::string::npos);
}

TEST(CamsimFaults, ChunkedRepliesArriveInPiecesAndWhole) {
    Options o = Running::small();
    o.sensor_width = 64;
    o.sensor_height = 48;
    o.chunk = 7;
    Running run(o);
    Client client(run.server.port());
    const Reply reply = client.get({0, 0, 64, 48, 1, 1});
    EXPECT_EQ(reply.header, (ImageHeader{28 + 64 * 48, 0, 0, 64, 48, 1, 1}));
    EXPECT_EQ(reply.pixels, expectedPixels(run.server.source(), 0, reply.header));
    // 3100 bytes in pieces of 7, each flushed: far more reads than one per 64 KiB.
    EXPECT_GT(client.reads, 20);
    const Reply again = client.get({0, 0, 8, 8, 1, 1});  // the connection goes on
    EXPECT_EQ(again.pixels.size(), 64u);
}

TEST(CamsimFaults, PiecesAndCutsAcrossTheBlocksOfALargeReply) {
    // Large replies go out in blocks of rows; pieces and the cut must not care.
    for (bool stepped : {false, true}) {
        SCOPED_TRACE(stepped ? "gathered rows" : "rows sent in place");
        Options o = Running::small();
        o.sensor_width = 2048;
        o.sensor_height = 200;
        o.chunk = 9973;
        Running run(o);
        Client client(run.server.port());
        const Reply reply = client.get({0, 0, 2048, 200, stepped ? 2 : 1, 1});
        EXPECT_EQ(reply.pixels, expectedPixels(run.server.source(), 0, reply.header));

        o.chunk = 0;
        o.close_after = 100003;
        Running cut(o);
        Client cutClient(cut.server.port());
        cutClient.send({0, 0, 2048, 200, stepped ? 2 : 1, 1});
        EXPECT_EQ(cutClient.drain().size(), 100003u);
        EXPECT_TRUE(cutClient.closedByServer);
    }
}

TEST(CamsimFaults, CloseAfterBytesCountsOverTheConnection) {
    const std::int64_t reply = 28 + 16 * 16;
    struct Case {
        std::int64_t closeAfter;
        int requests;
        std::int64_t expectBytes;
    };
    const Case cases[] = {
        {0, 1, 0},                    // request read, nothing answered
        {100, 1, 100},                // mid-image
        {20, 1, 20},                  // mid-header
        {reply + 50, 2, reply + 50},  // first image whole, the second cut
        {reply, 2, reply},            // closed right after the first image
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closeAfter);
        Options o = Running::small();
        o.close_after = c.closeAfter;
        Running run(o);
        Client client(run.server.port());
        for (int k = 0; k < c.requests; ++k) client.send({0, 0, 16, 16, 1, 1});
        const auto bytes = client.drain();
        EXPECT_TRUE(client.closedByServer);
        EXPECT_EQ(std::int64_t(bytes.size()), c.expectBytes);
    }
}

TEST(CamsimFaults, WrongLengthIsAnnouncedButTheRealPixelsAreSent) {
    for (std::int64_t d : {10, -10, -28 - 256}) {
        SCOPED_TRACE(d);
        Options o = Running::small();
        o.wrong_length = d;
        Running run(o);
        Client client(run.server.port());
        client.send({0, 0, 16, 16, 1, 1});
        const auto bytes = client.drain(300);
        EXPECT_FALSE(client.closedByServer);  // the server waits for the next request
        ASSERT_EQ(bytes.size(), size_t(28 + 256));
        EXPECT_EQ(decode_header(bytes.data()).total, 28 + 256 + d);
    }
}

TEST(CamsimFaults, DelayBeforeEachReply) {
    Options o = Running::small();
    o.delay_ms = 150;
    Running run(o);
    Client client(run.server.port());
    for (int k = 0; k < 2; ++k) {
        const auto start = Clock::now();
        client.get({0, 0, 4, 4, 1, 1});
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    }
}

TEST(CamsimFaults, MaxRequestsThenClose) {
    Options o = Running::small();
    o.max_requests = 2;
    Running run(o);
    Client client(run.server.port());
    for (int k = 0; k < 3; ++k) client.send({0, 0, 4, 4, 1, 1});
    const auto bytes = client.drain();
    EXPECT_TRUE(client.closedByServer);
    EXPECT_EQ(bytes.size(), 2u * (28 + 16));
}

TEST(CamsimServer, StopsPromptlyWithClientsConnectedAndRepliesPending) {
    Options o = Running::small();
    o.delay_ms = 60000;
    Running run(o);
    Client waiting(run.server.port());
    waiting.send({0, 0, 4, 4, 1, 1});
    Client idle(run.server.port());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    run.server.stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    waiting.drain(2000);
    EXPECT_TRUE(waiting.closedByServer);
}

TEST(CamsimArguments, ParsesEveryOptionAndRefusesBadValues) {
    const char* good[] = {"camsim",         "--bind",  "127.0.0.2",      "--port", "0",       "--sensor",
                          "4096x3072",      "--image", "a.png",          "-v",     "--chunk", "5",
                          "--close-after",  "100",     "--wrong-length", "-3",     "--delay", "20",
                          "--max-requests", "4"};
    Options o;
    std::string error;
    bool help = false;
    ASSERT_TRUE(ziv::camsim::parse_arguments(int(std::size(good)), good, o, error, help)) << error;
    EXPECT_EQ(o.bind_address, "127.0.0.2");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.sensor_width, 4096);
    EXPECT_EQ(o.sensor_height, 3072);
    EXPECT_EQ(o.image_file, "a.png");
    EXPECT_TRUE(o.verbose);
    EXPECT_EQ(o.chunk, 5);
    EXPECT_EQ(o.close_after, 100);
    EXPECT_EQ(o.wrong_length, -3);
    EXPECT_EQ(o.delay_ms, 20);
    EXPECT_EQ(o.max_requests, 4);

    const std::vector<std::vector<const char*>> bad = {
        {"camsim", "--port", "65536"},      {"camsim", "--port", "x"},     {"camsim", "--sensor", "0x10"},
        {"camsim", "--sensor", "100000x2"}, {"camsim", "--sensor", "640"}, {"camsim", "--bind", "localhost"},
        {"camsim", "--chunk", "0"},         {"camsim", "--frobnicate"},    {"camsim", "--port"},
        {"camsim", "--max-requests", "0"},  {"camsim", "--delay", "-1"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args[1]);
        Options ignored;
        EXPECT_FALSE(ziv::camsim::parse_arguments(int(args.size()), args.data(), ignored, error, help));
        EXPECT_FALSE(error.empty());
    }
}

TEST(CamsimProgram, PrintsItsPortFirstAndOneLinePerRequest) {
    QProcess camsim;
    camsim.start(QString::fromStdString(ziv::test::bin_path("camsim")), {"--port", "0", "--sensor", "64x48", "-v"});
    ASSERT_TRUE(camsim.waitForStarted(5000));
    ASSERT_TRUE(camsim.waitForReadyRead(5000));
    while (!camsim.canReadLine()) ASSERT_TRUE(camsim.waitForReadyRead(5000));
    const QString first = QString::fromUtf8(camsim.readLine()).trimmed();
    ASSERT_TRUE(first.startsWith("listening on 127.0.0.1:")) << first.toStdString();
    const int port = first.section(':', -1).toInt();
    ASSERT_GT(port, 0);
    {
        Client client(port);
        const Reply reply = client.get({1, 2, 10, 8, 1, 2});
        EXPECT_EQ(reply.header, (ImageHeader{28 + 40, 1, 2, 10, 8, 1, 2}));
    }
    QByteArray out;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!out.contains("request 1 2 10 8 1 2") && Clock::now() < deadline) {
        camsim.waitForReadyRead(100);
        out += camsim.readAll();
    }
    EXPECT_TRUE(out.contains("request 1 2 10 8 1 2 -> 1 2 10 8 1 2, 40 pixels, total 68")) << out.toStdString();
    camsim.terminate();
    ASSERT_TRUE(camsim.waitForFinished(5000));
    EXPECT_EQ(camsim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(camsim.exitCode(), 0);
}

TEST(CamsimProgram, BadArgumentsGiveUsageAndStatus2) {
    ziv::test::WorkDir dir;
    const auto result = dir.run("camsim", {"--sensor", "big"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("usage: camsim"), std::string::npos);
}

}  // namespace
