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

}  // namespace ziv::bench
