// zivClient's main dialog: the image server's address and the sensor window
// on the left, the image control on the right; it passes the values to the
// control, starts single images or live streaming, saves BMP files, and
// follows the control's PictureReady event with status texts and by fitting
// the control and itself to each new image. Its and the control's window
// rectangles are kept in the registry between runs. It sets its status texts
// for every event; that they reach the screen at most once per frame is the
// platform's doing (platform/ui/framepacer.h), not the dialog's.
#pragma once

#include <span>
#include <string>

#include "dialog.h"
#include "zivcontrolctrl.h"

// Tick counter at the last status 9 (request sent) and 8 (image started).
extern DWORD g_tRequestSent;
extern DWORD g_tImageStarted;

// The texts of the two timing lines (differences in unsigned 32-bit
// arithmetic, printed signed).
std::string ReceivedText(DWORD now, DWORD requestSent);
std::string RenderedText(DWORD now, DWORD imageStarted);

// The fitting of the windows to a w x h image: `dialog` is the dialog's
// window rectangle, `control` the control's in the dialog's client
// coordinates, `minimum` (optional) the dialog's first-start rectangle,
// `work` the screen's work area, which bounds the dialog's size (the control
// shrinks to fit, the image inside it is cut).
struct FittedWindows {
    CRect dialog;
    CRect control;
};
FittedWindows FitToImage(const CRect& dialog, const CRect& control, LONG w, LONG h, const CRect* minimum,
                         const RECT& work);

class CZivClientDlg : public CDialog {
public:
    explicit CZivClientDlg(QWidget* pParent = nullptr);
    ~CZivClientDlg() override;

    std::string m_strServerIP;
    int m_nServerPort = 2002;
    int m_nX = 0;
    int m_nY = 0;
    int m_nDX = 640;
    int m_nDY = 480;
    int m_nIncX = 1;
    int m_nIncY = 1;
    BOOL m_bLiveMode = FALSE;
    std::string m_strStatus1;
    std::string m_strStatus2;
    CButton m_btnGetImage;
    CButton m_btnAbort;
    CButton m_btnSaveImage;
    CZivcontrolctrl m_ziv;
    // The dialog's rectangle at its first start: its minimum size when fitted
    // to an image (none when it could not be read).
    CRect m_rcInitial;
    bool m_bHaveInitial = false;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    std::span<const DialogCommandEntry> GetCommandMap() const override;
    std::span<const DialogEventEntry> GetEventSinkMap() const override;
    BOOL OnInitDialog() override;
    void OnSysCommand(UINT nID, LPARAM lParam) override;
    void OnDestroy() override;

    void OnGetImage();
    void OnAbort();
    void OnSaveImage();
    void OnLiveMode();
    virtual void OnPictureReady(LONG status);

private:
    void FitToImage();
    HICON m_hIcon;
    // Status 6 came for the image in progress: its status 0 shows no timing and fits nothing.
    bool m_bImageRefused = false;
};

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
