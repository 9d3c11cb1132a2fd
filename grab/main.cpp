// zivgrab: fetches an image (or a live stream) from a camera image server
// through the image control, created by its class identifier. The work is in
// the grab library.
#include <QCoreApplication>

#include "grab.h"

int main(int argc, char** argv) {
    ziv::grab::GrabOptions options;
    if (const auto status = ziv::grab::parse_command_line(argc, argv, options)) return *status;
    QCoreApplication app(argc, argv);
    return ziv::grab::run(options);
}
