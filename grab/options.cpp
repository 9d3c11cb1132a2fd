// zivgrab's command line: one option table for parsing and usage.
#include <climits>

#include "cmdline.h"
#include "grab.h"

namespace ziv::grab {

std::optional<int> parse_command_line(int argc, const char* const* argv, GrabOptions& o) {
    using namespace ziv::cmdline;
    // Position and size must be there, steps at least 1: anything else asks
    // the server for an image nobody can show.
    const Value window =
        custom("x,y,dx,dy,incx,incy: x, y at least 0, the others at least 1", [&o](const std::string& s) {
            std::vector<std::int64_t> v;
            if (!parse_int_list(s, v) || v.size() != 6) return false;
            for (std::size_t i = 0; i < v.size(); ++i)
                if (v[i] < (i < 2 ? 0 : 1) || v[i] > INT32_MAX) return false;
            o.window.assign(v.begin(), v.end());
            return true;
        });
    const CommandLine command_line{
        .program = "zivgrab",
        .options =
            {
                {"--server", "HOST", "camera image server (default 127.0.0.1)", text(o.server)},
                {"--port", "N", "its TCP port (default 2002)", integer(o.port, 1, 65535)},
                {"--window", "x,y,dx,dy,incx,incy", "sensor window and steps (default 0,0,640,480,1,1)", window},
                {"--out", "FILE",
                 "where the image goes (default grab.bmp); a name ending in .png, .tif\n"
                 "or .tiff is written in that format, anything else as BMP",
                 text(o.out)},
                {"--live", "N", "stream N images in live mode, show the rate, save the last",
                 integer(o.live, 1, INT_MAX)},
                {"--timeout", "SECONDS", "longest wait for an image (default 10)", integer(o.timeout_s, 1, 86400)},
                {"--preview", "", "show the image coarsely in the terminal", flag(o.preview)},
                {"--describe", "", "print the control's type library and stop", flag(o.describe)},
            },
        .epilog =
            "The control is created by its class identifier through the registry: register it first with\n"
            "regsvr <path of the ziVControl module>. Exit status: 0 image saved, 1 exchange failed or timed out,\n"
            "2 wrong command line, 3 control not available, 4 image not saved.\n",
    };
    return command_line.parse_main(argc, argv);
}

}  // namespace ziv::grab
