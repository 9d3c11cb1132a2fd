// regsvr: registers an in-process server module (or with -u removes its
// registration) by calling the module's own DllRegisterServer or
// DllUnregisterServer, and says in words how that went.
//
// usage: regsvr [-u] [--machine] MODULE
#include <cstdio>
#include <optional>
#include <string>

#include "cmdline.h"
#include "objbase.h"
#include "winreg.h"

namespace {
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
    const ziv::cmdline::CommandLine line{
        .program = "regsvr",
        .options = {{"-u", "", "removes its registration instead", ziv::cmdline::flag(unregister)},
                    {"--machine", "",
                     "in the machine's classes, which every user sees ($ZIV_MACHINE_REGISTRY_DIR,\n"
                     "else " +
                         MachineRegistryFolder() + "), instead of the user's own",
                     ziv::cmdline::flag(machine)}},
        .synopsis = "[-u] [--machine] MODULE",
        .epilog =
            "Registers the in-process server MODULE (a relative path is taken from the working directory).\n"
            "The registry folder is $ZIV_REGISTRY_DIR, else the per-user default.\n",
        .operand =
            [&module](const std::string& arg) {
                if (arg.empty() || !module.empty()) return false;
                module = arg;
                return true;
            },
    };
    if (const std::optional<int> stop = line.parse_main(argc, argv)) return *stop;
    if (module.empty()) {
        std::fprintf(stderr, "regsvr: no module named\n%s", line.usage().c_str());
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
