// In-process class creation: registry look-up, module loading and the module
// table.
#include "objbase.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "modulefile.h"
#include "winreg.h"

namespace {
struct Module {
    std::string path;  // canonical
    void* handle;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;  // null: stays loaded
};

struct ModuleTable {
    std::mutex mutex;
    std::vector<Module> modules;
};

// Never destroyed: modules stay loaded until the process ends.
ModuleTable& Table() {
    static ModuleTable* table = new ModuleTable;
    return *table;
}

thread_local std::string t_lastLoadError;

// Class objects a program registered itself (CoRegisterClassObject); they
// come before the registry's modules. Only the apartment's one thread
// registers, revokes and creates, so the table needs no lock.
struct RegisteredClass {
    CLSID clsid;
    IUnknown* object;
    DWORD cookie;
};
struct ClassTable {
    std::vector<RegisteredClass> classes;
    DWORD nextCookie = 1;
};
ClassTable& Classes() {
    static ClassTable* table = new ClassTable;
    return *table;
}

HRESULT Fail(HRESULT hr, std::string message) {
    t_lastLoadError = std::move(message);
    return hr;
}

// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32.
HRESULT FindModulePath(REFCLSID clsid, std::string* path) {
    const std::string clsidText = StringFromGUID(clsid);
    const std::string keyName = "CLSID\\" + clsidText + "\\InprocServer32";
    std::string value;
    DWORD size = 0;
    LONG rc = RegGetValue(HKEY_CLASSES_ROOT, keyName.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size);
    while (rc == ERROR_SUCCESS) {  // until the value, which another process may change meanwhile, fits
        value.resize(size);
        rc = RegGetValue(HKEY_CLASSES_ROOT, keyName.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size);
        if (rc != ERROR_MORE_DATA) break;
        rc = ERROR_SUCCESS;
    }
    if (rc == ERROR_FILE_NOT_FOUND) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return Fail(REGDB_E_CLASSNOTREG, "class " + clsidText + " is not registered");
        RegCloseKey(key);
    } else if (rc != ERROR_SUCCESS && rc != ERROR_UNSUPPORTED_TYPE) {
        // The registry itself is unusable: whether the class is registered is unknown.
        const std::string why = RegLastErrorText();
        return Fail(REGDB_E_READREGDB, why.empty() ? std::string("registry: ") + RegErrorText(rc) : why);
    }
    value.resize(rc == ERROR_SUCCESS ? std::min<std::size_t>(size, value.size()) : 0);
    while (!value.empty() && value.back() == '\0') value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.empty()) return Fail(REGDB_E_CLASSNOTREG, "class " + clsidText + " has no in-process server path");
    *path = value;
    return S_OK;
}

// The module at `path`, loaded now or earlier.
HRESULT LoadModule(const std::string& path, Module* out) {
    if (path.front() != '/') return Fail(CO_E_DLLNOTFOUND, "module path is not absolute: " + path);
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return Fail(CO_E_DLLNOTFOUND, "module not found: " + path);
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    for (const Module& m : table.modules)
        if (m.path == resolved) {
            *out = m;
            return S_OK;
        }
    std::string damage;
    if (const HRESULT hr = CheckModuleFile(resolved, &damage); FAILED(hr)) return Fail(hr, damage);
    dlerror();
    void* handle = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return Fail(CO_E_ERRORINDLL, "module cannot be loaded: " + std::string(why ? why : resolved));
    }
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
    if (!getClassObject) {
        dlclose(handle);
        return Fail(CO_E_ERRORINDLL, std::string("module has no DllGetClassObject: ") + resolved);
    }
    Module m{resolved, handle, getClassObject, reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"))};
    table.modules.push_back(m);
    *out = m;
    return S_OK;
}
}  // namespace

HRESULT CoInitialize(LPVOID) { return S_OK; }
void CoUninitialize() {}

std::string CoGetLastLoadError() { return t_lastLoadError; }

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    t_lastLoadError.clear();
    if (!(dwClsContext & CLSCTX_INPROC_SERVER))
        return Fail(REGDB_E_CLASSNOTREG, "only in-process servers can be created");
    for (const RegisteredClass& c : Classes().classes)
        if (c.clsid == rclsid) return c.object->QueryInterface(riid, ppv);
    try {
        std::string path;
        HRESULT hr = FindModulePath(rclsid, &path);
        if (FAILED(hr)) return hr;
        Module module;
        hr = LoadModule(path, &module);
        if (FAILED(hr)) return hr;
        return module.getClassObject(rclsid, riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return Fail(E_UNEXPECTED, "exception while creating the class object");
    }
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD, DWORD, DWORD* lpdwRegister) {
    if (!pUnk || !lpdwRegister) return E_INVALIDARG;
    ClassTable& table = Classes();
    pUnk->AddRef();
    *lpdwRegister = table.nextCookie++;
    table.classes.push_back(RegisteredClass{rclsid, pUnk, *lpdwRegister});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    std::vector<RegisteredClass>& classes = Classes().classes;
    for (auto it = classes.begin(); it != classes.end(); ++it)
        if (it->cookie == dwRegister) {
            IUnknown* object = it->object;
            classes.erase(it);
            object->Release();  // after the erase: its destructor may revoke others
            return S_OK;
        }
    return E_INVALIDARG;
}

void CoFreeUnusedLibraries() {
    std::vector<void*> unload;
    {
        ModuleTable& table = Table();
        std::lock_guard lock(table.mutex);
        std::erase_if(table.modules, [&](const Module& m) {
            if (!m.canUnloadNow || m.canUnloadNow() != S_OK) return false;
            unload.push_back(m.handle);
            return true;
        });
    }
    // Outside the lock: a module's clean-up may create objects of its own.
    for (void* handle : unload) dlclose(handle);
}
