// zivgrab as a separate process against the simulated camera (in-process,
// port chosen by the system), with the image control registered by regsvr in
// a temporary registry: what it saves is what the camera sent, live streams
// stop where asked, and every failure ends with a message and its own status.
#include <gtest/gtest.h>

#include <QImage>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

    // Runs zivgrab against `camera` with its standard output on `out`,
    // opened by the child, so that a FIFO waits for its reader: then the
    // first `read` bytes are read and the FIFO closed. Files are limited to
    // `size_limit` bytes (0: no limit). Standard error comes back as `err`.
    RunResult grab_into(const Camera& camera, std::vector<std::string> args, const std::string& out, rlim_t size_limit,
                        std::size_t read = 0) const {
        args.insert(args.begin(), {"zivgrab", "--port", camera.port()});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string exe = ziv::test::bin_path("zivgrab"), err = dir.file("stderr");
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit limit{size_limit, size_limit};
            if (size_limit) ::setrlimit(RLIMIT_FSIZE, &limit);
            const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out_fd < 0 || err_fd < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0 ||
                ::chdir(dir.path().c_str()) != 0)
                ::_exit(126);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        if (read) {
            const int fifo = ::open(out.c_str(), O_RDONLY);
            std::vector<char> bytes(read);
            for (std::size_t got = 0; got < read;) {
                const ssize_t n = ::read(fifo, bytes.data() + got, read - got);
                if (n <= 0) break;
                got += std::size_t(n);
            }
            ::close(fifo);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return RunResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", dir.read("stderr")};
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
        // Shorter than the header that announces it: 29 + (-20) bytes.
        {"reply below 28 bytes",
         [](Options& o) { o.wrong_length = -20; },
         {"--window", "0,0,1,1,1,1"},
         1,
         " 7 PR_NO_MEMORY\n",
         "total length below the header's 28 bytes, or more pixels than there is memory for (status 7"},
        {"no such folder",
         {},
         {"--out", "none/a.bmp"},
         4,
         " 0 PR_IMAGE_READY\n",
         "cannot write none/a.bmp: No such file or directory\n"},
        {"no such folder for Qt", {}, {"--out", "none/a.png"}, 4, " 0 PR_IMAGE_READY\n", "cannot write none/a.png: "},
        {"a file for a folder", {}, {"--out", "file/a.bmp"}, 4, " 0 PR_IMAGE_READY\n", "file/a.bmp: Not a directory\n"},
        {"PNG into a full device",
         {},
         {"--out", "full.png"},
         4,
         " 0 PR_IMAGE_READY\n",
         "cannot write full.png: No space left on device\n"},
    };
    dir.write("file", "");
    ASSERT_EQ(::symlink("/dev/full", dir.file("full.png").c_str()), 0);
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
        EXPECT_FALSE(contains(r.out, "saved")) << r.out;
    }
}

TEST_F(Grab, ACounterInTheNameSavesEveryImage) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> files;  // file i holds image frames[i] of the camera
        std::vector<int> frames;
        const char* absent;
        const char* saved;
    } cases[] = {
        {{"--live", "4", "--out", "img-%02d.png"},
         {"img-01.png", "img-02.png", "img-03.png", "img-04.png"},
         {0, 1, 2, 3},
         "img-05.png",
         "saved 4 images, img-01.png to img-04.png (png)\n"},
        {{"--live", "7", "--every", "3", "--out", "e%d.bmp"},
         {"e1.bmp", "e2.bmp"},
         {2, 5},
         "e3.bmp",
         "to e2.bmp (bmp)\n"},
        {{"--out", "one-%03d.tif"}, {"one-001.tif"}, {0}, "one-002.tif", "saved one-001.tif (tiff)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.front());
        Camera camera;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--window", "0,0,320,240,1,1"});
        const RunResult r = grab(camera, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, c.saved)) << r.out;
        for (std::size_t i = 0; i < c.files.size(); ++i)
            expect_picture(c.files[i], camera, std::uint64_t(c.frames[i]), 0, 0, 320, 240, 1, 1);
        EXPECT_FALSE(dir.exists(c.absent));
    }
}

TEST_F(Grab, RawImagesGoToStandardOutputWithoutFillBytes) {
    Camera camera;
    // 33 pixels wide: the control's rows carry 3 fill bytes that must not go out.
    const RunResult r = grab(camera, {"--window", "1,2,33,7,1,1", "--live", "3", "--out", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string sent;
    for (std::uint64_t frame = 0; frame < 3; ++frame)
        for (int y = 2; y < 9; ++y)
            sent.append(reinterpret_cast<const char*>(camera.server->source().row(frame, y)) + 1, 33);
    EXPECT_EQ(r.out.size(), 3u * 33 * 7);
    EXPECT_TRUE(r.out == sent) << "the bytes differ from what the camera sent";
    EXPECT_TRUE(contains(r.err,
                         "zivgrab: standard output: raw 8-bit grey images of 33 x 7, 231 bytes each (ffmpeg -f "
                         "rawvideo -pix_fmt gray -s 33x7 -i -)\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, " 0 PR_IMAGE_READY\n")) << r.err;  // our own lines keep out of the way
    EXPECT_TRUE(contains(r.err, "wrote 3 images of 33 x 7 to standard output\n")) << r.err;
}

TEST_F(Grab, AStreamThatCannotBeWrittenEndsWithTheReason) {
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const struct {
        const char* what;
        std::string out;
        rlim_t size_limit;
        std::size_t read;  // from the FIFO before it is closed
        const char* err;
    } cases[] = {
        {"full device", "/dev/full", 0, 0, "cannot write image 1 to standard output: No space left on device\n"},
        // Two images of 76800 bytes fit, the third does not; the control's 77878-byte BMP files do.
        {"size limit", dir.file("raw"), 200000, 0, "cannot write image 3 to standard output: File too large\n"},
        {"reader gone", dir.file("fifo"), 0, 1000,
         "cannot write image 1 to standard output: Broken pipe (the reader has gone)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Camera camera;
        const RunResult r = grab_into(camera, {"--window", "0,0,320,240,1,1", "--live", "20", "--out", "-"}, c.out,
                                      c.size_limit, c.read);
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
        EXPECT_FALSE(contains(r.err, "wrote ")) << r.err;
    }
}

TEST_F(Grab, ReconnectsAfterTheServerClosedTheConnection) {
    Camera camera([](Options& o) { o.max_requests = 3; });
    const RunResult r = grab(camera, {"--window", "0,0,320,240,1,1", "--live", "8", "--reconnect", "--out", "r%d.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* after :
         {") after 3 images; connecting again in 100 ms\n", ") after 6 images; connecting again in 100 ms\n"})
        EXPECT_TRUE(
            contains(r.err, std::string("zivgrab: the server closed the connection before the image was complete "
                                        "(status 1 PR_CONNECTION_CLOSED") +
                                after))
            << r.err;
    EXPECT_TRUE(contains(r.out, "saved 8 images, r1.bmp to r8.bmp (bmp)\n")) << r.out;
    expect_picture("r4.bmp", camera, 3, 0, 0, 320, 240, 1, 1);  // the first over the second connection
    expect_picture("r8.bmp", camera, 7, 0, 0, 320, 240, 1, 1);
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
