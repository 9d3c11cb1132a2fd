// Small helpers shared by the image benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ziv::bench {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "WxH" -> width, height; false when malformed.
inline bool parse_size(const char* text, int& w, int& h) {
    char tail = 0;
    return std::sscanf(text, "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0 && std::int64_t(w) * h < (1LL << 31) - 28;
}

inline bool parse_positive(const char* text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v <= 0 || v > 1000000000) return false;
    out = int(v);
    return true;
}

// The command line both clients take:
//   --port P [--host ADDR] --size WxH [--images N]
// Without --images, about a second's worth at the loopback's speed.
struct ClientArgs {
    const char* host = "127.0.0.1";
    int port = 0, width = 0, height = 0, images = 0;
};

// False (print the usage) when an argument is missing or malformed.
inline bool parse_client_args(int argc, char** argv, ClientArgs& a) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const std::string arg = argv[i];
        bool ok = true;
        if (arg == "--host") a.host = argv[i + 1];
        else if (arg == "--port") ok = parse_positive(argv[i + 1], a.port) && a.port < 65536;
        else if (arg == "--size") ok = parse_size(argv[i + 1], a.width, a.height);
        else if (arg == "--images") ok = parse_positive(argv[i + 1], a.images);
        else ok = false;
        if (!ok) return false;
    }
    if (a.port == 0 || a.width == 0) return false;
    if (a.images == 0) a.images = std::max(20, int(3e9 / (double(a.width) * a.height)));
    return true;
}

}  // namespace ziv::bench
