// The module ziVControl: the class factories of the image control and of its
// property page, the module's four entry points and its self-registration.
// Nothing else leaves the module (see ziv_com_module).
#include "casyncsocket.h"
#include "objbase.h"
#include "olemodule.h"
#include "zivcontrolctrl.h"
#include "zivcontrolppg.h"
#include "zivcontrolres.h"
#include "zivtypelib.h"

namespace {
CModuleLock g_module;

class CZiVControlFactory final : public COleObjectFactory {
public:
    CZiVControlFactory()
        : COleObjectFactory(CLSID_ZiVControl, g_module,
                            [] { return (new CModuleObject<CZiVControlCtrl, g_module>)->GetControllingUnknown(); }) {}
    BOOL UpdateRegistry(BOOL bRegister, const char* modulePath) override {
        if (!bRegister) return AfxOleUnregisterClass(CLSID_ZiVControl, kZivControlProgID);
        return AfxOleRegisterControlClass(modulePath, CLSID_ZiVControl, kZivControlProgID,
                                          LoadResourceString(IDS_ZIVCONTROL), IDB_ZIVCONTROL,
                                          afxRegInsertable | afxRegApartmentThreading, CZiVControlCtrl::kMiscStatus,
                                          LIBID_ZIVCONTROLLib, kTypeLibMajor, kTypeLibMinor);
    }
};

class CZiVControlPropPageFactory final : public COleObjectFactory {
public:
    CZiVControlPropPageFactory()
        : COleObjectFactory(CLSID_ZiVControlPropPage, g_module,
                            [] { return (new CModuleObject<CZiVControlPropPage, g_module>)->GetUnknown(); }) {}
    BOOL UpdateRegistry(BOOL bRegister, const char* modulePath) override {
        if (!bRegister) return AfxOleUnregisterClass(CLSID_ZiVControlPropPage, nullptr);
        return AfxOleRegisterPropertyPageClass(modulePath, CLSID_ZiVControlPropPage,
                                               LoadResourceString(IDS_ZIVCONTROL_PPG), afxRegDefault);
    }
};

CZiVControlFactory g_controlFactory;
CZiVControlPropPageFactory g_propPageFactory;
COleObjectFactory* const g_factories[] = {&g_controlFactory, &g_propPageFactory};

// The control's sockets need the sockets library: started when the module is
// loaded, whatever it answers (a failure shows at the first RequestImage),
// and ended when it is unloaded.
struct SocketsStartup {
    SocketsStartup() {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
    }
    ~SocketsStartup() { WSACleanup(); }
    SocketsStartup(const SocketsStartup&) = delete;
    SocketsStartup& operator=(const SocketsStartup&) = delete;
} g_sockets;

std::string ThisModule() { return GetModuleFileName(reinterpret_cast<const void*>(&ThisModule)); }
}  // namespace

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return COleObjectFactory::GetClassObject(g_factories, rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
    const std::string path = ThisModule();
    if (path.empty() || !AfxOleRegisterTypeLib(kZivControlTypeLib, path.c_str())) return SELFREG_E_TYPELIB;
    if (!COleObjectFactory::UpdateRegistryAll(g_factories, TRUE, path.c_str())) return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllUnregisterServer() {
    if (!AfxOleUnregisterTypeLib(LIBID_ZIVCONTROLLib, kTypeLibMajor, kTypeLibMinor)) return SELFREG_E_TYPELIB;
    if (!COleObjectFactory::UpdateRegistryAll(g_factories, FALSE, nullptr)) return SELFREG_E_CLASS;
    return S_OK;
}
