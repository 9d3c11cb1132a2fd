// The registry's hive text as it might be found on disk, edited by hand or
// torn: parsing never crashes, and whatever parses is written back to text
// that parses to the same hive and is written the same again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hive.h"

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
    if (!parse_hive(written, kRoot, again, again_error) || !(again == hive) || write_hive(again, kRoot) != written)
        std::abort();
    return 0;
}
