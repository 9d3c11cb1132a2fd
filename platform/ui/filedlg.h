// The save-file and open-file dialog, on Qt's file dialog. Tests replace it
// with a hook that picks the file (or cancels) without showing anything.
#pragma once

#include <functional>
#include <string>

#include "cwnd.h"

constexpr DWORD OFN_READONLY = 0x1;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;
constexpr DWORD OFN_HIDEREADONLY = 0x4;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

class CFileDialog {
public:
    // lpszFilter: pairs of a label and its patterns, each ended by '|', the
    // list by a further '|': "Bitmap files(*.bmp)|*.bmp|All files(*.*)|*.*||".
    CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt = nullptr, LPCTSTR lpszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR lpszFilter = nullptr,
                CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() = default;

    // IDOK when the user chose a file, IDCANCEL otherwise.
    virtual INT_PTR DoModal();
    // The chosen file's full path (the default extension added when the name
    // has none).
    std::string GetPathName() const { return m_strPathName; }

    BOOL IsOpenDialog() const { return m_bOpenFileDialog; }
    const std::string& GetDefExt() const { return m_strDefExt; }
    const std::string& GetFilter() const { return m_strFilter; }
    DWORD GetFlags() const { return m_dwFlags; }
    CWnd* GetOwner() const { return m_pParentWnd; }
    // For hooks: the file they chose.
    void SetPathName(std::string path) { m_strPathName = std::move(path); }

    using ModalHook = std::function<INT_PTR(CFileDialog& dialog)>;
    static ModalHook SetModalHook(ModalHook hook);

private:
    BOOL m_bOpenFileDialog;
    std::string m_strDefExt;
    std::string m_strFileName;
    DWORD m_dwFlags;
    std::string m_strFilter;
    CWnd* m_pParentWnd;
    std::string m_strPathName;
};

// A '|'-separated filter in the name filters of Qt's file dialog:
// "Bitmap files (*.bmp)", "All files (*)". "*.*" means every file, with or
// without a dot in its name.
std::string QtNameFilters(const std::string& filter);
