// CZiVControlCtrl: the image exchange with the camera's image server, shown
// through its display (CImageDisplay, which reports outcomes; the statuses are
// fired here).
//
// The exchange is a state machine driven by socket notifications, and every
// PictureReady handler may call back into the control (Abort, RequestImage,
// live, even a message loop) before the notification is finished. So each
// handler settles the phase and the counters first and fires last, and after a
// status it looks again at where the exchange stands instead of assuming.
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
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "zivcontrolres.h"

namespace {

ImageGeometry GeometryOf(const imageproto::ImageHeader& h) { return {h.dx, h.dy, h.incrx, h.incry}; }

LONG ClampToLong(std::int64_t v) {
    return LONG(std::clamp<std::int64_t>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

}  // namespace

// --- Automation ---------------------------------------------------------

// The tables take each member's name, identifier and types from its
// description (kZivControlMembers, kZivControlEvents); only the member
// functions that do the work are named here.
namespace {

template <const auto& Members, DISPID Id>
constexpr std::size_t Described() {
    for (std::size_t i = 0; i < std::size(Members); ++i)
        if (Members[i].dispid == Id) return i;
    throw "no member with this dispatch identifier";  // not a constant: fails to compile
}

template <DISPID Id, auto Get, auto Set>
constexpr DispatchEntry Property() {
    constexpr const MemberData& m = kZivControlMembers[Described<kZivControlMembers, Id>()];
    static_assert(m.kind == MemberKind::property);
    return DispProperty<Get, Set, m.type>(m.name, m.dispid);
}

template <DISPID Id, auto Function>
constexpr DispatchEntry Method() {
    constexpr std::size_t i = Described<kZivControlMembers, Id>();
    static_assert(kZivControlMembers[i].kind == MemberKind::method);
    return []<std::size_t... P>(std::index_sequence<P...>) {
        constexpr const MemberData& m = kZivControlMembers[i];
        return DispMethod<Function, m.type, m.params[P].vt...>(m.name, m.dispid);
    }
    (std::make_index_sequence<kZivControlMembers[i].params.size()>{});
}

template <DISPID Id>
constexpr EventEntry Event() {
    constexpr std::size_t i = Described<kZivControlEvents, Id>();
    return []<std::size_t... P>(std::index_sequence<P...>) {
        constexpr const MemberData& m = kZivControlEvents[i];
        return DispEvent<m.params[P].vt...>(m.name, m.dispid);
    }
    (std::make_index_sequence<kZivControlEvents[i].params.size()>{});
}

using C = CZiVControlCtrl;
constexpr DispatchEntry kDispatchMap[] = {
    Property<dispidServer, &C::GetServer, &C::SetServer>(),
    Property<dispidPort, &C::GetPort, &C::SetPort>(),
    Property<dispidBusy, &C::GetBusy, &C::SetBusy>(),
    Property<dispidLive, &C::GetLive, &C::SetLive>(),
    Method<dispidRequestImage, &C::RequestImage>(),
    Method<dispidSetPosition, &C::SetPosition>(),
    Method<dispidAbort, &C::Abort>(),
    Method<dispidSaveToBmp, &C::SaveToBmp>(),
    Method<dispidGetImgAttrib, &C::GetImgAttrib>(),
    Method<DISPID_ABOUTBOX, &C::AboutBox>(),
};

constexpr EventEntry kEventMap[] = {
    Event<eventidPictureReady>(),
};

// Every described member has its entry, in the order of the descriptions.
template <class Entry>
constexpr bool OnePerMember(std::span<const Entry> table, std::span<const MemberData> members) {
    if (table.size() != members.size()) return false;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].dispid != members[i].dispid || std::string_view(table[i].name) != members[i].name) return false;
    return true;
}
static_assert(OnePerMember<DispatchEntry>(kDispatchMap, kZivControlMembers));
static_assert(OnePerMember<EventEntry>(kEventMap, kZivControlEvents));

constexpr bool NumberedInTableOrder(std::span<const MemberData> members) {
    DISPID next = 1;
    int aboutBoxes = 0;
    for (const MemberData& m : members)
        if (m.dispid == DISPID_ABOUTBOX) ++aboutBoxes;
        else if (m.dispid != next++) return false;
    return aboutBoxes <= 1;
}
static_assert(NumberedInTableOrder(kZivControlMembers));

}  // namespace

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
    m_display.StopConvertAhead();
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
            m_display.ReleaseObjects();
            CloseAndReset();
            ReleaseImage();
            m_display.ReleaseRows();
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
            n = m_pSocket->Receive(m_image.bytes.get() + m_received, kReceiveBufferSize, 0);
            if (n <= 0) break;
        } else {
            n = m_pSocket->Receive(m_receiveBuffer.data(), kReceiveBufferSize, 0);
            if (n <= 0) break;
            n = std::min<int>(n, remaining);  // bytes beyond the announced count are dropped
            std::memcpy(m_image.bytes.get() + m_received, m_receiveBuffer.data(), size_t(n));
        }
        m_received += n;
        if (m_received == m_expected) {
            CompleteImage();
            return;
        }
        if (n < kReceiveBufferSize) break;
    }
    m_display.ConvertArrived(m_image.bytes.get(), m_received);
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
    if (ok && !(announced == m_image.size && (m_image.bytes || announced == 0))) {
        ReleaseImage();
        if (announced > 0) {
            m_image.bytes.reset(static_cast<BYTE*>(std::malloc(size_t(announced))));
            ok = m_image.bytes != nullptr;
            if (ok) m_image.size = announced;
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
    if (stored > 0) std::memcpy(m_image.bytes.get(), m_receiveBuffer.data() + headerPart, size_t(stored));
    m_received = stored;
    // A reply without pixels is complete with its header: it never receives.
    if (m_expected > 0) m_phase = Phase::Receiving;

    m_display.BeginImage(GeometryOf(m_header), m_expected, GetSafeHwnd() != nullptr);

    const unsigned exchange = m_nExchange;
    FirePictureReady(PR_IMAGE_STARTED);
    if (exchange != m_nExchange) return;  // the handler ended this reception
    // An empty image (total length 28) completes at once, so live mode goes on.
    if (m_received == m_expected) CompleteImage();
    else m_display.ConvertArrived(m_image.bytes.get(), m_received);
}

void CZiVControlCtrl::CompleteImage() {
    const LONG rowsAhead = m_display.StopConvertAhead();
    // The connection of a single image ends here, before the image is shown;
    // in live mode it stays open for the next request.
    if (m_bLive) EndReception();
    else CloseAndReset();
    m_bBusy = FALSE;
    BuildBitmap(rowsAhead);
    GdiFlush();
    InvalidateRect(nullptr, TRUE);
    FirePictureReady(PR_IMAGE_READY);
    if (!m_bLive) return;  // read again: the handler may have changed it
    const bool sent = SendRequest();
    if (sent && m_phase == Phase::Idle) m_phase = Phase::Requested;
    FirePictureReady(sent ? PR_REQUEST_SENT : PR_SEND_FAILED);
}

void CZiVControlCtrl::ReleaseImage() {
    m_image.bytes.reset();
    m_image.size = 0;
}

void CZiVControlCtrl::BuildBitmap(LONG rowsAhead) {
    switch (m_display.Show(m_image, GeometryOf(m_header), rowsAhead)) {
    case CImageDisplay::Outcome::shown: return;
    case CImageDisplay::Outcome::badGeometry: FirePictureReady(PR_BAD_GEOMETRY); return;
    case CImageDisplay::Outcome::noMemory: FirePictureReady(PR_NO_MEMORY); return;
    }
}

// --- Display ------------------------------------------------------------

void CZiVControlCtrl::OnDraw(CDC* pdc, const CRect& rcBounds, const CRect& /*rcInvalid*/) {
    m_bSkipErase = FALSE;
    m_display.Draw(pdc, rcBounds);
}

void CZiVControlCtrl::OnDestroy() {
    m_display.ReleaseObjects();
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
    return m_display.SaveBmp(fileName) ? TRUE : FALSE;
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
