// Fuzzes the control's image reply path through a scripted socket: the input
// chooses single or live mode, each reply's header (any 32-bit values), its
// pixel bytes, where the byte stream is cut into reads, and what happens in
// between (Abort, a new RequestImage, the server closing, errors, draws into
// surfaces of any size and place, a container that acts from inside its
// status handler or draws at each status 0, which makes the display convert
// images ahead while they arrive).
//
// Checked: every status is one of 0..9 and never 5; a reply that arrives as
// announced on a fresh connection ends with status 7 (negative length), or
// with status 0, and then the bitmap has the header's geometry, the pixel
// rows hold the received bytes and a draw shows them, unless status 6
// refused the geometry.
#include <fuzzer/FuzzedDataProvider.h>

#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "cdc.h"
#include "function_sink.h"
#include "imageproto.h"
#include "scripted_socket.h"
#include "zivcontrolctrl.h"

namespace {

// Announced pixel counts above this are folded below kFold: the control would
// allocate whatever a header announces, and a run must stay short. Larger
// images (up to kMaxPixels) come from headers whose length fits their geometry.
constexpr std::int64_t kMaxPixels = 1 << 21;
constexpr std::uint32_t kFold = 1 << 17;

// ZIV_FUZZ_TRACE=1 shows what a run does (to read a failing input).
const bool kTrace = std::getenv("ZIV_FUZZ_TRACE") != nullptr;

[[noreturn]] void fail(const char* what, long a = 0, long b = 0) {
    std::fprintf(stderr, "control_reply_fuzz: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

struct Expected {
    imageproto::ImageHeader header;
    std::vector<BYTE> pixels;  // the pixel bytes that follow the header
};

enum class Act { None, Abort, RequestImage, LiveOff, LiveOn };

class Driver {
public:
    explicit Driver(FuzzedDataProvider& in) : in_(in) {
        auto socket = std::make_unique<ScriptedSocket>();
        sock_ = socket.get();
        ctrl_ = std::make_unique<CZiVControlCtrl>(std::move(socket));
        ctrl_->SetServer("camera");
        ctrl_->SetPort(2002);
        FunctionSink::Advise(ctrl_->GetControllingUnknown(), DIID__DZiVControlEvents,
                             [this](DISPID dispid, LONG status) { on_status(dispid, status); });
    }

    void run() {
        ctrl_->SetLive(in_.ConsumeBool());
        draw_at_ready_ = in_.ConsumeBool();
        for (int step = 0; step < 12 && in_.remaining_bytes() > 0; ++step) {
            switch (in_.ConsumeIntegralInRange(0, 12)) {
            case 0:
                ctrl_->Abort();
                synced_ = false;
                break;
            case 1: connect(); break;
            case 2: sock_->PeerCloses(in_.ConsumeBool() ? WSAECONNRESET : 0); break;
            case 3:
                sock_->ReceiveError(WSAECONNABORTED);
                synced_ = false;
                break;
            case 4: sock_->SendError(WSAENOBUFS); break;
            case 5:
                ctrl_->SetLive(!ctrl_->GetLive());
                synced_ = false;
                break;
            case 6:  // the container acts from inside a later status handler
                act_ = Act(in_.ConsumeIntegralInRange(1, 4));
                act_on_ = in_.ConsumeIntegralInRange<LONG>(0, 9);
                break;
            case 7: draw(); break;
            default: reply(); break;
            }
        }
    }

private:
    void draw() {
        const int width = in_.ConsumeIntegralInRange(1, 64), height = in_.ConsumeIntegralInRange(1, 64);
        const CRect bounds(in_.ConsumeIntegralInRange(-70, 70), in_.ConsumeIntegralInRange(-70, 70),
                           in_.ConsumeIntegralInRange(-70, 70), in_.ConsumeIntegralInRange(-70, 70));
        QImage target(width, height, kScreenFormat);
        CDC dc(&target);
        ctrl_->DrawContent(&dc, bounds);
    }

    void connect() {
        ctrl_->RequestImage(in_.ConsumeIntegral<std::int32_t>(), in_.ConsumeIntegral<std::int32_t>(), 640, 480, 1, 1);
        sock_->failSend = in_.ConsumeIntegralInRange(0, 15) == 0;
        synced_ = true;  // unless a status handler acts on the connect
        sock_->Connected();
    }

    std::int32_t field(int mode, std::int32_t lo, std::int32_t hi) {
        return mode == 0 ? in_.ConsumeIntegral<std::int32_t>() : in_.ConsumeIntegralInRange(lo, hi);
    }

    void reply() {
        if (!sock_->connected) connect();
        imageproto::ImageHeader h;
        const int mode = in_.ConsumeIntegralInRange(0, 3);  // 0: any values, else small ones
        h.x = in_.ConsumeIntegral<std::int32_t>();
        h.y = in_.ConsumeIntegral<std::int32_t>();
        h.dx = field(mode, -2, 700);
        h.dy = field(mode, -2, 300);
        h.incrx = field(mode, -1, 9);
        h.incry = field(mode, -1, 9);
        const std::int64_t exact = imageproto::image_pixel_count(h);
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0: h.total = in_.ConsumeIntegral<std::int32_t>(); break;
        case 1: h.total = std::int32_t(28 + exact + in_.ConsumeIntegralInRange(-40, 40)); break;
        default: h.total = std::int32_t(28 + exact); break;
        }
        if (imageproto::announced_pixels(h) > kMaxPixels) h.total = std::int32_t(28 + std::uint32_t(h.total) % kFold);

        // Pixel bytes: from the input while it lasts, then a pattern.
        const std::int64_t announced = imageproto::announced_pixels(h);
        std::int64_t count = announced < 0 ? in_.ConsumeIntegralInRange(0, 64) : announced;
        // Now and then the server sends too few or too many.
        const int misfit = in_.ConsumeIntegralInRange(0, 7);
        const bool as_announced = misfit > 1;
        if (misfit == 0) count = count / 2;
        if (misfit == 1) count += in_.ConsumeIntegralInRange(1, 100);
        std::vector<BYTE> bytes(imageproto::kHeaderSize + std::size_t(count));
        imageproto::encode(h, bytes.data());
        const std::vector<BYTE> given = in_.ConsumeBytes<BYTE>(std::min<std::size_t>(std::size_t(count), 4096));
        for (std::size_t i = 0; i < std::size_t(count); ++i)
            bytes[28 + i] = i < given.size() ? given[i] : BYTE(i * 7 + i / 4096);

        // Where the stream is cut into reads: a few chosen sizes, then the rest at once.
        std::vector<int> sizes;
        const int cuts = in_.ConsumeIntegralInRange(0, 6);
        for (int i = 0; i < cuts; ++i) sizes.push_back(in_.ConsumeIntegralInRange(1, 70000));
        sizes.push_back(1 << 30);

        const bool checked = synced_ && as_announced && act_ == Act::None;
        if (checked) expect_ = Expected{h, std::vector<BYTE>(bytes.begin() + 28, bytes.end())};
        else expect_.reset();
        seen_ready_ = seen_bad_geometry_ = seen_no_memory_ = false;
        if (kTrace)
            std::fprintf(stderr, "reply: total %d, %d x %d step %d x %d, %zu bytes, %s\n", h.total, h.dx, h.dy, h.incrx,
                         h.incry, bytes.size(), checked ? "checked" : "unchecked");
        sock_->Deliver(bytes, sizes);
        if (checked) {
            if (announced < 0 && !seen_no_memory_) fail("negative length without status 7", long(announced));
            if (announced >= 0 && !seen_ready_) fail("a whole reply without status 0", long(announced));
        }
        if (!checked || announced < 0) synced_ = false;
        expect_.reset();
    }

    void on_status(DISPID dispid, LONG status) {
        if (kTrace) std::fprintf(stderr, "status %ld\n", long(status));
        if (dispid != eventidPictureReady) fail("event id", long(dispid));
        if (status < 0 || status > 9 || status == 5) fail("status out of range", long(status));
        if (status == PR_BAD_GEOMETRY) seen_bad_geometry_ = true;
        if (status == PR_NO_MEMORY) seen_no_memory_ = true;
        if (status == PR_IMAGE_READY) {
            seen_ready_ = true;
            if (expect_ && !seen_bad_geometry_) check_image(*expect_);
            else if (draw_at_ready_) draw_top_left(nullptr);
        }
        if (act_ != Act::None && status == act_on_) {
            const Act act = act_;
            act_ = Act::None;
            synced_ = false;
            switch (act) {
            case Act::Abort: ctrl_->Abort(); break;
            case Act::RequestImage: ctrl_->RequestImage(0, 0, 8, 8, 1, 1); break;
            case Act::LiveOff: ctrl_->SetLive(FALSE); break;
            case Act::LiveOn: ctrl_->SetLive(TRUE); break;
            case Act::None: break;
            }
        }
    }

    // Status 0 without status 6 for a reply that came as announced.
    void check_image(const Expected& e) {
        const imageproto::ImageHeader& h = e.header;
        if (!imageproto::geometry_valid(h.dx, h.dy, h.incrx, h.incry)) fail("status 0 for a bad geometry without 6");
        const std::int64_t width = imageproto::image_width(h.dx, h.incrx);
        const std::int64_t rows = imageproto::image_rows(h.dy, h.incry);
        const std::int64_t stride = imageproto::image_stride(width);
        if (width * rows > std::int64_t(e.pixels.size())) fail("too few pixels shown without status 6");
        const BITMAPINFOHEADER& bi = ctrl_->GetBitmapInfo().bmiHeader;
        if (bi.biWidth != width || bi.biHeight != -rows || bi.biBitCount != 8 || bi.biSizeImage != stride * rows)
            fail("bitmap info differs from the header", long(bi.biWidth), long(bi.biHeight));
        LONG x, y, w, r;
        ctrl_->GetImgAttrib(&x, &y, &w, &r);
        if (x != h.x || y != h.y || w != width || r != rows) fail("GetImgAttrib differs from the header", long(w));
        const BYTE* rowsData = ctrl_->GetPixelRows();
        if (!rowsData) fail("no pixel rows after status 0");
        for (std::int64_t row = 0; row < rows; ++row)
            if (std::memcmp(rowsData + row * stride, e.pixels.data() + row * width, std::size_t(width)) != 0)
                fail("pixel row differs from the received bytes", long(row));
        if (draw_at_ready_) draw_top_left(&e);
    }

    // A container's draw at status 0 of the image's top-left corner, at most
    // 64 x 64 pixels; compared with the pixels sent when they are known.
    void draw_top_left(const Expected* e) {
        const BITMAPINFOHEADER& bi = ctrl_->GetBitmapInfo().bmiHeader;
        const int width = int(std::clamp<LONG>(bi.biWidth, 1, 64));
        const int rows = int(std::clamp<LONG>(-bi.biHeight, 1, 64));
        QImage target(width, rows, kScreenFormat);
        CDC dc(&target);
        ctrl_->DrawContent(&dc, CRect(0, 0, width, rows));
        if (!e) return;
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < width; ++col) {
                const int v = e->pixels[std::size_t(row) * std::size_t(bi.biWidth) + std::size_t(col)];
                if (target.pixel(col, row) != qRgb(v, v, v)) fail("a draw shows another pixel", col, row);
            }
    }

    FuzzedDataProvider& in_;
    ScriptedSocket* sock_ = nullptr;
    std::unique_ptr<CZiVControlCtrl> ctrl_;
    bool draw_at_ready_ = false;
    bool synced_ = false;  // the next reply starts a reply on a fresh, quiet connection
    std::optional<Expected> expect_;
    bool seen_ready_ = false, seen_bad_geometry_ = false, seen_no_memory_ = false;
    Act act_ = Act::None;
    LONG act_on_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Driver(in).run();
    return 0;
}
