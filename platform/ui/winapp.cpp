// CWinApp and the program's start on a QApplication.
#include "winapp.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {
CWinApp* g_app = nullptr;

// Qt ends the process when no platform can be had; this looks first.
bool CanShowWindows(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "-platform") return true;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}
}  // namespace

CWinApp::CWinApp(LPCTSTR lpszAppName) : m_pszAppName(lpszAppName) {
    g_app = this;
    AfxSetAppName(lpszAppName);
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

int AfxWinMain(int argc, char** argv) {
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    if (!CanShowWindows(argc, argv)) {
        std::fprintf(stderr,
                     "%s: no display to show windows on (DISPLAY and WAYLAND_DISPLAY are not set; "
                     "QT_QPA_PLATFORM=offscreen runs without one)\n",
                     app->m_pszAppName);
        return 1;
    }
    QApplication qapp(argc, argv);
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(app->m_pszAppName));
    app->m_argc = argc;  // QApplication took its own options out
    app->m_argv = argv;
    app->InitInstance();
    return app->m_nExitCode;
}
