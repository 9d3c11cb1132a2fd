// zivClient: the desktop client of the camera's image server.
#include <string_view>

#include "zivclient.h"

int main(int argc, char** argv) {
    CZivClientApp app;
    // The usage, the version and the build's man page and completion texts need no display.
    for (int i = 1; i < argc; ++i)
        if (const std::string_view arg = argv[i]; arg == "-h" || arg == "--version" || arg.starts_with("--help")) {
            ParseClientArguments(argc, argv, app);
            return app.m_nExitCode;
        }
    return AfxWinMain(argc, argv);
}
