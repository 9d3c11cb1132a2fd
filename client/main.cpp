// zivClient: the desktop client of the camera's image server.
#include <string_view>

#include "zivclient.h"

int main(int argc, char** argv) {
    CZivClientApp app;
    // The usage needs no display.
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            ParseClientArguments(argc, argv, app);
            return app.m_nExitCode;
        }
    return AfxWinMain(argc, argv);
}
