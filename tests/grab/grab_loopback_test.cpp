// zivgrab as a separate process against the simulated camera (in-process,
// port chosen by the system), with the image control registered by regsvr in
// a temporary registry: what it saves is what the camera sent, live streams
// stop where asked, and every failure ends with a message and its own status.
#include <gtest/gtest.h>

#include <QImage>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server.h"
#include "winreg.h"
#include "workdir.h"

namespace {

using ziv::camsim::Options;
using ziv::camsim::Server;
using ziv::test::RunResult;
using ziv::test::WorkDir;

struct Camera {
    std::unique_ptr<Server> server;
    explicit Camera(std::function<void(Options&)> faults = {}) {
        Options options;
        options.port = 0;
        options.sensor_width = 320;
        options.sensor_height = 240;
        if (faults) faults(options);
        server = std::make_unique<Server>(options);
        std::string error;
        EXPECT_TRUE(server->start(error)) << error;
    }
    ~Camera() { server->stop(); }
    std::string port() const { return std::to_string(server->port()); }
};

// A loopback port where nothing listens: taken from the system, then given back.
std::string free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return std::to_string(ntohs(address.sin_port));
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Grab : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZIV_REGISTRY_DIR", dir.file("registry").c_str(), 1);
        const RunResult r = dir.run("regsvr", {ZIV_CONTROL_MODULE});
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // Runs zivgrab against `camera` with `args`.
    RunResult grab(const Camera& camera, std::vector<std::string> args) const {
        args.insert(args.begin(), {"--port", camera.port()});
        return dir.run("zivgrab", args);
    }

    // The saved picture equals image `frame` of the camera, cut at (x, y) with the steps.
    void expect_picture(const std::string& name, const Camera& camera, std::uint64_t frame, int x, int y, int width,
                        int rows, int incrx, int incry) const {
        const QImage image = QImage(QString::fromStdString(dir.file(name))).convertToFormat(QImage::Format_Grayscale8);
        ASSERT_EQ(image.width(), width) << name;
        ASSERT_EQ(image.height(), rows) << name;
        int wrong = 0;
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t* sent = camera.server->source().row(frame, y + r * incry);
            for (int c = 0; c < width; ++c) wrong += image.constScanLine(r)[c] != sent[x + c * incrx];
        }
        EXPECT_EQ(wrong, 0) << name << ": pixels that differ from what the camera sent";
    }

    WorkDir dir;
};

TEST_F(Grab, SavesWhatTheCameraSentInEachFormat) {
    const struct {
        const char* window;
        const char* out;
        int x, y, width, rows, incrx, incry;  // as delivered (clipped to the 320 x 240 sensor)
    } cases[] = {
        {"0,0,320,240,1,1", "whole.bmp", 0, 0, 320, 240, 1, 1},
        {"10,20,301,200,2,3", "stepped.png", 10, 20, 151, 67, 2, 3},  // odd width: BMP rows with fill bytes
        {"300,200,100,100,1,1", "clipped.TIF", 300, 200, 20, 40, 1, 1},
        {"1,2,33,7,1,1", "odd.tiff", 1, 2, 33, 7, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        Camera camera;  // a fresh one sends image 0 of its animation first
        const RunResult r = grab(camera, {"--window", c.window, "--out", c.out});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, " 9 PR_REQUEST_SENT\n")) << r.out;
        EXPECT_TRUE(contains(r.out, " 0 PR_IMAGE_READY\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "image at " + std::to_string(c.x) + "," + std::to_string(c.y) + ": " +
                                        std::to_string(c.width) + " x " + std::to_string(c.rows) + " pixels\n"))
            << r.out;
        expect_picture(c.out, camera, 0, c.x, c.y, c.width, c.rows, c.incrx, c.incry);
    }
    // The preview follows the saved line: 64 columns, characters twice as high as wide.
    Camera camera;
    const RunResult r = grab(camera, {"--window", "0,0,320,240,1,1", "--preview"});
    const std::size_t saved = r.out.find("saved grab.bmp (bmp)\n");
    ASSERT_NE(saved, std::string::npos) << r.out << r.err;
    const std::string preview = r.out.substr(saved + 21);
    EXPECT_EQ(std::count(preview.begin(), preview.end(), '\n'), 24) << r.out;
    EXPECT_EQ(preview.find('\n'), 4u + 64u) << r.out;
}

TEST_F(Grab, LiveStreamStopsAfterNImagesAndSavesTheLast) {
    Camera camera;
    const RunResult r = grab(camera, {"--window", "0,0,320,240,1,1", "--live", "5", "--out", "live.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "live: 5 images of 320 x 240; 4 after the first")) << r.out;
    EXPECT_TRUE(contains(r.out, " images/s, ")) << r.out;
    expect_picture("live.png", camera, 4, 0, 0, 320, 240, 1, 1);
    EXPECT_EQ(camera.server->requests_served(), 5u);  // live was switched off within the fifth image's event
}

TEST_F(Grab, FailuresEndWithAMessageAndTheirStatus) {
    const struct {
        const char* what;
        std::function<void(Options&)> faults;  // null: nothing listens at the port
        std::vector<std::string> args;
        int status;
        const char* out;  // in the status lines
        const char* err;
    } cases[] = {
        {"nothing listening", nullptr, {}, 1, " 2 PR_CONNECT_FAILED\n", "the connection could not be made (status 2"},
        {"closed mid-image",
         [](Options& o) { o.close_after = 5000; },
         {},
         1,
         " 1 PR_CONNECTION_CLOSED\n",
         "closed the connection before the image was complete (status 1"},
        {"live stream cut",
         [](Options& o) { o.max_requests = 3; },
         {"--live", "10"},
         1,
         " 1 PR_CONNECTION_CLOSED\n",
         ") after 3 images"},
        {"too slow",
         [](Options& o) { o.delay_ms = 3000; },
         {"--timeout", "1"},
         1,
         " 9 PR_REQUEST_SENT\n",
         " within 1 s"},
        {"no such folder",
         {},
         {"--out", "none/a.bmp"},
         4,
         " 0 PR_IMAGE_READY\n",
         "the control could not save the image as none/a.bmp"},
        {"no such folder for Qt", {}, {"--out", "none/a.png"}, 4, " 0 PR_IMAGE_READY\n", "cannot write none/a.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<Camera> camera;
        std::vector<std::string> args = c.args;
        if (c.what == std::string("nothing listening")) {
            args.insert(args.begin(), {"--port", free_port()});
        } else {
            camera = std::make_unique<Camera>(c.faults);
            args.insert(args.begin(), {"--port", camera->port()});
        }
        const RunResult r = dir.run("zivgrab", args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, c.out)) << r.out;
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
    }
}

TEST_F(Grab, AControlThatCannotBeCreatedIsNamedWithTheRegistryInUse) {
    const std::string empty = dir.file("empty-registry");
    const std::string gone = dir.file("gone/ziVControl.so");
    const struct {
        std::string registry;
        std::string module;  // written as the class's module path when not empty
        std::string err;
    } cases[] = {
        {empty, "",
         "not registered (class {1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}): run regsvr <path of ziVControl module>\n"},
        // What a moved module leaves: a registration that points nowhere.
        {dir.file("registry"), gone,
         "(class {1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}) cannot be created: module not found "
         "(0x800401F8)\nzivgrab: module not found: " +
             gone + "\n"},
    };
    for (const auto& c : cases) {
        setenv("ZIV_REGISTRY_DIR", c.registry.c_str(), 1);
        HKEY key = nullptr;
        if (!c.module.empty()) {
            ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}\\InprocServer32",
                                     0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(c.module.c_str()),
                          DWORD(c.module.size() + 1));
            RegCloseKey(key);
        }
        const RunResult r = dir.run("zivgrab", {"--port", free_port()});
        EXPECT_EQ(r.status, 3);
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
        EXPECT_TRUE(contains(r.err, "\nzivgrab: registry folder in use: " + c.registry + "\n")) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Grab, DescribesTheControlFromItsTypeLibrary) {
    const RunResult r = dir.run("zivgrab", {"--describe"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part :
         {"library ", "dispinterface _DZiVControl\n", "dispinterface _DZiVControlEvents\n",
          "uuid(1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF)", "[id(1)] BSTR server;", "[id(4)] VARIANT_BOOL live;",
          "] void GetImgAttrib(", "long* ", "PictureReady(", "[default, source] dispinterface _DZiVControlEvents;"})
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out;
}

}  // namespace
