// The image control: fetches images from the camera's image server (one TCP
// connection per RequestImage, or a stream of them in live mode), shows the
// last one, saves it as a BMP file and reports every stage and failure through
// PictureReady. Containers reach it through the dispatch interface
// _DZiVControl and hear it through _DZiVControlEvents (zivtypelib.h).
#pragma once

#include <array>
#include <memory>
#include <string>

#include "imagedisplay.h"
#include "imageproto.h"
#include "imagesocket.h"
#include "olecontrol.h"
#include "picturestatus.h"
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
    const CImageDisplay& GetDisplay() const { return m_display; }
    const BITMAPINFO& GetBitmapInfo() const { return m_display.BitmapInfo(); }
    const BYTE* GetPixelRows() const { return m_display.PixelRows(); }
    const BYTE* GetImageBuffer() const { return m_image.bytes.get(); }
    // Converts a picture still waiting for a draw first.
    const CBitmap* GetDisplayBitmap() { return m_display.Bitmap(); }
    bool HasMemoryDC() const { return m_display.HasMemoryDC(); }
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

private:
    // Where the exchange stands; the table of transitions opens the .cpp file.
    enum class Phase { Idle, Connecting, Requested, Receiving };

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
    // The display step: shows the received image (rowsAhead: its rows
    // converted ahead, or -1); fires 6 or 7 when the display refuses it.
    void BuildBitmap(LONG rowsAhead);

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
    ReceivedImage m_image;             // pixel data of the current (or last) reply
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

    CImageDisplay m_display;
    BOOL m_bSkipErase = FALSE;
};
