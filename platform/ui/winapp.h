// The application object: a program's one CWinApp-derived object runs its
// InitInstance inside AfxWinMain, which provides the GUI application and
// the event loop the windows need.
#pragma once

#include "winuser.h"

class CWinApp {
public:
    explicit CWinApp(LPCTSTR lpszAppName);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The program's work (typically a modal dialog). The result is ignored:
    // the program's status is m_nExitCode.
    virtual BOOL InitInstance() = 0;

    LPCTSTR m_pszAppName;
    int m_nExitCode = 0;
    // The command line without the options the GUI toolkit took (set before
    // InitInstance runs).
    int m_argc = 0;
    char** m_argv = nullptr;
};

CWinApp* AfxGetApp();

// Makes the GUI application (its command-line options are Qt's: -platform,
// -display ...), runs the application object's InitInstance and returns its
// exit code. Without a display the program cannot start: a message on
// standard error and status 1.
int AfxWinMain(int argc, char** argv);
