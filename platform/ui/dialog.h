// Dialogs built from templates held as data: a template gives the dialog's
// style, caption, size and font and its items (id, kind, text, rectangle in
// dialog units, styles), like a dialog resource. Dialog units are converted
// to pixels with the template font's base units (a horizontal unit is a
// quarter of the average character width, a vertical unit an eighth of the
// character height).
//
// DoModal shows the dialog and returns when it ends. Tests never see a modal
// dialog: a modal hook, when set, receives the dialog instead and answers for it.
//
// A dialog class binds its items to code with tables, as data:
//  - a command table (GetCommandMap): a click on button or check box `id`
//    runs a member function;
//  - an event sink table (GetEventSinkMap): event `dispid` of the embedded
//    control `id` runs a member function with the event's parameters;
//  - DoDataExchange (ddx.h) moves values between members and items, both
//    ways, when UpdateData asks.
// Every key press and mouse button press meant for the dialog or one of its
// items passes PreTranslateMessage first; a TRUE answer swallows it.
//
// Labels take a new text at the screen's pace (framepacer.h, our speed policy,
// not Windows'): reading a label gives its newest text at once.
//
// An item may be an embedded control (controlsite.h), created by class
// identifier and given its initial saved state from the template. That needs
// AfxEnableControlContainer first; a control that cannot be created makes the
// whole dialog fail (DoModal returns -1, GetControlCreateError says why).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "controlsite.h"
#include "cwnd.h"
#include "dispmap.h"
#include "winuser.h"

constexpr UINT IDC_STATIC = 0xFFFF;

// Dialog and item styles beyond the window styles of cwnd.h.
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD SS_NOPREFIX = 0x80;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD ES_AUTOHSCROLL = 0x80;
constexpr DWORD WS_BORDER = 0x00800000;

// The kind of an item, as a resource script names it.
enum class DialogItemKind : BYTE { ltext, icon, pushButton, defPushButton, editText, autoCheckBox, control };

struct DialogItemTemplate {
    UINT id;
    DialogItemKind kind;
    const char* text;  // label or initial text; for an icon, the icon's resource number
    short x, y, cx, cy;
    DWORD style = 0;                             // beyond what the kind implies
    const DialogControlData* control = nullptr;  // for DialogItemKind::control
};

struct DialogTemplate {
    UINT id;
    DWORD style;          // WS_POPUP: a dialog of its own; WS_CHILD: a page inside another window
    const char* caption;  // null: none
    short x, y, cx, cy;
    const char* fontName;
    WORD fontSize;  // points
    std::span<const DialogItemTemplate> items = {};
    DWORD exStyle = 0;
};

class CDialog;
class CDataExchange;

// A row of a dialog's command table: a click on item `id` runs the handler.
struct DialogCommandEntry {
    UINT id;
    void (*handler)(CDialog* dialog);
};
// A row of a dialog's event sink table: event `event.dispid` of control item
// `id`. The event sink of the item takes the row as it is, the dialog (a
// CDialog*) for its object.
struct DialogEventEntry {
    UINT id;
    SinkEntry event;
};

// Rows of those tables from member functions, written inside the dialog's
// class (where its handlers are accessible):
//   DialogCommand<&CMyDlg::OnGetImage>(IDC_GETIMAGE)
//   DialogEvent<&CMyDlg::OnPictureReady, VT_I4>(IDC_ZIVCONTROL, 1)
template <auto Handler>
constexpr DialogCommandEntry DialogCommand(UINT id) {
    using Class = typename dispatch_detail::MemberTraits<decltype(Handler)>::Class;
    return {id, [](CDialog* dialog) { (static_cast<Class*>(dialog)->*Handler)(); }};
}
template <auto Handler, VARTYPE... Params>
constexpr DialogEventEntry DialogEvent(UINT id, DISPID dispid) {
    using Traits = dispatch_detail::MemberTraits<decltype(Handler)>;
    return {id, {dispid, MakeVarTypeList<Params...>(), [](void* dialog, VARIANT* args) {
                     auto* self = static_cast<typename Traits::Class*>(static_cast<CDialog*>(dialog));
                     dispatch_detail::CallConvertedLastFirst<typename Traits::Args, Params...>(
                         [self](auto&&... a) { (self->*Handler)(std::forward<decltype(a)>(a)...); }, args);
                 }}};
}

// The average character width and the height of a dialog's font, in pixels.
struct DialogBaseUnits {
    int cx;
    int cy;
};
// Without a GUI application there are no fonts to measure: the base units of
// the usual 8-point dialog font are taken then.
constexpr DialogBaseUnits kDefaultDialogBaseUnits{6, 13};
DialogBaseUnits GetDialogBaseUnits(const DialogTemplate& tmpl);
// Dialog units to pixels, rounded to nearest.
RECT DialogUnitsToPixels(const RECT& rc, DialogBaseUnits base);

class CDialog : public CWnd {
public:
    explicit CDialog(const DialogTemplate& tmpl, QWidget* pParentWnd = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Shows the dialog modally; returns the code it ended with (IDOK,
    // IDCANCEL, EndDialog's argument), or -1 when it cannot be shown (no GUI
    // application). With a modal hook set, returns what the hook answers.
    virtual INT_PTR DoModal();
    // Creates the dialog's window without waiting (a page inside another
    // window, or a modeless dialog). FALSE if it exists already.
    BOOL Create(QWidget* pParentWnd);
    void EndDialog(int nResult);

    const DialogTemplate& GetTemplate() const { return m_template; }
    const std::string& GetCaption() const { return m_strCaption; }
    // The item's window once the dialog's window exists, else null.
    void GetDlgItem(int nID, HWND* phWnd) const;
    // Dialog units of this dialog's font to pixels.
    void MapDialogRect(LPRECT lpRect) const;

    using ModalHook = std::function<INT_PTR(CDialog& dialog)>;
    // Replaces the hook (an empty one: dialogs show again); returns the old one.
    static ModalHook SetModalHook(ModalHook hook);

    // TRUE moves the items' values into the members (a value that does not
    // convert stops the exchange there and gives FALSE), FALSE the members'
    // values into the items.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    // The texts of items (an edit field, a label, a button). A label shows a
    // new text at the screen's pace; reading it gives the new text at once.
    std::string GetDlgItemText(int nID) const;
    // The same for an item's window at hand (data exchange).
    void SetItemText(HWND item, LPCTSTR lpszString);
    std::string GetItemText(HWND item) const;
    // Why the last creation of the dialog's window failed at an embedded
    // control: the creation's result (S_OK when none failed).
    HRESULT GetControlCreateError() const { return m_hrControlCreate; }
    // The item a mouse press or key press is meant for passes here first
    // (see winuser.h); TRUE swallows it. The default: Escape cancels the
    // dialog and Alt+Space opens its system menu.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // Shows the system menu at the screen position; a choice calls OnSysCommand.
    void ShowSystemMenu(POINT screenPos);
    // Gives `wnd` the automation of embedded control item nID (DDX_Control).
    void AttachControlDispatch(int nID, CWnd& wnd) const;
    // A click on an item (buttons other than OK and Cancel, check boxes):
    // looks the item up in the command table. TRUE when a handler ran.
    BOOL OnCommand(UINT nID);

protected:
    // The members each item is exchanged with, in the order of exchange.
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual std::span<const DialogCommandEntry> GetCommandMap() const { return {}; }
    virtual std::span<const DialogEventEntry> GetEventSinkMap() const { return {}; }
    // The items exist; the default writes the members into them. TRUE puts
    // the focus on the first item the Tab key reaches.
    virtual BOOL OnInitDialog();
    void OnDestroy() override;  // a derived dialog calls it last
    virtual void OnOK();        // the OK button: EndDialog(IDOK)
    virtual void OnCancel();    // Cancel, or the close button: EndDialog(IDCANCEL)
    void OnClose() override;
    void OnPaint(CDC* dc, const CRect& invalid) override;
    // Makes the items of the template inside the dialog's window; a derived
    // dialog may add its own and size the window to them.
    virtual void CreateItems(QWidget* window);
    void SetCaption(std::string caption) { m_strCaption = std::move(caption); }

private:
    class MessageFilter;
    class LabelTexts;
    BOOL CreateDialogWindow(QWidget* parent, DWORD style);
    HRESULT CreateControlItem(QWidget* window, const DialogItemTemplate& item, const RECT& rect);
    void ReleaseControlSites();

    std::vector<std::pair<UINT, std::unique_ptr<CControlSite>>> m_sites;  // by item id
    std::vector<std::pair<UINT, QWidget*>> m_itemWindows;  // the template's items, by id (children of the window)
    std::unique_ptr<MessageFilter> m_pFilter;
    std::unique_ptr<LabelTexts> m_pLabelTexts;
    HRESULT m_hrControlCreate = S_OK;
    DialogTemplate m_template;
    std::string m_strCaption;
    QWidget* m_pParentWnd;
    int m_nModalResult = -1;
    bool m_bEnded = false;
    class ModalLoop;
    ModalLoop* m_pLoop = nullptr;  // while DoModal runs
};
