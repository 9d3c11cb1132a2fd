// zivClient: the desktop client of the camera's image server.
#include "zivclient.h"

int main(int argc, char** argv) {
    CZivClientApp app;
    if (!ParseClientArguments(argc, argv, app)) return app.m_nExitCode;
    return AfxWinMain(argc, argv);
}
