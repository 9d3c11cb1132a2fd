// The check of a module file before it is loaded, on any bytes: it never reads
// outside the file, a file it accepts stays accepted with bytes appended, and
// the file on disk gets the verdict its bytes get in memory.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "modulefile.h"

namespace {
ModuleFileFault CheckBytes(const std::uint8_t* data, std::uint64_t size) {
    return CheckModuleImage(size, [&](std::uint64_t offset, void* buffer, std::size_t n) {
        if (offset > size || n > size - offset)
            ziv::fuzz::fail("module_file_fuzz", "read past the end: " + std::to_string(offset) + "+" +
                                                    std::to_string(n) + " of " + std::to_string(size));
        std::memcpy(buffer, data + offset, n);
        return true;
    });
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool entered = (ziv::fuzz::enter_scratch_dir(), true);
    (void)entered;
    const ModuleFileFault fault = CheckBytes(data, size);

    if (fault == ModuleFileFault::none) {
        std::string longer(reinterpret_cast<const char*>(data), size);
        longer.append(4096, '\0');
        if (CheckBytes(reinterpret_cast<const std::uint8_t*>(longer.data()), longer.size()) != ModuleFileFault::none)
            ziv::fuzz::fail("module_file_fuzz", "an accepted module is refused with bytes appended");
    }

    ziv::fuzz::write_file("module.so", std::string_view(reinterpret_cast<const char*>(data), size));
    std::string error;
    const HRESULT hr = CheckModuleFile("module.so", &error);
    if ((hr == S_OK) != (fault == ModuleFileFault::none) || (hr == S_OK) != error.empty())
        ziv::fuzz::fail("module_file_fuzz", "the file's verdict differs from the bytes': " + error);
    static constexpr const char* kMessages[] = {
        "",
        "module is no shared library: ", "module is built for another machine: ", "module is damaged or incomplete: "};
    if (error.rfind(kMessages[static_cast<int>(fault)], 0) != 0)
        ziv::fuzz::fail("module_file_fuzz", "the message does not name the fault: " + error);
    return 0;
}
