// Dialog templates turned into Qt widgets, the message pre-filter and the
// modal loop.
#include "dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QPointer>
#include <QWidget>

#include <utility>

#include "ddx.h"
#include "framepacer.h"
#include "iconimpl.h"

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

QRect ToQRect(const RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

// The virtual-key code of a Qt key, for the keys a pre-filter looks at.
WPARAM VirtualKey(int key) {
    switch (key) {
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Space: return VK_SPACE;
    default: return key >= 0x20 && key < 0x7F ? WPARAM(key) : 0;
    }
}
}  // namespace

class CDialog::ModalLoop : public QEventLoop {};

// New texts of the dialog's labels, shown at the screen's pace: a status line
// rewritten for every image of a live stream is drawn once per frame, with
// the latest text. Reading a label's text gives the latest one at once.
class CDialog::LabelTexts {
public:
    explicit LabelTexts(QWidget* window) : m_pacer(window, [this] { Flush(); }) {}

    void Set(QLabel* label, const QString& text) {
        for (auto& [pendingLabel, pendingText] : m_pending)
            if (pendingLabel == label) {
                pendingText = text;
                return;
            }
        if (label->text() == text) return;
        m_pending.emplace_back(label, text);
        m_pacer.Request();
    }
    const QString* Find(const QLabel* label) const {
        for (const auto& [pendingLabel, pendingText] : m_pending)
            if (pendingLabel == label) return &pendingText;
        return nullptr;
    }

private:
    void Flush() {
        for (auto& [label, text] : std::exchange(m_pending, {}))
            if (label && label->text() != text) label->setText(text);
    }

    std::vector<std::pair<QPointer<QLabel>, QString>> m_pending;
    FramePacer m_pacer;
};

// Sees every key and mouse button press of the application first and hands
// those meant for this dialog's window to PreTranslateMessage, and opens the
// system menu where a context menu is asked for.
class CDialog::MessageFilter : public QObject {
public:
    explicit MessageFilter(CDialog* dialog) : m_dialog(dialog) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::KeyPress && type != QEvent::ContextMenu) return false;
        auto* target = qobject_cast<QWidget*>(watched);
        QWidget* window = m_dialog->GetSafeHwnd();
        if (!target || !window || (target != window && !window->isAncestorOf(target))) return false;
        if (type == QEvent::ContextMenu) {
            if (qobject_cast<QLineEdit*>(target)) return false;  // an edit field keeps its own menu
            const QPoint at = static_cast<QContextMenuEvent*>(event)->globalPos();
            m_dialog->ShowSystemMenu(POINT{at.x(), at.y()});
            return true;
        }
        MSG msg{target, 0, 0, 0};
        if (type == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            switch (mouse->button()) {
            case Qt::LeftButton: msg.message = WM_LBUTTONDOWN, msg.wParam = MK_LBUTTON; break;
            case Qt::RightButton: msg.message = WM_RBUTTONDOWN, msg.wParam = MK_RBUTTON; break;
            case Qt::MiddleButton: msg.message = WM_MBUTTONDOWN, msg.wParam = MK_MBUTTON; break;
            default: return false;
            }
            const QPoint p = mouse->position().toPoint();
            msg.lParam = MAKELPARAM(p.x(), p.y());
        } else {
            const auto* key = static_cast<QKeyEvent*>(event);
            msg.message = (key->modifiers() & Qt::AltModifier) ? WM_SYSKEYDOWN : WM_KEYDOWN;
            msg.wParam = VirtualKey(key->key());
            if (!msg.wParam) return false;
        }
        return m_dialog->PreTranslateMessage(&msg) != FALSE;
    }

private:
    CDialog* m_dialog;
};

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

CDialog::~CDialog() {
    DestroyWindow();
    ReleaseControlSites();
}

CDialog::ModalHook CDialog::SetModalHook(ModalHook hook) { return std::exchange(Hook(), std::move(hook)); }

INT_PTR CDialog::DoModal() {
    if (const ModalHook hook = Hook()) return hook(*this);  // a copy: the hook may replace itself
    if (!HaveWidgets() || GetSafeHwnd()) return -1;
    m_bEnded = false;
    m_nModalResult = -1;
    // Shown below, once modal: a window shown before it is made modal stays modeless.
    if (!CreateDialogWindow(m_pParentWnd, (m_template.style & ~(WS_CHILD | WS_VISIBLE)) | WS_POPUP)) return -1;
    QWidget* window = GetSafeHwnd();
    window->setWindowModality(Qt::ApplicationModal);
    if (!m_bEnded) window->show();
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
    m_hrControlCreate = S_OK;
    m_itemWindows.clear();
    if (!CWnd::Create(parent, rect, style & ~WS_VISIBLE)) return FALSE;
    QWidget* window = GetSafeHwnd();
    window->setFont(TemplateFont(m_template));
    SetWindowText(m_strCaption.c_str());
    CreateItems(window);
    if (FAILED(m_hrControlCreate)) {
        DestroyWindow();
        return FALSE;
    }
    if (style & WS_POPUP) m_pFilter = std::make_unique<MessageFilter>(this);
    m_pLabelTexts = std::make_unique<LabelTexts>(window);
    if (OnInitDialog() && GetSafeHwnd()) {
        // The focus starts on the first item the Tab key reaches, as in any dialog.
        for (QObject* child : window->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && (w->focusPolicy() & Qt::TabFocus)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
    }
    if (((style & WS_VISIBLE) || (style & WS_CHILD)) && GetSafeHwnd()) window->show();
    return GetSafeHwnd() ? TRUE : FALSE;
}

void CDialog::CreateItems(QWidget* window) {
    for (const DialogItemTemplate& item : m_template.items) {
        RECT rect{item.x, item.y, item.x + item.cx, item.y + item.cy};
        MapDialogRect(&rect);
        const QString text = QString::fromUtf8(item.text ? item.text : "");
        const int id = static_cast<int>(item.id);
        QWidget* widget = nullptr;
        switch (item.kind) {
        case DialogItemKind::ltext: {
            auto* label = new QLabel(text, window);
            label->setTextFormat(Qt::PlainText);
            widget = label;
            break;
        }
        case DialogItemKind::icon: {
            auto* label = new QLabel(window);
            const int size = window->style()->pixelMetric(QStyle::PM_LargeIconSize);
            // The program's icon of that number, else the style's information icon.
            const HICON icon = AfxLoadIcon(text.toUInt());
            label->setPixmap(icon ? icon->pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                  : window->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(size, size));
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
            QObject::connect(button, &QPushButton::clicked, window, [this, id] {
                if (id == IDOK) OnOK();
                else if (id == IDCANCEL) OnCancel();
                else OnCommand(id);
            });
            widget = button;
            break;
        }
        case DialogItemKind::autoCheckBox: {
            auto* box = new QCheckBox(text, window);
            QObject::connect(box, &QCheckBox::clicked, window, [this, id] { OnCommand(id); });
            widget = box;
            break;
        }
        case DialogItemKind::editText: widget = new QLineEdit(text, window); break;
        case DialogItemKind::control:
            if (const HRESULT hr = CreateControlItem(window, item, rect); FAILED(hr)) {
                m_hrControlCreate = hr;
                return;
            }
            continue;
        }
        widget->setObjectName(QString::number(item.id));
        widget->setGeometry(ToQRect(rect));
        m_itemWindows.emplace_back(item.id, widget);
    }
}

HRESULT CDialog::CreateControlItem(QWidget* window, const DialogItemTemplate& item, const RECT& rect) {
    if (!item.control) return E_NOTIMPL;
    std::vector<SinkEntry> events;  // the rows of the event sink table that name this item
    for (const DialogEventEntry& e : GetEventSinkMap())
        if (e.id == item.id) events.push_back(e.event);
    std::unique_ptr<CControlSite> site;
    const HRESULT hr = CControlSite::Create(*item.control, window, rect, events, static_cast<CDialog*>(this), &site);
    if (FAILED(hr)) return hr;
    HWND hwnd = site->GetWindow();
    hwnd->setObjectName(QString::number(item.id));
    hwnd->setFocusPolicy((item.style & WS_TABSTOP) ? Qt::TabFocus : Qt::NoFocus);
    m_itemWindows.emplace_back(item.id, hwnd);
    m_sites.emplace_back(item.id, std::move(site));
    return S_OK;
}

void CDialog::AttachControlDispatch(int nID, CWnd& wnd) const {
    for (const auto& [id, site] : m_sites)
        if (id == static_cast<UINT>(nID)) wnd.SetControlDispatch(site->GetDispatch());
}

void CDialog::ReleaseControlSites() {
    // One at a time, out of the list first: a control may call back while it goes.
    while (!m_sites.empty()) {
        std::unique_ptr<CControlSite> site = std::move(m_sites.back().second);
        m_sites.pop_back();
    }
}

void CDialog::OnDestroy() {
    m_pFilter.reset();
    m_pLabelTexts.reset();
    m_itemWindows.clear();
    ReleaseControlSites();
    CWnd::OnDestroy();
}

BOOL CDialog::OnCommand(UINT nID) {
    for (const DialogCommandEntry& entry : GetCommandMap())
        if (entry.id == nID) {
            entry.handler(this);
            return TRUE;
        }
    return FALSE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if (!pMsg) return FALSE;
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        OnCancel();
        return TRUE;
    }
    if (pMsg->message == WM_SYSKEYDOWN && pMsg->wParam == VK_SPACE && GetSafeHwnd()) {
        const QPoint at = GetSafeHwnd()->mapToGlobal(QPoint(0, 0));
        ShowSystemMenu(POINT{at.x(), at.y()});
        return TRUE;
    }
    return FALSE;
}

void CDialog::ShowSystemMenu(POINT screenPos) {
    CMenu* menu = GetSystemMenu(FALSE);
    if (!menu || !GetSafeHwnd()) return;
    QMenu popup(GetSafeHwnd());
    for (const CMenu::Item& item : menu->GetItems()) {
        if (item.flags & MF_SEPARATOR) {
            popup.addSeparator();
            continue;
        }
        QAction* action = popup.addAction(QString::fromStdString(item.text));
        action->setData(QVariant::fromValue<qulonglong>(item.id));
        const UINT command = static_cast<UINT>(item.id) & 0xFFF0;
        if (command == SC_RESTORE) action->setEnabled(IsIconic() || IsZoomed());
        if (command == SC_MAXIMIZE) action->setEnabled(!IsZoomed());
    }
    if (QAction* chosen = popup.exec(QPoint(screenPos.x, screenPos.y)))
        OnSysCommand(static_cast<UINT>(chosen->data().toULongLong()), MAKELPARAM(screenPos.x, screenPos.y));
}

void CDialog::GetDlgItem(int nID, HWND* phWnd) const {
    if (!phWnd) return;
    *phWnd = nullptr;
    if (!GetSafeHwnd()) return;
    // The items made from the template first (looked up on every exchange), then any other child.
    for (const auto& [id, window] : m_itemWindows)
        if (id == UINT(nID) && window) {
            *phWnd = window;
            return;
        }
    *phWnd = GetSafeHwnd()->findChild<QWidget*>(QString::number(nID), Qt::FindDirectChildrenOnly);
}

void CDialog::SetItemText(HWND item, LPCTSTR lpszString) {
    if (!item) return;
    const QString text = QString::fromUtf8(lpszString ? lpszString : "");
    // Rewriting the same text would move the caret and cost a repaint: nothing changes.
    if (auto* edit = qobject_cast<QLineEdit*>(item)) {
        if (edit->text() != text) edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(item)) {
        if (m_pLabelTexts) m_pLabelTexts->Set(label, text);
        else if (label->text() != text) label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(item)) {
        if (button->text() != text) button->setText(text);
    }
}

std::string CDialog::GetDlgItemText(int nID) const {
    HWND item = nullptr;
    GetDlgItem(nID, &item);
    return GetItemText(item);
}

std::string CDialog::GetItemText(HWND item) const {
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(item)) text = edit->text();
    else if (auto* label = qobject_cast<QLabel*>(item)) {
        const QString* pending = m_pLabelTexts ? m_pLabelTexts->Find(label) : nullptr;
        text = pending ? *pending : label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(item)) text = button->text();
    return text.toStdString();
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

void CDialog::DoDataExchange(CDataExchange*) {}
BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::OnClose() { OnCancel(); }

void CDialog::OnPaint(CDC* dc, const CRect& invalid) {
    // The window paints all of itself (see cwnd.h): the dialog's face first.
    if (QPainter* painter = dc->Painter()) painter->fillRect(ToQRect(invalid), GetSafeHwnd()->palette().window());
}
