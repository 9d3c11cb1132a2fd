// The main dialog's handlers.
#include "zivclientdlg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "ddx.h"
#include "filedlg.h"
#include "windowrect.h"
#include "winreg.h"
#include "zivclientres.h"

DWORD g_tRequestSent = 0;
DWORD g_tImageStarted = 0;

namespace {
// What status line 2 says about a failed exchange; other statuses say nothing.
constexpr struct {
    LONG status;
    const char* text;
} kFailureTexts[] = {
    {PR_CONNECTION_CLOSED, "Connection with server lost."},
    {PR_CONNECT_FAILED, "No server to connect to."},
    {PR_RECEIVE_FAILED, "Receive ERROR!"},
    {PR_SEND_FAILED, "Send ERROR!"},
    {PR_BAD_GEOMETRY, "Image cannot be shown!"},
    {PR_NO_MEMORY, "No memory for the image!"},
};

std::string TimingText(const char* format, DWORD now, DWORD then) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<long>(static_cast<LONG>(now - then)));
    return text;
}
}  // namespace

std::string ReceivedText(DWORD now, DWORD requestSent) {
    return TimingText("Last image received for %ld ms", now, requestSent);
}

std::string RenderedText(DWORD now, DWORD imageStarted) {
    return TimingText("Last image rendered for %ld ms.", now, imageStarted);
}

FittedWindows FitToImage(const CRect& dialog, const CRect& control, LONG w, LONG h, const CRect* minimum,
                         const RECT& work) {
    using Wide = long long;
    const auto span = [](LONG from, LONG to) { return Wide(to) - from; };
    const auto saturate = [](Wide v) {
        return LONG(std::clamp<Wide>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
    };
    const Wide workWidth = std::max<Wide>(span(work.left, work.right), 1);
    const Wide workHeight = std::max<Wide>(span(work.top, work.bottom), 1);
    const Wide dialogWidth = span(dialog.left, dialog.right), dialogHeight = span(dialog.top, dialog.bottom);
    const Wide controlWidth = span(control.left, control.right), controlHeight = span(control.top, control.bottom);
    // The control no larger than the dialog can show on the screen: it draws
    // the image 1:1 from its top left, so a larger image is cut at the right
    // and bottom instead of making windows wider than any screen.
    const Wide width =
        std::clamp<Wide>(w, 0, std::max<Wide>(workWidth - std::max<Wide>(dialogWidth - controlWidth, 0), 1));
    const Wide height =
        std::clamp<Wide>(h, 0, std::max<Wide>(workHeight - std::max<Wide>(dialogHeight - controlHeight, 0), 1));
    Wide newWidth = dialogWidth + width - controlWidth, newHeight = dialogHeight + height - controlHeight;
    if (minimum) {
        newWidth = std::max(newWidth, span(minimum->left, minimum->right));
        newHeight = std::max(newHeight, span(minimum->top, minimum->bottom));
    }
    newWidth = std::clamp<Wide>(newWidth, 1, workWidth);
    newHeight = std::clamp<Wide>(newHeight, 1, workHeight);
    // A dialog that grows past the work area's right or bottom edge moves back
    // onto it, as far as it can; it never moves the other way.
    Wide left = dialog.left, top = dialog.top;
    if (newWidth > dialogWidth) left = std::min<Wide>(left, std::max<Wide>(work.left, Wide(work.right) - newWidth));
    if (newHeight > dialogHeight) top = std::min<Wide>(top, std::max<Wide>(work.top, Wide(work.bottom) - newHeight));
    return FittedWindows{
        CRect(saturate(left), saturate(top), saturate(left + newWidth), saturate(top + newHeight)),
        CRect(control.left, control.top, saturate(control.left + width), saturate(control.top + height))};
}

CZivClientDlg::CZivClientDlg(QWidget* pParent) : CDialog(kClientDialog, pParent), m_hIcon(AfxLoadIcon(IDR_MAINFRAME)) {}

CZivClientDlg::~CZivClientDlg() { DestroyWindow(); }

void CZivClientDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SAVEIMAGE, m_btnSaveImage);
    DDX_Control(pDX, IDC_ZIVCONTROL, m_ziv);
    DDX_Text(pDX, IDC_X, m_nX);
    DDX_Text(pDX, IDC_Y, m_nY);
    DDX_Text(pDX, IDC_DX, m_nDX);
    DDX_Text(pDX, IDC_DY, m_nDY);
    DDX_Text(pDX, IDC_INCX, m_nIncX);
    DDX_Text(pDX, IDC_INCY, m_nIncY);
    DDX_Control(pDX, IDC_GETIMAGE, m_btnGetImage);
    DDX_Control(pDX, IDC_ABORT, m_btnAbort);
    DDX_Check(pDX, IDC_LIVEMODE, m_bLiveMode);
    DDX_Text(pDX, IDC_SERVERIP, m_strServerIP);
    DDX_Text(pDX, IDC_SERVERPORT, m_nServerPort);
    DDX_Text(pDX, IDC_STATUS1, m_strStatus1);
    DDX_Text(pDX, IDC_STATUS2, m_strStatus2);
}

std::span<const DialogCommandEntry> CZivClientDlg::GetCommandMap() const {
    static constexpr DialogCommandEntry kCommands[] = {
        DialogCommand<&CZivClientDlg::OnGetImage>(IDC_GETIMAGE),
        DialogCommand<&CZivClientDlg::OnAbort>(IDC_ABORT),
        DialogCommand<&CZivClientDlg::OnSaveImage>(IDC_SAVEIMAGE),
        DialogCommand<&CZivClientDlg::OnLiveMode>(IDC_LIVEMODE),
    };
    return kCommands;
}

std::span<const DialogEventEntry> CZivClientDlg::GetEventSinkMap() const {
    static constexpr DialogEventEntry kEvents[] = {
        DialogEvent<&CZivClientDlg::OnPictureReady, VT_I4>(IDC_ZIVCONTROL, eventidPictureReady),
    };
    return kEvents;
}

BOOL CZivClientDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        const char* about = LoadClientString(IDS_ABOUTBOX);
        if (*about) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    if (!RestoreWindowRect(this, "dialog", FALSE)) {
        // First start (or no usable rectangle): the template's size becomes the minimum.
        HKEY key = nullptr;
        if (RegCreateKeyEx(HKEY_CURRENT_USER, kClientKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS)
            RegCloseKey(key);
        SaveWindowRect(this, "inidialog");
    }
    const std::optional<RECT> initial = LoadWindowRect("inidialog");
    m_bHaveInitial = initial.has_value();
    if (initial) m_rcInitial = *initial;
    RestoreWindowRect(&m_ziv, "ziv", TRUE);
    UpdateData(FALSE);
    return TRUE;
}

void CZivClientDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CZivClientDlg::OnDestroy() {
    // The registry's own reason, naming the file; a missing key stays silent.
    for (const auto& [window, name] : {std::pair<CWnd*, const char*>{&m_ziv, "ziv"}, {this, "dialog"}})
        if (!SaveWindowRect(window, name) && !RegLastErrorText().empty())
            std::fprintf(stderr, "zivClient: the window rectangle \"%s\" was not stored: %s\n", name,
                         RegLastErrorText().c_str());
    CDialog::OnDestroy();
}

BOOL CZivClientDlg::PreTranslateMessage(MSG* pMsg) {
    // The image takes no clicks: a left press on the control never reaches it.
    if (pMsg->message == WM_LBUTTONDOWN && pMsg->hwnd && pMsg->hwnd == m_ziv.GetSafeHwnd()) return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CZivClientDlg::OnGetImage() {
    UpdateData(TRUE);
    m_ziv.SetPort(m_nServerPort);
    m_ziv.SetServer(m_strServerIP);
    if (m_nX < 0 || m_nY < 0 || m_nDX < 0 || m_nDY < 0 || m_nIncX <= 0 || m_nIncY <= 0) {
        AfxMessageBox("Invalid value!", MB_OK);
        return;
    }
    m_strStatus1 = "Request for new image selected.";
    UpdateData(FALSE);
    m_ziv.SetLive(m_bLiveMode);
    m_ziv.RequestImage(m_nX, m_nY, m_nDX, m_nDY, m_nIncX, m_nIncY);
}

void CZivClientDlg::OnAbort() { m_ziv.Abort(); }

void CZivClientDlg::OnSaveImage() {
    CFileDialog dialog(FALSE, "bmp", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       "Bitmap files(*.bmp)|*.bmp|All files(*.*)|*.*||", this);
    if (dialog.DoModal() == IDOK) m_ziv.SaveToBmp(dialog.GetPathName());
}

void CZivClientDlg::OnLiveMode() {
    UpdateData(TRUE);
    m_ziv.SetLive(m_bLiveMode);
    m_btnSaveImage.EnableWindow(m_bLiveMode ? FALSE : TRUE);
}

void CZivClientDlg::OnPictureReady(LONG status) {
    switch (status) {
    case PR_REQUEST_SENT: g_tRequestSent = GetTickCount(); break;
    case PR_IMAGE_STARTED:
        g_tImageStarted = GetTickCount();
        m_bImageRefused = false;
        break;
    case PR_IMAGE_READY: {
        // The control completes a refused image too; it still shows the one before.
        if (std::exchange(m_bImageRefused, false)) break;
        const DWORD now = GetTickCount();
        m_strStatus2 = ReceivedText(now, g_tRequestSent);
        m_strStatus1 = RenderedText(now, g_tImageStarted);
        FitToImage();
        break;
    }
    default:
        if (status == PR_BAD_GEOMETRY) m_bImageRefused = true;
        for (const auto& failure : kFailureTexts)
            if (failure.status == status) m_strStatus2 = failure.text;
        break;
    }
    UpdateData(FALSE);
}

void CZivClientDlg::FitToImage() {
    LONG x = 0, y = 0, w = 0, h = 0;
    m_ziv.GetImgAttrib(&x, &y, &w, &h);
    CRect dialog, control;
    GetWindowRect(&dialog);
    m_ziv.GetWindowRect(&control);
    ScreenToClient(&control);
    // Without a screen to go by, the windows are bound by nothing but the arithmetic.
    constexpr LONG kFar = 1 << 30;
    MONITORINFO monitor{sizeof monitor, {}, {-kFar, -kFar, kFar, kFar}, 0};
    GetMonitorInfo(MonitorFromRect(&dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const FittedWindows fitted =
        ::FitToImage(dialog, control, w, h, m_bHaveInitial ? &m_rcInitial : nullptr, monitor.rcWork);
    // A top-level window's rectangle is in screen coordinates, which is what it moves in.
    MoveWindow(&fitted.dialog, TRUE);
    m_ziv.SetPosition(fitted.control.left, fitted.control.top, fitted.control.Width(), fitted.control.Height());
}

CAboutDlg::CAboutDlg() : CDialog(kAboutDialog) {}
