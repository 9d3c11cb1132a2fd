// zivgrab's run: create the control, drive it through one exchange (or a live
// stream), then save and show what arrived.
#include "grab.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "describe.h"
#include "dispdriver.h"
#include "eventsink.h"
#include "objbase.h"
#include "picture.h"
#include "winreg.h"
#include "statuses.h"

namespace ziv::grab {

namespace {

using Clock = std::chrono::steady_clock;

double ms_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void report_hresult(const char* what, HRESULT hr) {
    std::fprintf(stderr, "zivgrab: %s: %s (0x%08X)\n", what, HResultText(hr), static_cast<unsigned>(hr));
}

int report_not_created(HRESULT hr) {
    const std::string clsid = StringFromGUID(CLSID_ZiVControl);
    if (hr == REGDB_E_CLASSNOTREG)
        std::fprintf(stderr,
                     "zivgrab: the image control is not registered (class %s): run regsvr <path of ziVControl "
                     "module>\n",
                     clsid.c_str());
    else
        std::fprintf(stderr, "zivgrab: the image control (class %s) cannot be created: %s (0x%08X)\n%s%s%s",
                     clsid.c_str(), HResultText(hr), static_cast<unsigned>(hr),
                     CoGetLastLoadError().empty() ? "" : "zivgrab: ", CoGetLastLoadError().c_str(),
                     CoGetLastLoadError().empty() ? "" : "\n");
    if (!RegistryFolder().empty())
        std::fprintf(stderr, "zivgrab: registry folder in use: %s\n", RegistryFolder().c_str());
    return kExitNoControl;
}

int describe(COleDispatchDriver& control) {
    ITypeInfo* info = nullptr;
    HRESULT hr = control.m_lpDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr) || !info) {
        report_hresult("the control offers no type information", FAILED(hr) ? hr : E_NOTIMPL);
        return kExitNoControl;
    }
    ITypeLib* lib = nullptr;
    UINT index = 0;
    hr = info->GetContainingTypeLib(&lib, &index);
    info->Release();
    if (FAILED(hr) || !lib) {
        report_hresult("the control's type information has no library", FAILED(hr) ? hr : E_NOTIMPL);
        return kExitNoControl;
    }
    std::printf("// The type library of the image control (class %s, %s), as the created control reports it.\n%s",
                StringFromGUID(CLSID_ZiVControl).c_str(), kZivControlProgID, describe_type_library(lib).c_str());
    lib->Release();
    return kExitOk;
}

// One exchange or live stream, as the PictureReady statuses tell it.
class Exchange {
public:
    Exchange(COleDispatchDriver& control, const GrabOptions& options)
        : control_(control), wanted_(options.live > 0 ? options.live : 1), live_(options.live > 0),
          timeout_(std::chrono::seconds(options.timeout_s)) {}

    void start() { start_ = last_progress_ = Clock::now(); }

    void on_status(LONG status) {
        if (done_) return;  // a status after the end (6 is followed by 0), or while leaving
        const Clock::time_point now = Clock::now();
        const StatusInfo* info = find_status(status);
        const bool failed = !info || info->failure;
        // A stream prints the first image's road and any failure, not thousands of lines.
        if (!live_ || ready_ == 0 || failed)
            std::printf("%8.1f ms  %ld %s\n", ms_between(start_, now), static_cast<long>(status),
                        info ? info->name : "(unknown status)");
        if (failed) {
            failure_ = status;
            finish();
            return;
        }
        if (status != 0) return;
        last_progress_ = now;
        if (++ready_ == 1) first_ready_ = now;
        last_ready_ = now;
        if (ready_ < wanted_) return;
        // Before returning to the control, which would otherwise ask for the next image.
        if (live_) control_.SetProperty(dispidLive, COleVariant(false));
        finish();
    }

    // Called now and then by a timer: gives up when no image came in time.
    void check_time() {
        if (done_ || Clock::now() - last_progress_ < timeout_) return;
        timed_out_ = true;
        finish();
    }

    bool done() const { return done_; }
    bool timed_out() const { return timed_out_; }
    LONG failure() const { return failure_; }
    int ready() const { return ready_; }
    bool live() const { return live_; }
    Clock::time_point first_ready() const { return first_ready_; }
    Clock::time_point last_ready() const { return last_ready_; }
    Clock::time_point started() const { return start_; }

private:
    void finish() {
        done_ = true;
        QCoreApplication::exit(0);
    }

    COleDispatchDriver& control_;
    const int wanted_;
    const bool live_;
    const Clock::duration timeout_;
    Clock::time_point start_, last_progress_, first_ready_, last_ready_;
    bool done_ = false;
    bool timed_out_ = false;
    LONG failure_ = -1;
    int ready_ = 0;
};

// Sets the properties and asks for the image; false (reported) when the control refuses.
bool request(COleDispatchDriver& control, const GrabOptions& o) {
    const struct {
        DISPID id;
        const char* name;
        COleVariant value;
    } properties[] = {
        {dispidServer, "server", COleVariant(o.server)},
        {dispidPort, "port", COleVariant(static_cast<LONG>(o.port))},
        {dispidLive, "live", COleVariant(o.live > 0)},
    };
    for (const auto& p : properties)
        if (const HRESULT hr = control.SetProperty(p.id, p.value); FAILED(hr)) {
            report_hresult((std::string("the control refuses its property ") + p.name).c_str(), hr);
            return false;
        }
    const std::vector<std::int32_t>& w = o.window;
    const HRESULT hr =
        control.InvokeHelper(dispidRequestImage, DISPATCH_METHOD, VT_EMPTY, nullptr,
                             {COleVariant(LONG(w[0])), COleVariant(LONG(w[1])), COleVariant(LONG(w[2])),
                              COleVariant(LONG(w[3])), COleVariant(LONG(w[4])), COleVariant(LONG(w[5]))});
    if (FAILED(hr)) report_hresult("RequestImage failed", hr);
    return SUCCEEDED(hr);
}

int report_exchange_failure(const Exchange& exchange, const GrabOptions& o) {
    const std::string after =
        exchange.live() && exchange.ready() ? " after " + std::to_string(exchange.ready()) + " images" : "";
    if (exchange.timed_out()) {
        std::fprintf(stderr, "zivgrab: no image from %s:%d within %d s%s\n", o.server.c_str(), o.port, o.timeout_s,
                     after.c_str());
    } else {
        const StatusInfo* info = find_status(exchange.failure());
        std::fprintf(stderr, "zivgrab: %s (status %ld %s, server %s:%d)%s\n",
                     info ? info->failure : "the control reported a status it should never fire",
                     static_cast<long>(exchange.failure()), info ? info->name : "unknown", o.server.c_str(), o.port,
                     after.c_str());
    }
    return kExitFailed;
}

void print_rate(const Exchange& exchange, LONG width, LONG rows) {
    // Timed from the first image on: connecting and the first allocations are
    // not what a stream costs.
    const int images = exchange.ready() > 1 ? exchange.ready() - 1 : exchange.ready();
    const auto from = exchange.ready() > 1 ? exchange.first_ready() : exchange.started();
    const double s = std::max(1e-9, ms_between(from, exchange.last_ready()) / 1e3);
    std::printf("live: %d images of %ld x %ld; %d after the first in %.3f s: %.1f images/s, %.1f MB/s\n",
                exchange.ready(), static_cast<long>(width), static_cast<long>(rows), images, s, images / s,
                double(images) * width * rows / s / 1e6);
}

// Saves the control's picture as `o.out` and shows it when asked.
int save(COleDispatchDriver& control, const GrabOptions& o) {
    const char* format = qt_format_for(o.out);
    QTemporaryDir scratch;
    if (format && !scratch.isValid()) {
        std::fprintf(stderr, "zivgrab: no temporary folder for the BMP file: %s\n",
                     scratch.errorString().toStdString().c_str());
        return kExitNotSaved;
    }
    const std::string bmp = format ? scratch.filePath("image.bmp").toStdString() : o.out;
    BOOL saved = FALSE;
    const HRESULT hr = control.InvokeHelper(dispidSaveToBmp, DISPATCH_METHOD, VT_BOOL, &saved, {COleVariant(bmp)});
    if (FAILED(hr) || !saved) {
        std::fprintf(stderr, "zivgrab: the control could not save the image as %s%s%s\n", bmp.c_str(),
                     FAILED(hr) ? ": " : "", FAILED(hr) ? HResultText(hr) : "");
        return kExitNotSaved;
    }
    QImage image;
    if (format || o.preview) {
        if (!image.load(QString::fromStdString(bmp), "bmp")) {
            std::fprintf(stderr, "zivgrab: the BMP file %s the control wrote cannot be read\n", bmp.c_str());
            return kExitNotSaved;
        }
    }
    if (format) {
        std::string error;
        if (!write_picture(image, o.out, format, error)) {
            std::fprintf(stderr, "zivgrab: cannot write %s: %s\n", o.out.c_str(), error.c_str());
            return kExitNotSaved;
        }
    }
    std::printf("saved %s (%s)\n", o.out.c_str(), format ? format : "bmp");
    if (o.preview)
        for (const std::string& line : preview_lines(image)) std::puts(line.c_str());
    return kExitOk;
}

int grab(COleDispatchDriver& control, const GrabOptions& o) {
    Exchange exchange(control, o);
    CEventSink* sink =
        new CEventSink(DIID__DZiVControlEvents,
                       {SinkHandler<VT_I4>(eventidPictureReady, [&](LONG status) { exchange.on_status(status); })});
    DWORD cookie = 0;
    const HRESULT hr = AdviseSink(control.m_lpDispatch, DIID__DZiVControlEvents, sink, &cookie);
    sink->Release();  // the connection holds it now
    if (FAILED(hr)) {
        report_hresult("the control takes no PictureReady sink", hr);
        return kExitNoControl;
    }

    std::printf("%s from %s:%d, window %d,%d %dx%d, steps %d,%d\n",
                o.live ? ("live stream of " + std::to_string(o.live) + " images").c_str() : "single image",
                o.server.c_str(), o.port, o.window[0], o.window[1], o.window[2], o.window[3], o.window[4], o.window[5]);
    std::fflush(stdout);
    exchange.start();
    int status = kExitOk;
    if (!request(control, o)) {
        status = kExitFailed;
    } else {
        QTimer clock;
        QObject::connect(&clock, &QTimer::timeout, [&] { exchange.check_time(); });
        clock.start(std::min(100, o.timeout_s * 1000));
        // A status fired within RequestImage itself may have ended it already.
        if (!exchange.done()) QCoreApplication::exec();
    }
    // Nothing more is wanted from the server, whatever happened.
    control.InvokeHelper(dispidAbort, DISPATCH_METHOD, VT_EMPTY, nullptr);
    UnadviseSink(control.m_lpDispatch, DIID__DZiVControlEvents, cookie);
    if (status != kExitOk) return status;
    if (!exchange.done() || exchange.timed_out() || exchange.failure() >= 0)
        return report_exchange_failure(exchange, o);

    LONG x = 0, y = 0, width = 0, rows = 0;
    control.InvokeHelper(dispidGetImgAttrib, DISPATCH_METHOD, VT_EMPTY, nullptr,
                         {VariantByRef(&x), VariantByRef(&y), VariantByRef(&width), VariantByRef(&rows)});
    std::printf("image at %ld,%ld: %ld x %ld pixels\n", static_cast<long>(x), static_cast<long>(y),
                static_cast<long>(width), static_cast<long>(rows));
    if (exchange.live()) print_rate(exchange, width, rows);
    return save(control, o);
}

}  // namespace

int run(const GrabOptions& options) {
    CoInitialize(nullptr);
    COleDispatchDriver control;
    HRESULT hr = S_OK;
    if (!control.CreateDispatch(CLSID_ZiVControl, &hr)) return report_not_created(hr);
    const int status = options.describe ? describe(control) : grab(control, options);
    control.ReleaseDispatch();
    CoUninitialize();
    return status;
}

}  // namespace ziv::grab
