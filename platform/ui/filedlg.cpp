// CFileDialog on QFileDialog.
#include "filedlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <utility>
#include <vector>

namespace {
CFileDialog::ModalHook& Hook() {
    static CFileDialog::ModalHook hook;
    return hook;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}
}  // namespace

std::string QtNameFilters(const std::string& filter) {
    const std::vector<std::string> parts = Split(filter, '|');
    std::string out;
    for (std::size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
        std::string label = parts[i];
        // The label usually shows its patterns already, in parentheses: Qt reads
        // the patterns from there, so they are given once, as Qt wants them.
        if (const std::size_t open = label.rfind('('); open != std::string::npos && label.back() == ')')
            label.erase(open);
        std::string patterns;
        for (const std::string& p : Split(parts[i + 1], ';')) {
            const std::string pattern = Trimmed(p) == "*.*" ? "*" : Trimmed(p);
            if (pattern.empty()) continue;
            patterns += (patterns.empty() ? "" : " ") + pattern;
        }
        if (!out.empty()) out += ";;";
        out += Trimmed(label) + " (" + patterns + ")";
    }
    return out;
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt, LPCTSTR lpszFileName, DWORD dwFlags,
                         LPCTSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog), m_strDefExt(lpszDefExt ? lpszDefExt : ""),
      m_strFileName(lpszFileName ? lpszFileName : ""), m_dwFlags(dwFlags), m_strFilter(lpszFilter ? lpszFilter : ""),
      m_pParentWnd(pParentWnd) {}

CFileDialog::ModalHook CFileDialog::SetModalHook(ModalHook hook) { return std::exchange(Hook(), std::move(hook)); }

INT_PTR CFileDialog::DoModal() {
    if (const ModalHook hook = Hook()) return hook(*this);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return IDCANCEL;
    QFileDialog dialog(m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr);
    dialog.setAcceptMode(m_bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(m_bOpenFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!(m_dwFlags & OFN_OVERWRITEPROMPT)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!m_strDefExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(m_strDefExt));
    if (!m_strFilter.empty()) dialog.setNameFilters(QString::fromStdString(QtNameFilters(m_strFilter)).split(";;"));
    if (!m_strFileName.empty()) dialog.selectFile(QString::fromStdString(m_strFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return IDCANCEL;
    m_strPathName = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdString();
    return IDOK;
}
