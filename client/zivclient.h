// The zivClient program: start the socket layer, allow embedded controls,
// run the main dialog.
#pragma once

#include <string>

#include "winapp.h"

class CZivClientApp : public CWinApp {
public:
    CZivClientApp();
    BOOL InitInstance() override;

    // Values the command line gives the dialog's fields (else its defaults),
    // from ParseClientArguments before the GUI starts.
    std::string m_strServer;
    int m_nPort = -1;
};

// Parses the command line once, before the GUI starts (the usage and a wrong
// option need no display): false when the program ends here, with
// app.m_nExitCode (0 after --help, 2 after a usage message on standard error).
bool ParseClientArguments(int argc, char** argv, CZivClientApp& app);
