// What an in-process server module needs besides its classes: a count of its
// live objects and locks for DllCanUnloadNow, one class factory per creatable
// class, the registry entries of controls and property pages, and the path of
// the module file.
//
//   CModuleLock g_module;
//   class CThingFactory final : public COleObjectFactory { ... UpdateRegistry ... };
//   CThingFactory g_thingFactory(kClsid, g_module,
//       [] { return (new CModuleObject<CThing, g_module>)->GetUnknown(); });
//   STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }
#pragma once

#include <atomic>
#include <span>
#include <string>
#include <utility>

#include "comobject.h"
#include "typelib.h"

// The live objects, held factories and server locks of one module.
class CModuleLock {
public:
    void Lock() { ++m_count; }
    void Unlock() { --m_count; }
    // What DllCanUnloadNow answers: S_OK when nothing is alive or locked.
    HRESULT CanUnloadNow() const { return m_count == 0 ? S_OK : S_FALSE; }

private:
    std::atomic<LONG> m_count{0};
};

namespace olemodule_detail {
template <CModuleLock& Module>
struct ModuleCount {
    ModuleCount() { Module.Lock(); }
    ~ModuleCount() { Module.Unlock(); }
    ModuleCount(const ModuleCount&) = delete;
    ModuleCount& operator=(const ModuleCount&) = delete;
};
}  // namespace olemodule_detail

// An object of class T made by a module, counted in Module from before T is
// constructed until after T is destroyed.
template <class T, CModuleLock& Module>
class CModuleObject final : private olemodule_detail::ModuleCount<Module>, public T {
public:
    template <class... Args>
    explicit CModuleObject(Args&&... args) : T(std::forward<Args>(args)...) {}
};

// The class factory of one class, a static object of its module. While a
// container holds it (or has locked the server) the module stays loaded.
class COleObjectFactory : public IClassFactory {
public:
    // A new object with one reference, owned by the caller; null when out of memory.
    using CreateFn = IUnknown* (*)();

    COleObjectFactory(REFCLSID clsid, CModuleLock& module, CreateFn create);
    virtual ~COleObjectFactory() = default;
    COleObjectFactory(const COleObjectFactory&) = delete;
    COleObjectFactory& operator=(const COleObjectFactory&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    HRESULT LockServer(BOOL fLock) override;

    const CLSID& GetClassID() const { return m_clsid; }
    // Writes (bRegister) or removes the class's registry entries for the
    // module file at `modulePath`.
    virtual BOOL UpdateRegistry(BOOL bRegister, const char* modulePath) = 0;

    // DllGetClassObject over a module's factories: CLASS_E_CLASSNOTAVAILABLE
    // for a class none of them makes.
    static HRESULT GetClassObject(std::span<COleObjectFactory* const> factories, REFCLSID clsid, REFIID riid,
                                  LPVOID* ppv);
    // Runs every factory's registry update; FALSE when any of them failed.
    static BOOL UpdateRegistryAll(std::span<COleObjectFactory* const> factories, BOOL bRegister,
                                  const char* modulePath);

private:
    CLSID m_clsid;
    CModuleLock& m_module;
    CreateFn m_create;
    std::atomic<ULONG> m_cRef{0};
};

// Registration flags of a class.
enum : int {
    afxRegDefault = 0x0000,
    afxRegInsertable = 0x0001,          // the ProgID and CLSID keys get an Insertable subkey
    afxRegApartmentThreading = 0x0002,  // InprocServer32 gets ThreadingModel "Apartment"
};

// The entries of a control class under HKEY_CLASSES_ROOT: the programmatic
// identifier's key (type name, CLSID, Insertable) and the CLSID key (type
// name, ProgID, InprocServer32, ToolboxBitmap32 "path, idBitmap", MiscStatus
// "0" with MiscStatus\1 the status in decimal, Control, TypeLib, Version
// "major.minor", Insertable). Empty keys get an empty default value.
BOOL AfxOleRegisterControlClass(const char* modulePath, REFCLSID clsid, LPCTSTR pszProgID, LPCTSTR pszTypeName,
                                UINT idBitmap, int nRegFlags, DWORD dwMiscStatus, REFGUID tlid, WORD wVerMajor,
                                WORD wVerMinor);
// The CLSID key of a property page: type name and InprocServer32.
BOOL AfxOleRegisterPropertyPageClass(const char* modulePath, REFCLSID clsid, LPCTSTR pszTypeName, int nRegFlags);
// Removes the CLSID key and, when given, the programmatic identifier's key,
// with everything below them; keys that are not there count as removed.
BOOL AfxOleUnregisterClass(REFCLSID clsid, LPCTSTR pszProgID);
// Registers the type library described by `data` for the module file at
// `modulePath`; the help directory is the module's folder unless given.
BOOL AfxOleRegisterTypeLib(const TypeLibData& data, const char* modulePath, const char* pszHelpDir = nullptr);
BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor, LCID lcid = 0);

// The absolute path of the module file (program or shared library) that
// holds `address`, symbolic links resolved; empty when there is none.
std::string GetModuleFileName(const void* address);
