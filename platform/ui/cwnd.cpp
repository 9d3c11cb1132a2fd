#include "cwnd.h"

#include <QCloseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

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

protected:
    void paintEvent(QPaintEvent* event) override {
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
    CWnd* m_owner;
    bool m_ncPending = true;
    bool m_erasePending = true;
};

CWnd::CWnd() = default;

CWnd::~CWnd() { DestroyWindow(); }

BOOL CWnd::Create(QWidget* parent, const RECT& rect) { return Create(parent, rect, WS_CHILD | WS_VISIBLE); }

BOOL CWnd::Create(QWidget* parent, const RECT& rect, DWORD dwStyle) {
    if (m_pWidget) return FALSE;
    auto* widget = new CWndWidget(this, parent);
    m_pWidget = widget;
    QRect geometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    if (dwStyle & WS_POPUP) {
        widget->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
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
    delete m_pWidget;  // the widget's destructor runs OnDestroy and clears m_pWidget
    m_pWidget = nullptr;
    return TRUE;
}

CDC* CWnd::GetDC() { return &m_dc; }

int CWnd::ReleaseDC(CDC* dc) { return dc == &m_dc ? 1 : 0; }

BOOL CWnd::InvalidateRect(LPCRECT rect, BOOL erase) {
    if (!m_pWidget) return FALSE;
    if (erase) static_cast<CWndWidget*>(m_pWidget)->RequestErase();
    if (rect) m_pWidget->update(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    else m_pWidget->update();
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
