// Dialogs built from templates held as data: a template gives the dialog's
// style, caption, size and font and its items (id, kind, text, rectangle in
// dialog units, styles), like a dialog resource. Dialog units are converted
// to pixels with the template font's base units (a horizontal unit is a
// quarter of the average character width, a vertical unit an eighth of the
// character height).
//
// DoModal shows the dialog and returns when it ends. Tests never see a modal
// dialog: a modal hook, when set, receives the dialog instead and answers for it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "cwnd.h"

using INT_PTR = std::intptr_t;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr UINT IDC_STATIC = 0xFFFF;

// Dialog and item styles beyond the window styles of cwnd.h.
enum : DWORD {
    DS_SETFONT = 0x40,
    DS_MODALFRAME = 0x80,
    SS_NOPREFIX = 0x80,
    BS_DEFPUSHBUTTON = 0x1,
    ES_AUTOHSCROLL = 0x80,
};

// The kind of an item, as a resource script names it.
enum class DialogItemKind : BYTE { ltext, icon, pushButton, defPushButton, editText };

struct DialogItemTemplate {
    UINT id;
    DialogItemKind kind;
    const char* text;  // label or initial text; for an icon, the icon's resource number
    short x, y, cx, cy;
    DWORD style = 0;  // beyond what the kind implies
};

struct DialogTemplate {
    UINT id;
    DWORD style;          // WS_POPUP: a dialog of its own; WS_CHILD: a page inside another window
    const char* caption;  // null: none
    short x, y, cx, cy;
    const char* fontName;
    WORD fontSize;  // points
    std::span<const DialogItemTemplate> items = {};
};

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

protected:
    virtual BOOL OnInitDialog();  // the items exist
    virtual void OnOK();          // the OK button: EndDialog(IDOK)
    virtual void OnCancel();      // Cancel, or the close button: EndDialog(IDCANCEL)
    void OnClose() override;
    void OnPaint(CDC* dc, const CRect& invalid) override;
    // Makes the items of the template inside the dialog's window; a derived
    // dialog may add its own and size the window to them.
    virtual void CreateItems(QWidget* window);
    void SetCaption(std::string caption) { m_strCaption = std::move(caption); }
    QWidget* GetParentWidget() const { return m_pParentWnd; }

private:
    BOOL CreateDialogWindow(QWidget* parent, DWORD style);

    DialogTemplate m_template;
    std::string m_strCaption;
    QWidget* m_pParentWnd;
    int m_nModalResult = -1;
    bool m_bEnded = false;
    class ModalLoop;
    ModalLoop* m_pLoop = nullptr;  // while DoModal runs
};
