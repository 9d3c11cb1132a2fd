#include "cwnd.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "dispdriver.h"
#include "framepacer.h"
#include "iconimpl.h"

#include <algorithm>
#include <utility>

class CWndWidget : public QWidget {
public:
    CWndWidget(CWnd* owner, QWidget* parent) : QWidget(parent), m_owner(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    ~CWndWidget() override {
        if (m_owner) {
            CWnd* owner = m_owner;
            m_owner = nullptr;
            owner->OnDestroy();
            owner->m_pWidget = nullptr;
        }
    }
    void Disown() { m_owner = nullptr; }
    void RequestErase() { m_erasePending = true; }

    // Repaints at the screen's pace: a window invalidated again within one
    // frame of its last paint is repainted once, at the next frame, however
    // often it was invalidated in between (a live image stream invalidates
    // far more often than a screen shows).
    void ScheduleUpdate(const QRect& rect) {
        m_pending = m_pending.united(rect);
        m_pacer.Request();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        m_pacer.Done();
        if (!m_owner) return;
        QPainter painter(this);
        CDC dc(&painter);
        if (m_ncPending) {
            m_ncPending = false;
            m_erasePending = true;
            m_owner->OnNcPaint();
        }
        if (m_erasePending) {
            m_erasePending = false;
            m_owner->OnEraseBkgnd(&dc);
        }
        const QRect r = event->rect();
        m_owner->OnPaint(&dc, CRect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height()));
    }
    void closeEvent(QCloseEvent* event) override {
        if (m_owner) m_owner->OnClose();
        QWidget::closeEvent(event);
    }
    void showEvent(QShowEvent*) override { m_ncPending = true; }
    void moveEvent(QMoveEvent*) override { m_ncPending = true; }
    void resizeEvent(QResizeEvent*) override { m_ncPending = true; }

private:
    void FlushUpdate() {
        const QRect r = std::exchange(m_pending, QRect());
        if (!r.isEmpty()) update(r);
    }

    CWnd* m_owner;
    QRect m_pending;
    FramePacer m_pacer{this, [this] { FlushUpdate(); }};
    bool m_ncPending = true;
    bool m_erasePending = true;
};

CWnd::CWnd() = default;

CWnd::~CWnd() {
    DestroyWindow();
    SetControlDispatch(nullptr);
}

BOOL CWnd::Create(QWidget* parent, const RECT& rect) { return Create(parent, rect, WS_CHILD | WS_VISIBLE); }

BOOL CWnd::Create(QWidget* parent, const RECT& rect, DWORD dwStyle) {
    if (m_pWidget) return FALSE;
    auto* widget = new CWndWidget(this, parent);
    m_pWidget = widget;
    QRect geometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    if (dwStyle & WS_POPUP) {
        // A window with minimize and maximize boxes is a program's main window, not a passing dialog.
        const bool mainWindow = (dwStyle & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) && (dwStyle & WS_THICKFRAME);
        Qt::WindowFlags flags = (mainWindow ? Qt::Window : Qt::Dialog) | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (mainWindow) flags |= Qt::WindowMinMaxButtonsHint;
        widget->setWindowFlags(flags);
        if (parent) geometry.moveTopLeft(parent->mapToGlobal(geometry.topLeft()));
    }
    widget->setGeometry(geometry);
    if (dwStyle & WS_VISIBLE) widget->show();
    return TRUE;
}

void CWnd::SetWindowText(LPCTSTR lpszString) {
    if (m_pWidget) m_pWidget->setWindowTitle(QString::fromUtf8(lpszString ? lpszString : ""));
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    if (!m_pWidget) return FALSE;
    const BOOL wasVisible = m_pWidget->isVisible() ? TRUE : FALSE;
    m_pWidget->setVisible(nCmdShow != SW_HIDE);
    return wasVisible;
}

BOOL CWnd::DestroyWindow() {
    if (!m_pWidget) return FALSE;
    if (m_bAttached) {
        Detach();
        return TRUE;
    }
    delete m_pWidget;  // the widget's destructor runs OnDestroy and clears m_pWidget
    m_pWidget = nullptr;
    return TRUE;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (m_pWidget || !hWnd) return FALSE;
    m_pWidget = hWnd;
    m_bAttached = true;
    auto* watch = new QMetaObject::Connection(QObject::connect(hWnd, &QObject::destroyed, [this] {
        delete static_cast<QMetaObject::Connection*>(m_pAttachWatch);
        m_pAttachWatch = nullptr;
        m_pWidget = nullptr;
        m_bAttached = false;
    }));
    m_pAttachWatch = watch;
    return TRUE;
}

HWND CWnd::Detach() {
    if (!m_bAttached) return nullptr;
    if (auto* watch = static_cast<QMetaObject::Connection*>(m_pAttachWatch)) {
        QObject::disconnect(*watch);
        delete watch;
    }
    m_pAttachWatch = nullptr;
    m_bAttached = false;
    return std::exchange(m_pWidget, nullptr);
}

namespace {
RECT FromQRect(const QRect& r) { return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
}  // namespace

void CWnd::GetWindowRect(LPRECT lpRect) const {
    if (!lpRect) return;
    *lpRect = RECT{0, 0, 0, 0};
    if (m_pWidget) *lpRect = FromQRect(QRect(m_pWidget->mapToGlobal(QPoint(0, 0)), m_pWidget->size()));
}

void CWnd::ScreenToClient(LPPOINT lpPoint) const {
    if (!lpPoint || !m_pWidget) return;
    const QPoint p = m_pWidget->mapFromGlobal(QPoint(lpPoint->x, lpPoint->y));
    *lpPoint = POINT{p.x(), p.y()};
}

void CWnd::ScreenToClient(LPRECT lpRect) const {
    if (!lpRect) return;
    POINT tl{lpRect->left, lpRect->top}, br{lpRect->right, lpRect->bottom};
    ScreenToClient(&tl);
    ScreenToClient(&br);
    *lpRect = RECT{tl.x, tl.y, br.x, br.y};
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    if (!m_pWidget) return;
    const QRect wanted(x, y, std::max(0, nWidth), std::max(0, nHeight));
    if (m_pWidget->geometry() == wanted) return;  // nothing moves: nothing to repaint
    m_pWidget->setGeometry(wanted);
    if (bRepaint) m_pWidget->update();
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint) {
    if (lpRect)
        MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top, bRepaint);
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    if (!m_pWidget) return FALSE;
    const BOOL wasDisabled = m_pWidget->isEnabled() ? FALSE : TRUE;
    m_pWidget->setEnabled(bEnable != FALSE);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const { return m_pWidget && m_pWidget->isEnabled() ? TRUE : FALSE; }
BOOL CWnd::IsIconic() const { return m_pWidget && m_pWidget->isMinimized() ? TRUE : FALSE; }
BOOL CWnd::IsZoomed() const { return m_pWidget && m_pWidget->isMaximized() ? TRUE : FALSE; }

HWND CWnd::GetParent() const { return m_pWidget ? m_pWidget->parentWidget() : nullptr; }

BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* lpwndpl) const {
    if (!lpwndpl || !m_pWidget) return FALSE;
    lpwndpl->flags = 0;
    lpwndpl->showCmd = IsIconic() ? SW_SHOWMINIMIZED : IsZoomed() ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    lpwndpl->ptMinPosition = lpwndpl->ptMaxPosition = POINT{-1, -1};
    RECT normal{};
    GetWindowRect(&normal);
    if (m_pWidget->isWindow() && lpwndpl->showCmd != SW_SHOWNORMAL && m_pWidget->normalGeometry().isValid())
        normal = FromQRect(m_pWidget->normalGeometry());
    lpwndpl->rcNormalPosition = normal;
    return TRUE;
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    const HICON old = std::exchange(m_icons[bBigIcon ? 1 : 0], hIcon);
    // Qt keeps one icon per window, in every size: the big one wins, the small one stands in for it.
    const HICON shown = m_icons[1] ? m_icons[1] : m_icons[0];
    if (m_pWidget) m_pWidget->setWindowIcon(shown ? IconToQIcon(shown) : QIcon());
    return old;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem) {
    if (!(nFlags & MF_SEPARATOR) && !lpszNewItem) return FALSE;
    m_items.push_back(Item{nFlags & MF_SEPARATOR, nFlags & MF_SEPARATOR ? 0 : nIDNewItem,
                           (nFlags & MF_SEPARATOR) ? std::string() : std::string(lpszNewItem)});
    return TRUE;
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) {
    if (bRevert || !m_pSysMenu) {
        m_pSysMenu = std::make_unique<CMenu>();
        m_pSysMenu->AppendMenu(MF_STRING, SC_RESTORE, "&Restore");
        m_pSysMenu->AppendMenu(MF_STRING, SC_MINIMIZE, "Mi&nimize");
        m_pSysMenu->AppendMenu(MF_STRING, SC_MAXIMIZE, "Ma&ximize");
        m_pSysMenu->AppendMenu(MF_SEPARATOR);
        m_pSysMenu->AppendMenu(MF_STRING, SC_CLOSE, "&Close");
        if (bRevert) return nullptr;
    }
    return m_pSysMenu.get();
}

void CWnd::SetControlDispatch(IDispatch* pDispatch) {
    if (pDispatch) pDispatch->AddRef();
    if (IDispatch* old = std::exchange(m_pCtrlDispatch, pDispatch)) old->Release();
}

HRESULT CWnd::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                           std::initializer_list<VARIANT> args) {
    if (!m_pCtrlDispatch) return E_NOINTERFACE;
    COleDispatchDriver driver(m_pCtrlDispatch, FALSE);
    return driver.InvokeHelper(dwDispID, wFlags, vtRet, pvRet, args);
}

HRESULT CWnd::SetProperty(DISPID dwDispID, const VARIANT& value) {
    if (!m_pCtrlDispatch) return E_NOINTERFACE;
    COleDispatchDriver driver(m_pCtrlDispatch, FALSE);
    return driver.SetProperty(dwDispID, value);
}

CDC* CWnd::GetDC() { return &m_dc; }

int CWnd::ReleaseDC(CDC* dc) { return dc == &m_dc ? 1 : 0; }

BOOL CWnd::InvalidateRect(LPCRECT rect, BOOL erase) {
    if (!m_pWidget) return FALSE;
    auto* widget = dynamic_cast<CWndWidget*>(m_pWidget);
    const QRect area =
        rect ? QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top) : m_pWidget->rect();
    if (!widget) {  // an attached widget of someone else's: Qt's own pace
        m_pWidget->update(area);
        return TRUE;
    }
    if (erase) widget->RequestErase();
    widget->ScheduleUpdate(area);
    return TRUE;
}

void CWnd::UpdateWindow() {
    if (m_pWidget) m_pWidget->repaint();
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
    if (!m_pWidget) return FALSE;
    if (!(flags & SWP_NOMOVE)) m_pWidget->move(x, y);
    if (!(flags & SWP_NOSIZE)) m_pWidget->resize(cx < 0 ? 0 : cx, cy < 0 ? 0 : cy);
    if (!(flags & SWP_NOZORDER)) {
        if (insertAfter && insertAfter->m_pWidget) m_pWidget->stackUnder(insertAfter->m_pWidget);
        else m_pWidget->raise();
    }
    return TRUE;
}

void CWnd::GetClientRect(LPRECT rect) const {
    if (!rect) return;
    *rect = RECT{0, 0, 0, 0};
    if (m_pWidget) *rect = RECT{0, 0, m_pWidget->width(), m_pWidget->height()};
}

void CWnd::OnPaint(CDC*, const CRect&) {}
BOOL CWnd::OnEraseBkgnd(CDC*) { return TRUE; }
void CWnd::OnNcPaint() {}
void CWnd::OnDestroy() {}
void CWnd::OnClose() {}

void CWnd::OnSysCommand(UINT nID, LPARAM) {
    if (!m_pWidget) return;
    switch (nID & 0xFFF0) {
    case SC_MINIMIZE: m_pWidget->showMinimized(); break;
    case SC_MAXIMIZE: m_pWidget->showMaximized(); break;
    case SC_RESTORE: m_pWidget->showNormal(); break;
    case SC_CLOSE: m_pWidget->close(); break;
    default: break;
    }
}
