// zivgrab, a headless container of the image control: creates the control by
// its class identifier through the registry, drives it by dispatch identifier
// only, sinks PictureReady through its connection point and runs the event
// loop that the control's socket notifications arrive through.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture.h"

namespace ziv::grab {

struct GrabOptions {
    std::string server = "127.0.0.1";
    int port = 2002;
    std::vector<std::int32_t> window{0, 0, 640, 480, 1, 1};  // x, y, dx, dy, incrx, incry
    std::string out = "grab.bmp";                            // "-": raw 8-bit frames on standard output
    OutputName out_name;                                     // `out` read as a name, maybe with a counter
    int every = 1;                                           // with a counter or "-": record every so many images
    bool reconnect = false;                                  // live: a new connection after a connection failure
    int live = 0;                                            // images to stream in live mode; 0: one single image
    int timeout_s = 10;                                      // longest wait for the next image
    bool preview = false;
    bool describe = false;
};

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,  // a failure status, or no image in time
    kExitUsage = 2,
    kExitNoControl = 3,  // the control cannot be created
    kExitNotSaved = 4,   // an image not saved or not recorded
};

// Reads the command line into `options`: nullopt when the program goes on,
// else the exit status (--help printed on stdout, or an error and the usage
// on stderr).
std::optional<int> parse_command_line(int argc, const char* const* argv, GrabOptions& options);

// Runs zivgrab as the options say; a QCoreApplication must exist.
int run(const GrabOptions& options);

}  // namespace ziv::grab
