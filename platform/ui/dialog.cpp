// Dialog templates turned into Qt widgets, and the modal loop.
#include "dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QWidget>

#include <utility>

namespace {
CDialog::ModalHook& Hook() {
    static CDialog::ModalHook hook;
    return hook;
}

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

QFont TemplateFont(const DialogTemplate& tmpl) {
    QFont font(QString::fromUtf8(tmpl.fontName ? tmpl.fontName : ""));
    if (tmpl.fontSize > 0) font.setPointSize(tmpl.fontSize);
    return font;
}

// Rounded to nearest, halves away from zero.
LONG MulDiv(LONG value, LONG numerator, LONG denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<LONG>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

QRect ToQRect(const RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
}  // namespace

class CDialog::ModalLoop : public QEventLoop {};

DialogBaseUnits GetDialogBaseUnits(const DialogTemplate& tmpl) {
    if (!HaveWidgets()) return kDefaultDialogBaseUnits;
    const QFontMetrics metrics(TemplateFont(tmpl));
    const int sample =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(sample / 26 + 1) / 2, metrics.height()};
}

RECT DialogUnitsToPixels(const RECT& rc, DialogBaseUnits base) {
    return RECT{MulDiv(rc.left, base.cx, 4), MulDiv(rc.top, base.cy, 8), MulDiv(rc.right, base.cx, 4),
                MulDiv(rc.bottom, base.cy, 8)};
}

CDialog::CDialog(const DialogTemplate& tmpl, QWidget* pParentWnd)
    : m_template(tmpl), m_strCaption(tmpl.caption ? tmpl.caption : ""), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() { DestroyWindow(); }

CDialog::ModalHook CDialog::SetModalHook(ModalHook hook) { return std::exchange(Hook(), std::move(hook)); }

INT_PTR CDialog::DoModal() {
    if (const ModalHook hook = Hook()) return hook(*this);  // a copy: the hook may replace itself
    if (!HaveWidgets() || GetSafeHwnd()) return -1;
    m_bEnded = false;
    m_nModalResult = -1;
    if (!CreateDialogWindow(m_pParentWnd, (m_template.style & ~WS_CHILD) | WS_POPUP)) return -1;
    QWidget* window = GetSafeHwnd();
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    if (!m_bEnded) {
        ModalLoop loop;
        m_pLoop = &loop;
        loop.exec();
        m_pLoop = nullptr;
    }
    DestroyWindow();
    return m_nModalResult;
}

BOOL CDialog::Create(QWidget* pParentWnd) {
    m_pParentWnd = pParentWnd;
    return CreateDialogWindow(pParentWnd, m_template.style);
}

BOOL CDialog::CreateDialogWindow(QWidget* parent, DWORD style) {
    RECT rect{m_template.x, m_template.y, m_template.x + m_template.cx, m_template.y + m_template.cy};
    MapDialogRect(&rect);
    if (!CWnd::Create(parent, rect, style & ~WS_VISIBLE)) return FALSE;
    QWidget* window = GetSafeHwnd();
    window->setFont(TemplateFont(m_template));
    SetWindowText(m_strCaption.c_str());
    CreateItems(window);
    OnInitDialog();
    if ((style & WS_VISIBLE) || (style & WS_CHILD)) window->show();
    return TRUE;
}

void CDialog::CreateItems(QWidget* window) {
    for (const DialogItemTemplate& item : m_template.items) {
        RECT rect{item.x, item.y, item.x + item.cx, item.y + item.cy};
        MapDialogRect(&rect);
        const QString text = QString::fromUtf8(item.text ? item.text : "");
        QWidget* widget = nullptr;
        switch (item.kind) {
        case DialogItemKind::ltext: {
            auto* label = new QLabel(text, window);
            label->setTextFormat(Qt::PlainText);
            widget = label;
            break;
        }
        case DialogItemKind::icon: {
            // Icons are not carried as images: the style's information icon stands in.
            auto* label = new QLabel(window);
            const int size = window->style()->pixelMetric(QStyle::PM_LargeIconSize);
            label->setPixmap(window->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(size, size));
            rect.right = rect.left + size;
            rect.bottom = rect.top + size;
            widget = label;
            break;
        }
        case DialogItemKind::pushButton:
        case DialogItemKind::defPushButton: {
            auto* button = new QPushButton(text, window);
            const bool isDefault = item.kind == DialogItemKind::defPushButton || (item.style & BS_DEFPUSHBUTTON);
            button->setDefault(isDefault);
            if (isDefault) button->setFocus();
            const int id = static_cast<int>(item.id);
            QObject::connect(button, &QPushButton::clicked, window, [this, id] {
                if (id == IDOK) OnOK();
                else if (id == IDCANCEL) OnCancel();
            });
            widget = button;
            break;
        }
        case DialogItemKind::editText: widget = new QLineEdit(text, window); break;
        }
        widget->setObjectName(QString::number(item.id));
        widget->setGeometry(ToQRect(rect));
    }
}

void CDialog::GetDlgItem(int nID, HWND* phWnd) const {
    if (!phWnd) return;
    *phWnd = nullptr;
    if (QWidget* window = GetSafeHwnd())
        *phWnd = window->findChild<QWidget*>(QString::number(nID), Qt::FindDirectChildrenOnly);
}

void CDialog::MapDialogRect(LPRECT lpRect) const {
    if (lpRect) *lpRect = DialogUnitsToPixels(*lpRect, GetDialogBaseUnits(m_template));
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEnded = true;
    if (m_pLoop) m_pLoop->quit();
    else ShowWindow(SW_HIDE);
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::OnClose() { OnCancel(); }

void CDialog::OnPaint(CDC* dc, const CRect& invalid) {
    // The window paints all of itself (see cwnd.h): the dialog's face first.
    if (QPainter* painter = dc->Painter()) painter->fillRect(ToQRect(invalid), GetSafeHwnd()->palette().window());
}
