// camsim's option table.
#include "options.h"

#include "model.h"

#include <arpa/inet.h>
#include <climits>

namespace ziv::camsim {

using namespace cmdline;

CommandLine command_line(Options& out) {
    auto sensor = [&out](const std::string& s) {
        std::int64_t w = 0, h = 0;
        if (!parse_size(s, w, h) || !sensor_size_fits(w, h)) return false;
        out.sensor_width = int(w);
        out.sensor_height = int(h);
        return true;
    };
    auto address = [&out](const std::string& s) {
        in_addr a{};
        if (::inet_pton(AF_INET, s.c_str(), &a) != 1) return false;
        out.bind_address = s;
        return true;
    };
    return CommandLine{
        .program = "camsim",
        .options =
            {
                {"--bind", "ADDRESS", "listen on this IPv4 address (default 127.0.0.1)",
                 custom("a dotted IPv4 address", address)},
                {"--port", "N", "TCP port (default 2002; 0: chosen by the system)", integer(out.port, 0, 65535)},
                {"--sensor", "WxH", "sensor size (default 1280x1024)",
                 custom("WxH, each 1.." + std::to_string(kMaxSensorSide) + ", at most 2^30 pixels", sensor)},
                {"--image", "FILE",
                 "serve this picture (any format Qt reads, as 8-bit grey)\n"
                 "instead of the animated test pattern; the sensor takes its size",
                 text(out.image_file)},
                {"-v", "", "print one line per request", flag(out.verbose)},
                heading("faults, for testing clients:"),
                {"--chunk", "N", "write replies in pieces of N bytes, waiting for each to arrive",
                 integer(out.chunk, 1, INT32_MAX)},
                {"--close-after", "N",
                 "close a connection once N reply bytes went out on it\n"
                 "(counted over all its replies; 0: answer nothing)",
                 integer(out.close_after, 0, INT64_MAX)},
                {"--wrong-length", "D", "announce a total length D bytes off the real one",
                 integer(out.wrong_length, INT32_MIN, INT32_MAX)},
                {"--delay", "MS", "wait MS milliseconds before each reply", integer(out.delay_ms, 0, 3600000)},
                {"--max-requests", "N", "close a connection after serving N requests",
                 integer(out.max_requests, 1, INT64_MAX)},
            },
        .synopsis = "[options]",
        .epilog = "The first line printed is \"listening on ADDRESS:PORT\".\n",
    };
}

bool parse_arguments(int argc, const char* const* argv, Options& out, std::string& error, bool& help) {
    const Parsed parsed = command_line(out).parse(argc, argv);
    error = parsed.error;
    help = parsed.help;
    return parsed.ok;
}

std::string usage_text() {
    Options ignored;
    return command_line(ignored).usage();
}

}  // namespace ziv::camsim
