// zivgrab's output names as a user might type them after --out: a name is
// either refused or numbers images exactly as the C library's printf would
// format the same text with that number, so the counter can never read an
// argument that is not there.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));  // a command-line argument ends at NUL
    ziv::grab::OutputName name;
    if (!name.parse(text)) return 0;
    for (const int number : {0, 1, 7, 123456, 2147483647}) {
        char expected[4096];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
        const int n = name.has_counter() ? std::snprintf(expected, sizeof expected, text.c_str(), number)
                                         : std::snprintf(expected, sizeof expected, text.c_str());
#pragma GCC diagnostic pop
        if (n < 0 || std::size_t(n) >= sizeof expected) return 0;  // longer than the check's buffer
        if (name.name(std::uint64_t(number)) != expected) std::abort();
    }
    return 0;
}
