// The zivClient program: start the socket layer, allow embedded controls,
// run the main dialog.
#pragma once

#include <string>

#include "winapp.h"

class CZivClientApp : public CWinApp {
public:
    CZivClientApp();
    BOOL InitInstance() override;

    // Values the command line gives the dialog's fields (else its defaults).
    std::string m_strServer;
    int m_nPort = -1;
};

// Parses "--server HOST --port N"; false with a message on standard error.
bool ParseClientArguments(int argc, char** argv, CZivClientApp& app);
