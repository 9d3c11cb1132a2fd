// The image control: fetches images from the camera's image server (one TCP
// connection per RequestImage, or a stream of them in live mode), shows the
// last one, saves it as a BMP file and reports every stage and failure through
// PictureReady. Containers reach it through the dispatch interface
// _DZiVControl and hear it through _DZiVControlEvents (zivtypelib.h).
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "cdc.h"
#include "imageproto.h"
#include "imagesocket.h"
#include "olecontrol.h"
#include "picturestatus.h"
#include "wingdi.h"
#include "zivtypelib.h"

class CZiVControlCtrl : public COleControl, public CObserver {
    DECLARE_DISPATCH_MAP()
    DECLARE_EVENT_MAP()

public:
    static constexpr int kReceiveBufferSize = 65536;
    // The version of the saved state: major in the upper, minor in the lower half.
    static constexpr WORD kVersionMajor = 1;
    static constexpr WORD kVersionMinor = 0;
    static constexpr DWORD kVersion = DWORD(kVersionMajor) << 16 | kVersionMinor;
    static constexpr DWORD kMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                                         OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
    // Images whose pixel rows (or BMP file) would not fit the 32-bit size
    // fields are refused.
    static constexpr std::int64_t kMaxPixelRowBytes = 0x7FFFFFFF - 1078;

    // `socket` replaces the real connection (tests); null: a real CImageSocket.
    explicit CZiVControlCtrl(std::unique_ptr<CImageSocket> socket = nullptr);
    ~CZiVControlCtrl() override;

    // Properties.
    const std::string& GetServer() const { return m_server; }
    void SetServer(LPCTSTR server);
    LONG GetPort() const { return m_port; }
    void SetPort(LONG port);
    BOOL GetBusy() const { return m_bBusy; }
    void SetBusy(BOOL) {}  // read-only: a write is accepted and ignored
    BOOL GetLive() const { return m_bLive; }
    void SetLive(BOOL live);

    // Methods.
    void RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry);
    void SetPosition(LONG x, LONG y, LONG dx, LONG dy);
    void Abort();
    BOOL SaveToBmp(LPCTSTR fileName);
    void GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy);
    // Shows the About box modally.
    void AboutBox();

    HRESULT GetClassID(CLSID* pClassID) override;
    using COleControl::GetMiscStatus;
    DWORD GetMiscStatus() override;

    void Update(CSubject* subject) override;
    DWORD GetControlFlags() override;

    // What the control holds, for tests and diagnostics.
    CImageSocket* GetSocket() const { return m_pSocket.get(); }
    const BITMAPINFO& GetBitmapInfo() const { return m_bmi; }
    const BYTE* GetPixelRows() const { return m_pRows.get(); }
    const BYTE* GetImageBuffer() const { return m_pImage.get(); }
    // Converts a picture still waiting for it first (see m_bDisplayPending).
    const CBitmap* GetDisplayBitmap();
    bool HasMemoryDC() const { return m_pMemDC != nullptr; }
    LONG GetExpected() const { return m_expected; }
    LONG GetReceived() const { return m_received; }

protected:
    HRESULT GetTypeLib(LCID lcid, LPTYPELIB* ppTypeLib) override;
    std::span<const CLSID> GetPropPageIDs() const override;
    void DoPropExchange(CPropExchange* pPX) override;
    void OnResetState() override;
    void OnDraw(CDC* pdc, const CRect& rcBounds, const CRect& rcInvalid) override;
    void OnDestroy() override;
    void OnNcPaint() override;
    BOOL OnEraseBkgnd(CDC* pDC) override;

    // Builds the pixel rows and the display bitmap from `size` bytes of pixel
    // data with the header's geometry. FALSE (status 6 or 7 fired) when refused.
    BOOL BuildBitmap(const BYTE* data, std::int64_t size, LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry);

private:
    struct FreeBytes {
        void operator()(BYTE* p) const { std::free(p); }
    };
    using Bytes = std::unique_ptr<BYTE[], FreeBytes>;

    // Where the exchange stands; the table of transitions opens the .cpp file.
    enum class Phase { Idle, Connecting, Requested, Receiving };

    // The four header values the pixel rows and the display bitmap are built for.
    struct ImageGeometry {
        LONG dx, dy, incrx, incry;
        friend bool operator==(const ImageGeometry&, const ImageGeometry&) = default;
    };
    // Sizes of an image that passed CheckImage.
    struct RowLayout {
        std::int64_t width, rows, stride;
        std::int64_t SizeBytes() const { return stride * rows; }
    };
    static ImageGeometry GeometryOf(const imageproto::ImageHeader& h) { return {h.dx, h.dy, h.incrx, h.incry}; }

    // The exchange.
    void CloseAndReset();
    void EndReception();
    void FirePictureReady(LONG status) { FireEvent(eventidPictureReady, status); }
    bool SendRequest();
    void ReadPixels();
    void ReadHeader();
    void OpenReply(int n, int headerPart);
    void CompleteImage();
    void ReleaseImage();

    // The display.
    BOOL BuildDisplay(const BYTE* data, std::int64_t size, const ImageGeometry& g, LONG rowsAhead);
    std::optional<RowLayout> CheckImage(const BYTE* data, std::int64_t size, const ImageGeometry& g) const;
    bool AllocateDisplay(CDC* pDC, const RowLayout& layout, bool tradeRows);
    void FillPixelRows(const BYTE* data, const RowLayout& layout, bool tradeRows);
    void ConvertToDisplay(CDC* pDC, const RowLayout& layout, LONG rowsAhead);
    void StartConvertAhead();
    void ConvertPendingDisplay();
    void ConvertArrivedRows();
    void ReleaseDisplayObjects();
    void ReleasePixelRows();

    // Connection (the properties and the exchange).
    std::string m_server;
    LONG m_port = 0;
    BOOL m_bLive = FALSE;
    // Not a phase of its own: Requested is busy after a connect but not after
    // a live re-request, and any read notification makes the control busy.
    BOOL m_bBusy = FALSE;
    Phase m_phase = Phase::Idle;
    imageproto::ImageRequest m_request;
    std::array<BYTE, kReceiveBufferSize> m_receiveBuffer;
    Bytes m_pImage;                    // pixel data of the current (or last) reply
    std::int64_t m_nImageSize = 0;     // bytes m_pImage holds
    LONG m_expected = 0;               // pixel bytes announced; 0 outside Receiving
    LONG m_received = 0;               // pixel bytes stored so far
    imageproto::ImageHeader m_header;  // the last one received
    // A reply's header may arrive over several reads; it is collected here.
    std::array<BYTE, imageproto::kHeaderSize> m_headerBytes;
    int m_nHeaderBytes = 0;
    // Counts the ends of receptions (EndReception): after firing status 8 the
    // control sees whether the container's handler ended or restarted the
    // exchange, or ran a message loop that finished the image (and perhaps
    // opened the next one, so the phase alone cannot tell).
    unsigned m_nExchange = 0;
    std::unique_ptr<CImageSocket> m_pSocket;

    // Display.
    BITMAPINFO m_bmi;
    Bytes m_pRows;  // stride x rows, top row first
    std::unique_ptr<CDC> m_pMemDC;
    std::unique_ptr<CBitmap> m_pBitmap;
    // In steady live mode (same geometry, rows without fill bytes, exact
    // length) the incoming image is converted into a second bitmap while it
    // arrives, in the time spent waiting for the network; completion converts
    // the last rows and trades the two. The display shows the previous image
    // until then.
    std::unique_ptr<CBitmap> m_pBackBitmap;
    bool m_bConvertAhead = false;
    LONG m_nRowsAhead = 0;                    // rows of the incoming image in m_pBackBitmap
    std::optional<ImageGeometry> m_geometry;  // what the display was built for; none yet
    // A control that has no window and was never drawn shows nothing: the
    // pixel rows of a new image are converted into the bitmap on the first
    // draw after it (or the first look at the bitmap), not at completion, so a
    // container that never draws does not pay for the conversion. Once drawn,
    // the control converts as it does in a window (ahead, while rows arrive).
    // The same holds while draws do not keep up with the images: a window
    // repaints at the screen's pace, far less often than a live stream
    // delivers, and an image replaced before any draw is never converted.
    // Converting ahead pays only when each image is drawn before the next one
    // is complete (two in a row); otherwise the draw converts what it shows.
    // Completion converts only what was begun ahead.
    bool DisplayWanted() const {
        return (GetSafeHwnd() != nullptr || m_bDrawn) && m_bDisplayDrawn && m_nDrawnInTurn >= 2;
    }
    bool m_bDisplayPending = false;
    bool m_bDrawn = false;
    int m_nDrawnInTurn = 2;  // images in a row drawn before the next one was complete (counted up to 2)
    bool m_bDisplayDrawn = true;  // the last complete image has been drawn (or there is none yet)
    BOOL m_bSkipErase = FALSE;
};
