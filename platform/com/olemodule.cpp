// Module bookkeeping, class factories and the registry entries of classes.
#include "olemodule.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "winreg.h"

COleObjectFactory::COleObjectFactory(REFCLSID clsid, CModuleLock& module, CreateFn create)
    : m_clsid(clsid), m_module(module), m_create(create) {}

HRESULT COleObjectFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG COleObjectFactory::AddRef() {
    m_module.Lock();
    return ++m_cRef;
}

ULONG COleObjectFactory::Release() {
    const ULONG left = --m_cRef;
    m_module.Unlock();  // a static object: nothing to delete
    return left;
}

HRESULT COleObjectFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    try {
        object = m_create();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppvObject);
    object->Release();
    return hr;
}

HRESULT COleObjectFactory::LockServer(BOOL fLock) {
    if (fLock) m_module.Lock();
    else m_module.Unlock();
    return S_OK;
}

HRESULT COleObjectFactory::GetClassObject(std::span<COleObjectFactory* const> factories, REFCLSID clsid, REFIID riid,
                                          LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (COleObjectFactory* factory : factories)
        if (factory->GetClassID() == clsid) return factory->QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

BOOL COleObjectFactory::UpdateRegistryAll(std::span<COleObjectFactory* const> factories, BOOL bRegister,
                                          const char* modulePath) {
    BOOL ok = TRUE;
    for (COleObjectFactory* factory : factories)
        if (!factory->UpdateRegistry(bRegister, modulePath)) ok = FALSE;
    return ok;
}

namespace {
struct Entry {
    std::string key;
    const char* valueName;  // null: the default value
    std::string value;
};

bool WriteEntries(std::span<const Entry> entries) {
    for (const Entry& e : entries)
        if (RegSetKeyValue(HKEY_CLASSES_ROOT, e.key.c_str(), e.valueName, REG_SZ, e.value.c_str(),
                           DWORD(e.value.size() + 1)) != ERROR_SUCCESS)
            return false;
    return true;
}

bool DeleteKey(const std::string& key) {
    const LONG rc = RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::string ClsidKey(REFCLSID clsid) { return "CLSID\\" + StringFromGUID(clsid); }
}  // namespace

BOOL AfxOleRegisterControlClass(const char* modulePath, REFCLSID clsid, LPCTSTR pszProgID, LPCTSTR pszTypeName,
                                UINT idBitmap, int nRegFlags, DWORD dwMiscStatus, REFGUID tlid, WORD wVerMajor,
                                WORD wVerMinor) {
    if (!modulePath || !pszProgID || !pszTypeName) return FALSE;
    const std::string path = modulePath, progId = pszProgID, typeName = pszTypeName;
    const std::string clsidText = StringFromGUID(clsid), key = ClsidKey(clsid);
    const bool insertable = (nRegFlags & afxRegInsertable) != 0;
    std::vector<Entry> entries = {
        {progId, nullptr, typeName},
        {progId + "\\CLSID", nullptr, clsidText},
    };
    if (insertable) entries.push_back({progId + "\\Insertable", nullptr, ""});
    entries.push_back({key, nullptr, typeName});
    entries.push_back({key + "\\ProgID", nullptr, progId});
    entries.push_back({key + "\\InprocServer32", nullptr, path});
    if (nRegFlags & afxRegApartmentThreading)
        entries.push_back({key + "\\InprocServer32", "ThreadingModel", "Apartment"});
    entries.push_back({key + "\\ToolboxBitmap32", nullptr, path + ", " + std::to_string(idBitmap)});
    entries.push_back({key + "\\MiscStatus", nullptr, "0"});
    entries.push_back({key + "\\MiscStatus\\1", nullptr, std::to_string(dwMiscStatus)});
    entries.push_back({key + "\\Control", nullptr, ""});
    entries.push_back({key + "\\TypeLib", nullptr, StringFromGUID(tlid)});
    entries.push_back({key + "\\Version", nullptr, std::to_string(wVerMajor) + "." + std::to_string(wVerMinor)});
    if (insertable) entries.push_back({key + "\\Insertable", nullptr, ""});
    return WriteEntries(entries) ? TRUE : FALSE;
}

BOOL AfxOleRegisterPropertyPageClass(const char* modulePath, REFCLSID clsid, LPCTSTR pszTypeName, int nRegFlags) {
    if (!modulePath || !pszTypeName) return FALSE;
    const std::string key = ClsidKey(clsid);
    std::vector<Entry> entries = {
        {key, nullptr, pszTypeName},
        {key + "\\InprocServer32", nullptr, modulePath},
    };
    if (nRegFlags & afxRegApartmentThreading)
        entries.push_back({key + "\\InprocServer32", "ThreadingModel", "Apartment"});
    return WriteEntries(entries) ? TRUE : FALSE;
}

BOOL AfxOleUnregisterClass(REFCLSID clsid, LPCTSTR pszProgID) {
    const bool classGone = DeleteKey(ClsidKey(clsid));
    const bool progIdGone = !pszProgID || DeleteKey(pszProgID);
    return classGone && progIdGone ? TRUE : FALSE;
}

BOOL AfxOleRegisterTypeLib(const TypeLibData& data, const char* modulePath, const char* pszHelpDir) {
    if (!modulePath) return FALSE;
    std::string helpDir = pszHelpDir ? pszHelpDir : "";
    if (!pszHelpDir) {
        helpDir = modulePath;
        const std::size_t slash = helpDir.rfind('/');
        helpDir.resize(slash == std::string::npos ? 0 : (slash == 0 ? 1 : slash));
    }
    ITypeLib* lib = nullptr;
    if (FAILED(CreateTypeLibFromData(data, &lib))) return FALSE;
    const HRESULT hr = RegisterTypeLib(lib, modulePath, helpDir.c_str());
    lib->Release();
    return SUCCEEDED(hr) ? TRUE : FALSE;
}

BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor, LCID lcid) {
    return SUCCEEDED(UnRegisterTypeLib(tlid, wVerMajor, wVerMinor, lcid, SYS_WIN32)) ? TRUE : FALSE;
}

std::string GetModuleFileName(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string();
}
