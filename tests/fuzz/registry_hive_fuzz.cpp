// The registry's hive text as it might be found on disk, edited by hand or
// torn: parsing never crashes, whatever parses is written back to text that
// parses to the same hive and is written the same again, and every comment
// line of the input is still in the text written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hive.h"

namespace {

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool comments_kept(std::string_view input, const std::string& written) {
    for (std::size_t pos = 0; pos < input.size();) {
        const std::size_t end = std::min(input.find('\n', pos), input.size());
        const std::string_view line = trim(input.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.front() == ';' &&
            ("\n" + written).find("\n" + std::string(line) + "\n") == std::string::npos)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ziv::registry;
    constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Hive hive;
    ParseError error;
    if (!parse_hive(text, kRoot, hive, error)) return 0;
    const std::string written = write_hive(hive, kRoot);
    Hive again;
    ParseError again_error;
    if (!parse_hive(written, kRoot, again, again_error) || !(again == hive) || write_hive(again, kRoot) != written ||
        !comments_kept(text, written))
        std::abort();
    return 0;
}
