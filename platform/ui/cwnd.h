// A window with the surface of its Windows model, owning an optional QWidget.
//
// How the window messages map onto Qt (the widget is a private QWidget subclass
// that forwards its events to the CWnd):
//  - WM_PAINT       -> QWidget::paintEvent: OnPaint runs with a device context on
//                      the widget's painter and the region Qt asks to repaint.
//  - WM_NCPAINT     -> a child QWidget has no non-client area (its frame, if any,
//                      belongs to the parent). Windows sends this message when a
//                      window is shown, moved or sized, before the next paint;
//                      here OnNcPaint runs at the start of the first paint event
//                      after a show, move or resize.
//  - WM_ERASEBKGND  -> Qt erases nothing itself (the widget is marked opaque: it
//                      paints all of itself). OnEraseBkgnd runs in a paint event
//                      that follows an InvalidateRect with erase TRUE or a
//                      non-client paint, after OnNcPaint and before OnPaint;
//                      its result is only for the handler's own logic.
//  - WM_CLOSE       -> QWidget::closeEvent: OnClose runs, then the window hides.
//  - WM_DESTROY     -> OnDestroy runs when the widget is being destroyed, whether
//                      through DestroyWindow or because its parent deleted it;
//                      the widget is still valid then.
//  - InvalidateRect -> QWidget::update (a repaint is scheduled, coalesced), at
//                      the screen's pace: within one frame of the last paint
//                      the repaint waits for the next frame (our speed policy,
//                      framepacer.h).
//  - SetWindowPos   -> QWidget::setGeometry/move/resize; without SWP_NOZORDER
//                      the widget is raised to the top of its siblings.
//  - GetDC          -> a device context describing the window's surface. Qt
//                      draws on a widget only inside its paint event, so this
//                      context serves as the model for compatible memory
//                      contexts and bitmaps, not for drawing. Like a window
//                      class's own context it belongs to the window object and
//                      is handed out again and again; ReleaseDC keeps it.
//  - Attach         -> a CWnd on a widget it did not create (a dialog's item):
//                      the widget stays its creator's, the CWnd lets go of it
//                      when it is destroyed.
//  - GetWindowRect gives screen coordinates; MoveWindow takes the parent's
//    client coordinates (the screen's for a top-level window). A top-level
//    window's rectangle is its client area's: the window manager's frame is
//    beyond the program's reach (it may arrive only after the window is
//    shown), and a rectangle stored at exit must bring the window back the
//    same size at the next start.
//  - GetSystemMenu   -> the title bar's menu cannot be extended under the usual
//                      Linux window managers, so the window keeps its own: a
//                      dialog shows it as its context menu (right button, or
//                      Alt+Space), and a choice arrives as OnSysCommand.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "cdc.h"
#include "oaidl.h"
#include "wingdi.h"
#include "winuser.h"


constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Window styles that Create understands.
constexpr DWORD WS_POPUP = 0x80000000;    // a top-level window of its own (a dialog), owned by the parent
constexpr DWORD WS_CHILD = 0x40000000;    // a child inside the parent (the default)
constexpr DWORD WS_VISIBLE = 0x10000000;  // shown at once
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_THICKFRAME = 0x00040000;  // resizable
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
// Extended styles.
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;  // shown in the task bar

constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_SHOWMINIMIZED = 2;
constexpr UINT SW_SHOWMAXIMIZED = 3;
struct WINDOWPLACEMENT {
    UINT length;
    UINT flags;
    UINT showCmd;
    POINT ptMinPosition;
    POINT ptMaxPosition;
    RECT rcNormalPosition;  // screen coordinates of the restored window
};

constexpr int ICON_SMALL = 0;
constexpr int ICON_BIG = 1;

// A menu as a list of entries (the system menu of a window).
class CMenu {
public:
    struct Item {
        UINT flags;  // MF_STRING or MF_SEPARATOR
        UINT_PTR id;
        std::string text;
    };
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = nullptr);
    const std::vector<Item>& GetItems() const { return m_items; }

private:
    std::vector<Item> m_items;
};

class CWnd {
public:
    CWnd();
    // Destroys the window. A derived class whose OnDestroy matters must call
    // DestroyWindow in its own destructor (virtual calls do not reach it here).
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Creates the window as a child of `parent` (top-level when null) at `rect`
    // in the parent's coordinates, and shows it. FALSE if one exists already.
    BOOL Create(QWidget* parent, const RECT& rect);
    // The same with styles: WS_POPUP makes a top-level window owned by
    // `parent` at `rect` in the parent's coordinates (screen coordinates
    // without a parent); WS_VISIBLE shows it.
    BOOL Create(QWidget* parent, const RECT& rect, DWORD dwStyle);
    // The caption of a top-level window.
    void SetWindowText(LPCTSTR lpszString);
    // SW_SHOW or SW_HIDE; TRUE when the window was visible before.
    BOOL ShowWindow(int nCmdShow);
    BOOL DestroyWindow();
    HWND GetSafeHwnd() const { return m_pWidget; }
    // Makes this object the window of a widget made elsewhere; FALSE if it
    // has one already. Detach lets go of it again without destroying it.
    BOOL Attach(HWND hWnd);
    HWND Detach();

    // Screen coordinates (see above for a top-level window).
    void GetWindowRect(LPRECT lpRect) const;
    void ScreenToClient(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    // x, y and the size in the parent's client coordinates (the screen's for
    // a top-level window); bRepaint repaints it.
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    // TRUE when the window was disabled before.
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    BOOL IsZoomed() const;
    // The parent window of a child, the owner of a top-level window.
    HWND GetParent() const;
    BOOL GetWindowPlacement(WINDOWPLACEMENT* lpwndpl) const;
    // The previous icon of that size.
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    // The window's own system menu (created with the standard entries on the
    // first call); bRevert TRUE puts it back to them and returns null.
    CMenu* GetSystemMenu(BOOL bRevert);

    // A control's automation, for a window that shows an embedded control (a
    // dialog's item attached by DDX_Control). Calls fail with E_NOINTERFACE
    // on any other window. See COleDispatchDriver::InvokeHelper.
    HRESULT InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                         std::initializer_list<VARIANT> args = {});
    HRESULT SetProperty(DISPID dwDispID, const VARIANT& value);
    // Set by the container that embeds the control (a reference is kept).
    void SetControlDispatch(IDispatch* pDispatch);

    CDC* GetDC();
    int ReleaseDC(CDC* dc);
    BOOL InvalidateRect(LPCRECT rect = nullptr, BOOL erase = TRUE);
    // Paints now what is pending (Windows: UpdateWindow).
    void UpdateWindow();
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    void GetClientRect(LPRECT rect) const;

protected:
    virtual void OnPaint(CDC* dc, const CRect& invalid);
    // The default answers TRUE (erased) without drawing: the window has no
    // background brush of its own.
    virtual BOOL OnEraseBkgnd(CDC* dc);
    virtual void OnNcPaint();
    virtual void OnDestroy();
    // The user closes a top-level window (its close button); the window is
    // hidden afterwards, not destroyed.
    virtual void OnClose();
    // A system menu entry was chosen. The default runs the standard ones
    // (minimize, maximize, restore, close).
    virtual void OnSysCommand(UINT nID, LPARAM lParam);

private:
    friend class CWndWidget;
    QWidget* m_pWidget = nullptr;
    bool m_bAttached = false;          // the widget is not ours
    void* m_pAttachWatch = nullptr;    // the connection that notices an attached widget go
    IDispatch* m_pCtrlDispatch = nullptr;
    std::unique_ptr<CMenu> m_pSysMenu;
    HICON m_icons[2] = {nullptr, nullptr};
    CDC m_dc;  // what GetDC hands out
};

// A button item of a dialog (attached by DDX_Control).
class CButton : public CWnd {};
