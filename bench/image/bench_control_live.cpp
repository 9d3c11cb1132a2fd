// The image control in live mode, windowless, against a running camsim: the
// whole window of the given size with steps 1, N images after a short warm-up.
// Prints images/s and the payload rate (pixel bytes only), like the reference
// client, so that the two can be compared.
//
// usage: bench_control_live --port P [--host 127.0.0.1] --size WxH [--images N]

#include <QCoreApplication>
#include <QImage>
#include <QTimer>

#include "bench_common.h"
#include "eventsink.h"
#include "zivcontrolctrl.h"

int main(int argc, char** argv) {
    ziv::bench::ClientArgs args;
    if (const auto status = ziv::bench::parse_client_args("bench_control_live", argc, argv, args)) return *status;
    QCoreApplication app(argc, argv);
    const char* host = args.host.c_str();
    const int width = args.width, height = args.height, images = args.images;
    const int port = args.port;
    const int warmup = 3;

    CZiVControlCtrl ctrl;
    ctrl.SetServer(host);
    ctrl.SetPort(port);
    ctrl.SetLive(TRUE);
    int ready = 0;
    LONG failure = -1;
    QImage surface(1, 1, QImage::Format_RGB32);
    CDC canvas(&surface);
    std::chrono::steady_clock::time_point start;
    auto on_status = [&](LONG status) {
        switch (status) {
        case PR_IMAGE_READY:
            // Drawn after every image, the control converts every image for
            // display (ahead, while the next one arrives): that is the work
            // measured here. A window that repaints at the screen's pace
            // converts only the images it shows.
            ctrl.DrawContent(&canvas, CRect(0, 0, 1, 1));
            if (++ready == warmup) start = std::chrono::steady_clock::now();
            if (ready == warmup + images) {
                ctrl.SetLive(FALSE);  // no further request
                QCoreApplication::exit(0);
            }
            break;
        case PR_REQUEST_SENT:
        case PR_IMAGE_STARTED: break;
        default: failure = status; QCoreApplication::exit(1);
        }
    };
    DWORD cookie = 0;
    auto* sink = new CEventSink(DIID__DZiVControlEvents, {SinkHandler<VT_I4>(eventidPictureReady, on_status)});
    AdviseSink(ctrl.GetControllingUnknown(), DIID__DZiVControlEvents, sink, &cookie);
    sink->Release();
    ctrl.RequestImage(0, 0, width, height, 1, 1);
    QTimer::singleShot(120000, [] { QCoreApplication::exit(3); });
    const int rc = app.exec();
    const double s = ziv::bench::seconds_since(start);
    ctrl.Abort();
    if (rc != 0) {
        std::fprintf(stderr, "bench_control_live: %s (status %ld after %d images)\n",
                     rc == 3 ? "timed out" : "exchange failed", long(failure), ready);
        return 1;
    }
    LONG x, y, w, h;
    ctrl.GetImgAttrib(&x, &y, &w, &h);
    if (w != width || h != height) {
        std::fprintf(stderr, "bench_control_live: the server delivered %ldx%ld (is its sensor large enough?)\n",
                     long(w), long(h));
        return 1;
    }
    const double payload = double(images) * width * height;
    std::printf("control %dx%d images/s %.1f GB/s %.3f ms/image %.4f images %d\n", width, height, images / s,
                payload / s / 1e9, s * 1e3 / images, images);
    return 0;
}
