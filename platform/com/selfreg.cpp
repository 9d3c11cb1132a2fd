// Calling a module's own registration entry points.
#include "modulefile.h"
#include "objbase.h"
#include "winreg.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {
using LPFNREGISTRATION = HRESULT (*)();

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}
}  // namespace

HRESULT CallModuleRegistration(const std::string& path, bool bRegister, std::string* error, std::string* modulePath) {
    std::string ignored;
    if (!error) error = &ignored;
    error->clear();
    if (path.empty()) {
        *error = "no module named";
        return E_INVALIDARG;
    }
    const std::string absolute = AbsolutePath(path);
    if (modulePath) *modulePath = absolute;
    const char* entryName = bRegister ? "DllRegisterServer" : "DllUnregisterServer";

    struct stat info {};
    if (stat(absolute.c_str(), &info) != 0) {
        *error = "module not found: " + absolute + ": " + std::strerror(errno);
        return CO_E_DLLNOTFOUND;
    }
    if (const HRESULT hr = CheckModuleFile(absolute, error); FAILED(hr)) return hr;
    dlerror();
    void* handle = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        *error = "module cannot be loaded: " + std::string(why ? why : absolute);
        return CO_E_ERRORINDLL;
    }
    auto entry = reinterpret_cast<LPFNREGISTRATION>(dlsym(handle, entryName));
    if (!entry) {
        const char* why = dlerror();
        *error = "module has no entry point " + std::string(entryName) + (why ? std::string(": ") + why : "");
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    // The module's changes are applied as one: concurrent registrations wait
    // for each other, and a failed or killed one leaves the registry as it was.
    if (RegBeginBatch(HKEY_CLASSES_ROOT) != ERROR_SUCCESS) {
        *error = RegLastErrorText();
        dlclose(handle);
        return REGDB_E_WRITEREGDB;
    }
    HRESULT hr = entry();
    if (RegEndBatch(SUCCEEDED(hr)) != ERROR_SUCCESS && SUCCEEDED(hr)) {
        *error = RegLastErrorText();
        hr = REGDB_E_WRITEREGDB;
    }
    dlclose(handle);
    return hr;
}
