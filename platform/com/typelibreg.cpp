// Type library registration entries under HKEY_CLASSES_ROOT\TypeLib.
#include <cstdio>
#include <cstring>

#include "typelib.h"
#include "winreg.h"

namespace {
std::string VersionKey(REFGUID libid, WORD major, WORD minor) {
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", major, minor);
    return "TypeLib\\" + StringFromGUID(libid) + "\\" + version;
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

bool SetDefault(const std::string& keyName, const std::string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                       &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
}  // namespace

HRESULT RegisterTypeLib(ITypeLib* ptlib, const char* szFullPath, const char* szHelpDir) {
    if (!ptlib || !szFullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    hr = ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    const std::string title = Utf8FromBstr(SysStringLen(doc) ? doc : name);
    SysFreeString(name);
    SysFreeString(doc);

    const std::string key = VersionKey(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum);
    const bool ok = SetDefault(key, title) && SetDefault(key + "\\FLAGS", std::to_string(lib.wLibFlags)) &&
                    SetDefault(key + "\\" + Hex(lib.lcid) + "\\win32", szFullPath) &&
                    SetDefault(key + "\\HELPDIR", szHelpDir ? szHelpDir : "");
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID, SYSKIND) {
    const std::string key = VersionKey(libID, wVerMajor, wVerMinor);
    HKEY handle = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    RegCloseKey(handle);
    // Other versions of the library may still be registered beside it, and
    // the registry offers no listing of subkeys: the {libid} key stays.
    return RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str()) == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT QueryPathOfRegTypeLib(REFGUID guid, WORD wMaj, WORD wMin, LCID lcid, std::string* path) {
    if (!path) return E_POINTER;
    const std::string keyName = VersionKey(guid, wMaj, wMin) + "\\" + Hex(lcid) + "\\win32";
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueEx(key, nullptr, nullptr, &type, nullptr, &size);
    std::string value(size, '\0');
    if (rc == ERROR_SUCCESS && type == REG_SZ && size)
        rc = RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return TYPE_E_LIBNOTREGISTERED;
    value.resize(std::strlen(value.c_str()));
    *path = value;
    return S_OK;
}
