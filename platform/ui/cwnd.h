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
//  - InvalidateRect -> QWidget::update (a repaint is scheduled, coalesced).
//  - SetWindowPos   -> QWidget::setGeometry/move/resize; without SWP_NOZORDER
//                      the widget is raised to the top of its siblings.
//  - GetDC          -> a device context describing the window's surface. Qt
//                      draws on a widget only inside its paint event, so this
//                      context serves as the model for compatible memory
//                      contexts and bitmaps, not for drawing. Like a window
//                      class's own context it belongs to the window object and
//                      is handed out again and again; ReleaseDC keeps it.
#pragma once

#include "cdc.h"
#include "wingdi.h"

class QWidget;
using HWND = QWidget*;

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Window styles that Create understands.
enum : DWORD {
    WS_POPUP = 0x80000000,    // a top-level window of its own (a dialog), owned by the parent
    WS_CHILD = 0x40000000,    // a child inside the parent (the default)
    WS_VISIBLE = 0x10000000,  // shown at once
    WS_CAPTION = 0x00C00000,
    WS_SYSMENU = 0x00080000,
    WS_GROUP = 0x00020000,
    WS_TABSTOP = 0x00010000,
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

private:
    friend class CWndWidget;
    QWidget* m_pWidget = nullptr;
    CDC m_dc;  // what GetDC hands out
};
