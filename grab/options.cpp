// zivgrab's command line: one option table for parsing and usage.
#include <climits>
#include <cstdio>

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
    // A name is parsed here once, so that a stream never meets a bad pattern.
    o.out_name.parse(o.out);
    const Value out =
        custom("a file name; %d or %0Nd numbers the images, %% is a literal %", [&o](const std::string& s) {
            OutputName name;
            if (s != "-" && !name.parse(s)) return false;
            o.out = s;
            o.out_name = name;
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
                 "or .tiff is written in that format, anything else as BMP; with a\n"
                 "counter (img-%06d.png) every image is saved, numbered from 1;\n"
                 "- writes the raw 8-bit rows of every image to standard output",
                 out},
                {"--live", "N",
                 "stream N images in live mode, show the rate, save the last (or\n"
                 "each, see --out)",
                 integer(o.live, 1, INT_MAX)},
                {"--every", "K", "with a counter or -: only every K-th image", integer(o.every, 1, INT_MAX)},
                {"--reconnect", "", "live: connect again after a connection failure", flag(o.reconnect)},
                {"--timeout", "SECONDS", "longest wait for an image (default 10)", integer(o.timeout_s, 1, 86400)},
                {"--preview", "", "show the image coarsely in the terminal", flag(o.preview)},
                {"--describe", "", "print the control's type library and stop", flag(o.describe)},
            },
        .epilog =
            "The control is created by its class identifier through the registry: register it first with\n"
            "regsvr <path of the ziVControl module>. Exit status: 0 image saved, 1 exchange failed or timed out,\n"
            "2 wrong command line, 3 control not available, 4 image not saved or recorded.\n",
    };
    if (const auto status = command_line.parse_main(argc, argv)) return status;
    const char* conflict = o.every > 1 && o.out != "-" && !o.out_name.has_counter()
                               ? "--every needs --out with a counter (%d) or -"
                           : o.reconnect && !o.live ? "--reconnect needs --live"
                                                    : nullptr;
    if (!conflict) return std::nullopt;
    std::fprintf(stderr, "zivgrab: %s\n%s", conflict, command_line.usage().c_str());
    return kExitUsage;
}

}  // namespace ziv::grab
