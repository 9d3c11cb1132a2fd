// Helpers shared by the S-record tool tests.
#pragma once

#include "workdir.h"

#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <sys/wait.h>

namespace srectest {

// Lines joined with CR LF after each, as the tools write them.
inline std::string crlf(std::initializer_list<std::string_view> lines) {
    std::string s;
    for (auto l : lines) {
        s += l;
        s += "\r\n";
    }
    return s;
}

struct Shell {
    int status = -1;
    std::string out;  // standard output and error together
};

// Runs a shell command in the folder.
inline Shell shell(const ziv::test::WorkDir& dir, const std::string& command) {
    Shell r;
    std::string full = "cd '" + dir.path() + "' && " + command + " 2>&1";
    FILE* p = ::popen(full.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// The byte stream of a download file: the hex pairs of its complete lines.
// Written for well-formed test files (hex digits, CR LF or LF line ends).
inline std::string download_stream(const std::string& text) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string bytes;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::size_t end = nl;
        if (end > start && text[end - 1] == '\r') --end;
        for (std::size_t i = start; i + 1 < end; i += 2)
            bytes += static_cast<char>(digit(text[i]) << 4 | digit(text[i + 1]));
    }
    return bytes;
}

inline std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

}  // namespace srectest
