// regsvr: registers an in-process server module (or with -u removes its
// registration) by calling the module's own DllRegisterServer or
// DllUnregisterServer, and says in words how that went.
//
// usage: regsvr [-u] [--machine] MODULE
#include <cstdio>
#include <filesystem>
#include <string>

#include "cmdline.h"
#include "objbase.h"
#include "winreg.h"

namespace {
constexpr const char* kUsage =
    "usage: regsvr [-u] [--machine] MODULE\n"
    "  registers the in-process server MODULE (a relative path is taken from the working directory)\n"
    "  -u          removes its registration instead\n"
    "  --machine   in the machine's classes, which every user sees ($ZIV_MACHINE_REGISTRY_DIR, else\n"
    "              /var/lib/ziv/registry), instead of the user's own\n"
    "  --version   prints the version and stops\n"
    "The user's registry folder is $ZIV_REGISTRY_DIR, else the per-user default.\n";

// The module's own failures in the words of this direction; the result
// codes' general texts also stand for unrelated connection errors.
std::string FailureText(HRESULT hr, bool unregister) {
    if (hr == SELFREG_E_TYPELIB)
        return unregister ? "the module's type library is not registered: nothing to remove"
                          : "the module could not register its type library";
    if (hr == SELFREG_E_CLASS)
        return unregister ? "the module could not remove its classes" : "the module could not register its classes";
    return HResultText(hr);
}
}  // namespace

int main(int argc, char** argv) {
    bool unregister = false, machine = false;
    std::string module;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {  // under the name it was installed as
            std::printf("%s %s\n", std::filesystem::path(argv[0]).filename().c_str(), ziv::cmdline::version());
            return 0;
        }
        if (arg == "-u" && !unregister) {
            unregister = true;
        } else if (arg == "--machine" && !machine) {
            machine = true;
        } else if (!arg.empty() && arg[0] != '-' && module.empty()) {
            module = arg;
        } else {
            std::fprintf(stderr, "regsvr: unexpected argument %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (module.empty()) {
        std::fprintf(stderr, "regsvr: no module named\n%s", kUsage);
        return 2;
    }

    RegUseMachineClasses(machine);
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    std::string error, path;
    const HRESULT hr = CallModuleRegistration(module, !unregister, &error, &path);
    if (SUCCEEDED(hr)) {
        std::printf("%s in %s succeeded.\nregistry folder: %s\n", entry, path.c_str(),
                    (machine ? MachineRegistryFolder() : RegistryFolder()).c_str());
        return 0;
    }
    std::fprintf(stderr, "%s in %s failed: %s (0x%08X)\n", entry, path.c_str(),
                 error.empty() ? FailureText(hr, unregister).c_str() : error.c_str(), static_cast<unsigned>(hr));
    return 1;
}
