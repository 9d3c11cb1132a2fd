// camsim's command line: its options, their defaults, and the one table that
// gives both their parsing and the usage text.
#pragma once

#include "cmdline.h"

#include <cstdint>
#include <string>

namespace ziv::camsim {

struct Options {
    std::string bind_address = "127.0.0.1";
    int port = 2002;  // 0: chosen by the system (see Server::port)
    int sensor_width = 1280;
    int sensor_height = 1024;
    std::string image_file;  // empty: the animated test pattern
    bool verbose = false;    // one line per request on the log stream
    // Faults, for testing clients.
    std::int64_t chunk = 0;         // > 0: write replies in pieces of this many bytes
    std::int64_t close_after = -1;  // >= 0: close a connection once this many reply bytes went out on it
    std::int64_t wrong_length = 0;  // added to the total length announced in the header
    int delay_ms = 0;               // wait before each reply
    std::int64_t max_requests = 0;  // > 0: close a connection after serving this many requests
};

// The command line, storing into `out` (which must outlive it).
cmdline::CommandLine command_line(Options& out);

// Parses the command line (argv[0] is the program). Returns false with a
// message in `error` when an argument is wrong; `help` is set for --help.
bool parse_arguments(int argc, const char* const* argv, Options& out, std::string& error, bool& help);
std::string usage_text();

}  // namespace ziv::camsim
