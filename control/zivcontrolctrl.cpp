#include "zivcontrolctrl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr DWORD kBmpHeadersSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFO);  // 1078
static_assert(kBmpHeadersSize == 1078);

LONG ClampToLong(std::int64_t v) {
    return LONG(std::clamp<std::int64_t>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

}  // namespace

CZiVControlCtrl::CZiVControlCtrl(std::unique_ptr<CImageSocket> socket)
    : m_pSocket(socket ? std::move(socket) : std::make_unique<CImageSocket>()) {
    std::memset(&m_bmi, 0, sizeof m_bmi);
    m_bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    m_bmi.bmiHeader.biPlanes = 1;
    m_bmi.bmiHeader.biBitCount = 8;
    m_bmi.bmiHeader.biCompression = BI_RGB;
    for (int i = 0; i < 256; ++i) m_bmi.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    m_pSocket->Attach(this);
}

CZiVControlCtrl::~CZiVControlCtrl() {
    // Here, not in the base: OnDestroy must still reach this class.
    DestroyWindow();
    m_pSocket->Close();
    m_pSocket->Detach(this);
    // The display objects of a control that never had a window go with the
    // members (nothing else would release them).
}

// --- Properties ---------------------------------------------------------

void CZiVControlCtrl::SetServer(LPCTSTR server) {
    m_server = server ? server : "";
    SetModifiedFlag();
}

void CZiVControlCtrl::SetPort(LONG port) {
    m_port = port;
    SetModifiedFlag();
}

void CZiVControlCtrl::SetLive(BOOL live) {
    m_bLive = live ? TRUE : FALSE;
    SetModifiedFlag();
}

DWORD CZiVControlCtrl::GetControlFlags() {
    return COleControl::GetControlFlags() | clipPaintDC | noFlickerActivate;
}

// --- The exchange -------------------------------------------------------

void CZiVControlCtrl::CloseAndReset() {
    m_bConvertAhead = false;
    m_expected = 0;
    m_received = 0;
    m_nHeaderBytes = 0;
    ++m_nExchange;
    m_pSocket->Close();
    m_bBusy = FALSE;
}

void CZiVControlCtrl::RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry) {
    CloseAndReset();
    m_pSocket->Create();
    m_request = imageproto::ImageRequest{x, y, dx, dy, incrx, incry};
    if (!m_pSocket->Connect(m_server.c_str(), UINT(m_port))) {
        // A connect that fails at once (no such name, refused on the spot) is
        // reported like any other failed connect: status 2, from the event loop.
        const int err = m_pSocket->LastError();
        if (err != WSAEWOULDBLOCK) m_pSocket->ReportConnectFailure(err != 0 ? err : WSAEINVAL);
    }
}

void CZiVControlCtrl::Abort() {
    CloseAndReset();
    m_received = 0;
    m_expected = 0;
}

void CZiVControlCtrl::SendRequest() {
    const imageproto::RequestBytes bytes = imageproto::encode(m_request);
    const int sent = m_pSocket->Send(bytes.data(), imageproto::kRequestSize, 0);
    FirePictureReady(sent == SOCKET_ERROR ? PR_SEND_FAILED : PR_REQUEST_SENT);
}

void CZiVControlCtrl::Update(CSubject* subject) {
    if (!subject) return;
    const SocketNotification* notification = subject->GetNotification();
    if (!notification) return;
    const int err = notification->pErrorCode ? *notification->pErrorCode : 0;
    switch (notification->code) {
    case SN_CONNECT:
        if (err != 0) {
            FirePictureReady(PR_CONNECT_FAILED);
            return;
        }
        m_bBusy = TRUE;
        SendRequest();
        return;
    case SN_CLOSE:
        m_bBusy = FALSE;
        CloseAndReset();
        FirePictureReady(PR_CONNECTION_CLOSED);
        return;
    case SN_SEND:
        if (err != 0) FirePictureReady(PR_SEND_FAILED);
        return;
    case SN_RECEIVE:
        if (err != 0) {
            ReleaseDisplayObjects();
            CloseAndReset();
            ReleaseImage();
            m_pRows.reset();
            m_nRowsSize = 0;
            FirePictureReady(PR_RECEIVE_FAILED);
            return;
        }
        Receive();
        return;
    default:
        return;
    }
}

void CZiVControlCtrl::Receive() {
    m_bBusy = TRUE;
    if (m_expected > 0) {
        // Whatever of the image is waiting is taken now, in reads of at most
        // the receive buffer's size: a notification per 64 KiB would cost more
        // than the reads themselves. A read that comes back short means the
        // socket is drained; the next notification brings the rest.
        for (;;) {
            const LONG remaining = m_expected - m_received;
            int n;
            if (remaining >= kReceiveBufferSize) {
                // Every byte this read can bring belongs to the image: read it
                // straight into place (the same bytes the receive buffer would get).
                n = m_pSocket->Receive(m_pImage.get() + m_received, kReceiveBufferSize, 0);
                if (n <= 0) break;
            } else {
                n = m_pSocket->Receive(m_receiveBuffer.data(), kReceiveBufferSize, 0);
                if (n <= 0) break;
                n = std::min<int>(n, remaining);  // bytes beyond the announced count are dropped
                std::memcpy(m_pImage.get() + m_received, m_receiveBuffer.data(), size_t(n));
            }
            m_received += n;
            if (m_received == m_expected) {
                CompleteImage();
                return;
            }
            if (n < kReceiveBufferSize) break;
        }
        ConvertArrivedRows();
        return;
    }

    // No image in reception: this read opens a reply, or goes on collecting a
    // header that came in pieces.
    const int n = m_pSocket->Receive(m_receiveBuffer.data(), kReceiveBufferSize, 0);
    if (n <= 0) return;
    const int headerPart = std::min(n, imageproto::kHeaderSize - m_nHeaderBytes);
    std::memcpy(m_headerBytes.data() + m_nHeaderBytes, m_receiveBuffer.data(), size_t(headerPart));
    m_nHeaderBytes += headerPart;
    if (m_nHeaderBytes < imageproto::kHeaderSize) return;
    m_nHeaderBytes = 0;
    OpenReply(n, headerPart);
}

BOOL CZiVControlCtrl::OpenReply(int n, int headerPart) {
    const imageproto::ImageHeader h = imageproto::decode_header(m_headerBytes.data());
    m_header = {h.x, h.y, h.dx, h.dy, h.incrx, h.incry};
    const std::int64_t announced = imageproto::announced_pixels(h);

    // The buffer of the last reply is kept when this one announces the same
    // size (the normal case in live mode): no allocation, no fresh pages.
    bool ok = announced >= 0;
    if (ok && !(announced == m_nImageSize && (m_pImage || announced == 0))) {
        ReleaseImage();
        if (announced > 0) {
            m_pImage.reset(static_cast<BYTE*>(std::malloc(size_t(announced))));
            ok = m_pImage != nullptr;
            if (ok) m_nImageSize = announced;
        }
    }
    if (!ok) {
        ReleaseImage();
        CloseAndReset();
        FirePictureReady(PR_NO_MEMORY);
        return FALSE;
    }
    m_expected = LONG(announced);
    // The pixels of this read are copied out before status 8, so that nothing
    // the container does during the event can overwrite them.
    const LONG stored = std::min<LONG>(n - headerPart, m_expected);
    if (stored > 0) std::memcpy(m_pImage.get(), m_receiveBuffer.data() + headerPart, size_t(stored));
    m_received = stored;

    StartConvertAhead();

    const unsigned exchange = m_nExchange;
    FirePictureReady(PR_IMAGE_STARTED);
    if (exchange != m_nExchange) return FALSE;  // the handler ended this reception
    // An empty image (total length 28) completes at once, so live mode goes on.
    if (m_received == m_expected) CompleteImage();
    else ConvertArrivedRows();
    return TRUE;
}

void CZiVControlCtrl::CompleteImage() {
    ++m_nExchange;
    const LONG rowsAhead = m_bConvertAhead ? m_nRowsAhead : -1;
    m_bConvertAhead = false;
    m_bBusy = FALSE;
    if (!m_bLive) CloseAndReset();
    // The display step (BuildBitmap), taking over what was converted ahead.
    BuildDisplay(m_pImage.get(), m_nImageSize, m_header.dx, m_header.dy, m_header.incrx, m_header.incry,
                 rowsAhead);
    m_expected = 0;
    m_received = 0;
    GdiFlush();
    InvalidateRect(nullptr, TRUE);
    FirePictureReady(PR_IMAGE_READY);
    if (m_bLive) SendRequest();  // read again: the handler may have changed it
}

void CZiVControlCtrl::ReleaseImage() {
    m_pImage.reset();
    m_nImageSize = 0;
}

// --- Display ------------------------------------------------------------

void CZiVControlCtrl::ReleaseDisplayObjects() {
    m_bConvertAhead = false;
    m_pBackBitmap.reset();
    if (!m_pMemDC) return;
    if (m_pBitmap) {
        m_pMemDC->SelectObject(nullptr);
        m_pBitmap.reset();
    }
    m_pMemDC.reset();
}

void CZiVControlCtrl::StartConvertAhead() {
    m_bConvertAhead = false;
    m_nRowsAhead = 0;
    const LONG geometry[4] = {m_header.dx, m_header.dy, m_header.incrx, m_header.incry};
    if (!m_bGeometryKnown || !m_pMemDC || !m_pBitmap || !std::equal(geometry, geometry + 4, m_geometry)) return;
    // The geometry is the one on display, so the bitmap header describes it.
    const std::int64_t width = m_bmi.bmiHeader.biWidth, rows = -std::int64_t(m_bmi.bmiHeader.biHeight);
    if (width % 4 != 0 || m_expected != width * rows) return;  // rows must arrive as the pixel rows lie
    if (!m_pBackBitmap) {
        m_pBackBitmap = std::make_unique<CBitmap>();
        CDC* pDC = GetDC();
        const BOOL made = m_pBackBitmap->CreateCompatibleBitmap(pDC, int(width), int(rows));
        ReleaseDC(pDC);
        if (!made) {
            m_pBackBitmap.reset();  // no memory to spare: convert at completion
            return;
        }
    }
    m_bConvertAhead = true;
}

void CZiVControlCtrl::ConvertArrivedRows() {
    if (!m_bConvertAhead) return;
    const LONG width = m_bmi.bmiHeader.biWidth;
    const LONG ready = m_received / width;
    if (ready <= m_nRowsAhead) return;
    CDC* pDC = GetDC();
    SetDIBits(pDC, m_pBackBitmap.get(), UINT(m_nRowsAhead), UINT(ready - m_nRowsAhead),
              m_pImage.get() + std::size_t(m_nRowsAhead) * std::size_t(width), &m_bmi, DIB_RGB_COLORS);
    ReleaseDC(pDC);
    m_nRowsAhead = ready;
}

BOOL CZiVControlCtrl::BuildBitmap(const BYTE* data, std::int64_t size, LONG /*x*/, LONG /*y*/, LONG dx, LONG dy,
                                  LONG incrx, LONG incry) {
    return BuildDisplay(data, size, dx, dy, incrx, incry, -1);
}

BOOL CZiVControlCtrl::BuildDisplay(const BYTE* data, std::int64_t size, LONG dx, LONG dy, LONG incrx, LONG incry,
                                   LONG rowsAhead) {
    if (!imageproto::geometry_valid(dx, dy, incrx, incry)) {
        FirePictureReady(PR_BAD_GEOMETRY);
        return FALSE;
    }
    const std::int64_t width = imageproto::image_width(dx, incrx);
    const std::int64_t rows = imageproto::image_rows(dy, incry);
    const std::int64_t stride = imageproto::image_stride(width);
    const std::int64_t rowBytes = stride * rows;  // < 2^63 for any 32-bit header
    // Too large for the size fields, or fewer pixels than the geometry needs
    // (nothing would be shown for the missing part but stale or invented data).
    if (rowBytes > kMaxPixelRowBytes || width * rows > size || !data) {
        FirePictureReady(PR_BAD_GEOMETRY);
        return FALSE;
    }

    const LONG geometry[4] = {dx, dy, incrx, incry};
    if (!m_bGeometryKnown || !std::equal(geometry, geometry + 4, m_geometry)) {
        ReleaseDisplayObjects();
        m_pRows.reset();
        m_nRowsSize = 0;
        m_bGeometryKnown = false;
    }

    CDC* pDC = GetDC();
    bool ok = true;
    if (!m_pMemDC) {
        m_pMemDC = std::make_unique<CDC>();
        m_pMemDC->CreateCompatibleDC(pDC);
    }
    if (!m_pBitmap) {
        m_pBitmap = std::make_unique<CBitmap>();
        ok = m_pBitmap->CreateCompatibleBitmap(pDC, int(width), int(rows));
    }
    if (ok && data == m_pImage.get() && stride == width && size == rowBytes) {
        // The received bytes already have the layout of the pixel rows: trade
        // the two buffers instead of copying. The next reply of this size is
        // received into the old rows, so both stay touched and reused.
        std::swap(m_pRows, m_pImage);
        m_nImageSize = m_pImage ? rowBytes : 0;
        m_nRowsSize = rowBytes;
    } else if (ok) {
        if (!m_pRows) {
            // Zeroed once: the fill bytes after each row are never written.
            m_pRows.reset(static_cast<BYTE*>(std::calloc(size_t(rowBytes), 1)));
            ok = m_pRows != nullptr;
            m_nRowsSize = ok ? rowBytes : 0;
        }
        if (ok) {
            BYTE* dst = m_pRows.get();
            for (std::int64_t r = 0; r < rows; ++r, data += width, dst += stride)
                std::memcpy(dst, data, size_t(width));
        }
    }
    if (!ok) {
        ReleaseDisplayObjects();
        m_pRows.reset();
        m_nRowsSize = 0;
        ReleaseDC(pDC);
        FirePictureReady(PR_NO_MEMORY);
        return FALSE;
    }

    m_bmi.bmiHeader.biBitCount = 8;
    m_bmi.bmiHeader.biSizeImage = DWORD(rowBytes);
    m_bmi.bmiHeader.biWidth = LONG(width);
    m_bmi.bmiHeader.biHeight = -LONG(rows);
    if (rowsAhead >= 0 && m_pBackBitmap && m_pBackBitmap->Width() == width && m_pBackBitmap->Height() == rows) {
        SetDIBits(pDC, m_pBackBitmap.get(), UINT(rowsAhead), UINT(rows - rowsAhead),
                  m_pRows.get() + std::size_t(rowsAhead) * std::size_t(stride), &m_bmi, DIB_RGB_COLORS);
        std::swap(m_pBitmap, m_pBackBitmap);
    } else {
        SetDIBits(pDC, m_pBitmap.get(), 0, UINT(rows), m_pRows.get(), &m_bmi, DIB_RGB_COLORS);
    }
    m_pMemDC->SelectObject(m_pBitmap.get());
    ReleaseDC(pDC);

    std::copy(geometry, geometry + 4, m_geometry);
    m_bGeometryKnown = true;
    return TRUE;
}

void CZiVControlCtrl::OnDraw(CDC* pdc, const CRect& rcBounds, const CRect& /*rcInvalid*/) {
    m_bSkipErase = FALSE;
    if (m_pMemDC && m_pBitmap)
        pdc->BitBlt(rcBounds.left, rcBounds.top, rcBounds.Width(), rcBounds.Height(), m_pMemDC.get(), 0, 0, SRCCOPY);
    else
        pdc->FillRect(rcBounds, CBrush::FromHandle(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
}

void CZiVControlCtrl::OnDestroy() {
    ReleaseDisplayObjects();
    COleControl::OnDestroy();
}

void CZiVControlCtrl::OnNcPaint() {
    m_bSkipErase = TRUE;
    COleControl::OnNcPaint();
}

BOOL CZiVControlCtrl::OnEraseBkgnd(CDC* pDC) {
    if (m_bSkipErase) return FALSE;
    return COleControl::OnEraseBkgnd(pDC);
}

BOOL CZiVControlCtrl::SaveToBmp(LPCTSTR fileName) {
    if (m_bLive || !fileName) return FALSE;
    const BITMAPINFOHEADER& h = m_bmi.bmiHeader;
    const std::int64_t width = h.biWidth;
    const std::int64_t rows = -std::int64_t(h.biHeight);
    const std::int64_t bytes = (width > 0 && rows > 0) ? imageproto::image_stride(width) * rows : 0;
    if (bytes > 0 && !m_pRows) return FALSE;  // the rows went with a read error

    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) return FALSE;
    const BITMAPFILEHEADER fh{0x4D42 /* "BM" */, DWORD(kBmpHeadersSize + bytes), 0, 0, kBmpHeadersSize};
    bool ok = std::fwrite(&fh, sizeof fh, 1, file) == 1 && std::fwrite(&m_bmi, sizeof m_bmi, 1, file) == 1 &&
              (bytes == 0 || std::fwrite(m_pRows.get(), size_t(bytes), 1, file) == 1);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    return ok ? TRUE : FALSE;
}

void CZiVControlCtrl::GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy) {
    // A zero step has no quotient: the size is reported as 0.
    if (x) *x = m_header.x;
    if (y) *y = m_header.y;
    if (dx) *dx = ClampToLong(imageproto::image_width(m_header.dx, m_header.incrx));
    if (dy) *dy = ClampToLong(imageproto::image_rows(m_header.dy, m_header.incry));
}

void CZiVControlCtrl::SetPosition(LONG x, LONG y, LONG dx, LONG dy) {
    if (GetSafeHwnd()) SetWindowPos(nullptr, x, y, dx, dy, SWP_NOZORDER);
}
