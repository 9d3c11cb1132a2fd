// The control over real loopback connections: the simulated camera in-process
// (port chosen by the system) with its fault options, and addresses where
// nothing listens or that cannot be resolved. Only a QCoreApplication exists.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "event_loop.h"
#include "function_sink.h"
#include "server.h"
#include "zivcontrolctrl.h"

namespace {

using Statuses = std::vector<LONG>;
using ziv::camsim::Options;
using ziv::camsim::Server;

using ziv::test::RunFor;
using ziv::test::RunUntil;

struct Camera {
    std::unique_ptr<Server> server;
    explicit Camera(Options options = {}) {
        options.port = 0;
        options.bind_address = "127.0.0.1";
        if (options.sensor_width == 1280 && options.sensor_height == 1024) {
            options.sensor_width = 320;
            options.sensor_height = 240;
        }
        server = std::make_unique<Server>(options);
        std::string error;
        EXPECT_TRUE(server->start(error)) << error;
    }
    ~Camera() { server->stop(); }
    // Pixel (x, y) of the image of reply `frame` for a window at (wx, wy) with steps.
    BYTE Pixel(std::uint64_t frame, int wx, int wy, int incrx, int incry, int x, int y) const {
        return server->source().row(frame, wy + y * incry)[wx + x * incrx];
    }
};

struct Client {
    CZiVControlCtrl ctrl;
    Statuses statuses;
    std::function<void(LONG)> onStatus;
    explicit Client(int port, const char* server = "127.0.0.1") {
        ctrl.SetServer(server);
        ctrl.SetPort(port);
        FunctionSink::Advise(ctrl.GetControllingUnknown(), DIID__DZiVControlEvents, [this](DISPID, LONG s) {
            statuses.push_back(s);
            if (onStatus) onStatus(s);
        });
    }
    size_t Count(LONG status) const { return size_t(std::count(statuses.begin(), statuses.end(), status)); }
    bool Last(LONG status) const { return !statuses.empty() && statuses.back() == status; }
};

// True when the control's pixel rows hold reply `frame` of the camera.
::testing::AssertionResult ShowsFrame(const Client& c, const Camera& cam, std::uint64_t frame, int wx, int wy,
                                      int incrx, int incry) {
    LONG x, y, w, r;
    const_cast<CZiVControlCtrl&>(c.ctrl).GetImgAttrib(&x, &y, &w, &r);
    const BYTE* rows = c.ctrl.GetPixelRows();
    if (!rows) return ::testing::AssertionFailure() << "no pixel rows";
    const int stride = (w + 3) / 4 * 4;
    for (int yy = 0; yy < r; ++yy)
        for (int xx = 0; xx < w; ++xx)
            if (rows[size_t(yy) * stride + xx] != cam.Pixel(frame, wx, wy, incrx, incry, xx, yy))
                return ::testing::AssertionFailure() << "pixel " << xx << "," << yy << " of frame " << frame;
    return ::testing::AssertionSuccess();
}

TEST(ControlLoopback, SingleImage) {
    Camera cam;
    Client c(cam.server->port());
    bool closedAtZero = false;
    c.onStatus = [&](LONG s) {
        if (s == PR_IMAGE_READY) closedAtZero = c.ctrl.GetSocket()->m_hSocket == INVALID_SOCKET;
    };
    c.ctrl.RequestImage(10, 20, 200, 150, 2, 3);
    EXPECT_EQ(c.ctrl.GetBusy(), FALSE);
    ASSERT_TRUE(RunUntil([&] { return c.Last(PR_IMAGE_READY); }));
    RunFor(50);
    EXPECT_EQ(c.statuses, (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
    EXPECT_TRUE(closedAtZero);
    EXPECT_EQ(c.ctrl.GetBusy(), FALSE);
    LONG x, y, w, r;
    c.ctrl.GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ((std::vector<LONG>{x, y, w, r}), (std::vector<LONG>{10, 20, 100, 50}));
    EXPECT_TRUE(ShowsFrame(c, cam, 0, 10, 20, 2, 3));
}

TEST(ControlLoopback, LiveForManyImagesThenOff) {
    Camera cam;
    Client c(cam.server->port());
    const int kImages = 60;
    c.onStatus = [&](LONG s) {
        if (s == PR_IMAGE_READY && c.Count(PR_IMAGE_READY) == size_t(kImages)) c.ctrl.SetLive(FALSE);
    };
    c.ctrl.SetLive(TRUE);
    std::vector<const BYTE*> rows;
    c.ctrl.RequestImage(0, 0, 320, 240, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return c.Count(PR_IMAGE_READY) == size_t(kImages); }));
    RunFor(100);
    Statuses expected;
    for (int i = 0; i < kImages; ++i)
        expected.insert(expected.end(), {PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY});
    EXPECT_EQ(c.statuses, expected) << "no request after live went off";
    EXPECT_TRUE(ShowsFrame(c, cam, kImages - 1, 0, 0, 1, 1));
    EXPECT_EQ(cam.server->requests_served(), std::uint64_t(kImages));
}

TEST(ControlLoopback, LiveReusesItsBuffers) {
    Camera cam;
    Client c(cam.server->port());
    std::vector<const BYTE*> rows;
    std::vector<const uchar*> bits;
    c.onStatus = [&](LONG s) {
        if (s != PR_IMAGE_READY) return;
        rows.push_back(c.ctrl.GetPixelRows());
        bits.push_back(c.ctrl.GetDisplayBitmap()->Image().constBits());
        if (rows.size() == 10) c.ctrl.Abort();
    };
    c.ctrl.SetLive(TRUE);
    c.ctrl.RequestImage(0, 0, 320, 240, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return rows.size() == 10; }));
    for (size_t i = 4; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i], rows[i - 2]) << i;
        EXPECT_EQ(bits[i], bits[i - 2]) << i;
    }
    EXPECT_TRUE(ShowsFrame(c, cam, 9, 0, 0, 1, 1));
    EXPECT_TRUE(c.Last(PR_SEND_FAILED)) << "re-request after Abort in the handler";
}

TEST(ControlLoopback, RepliesInSmallPiecesGiveTheSameImage) {
    Options o;
    o.chunk = 777;
    Camera cam(o);
    Client c(cam.server->port());
    c.ctrl.RequestImage(1, 2, 301, 201, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return c.Last(PR_IMAGE_READY); }));
    EXPECT_EQ(c.statuses, (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
    EXPECT_TRUE(ShowsFrame(c, cam, 0, 1, 2, 1, 1));
}

TEST(ControlLoopback, ServerClosingMidImage) {
    Options o;
    o.close_after = 5000;
    Camera cam(o);
    Client c(cam.server->port());
    c.ctrl.RequestImage(0, 0, 320, 240, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return c.Count(PR_CONNECTION_CLOSED) > 0; }));
    RunFor(50);
    EXPECT_EQ(c.statuses, (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_CONNECTION_CLOSED}));
    EXPECT_EQ(c.ctrl.GetBusy(), FALSE);
    EXPECT_EQ(c.ctrl.GetPixelRows(), nullptr);
}

TEST(ControlLoopback, ServerEndingALiveStream) {
    Options o;
    o.max_requests = 2;
    Camera cam(o);
    Client c(cam.server->port());
    c.ctrl.SetLive(TRUE);
    c.ctrl.RequestImage(0, 0, 64, 64, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return c.Count(PR_CONNECTION_CLOSED) > 0; }));
    EXPECT_EQ(c.statuses, (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT,
                                    PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT, PR_CONNECTION_CLOSED}));
    EXPECT_TRUE(ShowsFrame(c, cam, 1, 0, 0, 1, 1));
}

TEST(ControlLoopback, ShortAnnouncedLengthIsRefusedAsGeometry) {
    Options o;
    o.wrong_length = -100;
    Camera cam(o);
    Client c(cam.server->port());
    c.ctrl.RequestImage(0, 0, 100, 100, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return c.Last(PR_IMAGE_READY); }));
    EXPECT_EQ(c.statuses, (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY}));
    EXPECT_EQ(c.ctrl.GetPixelRows(), nullptr);
}

int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);  // nothing listens there now
    return ntohs(a.sin_port);
}

TEST(ControlLoopback, ConnectFailuresReportStatusTwoLater) {
    // Names that fail without asking a name server: empty, or not a host name.
    for (const char* server : {"127.0.0.1", "", "bad name!", "a..b"}) {
        SCOPED_TRACE(server);
        Client c(UnusedPort(), server);
        c.ctrl.RequestImage(0, 0, 10, 10, 1, 1);
        EXPECT_TRUE(c.statuses.empty()) << "never from inside RequestImage";
        ASSERT_TRUE(RunUntil([&] { return !c.statuses.empty(); }));
        RunFor(50);
        EXPECT_EQ(c.statuses, Statuses{PR_CONNECT_FAILED});
        EXPECT_EQ(c.ctrl.GetBusy(), FALSE);
    }
}

TEST(ControlLoopback, FailedConnectThenAGoodOne) {
    Camera cam;
    Client c(UnusedPort(), "");
    c.ctrl.RequestImage(0, 0, 10, 10, 1, 1);
    // A new request before the failure was delivered: only the new one counts.
    c.ctrl.SetServer("127.0.0.1");
    c.ctrl.SetPort(cam.server->port());
    c.ctrl.RequestImage(0, 0, 10, 10, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return c.Last(PR_IMAGE_READY); }));
    RunFor(50);
    EXPECT_EQ(c.statuses, (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
}

TEST(ControlLoopback, TwoControlsAtOnce) {
    Camera cam;
    Client a(cam.server->port()), b(cam.server->port());
    a.ctrl.SetLive(TRUE);
    b.ctrl.SetLive(TRUE);
    a.onStatus = [&](LONG s) {
        if (s == PR_IMAGE_READY && a.Count(PR_IMAGE_READY) == 20) a.ctrl.Abort();
    };
    b.onStatus = [&](LONG s) {
        if (s == PR_IMAGE_READY && b.Count(PR_IMAGE_READY) == 20) b.ctrl.Abort();
    };
    a.ctrl.RequestImage(0, 0, 320, 240, 1, 1);
    b.ctrl.RequestImage(5, 5, 100, 60, 3, 2);
    ASSERT_TRUE(RunUntil([&] { return a.Count(PR_IMAGE_READY) == 20 && b.Count(PR_IMAGE_READY) == 20; }));
    LONG x, y, w, r;
    a.ctrl.GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ((std::vector<LONG>{w, r}), (std::vector<LONG>{320, 240}));
    b.ctrl.GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ((std::vector<LONG>{w, r}), (std::vector<LONG>{34, 30}));
    EXPECT_EQ(a.Count(PR_CONNECTION_CLOSED) + b.Count(PR_CONNECTION_CLOSED), 0u);
}

}  // namespace
