// Dialog data exchange on the dialog's item widgets.
#include "ddx.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QWidget>

#include <cctype>
#include <charconv>
#include <climits>

namespace {
// Thrown by Fail, caught by UpdateData: the exchange stops where it failed.
struct ExchangeFailed {};

HWND ItemOrNull(CDialog* dialog, int nIDC) {
    HWND item = nullptr;
    if (dialog) dialog->GetDlgItem(nIDC, &item);
    return item;
}
}  // namespace

HWND CDataExchange::PrepareCtrl(int nIDC) {
    m_hWndLastControl = ItemOrNull(m_pDlgWnd, nIDC);
    return m_hWndLastControl;
}

void CDataExchange::Fail() {
    if (m_hWndLastControl) {
        m_hWndLastControl->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(m_hWndLastControl)) edit->selectAll();
    }
    throw ExchangeFailed{};
}

bool ParseDialogInteger(const std::string& text, int* value) {
    std::size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == n) return false;
    long long magnitude = 0;
    for (; i < n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    }
    const long long result = negative ? -magnitude : magnitude;
    if (result > INT_MAX) return false;
    if (value) *value = static_cast<int>(result);
    return true;
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
    HWND item = pDX->PrepareEditCtrl(nIDC);
    if (!item) return;
    if (pDX->m_bSaveAndValidate) value = pDX->m_pDlgWnd->GetItemText(item);
    else pDX->m_pDlgWnd->SetItemText(item, value.c_str());
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    HWND item = pDX->PrepareEditCtrl(nIDC);
    if (!item) return;
    if (!pDX->m_bSaveAndValidate) {
        // Written after every event of a live stream: to_chars, not printf's machinery.
        char text[16];
        *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
        pDX->m_pDlgWnd->SetItemText(item, text);
        return;
    }
    int parsed = 0;
    if (!ParseDialogInteger(pDX->m_pDlgWnd->GetItemText(item), &parsed)) {
        AfxMessageBox("Please enter an integer.", MB_OK | MB_ICONWARNING);
        pDX->Fail();
    }
    value = parsed;
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value) {
    auto* box = qobject_cast<QAbstractButton*>(pDX->PrepareCtrl(nIDC));
    if (!box) return;
    if (pDX->m_bSaveAndValidate) value = box->isChecked() ? 1 : 0;
    else if (box->isChecked() != (value != 0)) box->setChecked(value != 0);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.GetSafeHwnd()) return;
    HWND item = pDX->PrepareCtrl(nIDC);
    if (!item) return;
    rControl.Attach(item);
    pDX->m_pDlgWnd->AttachControlDispatch(nIDC, rControl);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const ExchangeFailed&) {
        return FALSE;
    }
    return TRUE;
}
