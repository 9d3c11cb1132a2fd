// Dialog data exchange: DoDataExchange lists, in order, which member goes
// with which item; UpdateData runs it in one direction.
//
//   void CMyDlg::DoDataExchange(CDataExchange* pDX) {
//       DDX_Control(pDX, IDC_SAVE, m_btnSave);
//       DDX_Text(pDX, IDC_PORT, m_nPort);
//       DDX_Check(pDX, IDC_LIVE, m_bLive);
//   }
//
// Reading an integer field that does not hold one shows "Please enter an
// integer.", puts the focus on that field and ends the exchange there: the
// members exchanged before it have their new values, it and those after it
// keep theirs.
#pragma once

#include <string>

#include "dialog.h"

class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    // The item's window, remembered as the one a failure is about; null
    // when the dialog has no such item.
    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC) { return PrepareCtrl(nIDC); }
    // Ends the exchange as failed: the focus goes to the last prepared item.
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;  // TRUE: items -> members
    CDialog* m_pDlgWnd;

private:
    HWND m_hWndLastControl = nullptr;
};

// Text of an edit field, label or button.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);
// A decimal integer with an optional sign; blanks around it are allowed.
// A number beyond the 32-bit range does not convert either.
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
// The state of a check box: 0 clear, 1 checked.
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// Makes `rControl` the window of item nIDC (once); an embedded control's
// window also gets the control's automation (CWnd::InvokeHelper).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// The integer a field's text holds, or false (the exchange's rule, alone).
bool ParseDialogInteger(const std::string& text, int* value);
