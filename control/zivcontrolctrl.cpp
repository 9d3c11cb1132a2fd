// CZiVControlCtrl: the image exchange with the camera's image server and the
// display built from its replies.
//
// The exchange is a state machine driven by socket notifications, and every
// PictureReady handler may call back into the control (Abort, RequestImage,
// live, even a message loop) before the notification is finished. So each
// handler settles the phase and the counters first and fires last, and after a
// status it looks again at where the exchange stands instead of assuming.
// The display side keeps its objects from image to image and rebuilds them only
// when the geometry changes: in live mode an image costs one copy (or none,
// when the rows can be traded) and one conversion, mostly done while the image
// is still arriving.
//
// The phases (m_phase) and what each event does in each: "reset" is
// CloseAndReset (socket closed, reception ended, not busy), "busy" sets Busy,
// numbers are the statuses fired, "->" names the phase that follows.
//
//            | RequestImage                 | Abort         | connect ok             | connect fails | peer close
// Idle       | reset, connect -> Connecting | reset -> Idle | -                      | -             | reset, 1 -> Idle
// Connecting | reset, connect -> Connecting | reset -> Idle | busy, 9|4 -> Requested | 2 -> Idle     | reset, 1 -> Idle
// Requested  | reset, connect -> Connecting | reset -> Idle | -                      | -             | reset, 1 -> Idle
// Receiving  | reset, connect -> Connecting | reset -> Idle | -                      | -             | reset, 1 -> Idle
//
//            | read: header part | read: header whole                      | read: more pixels | read: last byte
// Idle       | as in Requested (bytes come only when live went off in the status 0 handler: the connection stays open)
// Connecting | -                 | -                                       | -                 | -
// Requested  | busy -> Requested | busy, 8 -> Receiving, and completion at | -                 | -
//            |                   | once when it held every pixel (or there |                   |
//            |                   | are none); no memory: reset, 7 -> Idle  |                   |
// Receiving  | -                 | -                                       | busy -> Receiving | busy, completion
//
// Completion: the reception ends (single image: reset) -> Idle; display (6 or 7 when refused); 0; then, if live is
// on (read again: the handler may have switched it), the request again: 9 -> Requested (from Idle) | 4, phase kept.
// In every phase: a read error releases image, pixel rows and display, reset, 3 -> Idle; a send error fires 4 and
// keeps the phase. live matters only at completion; server and port only to RequestImage.
// "-": the socket does not report that event in that phase; the handler does what it does elsewhere (a connect
// sends the request) and leaves the phase alone.
#include "zivcontrolctrl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "zivcontrolres.h"

namespace {

constexpr DWORD kBmpHeadersSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFO);  // 1078
static_assert(kBmpHeadersSize == 1078);

// The pixel rows go to SetDIBits as an 8-bit device-independent bitmap, and
// rows received without fill bytes (a width that is a multiple of 4) go there
// as they lie: the protocol's stride and the bitmap's row rule must agree.
constexpr bool StrideRulesAgree() {
    for (std::int64_t width = 0; width <= 64; ++width)
        if (WIDTHBYTES(8 * width) != imageproto::image_stride(width)) return false;
    return true;
}
static_assert(StrideRulesAgree());

LONG ClampToLong(std::int64_t v) {
    return LONG(std::clamp<std::int64_t>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

}  // namespace

// --- Automation ---------------------------------------------------------

// In the order of the dispatch identifiers 1 to 9; AboutBox has its reserved one.
constexpr DispatchEntry kDispatchMap[] = {
    DispProperty<&CZiVControlCtrl::GetServer, &CZiVControlCtrl::SetServer, VT_BSTR>("server", dispidServer),
    DispProperty<&CZiVControlCtrl::GetPort, &CZiVControlCtrl::SetPort, VT_I4>("port", dispidPort),
    DispProperty<&CZiVControlCtrl::GetBusy, &CZiVControlCtrl::SetBusy, VT_BOOL>("Busy", dispidBusy),
    DispProperty<&CZiVControlCtrl::GetLive, &CZiVControlCtrl::SetLive, VT_BOOL>("live", dispidLive),
    DispMethod<&CZiVControlCtrl::RequestImage, VT_EMPTY, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4>("RequestImage",
                                                                                                   dispidRequestImage),
    DispMethod<&CZiVControlCtrl::SetPosition, VT_EMPTY, VT_I4, VT_I4, VT_I4, VT_I4>("SetPosition", dispidSetPosition),
    DispMethod<&CZiVControlCtrl::Abort, VT_EMPTY>("Abort", dispidAbort),
    DispMethod<&CZiVControlCtrl::SaveToBmp, VT_BOOL, VT_BSTR>("SaveToBmp", dispidSaveToBmp),
    DispMethod<&CZiVControlCtrl::GetImgAttrib, VT_EMPTY, VT_BYREF | VT_I4, VT_BYREF | VT_I4, VT_BYREF | VT_I4,
               VT_BYREF | VT_I4>("GetImgAttrib", dispidGetImgAttrib),
    DispMethod<&CZiVControlCtrl::AboutBox, VT_EMPTY>("AboutBox", DISPID_ABOUTBOX),
};

constexpr bool NumberedInTableOrder(std::span<const DispatchEntry> map) {
    DISPID next = 1;
    for (const DispatchEntry& e : map)
        if (e.dispid != DISPID_ABOUTBOX && e.dispid != next++) return false;
    return true;
}
static_assert(NumberedInTableOrder(kDispatchMap));

constexpr EventEntry kEventMap[] = {
    DispEvent<VT_I4>("PictureReady", eventidPictureReady),
};

std::span<const DispatchEntry> CZiVControlCtrl::GetDispatchMap() const { return kDispatchMap; }
std::span<const EventEntry> CZiVControlCtrl::GetEventMap() const { return kEventMap; }

HRESULT CZiVControlCtrl::GetTypeLib(LCID, LPTYPELIB* ppTypeLib) {
    return CreateTypeLibFromData(kZivControlTypeLib, ppTypeLib);
}

HRESULT CZiVControlCtrl::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_ZiVControl;
    return S_OK;
}

DWORD CZiVControlCtrl::GetMiscStatus() { return kMiscStatus; }

std::span<const CLSID> CZiVControlCtrl::GetPropPageIDs() const {
    static constexpr CLSID kPages[] = {CLSID_ZiVControlPropPage};
    return kPages;
}

// Only the version and the framework's extent are saved: server, port and
// live are the container's to set anew each time.
void CZiVControlCtrl::DoPropExchange(CPropExchange* pPX) {
    ExchangeVersion(pPX, kVersion);
    COleControl::DoPropExchange(pPX);
}

void CZiVControlCtrl::OnResetState() { COleControl::OnResetState(); }

void CZiVControlCtrl::AboutBox() {
    CDialog about(*FindDialogTemplate(IDD_ABOUTBOX_ZIVCONTROL), GetSafeHwnd());
    about.DoModal();
}

CZiVControlCtrl::CZiVControlCtrl(std::unique_ptr<CImageSocket> socket)
    : m_pSocket(socket ? std::move(socket) : std::make_unique<CImageSocket>()) {
    std::memset(&m_bmi, 0, sizeof m_bmi);
    m_bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    m_bmi.bmiHeader.biPlanes = 1;
    m_bmi.bmiHeader.biBitCount = 8;
    m_bmi.bmiHeader.biCompression = BI_RGB;
    for (int i = 0; i < 256; ++i) m_bmi.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    InitializeIIDs(&DIID__DZiVControl, &DIID__DZiVControlEvents);
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

DWORD CZiVControlCtrl::GetControlFlags() { return COleControl::GetControlFlags() | clipPaintDC | noFlickerActivate; }

// --- The exchange -------------------------------------------------------

void CZiVControlCtrl::EndReception() {
    m_bConvertAhead = false;
    m_expected = 0;
    m_received = 0;
    m_nHeaderBytes = 0;
    ++m_nExchange;
    m_phase = Phase::Idle;
}

void CZiVControlCtrl::CloseAndReset() {
    EndReception();
    m_pSocket->Close();
    m_bBusy = FALSE;
}

void CZiVControlCtrl::RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry) {
    CloseAndReset();
    m_pSocket->Create();
    m_request = imageproto::ImageRequest{x, y, dx, dy, incrx, incry};
    m_phase = Phase::Connecting;
    if (!m_pSocket->Connect(m_server.c_str(), UINT(m_port))) {
        // A connect that fails at once (no such name, refused on the spot) is
        // reported like any other failed connect: status 2, from the event loop.
        const int err = m_pSocket->LastError();
        if (err != WSAEWOULDBLOCK) m_pSocket->ReportConnectFailure(err != 0 ? err : WSAEINVAL);
    }
}

void CZiVControlCtrl::Abort() { CloseAndReset(); }

bool CZiVControlCtrl::SendRequest() {
    const imageproto::RequestBytes bytes = imageproto::encode(m_request);
    return m_pSocket->Send(bytes.data(), imageproto::kRequestSize, 0) != SOCKET_ERROR;
}

void CZiVControlCtrl::Update(CSubject* subject) {
    if (!subject) return;
    const SocketNotification* notification = subject->GetNotification();
    if (!notification) return;
    const int err = notification->pErrorCode ? *notification->pErrorCode : 0;
    switch (notification->code) {
    case SN_CONNECT:
        // The socket reports it only while Connecting; elsewhere the phase stays.
        if (err != 0) {
            if (m_phase == Phase::Connecting) m_phase = Phase::Idle;  // the socket stays created, unconnected
            FirePictureReady(PR_CONNECT_FAILED);
            return;
        }
        m_bBusy = TRUE;
        if (m_phase == Phase::Connecting) m_phase = Phase::Requested;  // even when the request is refused
        FirePictureReady(SendRequest() ? PR_REQUEST_SENT : PR_SEND_FAILED);
        return;
    case SN_CLOSE:
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
            ReleasePixelRows();
            FirePictureReady(PR_RECEIVE_FAILED);
            return;
        }
        m_bBusy = TRUE;
        if (m_phase == Phase::Receiving) ReadPixels();
        else ReadHeader();
        return;
    default: return;
    }
}

void CZiVControlCtrl::ReadPixels() {
    // Whatever of the image is waiting is taken now, in reads of at most the
    // receive buffer's size: a notification per 64 KiB would cost more than
    // the reads themselves. A read that comes back short means the socket is
    // drained; the next notification brings the rest.
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
}

void CZiVControlCtrl::ReadHeader() {
    // This read opens a reply, or goes on collecting a header that came in pieces.
    const int n = m_pSocket->Receive(m_receiveBuffer.data(), kReceiveBufferSize, 0);
    if (n <= 0) return;
    const int headerPart = std::min(n, imageproto::kHeaderSize - m_nHeaderBytes);
    std::memcpy(m_headerBytes.data() + m_nHeaderBytes, m_receiveBuffer.data(), size_t(headerPart));
    m_nHeaderBytes += headerPart;
    if (m_nHeaderBytes < imageproto::kHeaderSize) return;
    m_nHeaderBytes = 0;
    OpenReply(n, headerPart);
}

void CZiVControlCtrl::OpenReply(int n, int headerPart) {
    m_header = imageproto::decode_header(m_headerBytes.data());
    const std::int64_t announced = imageproto::announced_pixels(m_header);

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
        return;
    }
    m_expected = LONG(announced);
    // The pixels of this read are copied out before status 8, so that nothing
    // the container does during the event can overwrite them.
    const LONG stored = std::min<LONG>(n - headerPart, m_expected);
    if (stored > 0) std::memcpy(m_pImage.get(), m_receiveBuffer.data() + headerPart, size_t(stored));
    m_received = stored;
    // A reply without pixels is complete with its header: it never receives.
    if (m_expected > 0) m_phase = Phase::Receiving;

    StartConvertAhead();

    const unsigned exchange = m_nExchange;
    FirePictureReady(PR_IMAGE_STARTED);
    if (exchange != m_nExchange) return;  // the handler ended this reception
    // An empty image (total length 28) completes at once, so live mode goes on.
    if (m_received == m_expected) CompleteImage();
    else ConvertArrivedRows();
}

void CZiVControlCtrl::CompleteImage() {
    const LONG rowsAhead = m_bConvertAhead ? m_nRowsAhead : -1;
    // The connection of a single image ends here, before the image is shown;
    // in live mode it stays open for the next request.
    if (m_bLive) EndReception();
    else CloseAndReset();
    m_bBusy = FALSE;
    // The display step (BuildBitmap), taking over what was converted ahead.
    BuildDisplay(m_pImage.get(), m_nImageSize, GeometryOf(m_header), rowsAhead);
    GdiFlush();
    InvalidateRect(nullptr, TRUE);
    FirePictureReady(PR_IMAGE_READY);
    if (!m_bLive) return;  // read again: the handler may have changed it
    const bool sent = SendRequest();
    if (sent && m_phase == Phase::Idle) m_phase = Phase::Requested;
    FirePictureReady(sent ? PR_REQUEST_SENT : PR_SEND_FAILED);
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

void CZiVControlCtrl::ReleasePixelRows() { m_pRows.reset(); }

void CZiVControlCtrl::StartConvertAhead() {
    m_bConvertAhead = false;
    m_nRowsAhead = 0;
    // Nobody draws yet: the conversion waits for a draw (m_bDisplayPending).
    if (!DisplayWanted() || m_geometry != GeometryOf(m_header) || !m_pMemDC || !m_pBitmap) return;
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
    // Rows of the image buffer have no fill bytes; with a width that is a
    // multiple of 4 that is the bitmap's own row layout (see StrideRulesAgree).
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
    return BuildDisplay(data, size, ImageGeometry{dx, dy, incrx, incry}, -1);
}

BOOL CZiVControlCtrl::BuildDisplay(const BYTE* data, std::int64_t size, const ImageGeometry& g, LONG rowsAhead) {
    const std::optional<RowLayout> layout = CheckImage(data, size, g);
    if (!layout) {
        FirePictureReady(PR_BAD_GEOMETRY);
        return FALSE;
    }
    if (m_geometry != g) {
        ReleaseDisplayObjects();
        ReleasePixelRows();
        m_geometry.reset();
    }
    // Received bytes that already have the layout of the pixel rows are
    // traded with them instead of copied. The next reply of this size is
    // received into the old rows, so both stay touched and reused.
    const bool tradeRows = data == m_pImage.get() && layout->stride == layout->width && size == layout->SizeBytes();
    CDC* pDC = GetDC();
    if (!AllocateDisplay(pDC, *layout, tradeRows)) {
        ReleaseDisplayObjects();
        ReleasePixelRows();
        ReleaseDC(pDC);
        FirePictureReady(PR_NO_MEMORY);
        return FALSE;
    }
    FillPixelRows(data, *layout, tradeRows);
    ConvertToDisplay(pDC, *layout, rowsAhead);
    ReleaseDC(pDC);
    m_geometry = g;
    return TRUE;
}

std::optional<CZiVControlCtrl::RowLayout> CZiVControlCtrl::CheckImage(const BYTE* data, std::int64_t size,
                                                                      const ImageGeometry& g) const {
    if (!imageproto::geometry_valid(g.dx, g.dy, g.incrx, g.incry)) return std::nullopt;
    const std::int64_t width = imageproto::image_width(g.dx, g.incrx);
    const RowLayout layout{width, imageproto::image_rows(g.dy, g.incry), imageproto::image_stride(width)};
    // stride x rows < 2^63 for any 32-bit header. Too large for the size
    // fields, or fewer pixels than the geometry needs (nothing would be shown
    // for the missing part but stale or invented data): refused.
    if (layout.SizeBytes() > kMaxPixelRowBytes || layout.width * layout.rows > size || !data) return std::nullopt;
    return layout;
}

bool CZiVControlCtrl::AllocateDisplay(CDC* pDC, const RowLayout& layout, bool tradeRows) {
    if (!m_pMemDC) {
        m_pMemDC = std::make_unique<CDC>();
        m_pMemDC->CreateCompatibleDC(pDC);
    }
    if (!m_pBitmap) {
        m_pBitmap = std::make_unique<CBitmap>();
        if (!m_pBitmap->CreateCompatibleBitmap(pDC, int(layout.width), int(layout.rows))) return false;
    }
    if (!tradeRows && !m_pRows) {
        // Zeroed once: the fill bytes after each row are never written.
        m_pRows.reset(static_cast<BYTE*>(std::calloc(size_t(layout.SizeBytes()), 1)));
        if (!m_pRows) return false;
    }
    return true;
}

void CZiVControlCtrl::FillPixelRows(const BYTE* data, const RowLayout& layout, bool tradeRows) {
    if (tradeRows) {
        std::swap(m_pRows, m_pImage);
        m_nImageSize = m_pImage ? layout.SizeBytes() : 0;  // the old rows: this geometry's size
        return;
    }
    BYTE* dst = m_pRows.get();
    for (std::int64_t r = 0; r < layout.rows; ++r, data += layout.width, dst += layout.stride)
        std::memcpy(dst, data, size_t(layout.width));
}

void CZiVControlCtrl::ConvertToDisplay(CDC* pDC, const RowLayout& layout, LONG rowsAhead) {
    m_bmi.bmiHeader.biBitCount = 8;
    m_bmi.bmiHeader.biSizeImage = DWORD(layout.SizeBytes());
    m_bmi.bmiHeader.biWidth = LONG(layout.width);
    m_bmi.bmiHeader.biHeight = -LONG(layout.rows);
    // Whether the image before this one was drawn before this one was complete.
    m_nDrawnInTurn = m_bDisplayDrawn ? std::min(m_nDrawnInTurn + 1, 2) : 0;
    m_bDisplayDrawn = false;
    m_bDisplayPending = false;
    if (rowsAhead >= 0 && m_pBackBitmap && m_pBackBitmap->Width() == layout.width &&
        m_pBackBitmap->Height() == layout.rows) {
        // Begun ahead: the first rowsAhead rows are in the back bitmap already.
        SetDIBits(pDC, m_pBackBitmap.get(), UINT(rowsAhead), UINT(layout.rows - rowsAhead),
                  m_pRows.get() + std::size_t(rowsAhead) * std::size_t(layout.stride), &m_bmi, DIB_RGB_COLORS);
        std::swap(m_pBitmap, m_pBackBitmap);
    } else {
        // Converted when next drawn (or looked at): an image replaced before
        // that costs nothing.
        m_bDisplayPending = true;
    }
    m_pMemDC->SelectObject(m_pBitmap.get());
}

void CZiVControlCtrl::ConvertPendingDisplay() {
    if (!m_bDisplayPending) return;
    m_bDisplayPending = false;
    if (!m_pBitmap || !m_pRows) return;
    CDC* pDC = GetDC();
    SetDIBits(pDC, m_pBitmap.get(), 0, UINT(-m_bmi.bmiHeader.biHeight), m_pRows.get(), &m_bmi, DIB_RGB_COLORS);
    ReleaseDC(pDC);
}

const CBitmap* CZiVControlCtrl::GetDisplayBitmap() {
    ConvertPendingDisplay();
    return m_pBitmap.get();
}

void CZiVControlCtrl::OnDraw(CDC* pdc, const CRect& rcBounds, const CRect& /*rcInvalid*/) {
    m_bDrawn = true;
    ConvertPendingDisplay();
    m_bDisplayDrawn = true;
    m_bSkipErase = FALSE;
    if (m_pMemDC && m_pBitmap)
        pdc->BitBlt(rcBounds.left, rcBounds.top, rcBounds.Width(), rcBounds.Height(), m_pMemDC.get(), 0, 0, SRCCOPY);
    else pdc->FillRect(rcBounds, CBrush::FromHandle(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
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
