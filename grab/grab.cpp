// zivgrab's run: create the control, drive it through one exchange (or a live
// stream), then save and show what arrived.
#include "grab.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#include "controlmissing.h"
#include "describe.h"
#include "dispdriver.h"
#include "eventsink.h"
#include "objbase.h"
#include "picture.h"
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
    for (const std::string& line : ControlNotCreatedLines(hr)) std::fprintf(stderr, "zivgrab: %s\n", line.c_str());
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

// Where zivgrab's own lines go: standard error when standard output carries the frames.
std::FILE* report_stream(const GrabOptions& o) { return o.out == "-" ? stderr : stdout; }

// The failures a new connection may get over.
bool connection_failure(LONG status) {
    return status == PR_CONNECTION_CLOSED || status == PR_CONNECT_FAILED || status == PR_RECEIVE_FAILED ||
           status == PR_SEND_FAILED;
}

// One exchange or live stream, as the PictureReady statuses tell it.
class Exchange {
public:
    // `on_image` (may be null) is given each complete image's number, from 1,
    // and ends the run when it returns false; `restart` asks again after a
    // connection failure when `reconnect` says so.
    Exchange(COleDispatchDriver& control, const GrabOptions& options, std::function<bool(int)> on_image,
             std::function<bool()> restart)
        : control_(control), wanted_(options.live > 0 ? options.live : 1), live_(options.live > 0),
          reconnect_(options.reconnect && live_), timeout_(std::chrono::seconds(options.timeout_s)),
          info_(report_stream(options)), on_image_(std::move(on_image)), restart_(std::move(restart)) {
        retry_.setSingleShot(true);
        QObject::connect(&retry_, &QTimer::timeout, [this] {
            if (done_ || restart_()) return;
            refused_ = true;
            finish();
        });
    }

    void start() { start_ = last_progress_ = Clock::now(); }

    void on_status(LONG status) {
        if (done_) return;  // a status after the end (6 is followed by 0), or while leaving
        const LONG before = last_status_;
        last_status_ = status;
        const Clock::time_point now = Clock::now();
        const StatusInfo* info = find_status(status);
        const bool failed = !info || info->failure;
        // A stream prints the first image's road and any failure, not thousands of lines.
        if (!live_ || ready_ == 0 || failed)
            std::fprintf(info_, "%8.1f ms  %ld %s\n", ms_between(start_, now), static_cast<long>(status),
                         info ? info->name : "(unknown status)");
        if (failed && reconnect_ && connection_failure(status)) {
            // Growing pauses, so that a camera that restarts is not flooded.
            const int pause_ms = 100 << std::min(attempts_++, 5);
            std::fflush(info_);  // the status line first
            std::fprintf(stderr, "zivgrab: %s (status %ld %s)%s; connecting again in %d ms\n",
                         failure_text(status, before), static_cast<long>(status), info->name, after().c_str(),
                         pause_ms);
            retry_.start(pause_ms);
            return;
        }
        if (failed) {
            failure_ = status;
            before_failure_ = before;
            finish();
            return;
        }
        if (status != 0) return;
        last_progress_ = now;
        attempts_ = 0;
        if (++ready_ == 1) first_ready_ = now;
        last_ready_ = now;
        const bool last = ready_ >= wanted_;
        if (on_image_) {
            // The control saves its image only while live is off.
            if (live_) control_.SetProperty(dispidLive, COleVariant(false));
            if (!on_image_(ready_)) {
                not_recorded_ = true;
                finish();
                return;
            }
            if (live_ && !last) control_.SetProperty(dispidLive, COleVariant(true));
        }
        if (!last) return;
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

    // " after N images" in a stream that got some.
    std::string after() const { return live_ && ready_ ? " after " + std::to_string(ready_) + " images" : ""; }

    bool done() const { return done_; }
    bool timed_out() const { return timed_out_; }
    bool refused() const { return refused_; }
    bool not_recorded() const { return not_recorded_; }
    LONG failure() const { return failure_; }
    LONG before_failure() const { return before_failure_; }
    int ready() const { return ready_; }
    bool live() const { return live_; }
    Clock::time_point first_ready() const { return first_ready_; }
    Clock::time_point last_ready() const { return last_ready_; }
    Clock::time_point started() const { return start_; }

private:
    void finish() {
        done_ = true;
        retry_.stop();
        QCoreApplication::exit(0);
    }

    COleDispatchDriver& control_;
    const int wanted_;
    const bool live_;
    const bool reconnect_;
    const Clock::duration timeout_;
    std::FILE* const info_;
    const std::function<bool(int)> on_image_;
    const std::function<bool()> restart_;
    QTimer retry_;
    Clock::time_point start_, last_progress_, first_ready_, last_ready_;
    bool done_ = false;
    bool timed_out_ = false;
    bool refused_ = false;       // the control refused the request of a new connection
    bool not_recorded_ = false;  // an image could not be recorded (reported)
    LONG failure_ = -1;
    LONG before_failure_ = -1;
    LONG last_status_ = -1;
    int ready_ = 0;
    int attempts_ = 0;  // connections tried since the last image
};

// Records images as they arrive: numbered files, or the raw rows on standard
// output. The control hands an image over only as a BMP file, so each goes
// through one in a scratch folder.
class Recorder {
public:
    Recorder(COleDispatchDriver& control, const GrabOptions& o)
        : control_(control), o_(o), raw_(o.out == "-"), bmp_(scratch_.filePath("image.bmp").toStdString()) {}

    bool wanted() const { return raw_ || o_.out_name.has_counter(); }

    // False (reported) when there is no scratch folder.
    bool ready() const {
        if (scratch_.isValid()) return true;
        std::fprintf(stderr, "zivgrab: no temporary folder for the control's BMP files: %s\n",
                     scratch_.errorString().toStdString().c_str());
        return false;
    }

    // Image `number` (from 1) of the exchange; false (reported) when it could not be recorded.
    bool record(int number) {
        if (number % o_.every != 0) return true;
        BOOL saved = FALSE;
        const HRESULT hr =
            control_.InvokeHelper(dispidSaveToBmp, DISPATCH_METHOD, VT_BOOL, &saved, {COleVariant(bmp_)});
        if (FAILED(hr) || !saved) {
            std::fprintf(stderr, "zivgrab: the control could not save image %d as %s%s%s\n", number, bmp_.c_str(),
                         FAILED(hr) ? ": " : " (is the temporary folder full?)", FAILED(hr) ? HResultText(hr) : "");
            return false;
        }
        return raw_ ? write_raw(number) : write_file(number);
    }

    // What was recorded, for the last line.
    void report(std::FILE* info) const {
        if (raw_) std::fprintf(info, "wrote %d images of %d x %d to standard output\n", count_, width_, rows_);
        else if (count_ == 1) std::fprintf(info, "saved %s (%s)\n", first_.c_str(), format_ ? format_ : "bmp");
        else
            std::fprintf(info, "saved %d images, %s to %s (%s)\n", count_, first_.c_str(), last_.c_str(),
                         format_ ? format_ : "bmp");
    }

private:
    bool write_file(int number) {
        const std::string name = o_.out_name.name(std::uint64_t(count_) + 1);
        format_ = qt_format_for(name);
        std::string error;
        bool written = false;
        if (format_) {
            QImage image;
            if (!image.load(QString::fromStdString(bmp_), "bmp")) return unreadable(number);
            written = write_picture(image, name, format_, error);
        } else {
            QFile bmp(QString::fromStdString(bmp_));
            if (!bmp.open(QIODevice::ReadOnly)) return unreadable(number);
            written = write_bytes(bmp.readAll(), name, error);
        }
        if (!written) {
            std::fprintf(stderr, "zivgrab: cannot write image %d as %s: %s\n", number, name.c_str(), error.c_str());
            return false;
        }
        if (++count_ == 1) first_ = name;
        last_ = name;
        return true;
    }

    bool write_raw(int number) {
        QImage image;
        if (!image.load(QString::fromStdString(bmp_), "bmp")) return unreadable(number);
        const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        if (count_ == 0) {
            width_ = grey.width();
            rows_ = grey.height();
            std::fprintf(stderr,
                         "zivgrab: standard output: raw 8-bit grey images of %d x %d, %lld bytes each (ffmpeg -f "
                         "rawvideo -pix_fmt gray -s %dx%d -i -)\n",
                         width_, rows_, static_cast<long long>(width_) * rows_, width_, rows_);
        } else if (grey.width() != width_ || grey.height() != rows_) {
            std::fprintf(stderr, "zivgrab: image %d is %d x %d, not %d x %d: a raw stream cannot change its size\n",
                         number, grey.width(), grey.height(), width_, rows_);
            return false;
        }
        // Row by row: the image's rows carry fill bytes up to a multiple of 4.
        bool ok = true;
        for (int r = 0; ok && r < rows_; ++r)
            ok = std::fwrite(grey.constScanLine(r), 1, std::size_t(width_), stdout) == std::size_t(width_);
        ok = std::fflush(stdout) == 0 && ok;
        if (!ok) {
            const int error = errno;
            std::fprintf(stderr, "zivgrab: cannot write image %d to standard output: %s%s\n", number,
                         std::strerror(error), error == EPIPE ? " (the reader has gone)" : "");
            return false;
        }
        ++count_;
        return true;
    }

    bool unreadable(int number) const {
        std::fprintf(stderr, "zivgrab: the BMP file %s the control wrote for image %d cannot be read\n", bmp_.c_str(),
                     number);
        return false;
    }

    COleDispatchDriver& control_;
    const GrabOptions& o_;
    const bool raw_;
    QTemporaryDir scratch_;
    const std::string bmp_;
    int count_ = 0;  // images recorded
    int width_ = 0, rows_ = 0;
    const char* format_ = nullptr;
    std::string first_, last_;
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
    if (exchange.not_recorded()) return kExitNotSaved;
    if (exchange.refused()) return kExitFailed;
    if (exchange.timed_out()) {
        std::fprintf(stderr, "zivgrab: no image from %s:%d within %d s%s\n", o.server.c_str(), o.port, o.timeout_s,
                     exchange.after().c_str());
    } else {
        const StatusInfo* info = find_status(exchange.failure());
        const char* text = failure_text(exchange.failure(), exchange.before_failure());
        std::fprintf(stderr, "zivgrab: %s (status %ld %s, server %s:%d)%s\n",
                     text ? text : "the control reported a status it should never fire",
                     static_cast<long>(exchange.failure()), info ? info->name : "unknown", o.server.c_str(), o.port,
                     exchange.after().c_str());
    }
    return kExitFailed;
}

void print_rate(std::FILE* info, const Exchange& exchange, LONG width, LONG rows) {
    // Timed from the first image on: connecting and the first allocations are
    // not what a stream costs.
    const int images = exchange.ready() > 1 ? exchange.ready() - 1 : exchange.ready();
    const auto from = exchange.ready() > 1 ? exchange.first_ready() : exchange.started();
    const double s = std::max(1e-9, ms_between(from, exchange.last_ready()) / 1e3);
    std::fprintf(info, "live: %d images of %ld x %ld; %d after the first in %.3f s: %.1f images/s, %.1f MB/s\n",
                 exchange.ready(), static_cast<long>(width), static_cast<long>(rows), images, s, images / s,
                 double(images) * width * rows / s / 1e6);
}

// Saves the control's picture under the output name and shows it when asked.
// The control writes its BMP file in a scratch folder; the output is made
// from that, so that it appears only complete.
int save(COleDispatchDriver& control, const GrabOptions& o) {
    std::FILE* const info = report_stream(o);
    const std::string out = o.out_name.name(1);
    const char* format = qt_format_for(out);
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "zivgrab: no temporary folder for the control's BMP file: %s\n",
                     scratch.errorString().toStdString().c_str());
        return kExitNotSaved;
    }
    const std::string bmp = scratch.filePath("image.bmp").toStdString();
    BOOL saved = FALSE;
    const HRESULT hr = control.InvokeHelper(dispidSaveToBmp, DISPATCH_METHOD, VT_BOOL, &saved, {COleVariant(bmp)});
    if (FAILED(hr) || !saved) {
        std::fprintf(stderr, "zivgrab: the control could not save the image as %s%s%s\n", bmp.c_str(),
                     FAILED(hr) ? ": " : " (is the temporary folder full?)", FAILED(hr) ? HResultText(hr) : "");
        return kExitNotSaved;
    }
    QImage image;
    if ((format || o.preview) && !image.load(QString::fromStdString(bmp), "bmp")) {
        std::fprintf(stderr, "zivgrab: the BMP file %s the control wrote cannot be read\n", bmp.c_str());
        return kExitNotSaved;
    }
    std::string error;
    bool written = false;
    if (format) {
        written = write_picture(image, out, format, error);
    } else {
        QFile file(QString::fromStdString(bmp));
        written = file.open(QIODevice::ReadOnly) && write_bytes(file.readAll(), out, error);
        if (!file.isOpen()) error = "the control's BMP file cannot be read: " + file.errorString().toStdString();
    }
    if (!written) {
        std::fprintf(stderr, "zivgrab: cannot write %s: %s\n", out.c_str(), error.c_str());
        return kExitNotSaved;
    }
    std::fprintf(info, "saved %s (%s)\n", out.c_str(), format ? format : "bmp");
    if (o.preview)
        for (const std::string& line : preview_lines(image)) std::fprintf(info, "%s\n", line.c_str());
    return kExitOk;
}

int grab(COleDispatchDriver& control, const GrabOptions& o) {
    std::FILE* const info = report_stream(o);
    Recorder recorder(control, o);
    if (recorder.wanted() && !recorder.ready()) return kExitNotSaved;
    Exchange exchange(control, o,
                      recorder.wanted() ? std::function<bool(int)>([&](int n) { return recorder.record(n); }) : nullptr,
                      [&] { return request(control, o); });
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

    std::fprintf(info, "%s from %s:%d, window %d,%d %dx%d, steps %d,%d\n",
                 o.live ? ("live stream of " + std::to_string(o.live) + " images").c_str() : "single image",
                 o.server.c_str(), o.port, o.window[0], o.window[1], o.window[2], o.window[3], o.window[4],
                 o.window[5]);
    std::fflush(info);
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
    if (!exchange.done() || exchange.timed_out() || exchange.failure() >= 0 || exchange.refused() ||
        exchange.not_recorded())
        return report_exchange_failure(exchange, o);

    LONG x = 0, y = 0, width = 0, rows = 0;
    control.InvokeHelper(dispidGetImgAttrib, DISPATCH_METHOD, VT_EMPTY, nullptr,
                         {VariantByRef(&x), VariantByRef(&y), VariantByRef(&width), VariantByRef(&rows)});
    std::fprintf(info, "image at %ld,%ld: %ld x %ld pixels\n", static_cast<long>(x), static_cast<long>(y),
                 static_cast<long>(width), static_cast<long>(rows));
    if (exchange.live()) print_rate(info, exchange, width, rows);
    if (!recorder.wanted()) return save(control, o);
    recorder.report(info);
    return kExitOk;
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
