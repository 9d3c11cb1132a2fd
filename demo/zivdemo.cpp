// The image control at work against a camera image server: one single image
// (statuses, header, a BMP file and a coarse preview in the terminal), then a
// few seconds' worth of live images. Windowless, so it runs without a display.
//
// usage: zivdemo --port P [--host ADDRESS] [--bmp FILE]
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "cmdline.h"
#include "eventsink.h"
#include "zivcontrolctrl.h"

namespace {

const char* status_name(LONG status)
{
    const PictureStatusInfo* info = FindPictureStatus(status);
    return info ? info->name : "?";
}

// Runs the event loop until the sink ends it, or until the time runs out.
int run_until_done(int ms)
{
    QTimer::singleShot(ms, [] { QCoreApplication::exit(2); });
    return QCoreApplication::exec();
}

// The grey levels of the pixel rows as characters, 64 columns wide.
void print_preview(const CZiVControlCtrl& ctrl)
{
    const BITMAPINFOHEADER& h = ctrl.GetBitmapInfo().bmiHeader;
    const BYTE* rows = ctrl.GetPixelRows();
    const long width = h.biWidth;
    const long height = -h.biHeight;
    if (!rows || width <= 0 || height <= 0) return;
    const long stride = (width + 3) / 4 * 4;
    const char* shades = " .:-=+*#%@";
    const int cols = 64;
    const int lines = static_cast<int>(cols * height / width / 2);  // a character is about twice as high as wide
    for (int ly = 0; ly < lines; ++ly) {
        std::string line = "    ";
        for (int cx = 0; cx < cols; ++cx) {
            long x = cx * width / cols;
            long y = ly * height / lines;
            line += shades[rows[y * stride + x] * 10 / 256];
        }
        std::puts(line.c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string host = "127.0.0.1";
    std::string bmp = "zivdemo.bmp";
    int port = 0;
    using namespace ziv::cmdline;
    const CommandLine command_line{
        .program = "zivdemo",
        .options = {
            {"--port", "P", "TCP port of the camera image server", integer(port, 1, 65535), true},
            {"--host", "ADDRESS", "its address (default 127.0.0.1)", text(host)},
            {"--bmp", "FILE", "where the single image is saved (default zivdemo.bmp)", text(bmp)},
        },
    };
    if (const auto status = command_line.parse_main(argc, argv)) return *status;
    QCoreApplication app(argc, argv);

    CZiVControlCtrl ctrl;
    ctrl.SetServer(host.c_str());
    ctrl.SetPort(static_cast<LONG>(port));
    // One sink on the control's connection point; each part below puts its
    // own handler behind it.
    std::function<void(LONG)> on_status;
    DWORD cookie = 0;
    auto* sink = new CEventSink(DIID__DZiVControlEvents,
                                {SinkHandler<VT_I4>(eventidPictureReady, [&](LONG status) { on_status(status); })});
    AdviseSink(ctrl.GetControllingUnknown(), DIID__DZiVControlEvents, sink, &cookie);
    sink->Release();

    // One image of 640 x 480 sensor pixels, every second pixel: 320 x 240.
    std::printf("single image from %s:%d, window 0,0 640x480, steps 2,2\n", host.c_str(), port);
    auto t0 = std::chrono::steady_clock::now();
    on_status = [&](LONG status) {
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::printf("  PictureReady(%ld) %-20s %7.2f ms\n", static_cast<long>(status), status_name(status), ms);
        if (status != PR_REQUEST_SENT && status != PR_IMAGE_STARTED) QCoreApplication::exit(status);
    };
    ctrl.RequestImage(0, 0, 640, 480, 2, 2);
    int rc = run_until_done(10000);
    if (rc != PR_IMAGE_READY) {
        std::printf("no image (%s)\n", rc == 2 ? "is the server running?" : "see the status above");
        return 1;
    }
    LONG x, y, w, h;
    ctrl.GetImgAttrib(&x, &y, &w, &h);
    std::printf("image at %ld,%ld, %ld x %ld pixels; Busy %d\n", static_cast<long>(x), static_cast<long>(y),
                static_cast<long>(w), static_cast<long>(h), ctrl.GetBusy());
    print_preview(ctrl);
    std::printf("SaveToBmp(\"%s\") = %s\n", bmp.c_str(), ctrl.SaveToBmp(bmp.c_str()) ? "TRUE" : "FALSE");

    // Live mode: the full 1280 x 1024 window, as fast as it comes.
    const int images = 200;
    int ready = 0;
    ctrl.SetLive(TRUE);
    on_status = [&](LONG status) {
        if (status == PR_IMAGE_READY && ++ready == images) {
            ctrl.SetLive(FALSE);
            QCoreApplication::exit(0);
        } else if (status != PR_IMAGE_READY && status != PR_REQUEST_SENT && status != PR_IMAGE_STARTED) {
            QCoreApplication::exit(status);
        }
    };
    t0 = std::chrono::steady_clock::now();
    ctrl.RequestImage(0, 0, 1280, 1024, 1, 1);
    rc = run_until_done(30000);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ctrl.Abort();
    if (rc != 0) {
        std::printf("live mode stopped after %d images (status %d)\n", ready, rc);
        return 1;
    }
    ctrl.GetImgAttrib(&x, &y, &w, &h);
    std::printf("live mode: %d images of %ld x %ld in %.2f s: %.0f images/s, %.2f GB/s of pixels\n", images,
                static_cast<long>(w), static_cast<long>(h), s, images / s, double(images) * w * h / s / 1e9);
    return 0;
}
