// Small helpers shared by the image benchmarks: timing and their command lines.
#pragma once

#include "cmdline.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace ziv::bench {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --size WxH: an image whose reply still fits a signed 32-bit total length.
inline cmdline::Option size_option(int& width, int& height) {
    return {"--size", "WxH", "image size, steps 1",
            cmdline::custom("WxH, each at least 1, fewer than 2^31 - 28 pixels",
                            [&width, &height](const std::string& s) {
                                std::int64_t w = 0, h = 0;
                                if (!cmdline::parse_size(s, w, h) || w < 1 || h < 1 || w * h >= (1LL << 31) - 28)
                                    return false;
                                width = int(w);
                                height = int(h);
                                return true;
                            }),
            true};
}

inline cmdline::Option images_option(int& images, const char* help) {
    return {"--images", "N", help, cmdline::integer(images, 1, 1000000000)};
}

// The command line both clients take:
//   --port P [--host ADDR] --size WxH [--images N]
// Without --images, about a second's worth at the loopback's speed.
struct ClientArgs {
    std::string host = "127.0.0.1";
    int port = 0, width = 0, height = 0, images = 0;
};

inline cmdline::CommandLine client_command_line(const char* program, ClientArgs& a) {
    return cmdline::CommandLine{
        .program = program,
        .options =
            {
                {"--port", "P", "TCP port of camsim", cmdline::integer(a.port, 1, 65535), true},
                {"--host", "ADDR", "its IPv4 address (default 127.0.0.1)", cmdline::text(a.host)},
                size_option(a.width, a.height),
                images_option(a.images, "images to time (default: about 3 GB of pixels)"),
            },
    };
}

// For main: parses; an exit status when the program is to end now (--help, or
// a wrong argument, reported).
inline std::optional<int> parse_client_args(const char* program, int argc, char** argv, ClientArgs& a) {
    if (const auto status = client_command_line(program, a).parse_main(argc, argv)) return status;
    if (a.images == 0) a.images = std::max(20, int(3e9 / (double(a.width) * a.height)));
    return std::nullopt;
}

}  // namespace ziv::bench
