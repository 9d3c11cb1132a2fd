// zivgrab: fetches an image (or a live stream) from a camera image server
// through the image control, created by its class identifier. The work is in
// the grab library.
#include <QCoreApplication>

#include <csignal>

#include "grab.h"

int main(int argc, char** argv) {
    ziv::grab::GrabOptions options;
    if (const auto status = ziv::grab::parse_command_line(argc, argv, options)) return *status;
    // A reader that has gone or a file size limit must end the run with a
    // message and status 4, as every failed write does, not with a signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    return ziv::grab::run(options);
}
