// zivClient: the desktop client of the camera's image server.
#include "zivclient.h"

int main(int argc, char** argv) {
    CZivClientApp app;
    return AfxWinMain(argc, argv);
}
