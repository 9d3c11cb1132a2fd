// Command lines as a user (or a script gone wrong) might type them, through
// the option parser of camsim, zivgrab and zivClient: the input is cut at NUL
// bytes into arguments. Parsing never fails unsafely; what it accepts holds
// only values the table allows, and a refusal says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ziv::cmdline;
    std::vector<std::string> args{"prog"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += char(data[i]);
        }
    }
    args.push_back(current);

    std::string server = "none";
    int port = -1;
    std::int64_t width = 0, height = 0;
    std::vector<std::int32_t> window;
    bool verbose = false;
    const CommandLine line{
        .program = "prog",
        .options =
            {
                {"--server", "HOST", "text", text(server)},
                {"--port", "N", "an integer", integer(port, 0, 65535)},
                {"--size", "WxH", "a size", custom("WxH", [&](const std::string& s) {
                     return parse_size(s, width, height) && width > 0 && height > 0;
                 })},
                {"--window", "LIST", "six integers", int_list(window, 6, -5, 1 << 20)},
                {"-v", "", "a flag", flag(verbose)},
                heading("more"),
            },
    };
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const Parsed parsed = line.parse(int(argv.size()), argv.data());
    if (line.usage().empty()) std::abort();
    if (!parsed.ok) {
        if (parsed.error.empty()) std::abort();  // a refusal names its reason
        return 0;
    }
    if (port < -1 || port > 65535) std::abort();
    if (!window.empty() && window.size() != 6) std::abort();
    for (const std::int32_t v : window)
        if (v < -5 || v > (1 << 20)) std::abort();
    return 0;
}
