// Creating objects of in-process classes by class identifier: the class's
// module is found in the registry (HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32,
// default value: the module's absolute path), loaded once and kept in a
// module table, and asked for the class factory through its exported
// DllGetClassObject. Modules stay loaded until CoFreeUnusedLibraries finds
// that their DllCanUnloadNow answers S_OK.
#pragma once

#include <string>

#include "unknwn.h"

// Exports of a module, as the loader finds them.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT

using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT (*)();

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};

struct COSERVERINFO;

// Nothing needs starting here; kept so that programs read as they would
// elsewhere. They return S_OK.
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();

// Only in-process servers exist. Failures: REGDB_E_CLASSNOTREG (no such class,
// no InprocServer32 path, or no in-process context asked for),
// CO_E_DLLNOTFOUND (the module file is missing, or the path is not absolute),
// CO_E_ERRORINDLL (the module file is no shared library of this machine, is
// cut short or damaged, does not load or lacks DllGetClassObject), and
// whatever the module's DllGetClassObject answers. The reason in words is
// then available from CoGetLastLoadError.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
void CoFreeUnusedLibraries();

// A class object the program makes itself (a class of its own, or a test's
// stand-in for a registered one): CoGetClassObject finds it before looking in
// the registry, until it is revoked. The table holds a reference.
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);

// Why the calling thread's last CoGetClassObject / CoCreateInstance failed to
// reach a class factory (the loader's own text included); empty after success.
std::string CoGetLastLoadError();

// Self-registration of a module, as a registration utility does it: loads the
// module at `path` (a relative path is taken from the working directory: a
// module writes its own path into the registry, and the loader would search
// its library path for a bare name), calls its DllRegisterServer (bRegister)
// or DllUnregisterServer and unloads it again. The entry point's changes to
// HKEY_CLASSES_ROOT are one registry batch: written together when it
// succeeds, dropped when it fails. Returns what the entry point returned;
// CO_E_DLLNOTFOUND when there is no such file, CO_E_ERRORINDLL when it is no
// sound shared library of this machine, does not load or lacks the entry
// point, REGDB_E_WRITEREGDB when the registry cannot be locked, read or
// written, with the reason in words (the loader's or the registry's text,
// naming the file) in *error, which is empty when the entry point ran and its
// changes were written.
// *modulePath (optional) receives the absolute path that was loaded.
HRESULT CallModuleRegistration(const std::string& path, bool bRegister, std::string* error,
                               std::string* modulePath = nullptr);
