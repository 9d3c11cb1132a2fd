// The program's start: sockets, control containment, the main dialog.
#include "zivclient.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "casyncsocket.h"
#include "cmdline.h"
#include "controlmissing.h"
#include "dialog.h"
#include "objbase.h"
#include "zivclientdlg.h"
#include "zivclientres.h"

namespace {
ziv::cmdline::CommandLine ClientCommandLine(std::string& server, int& port) {
    using namespace ziv::cmdline;
    // Read here so that they are not unknown options; the GUI toolkit takes them from the command line itself.
    static std::string toolkitOption;
    return CommandLine{
        .program = "zivClient",
        .options =
            {
                {"--server", "HOST", "the image server's address for the Server IP field (default: empty)",
                 text(server)},
                {"--port", "N", "its TCP port for the Server Port field (default 2002)", integer(port, 0, 65535)},
                {"-platform", "NAME", "the GUI toolkit's window platform (offscreen: no display needed)",
                 text(toolkitOption)},
                {"-display", "NAME", "the X display to show the window on (default: $DISPLAY)", text(toolkitOption)},
            },
        .epilog =
            "The image control is created by its class identifier through the registry: register it first\n"
            "with regsvr <path of the ziVControl module>. Right-click the dialog (or press Alt+Space) for its\n"
            "system menu, with the About box.\n",
    };
}

// What the user is told when the dialog cannot be made because of the control.
std::string ControlMissingText(HRESULT hr) {
    std::string text = "The image control cannot be created, so zivClient cannot start.\n";
    for (std::string line : ControlNotCreatedLines(hr)) {
        line.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(line.front())));
        text += "\n" + line;
    }
    return text;
}
}  // namespace

CZivClientApp::CZivClientApp() : CWinApp("zivClient") {}

bool ParseClientArguments(int argc, char** argv, CZivClientApp& app) {
    std::string server;
    int port = -1;
    const ziv::cmdline::CommandLine line = ClientCommandLine(server, port);
    const std::optional<int> stop = line.parse_main(argc, argv);
    if (stop) {
        app.m_nExitCode = *stop;
        return false;
    }
    app.m_strServer = server;
    app.m_nPort = port;
    return true;
}

BOOL CZivClientApp::InitInstance() {
    if (!AfxSocketInit()) {
        AfxMessageBox(LoadClientString(IDP_SOCKETS_INIT_FAILED));
        m_nExitCode = 1;
        return FALSE;
    }
    AfxEnableControlContainer();
    AfxSetIconResources(kClientIcons);

    CZivClientDlg dlg;
    dlg.m_strServerIP = m_strServer;
    if (m_nPort >= 0) dlg.m_nServerPort = m_nPort;
    if (dlg.DoModal() == -1 && FAILED(dlg.GetControlCreateError())) {
        AfxMessageBox(ControlMissingText(dlg.GetControlCreateError()).c_str(), MB_OK | MB_ICONERROR);
        m_nExitCode = 3;
    }
    return FALSE;
}
