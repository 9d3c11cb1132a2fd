// Type library registration entries under HKEY_CLASSES_ROOT\TypeLib, and the
// Interface keys of the library's dispatch interfaces.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "typelib.h"
#include "winreg.h"

namespace {
// Calls on a dispatch interface are marshalled by the automation marshaller.
constexpr const char* kDispatchProxyStub = "{00020420-0000-0000-C000-000000000046}";

std::string Version(WORD major, WORD minor) {
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", major, minor);
    return version;
}

std::string VersionKey(REFGUID libid, WORD major, WORD minor) {
    return "TypeLib\\" + StringFromGUID(libid) + "\\" + Version(major, minor);
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

bool SetString(const std::string& keyName, const char* valueName, const std::string& value) {
    return RegSetKeyValue(HKEY_CLASSES_ROOT, keyName.c_str(), valueName, REG_SZ, value.c_str(),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool SetDefault(const std::string& keyName, const std::string& value) { return SetString(keyName, nullptr, value); }

// A string value, or "" when it is missing or not a string.
std::string QueryString(const std::string& keyName, const char* valueName) {
    DWORD size = 0;
    if (RegGetValue(HKEY_CLASSES_ROOT, keyName.c_str(), valueName, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return {};
    std::string value(size, '\0');
    if (RegGetValue(HKEY_CLASSES_ROOT, keyName.c_str(), valueName, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(std::strlen(value.c_str()));
    return value;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::vector<std::string> SubkeyNames(const std::string& keyName) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[256];
    DWORD size = sizeof name;
    for (DWORD i = 0; RegEnumKeyEx(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.emplace_back(name, size);
        size = sizeof name;
    }
    RegCloseKey(key);
    return names;
}

// Interface\{iid} of every dispatch interface in the library.
bool RegisterInterfaces(ITypeLib* lib, const TLIBATTR& attr) {
    const std::string libid = StringFromGUID(attr.guid);
    const std::string version = Version(attr.wMajorVerNum, attr.wMinorVerNum);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind{};
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) return false;
        TYPEATTR* typeAttr = nullptr;
        BSTR name = nullptr;
        bool ok = SUCCEEDED(info->GetTypeAttr(&typeAttr)) &&
                  SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
        if (ok) {
            const std::string key = "Interface\\" + StringFromGUID(typeAttr->guid);
            ok = SetDefault(key, Utf8FromBstr(name)) && SetDefault(key + "\\ProxyStubClsid", kDispatchProxyStub) &&
                 SetDefault(key + "\\ProxyStubClsid32", kDispatchProxyStub) && SetDefault(key + "\\TypeLib", libid) &&
                 SetString(key + "\\TypeLib", "Version", version);
        }
        SysFreeString(name);
        if (typeAttr) info->ReleaseTypeAttr(typeAttr);
        info->Release();
        if (!ok) return false;
    }
    return true;
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
                    SetDefault(key + "\\HELPDIR", szHelpDir ? szHelpDir : "") && RegisterInterfaces(ptlib, lib);
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID, SYSKIND) {
    const std::string key = VersionKey(libID, wVerMajor, wVerMinor);
    HKEY handle = nullptr;
    const bool registered = RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS;
    RegCloseKey(handle);
    // The interfaces that name this library and version; the library itself
    // need not be loadable any more to find them.
    const std::string libid = StringFromGUID(libID);
    const std::string version = Version(wVerMajor, wVerMinor);
    bool remains = false;
    for (const std::string& iid : SubkeyNames("Interface")) {
        const std::string typeLibKey = "Interface\\" + iid + "\\TypeLib";
        if (!SameText(QueryString(typeLibKey, nullptr), libid) || QueryString(typeLibKey, "Version") != version)
            continue;
        remains = true;
        if (RegDeleteTree(HKEY_CLASSES_ROOT, ("Interface\\" + iid).c_str()) != ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;
    }
    if (!registered) {
        // Without its version key the library counts as removed only when a
        // registration left partial still names it: its remains go, and the
        // caller can go on removing the classes that name it.
        for (const std::string& clsid : SubkeyNames("CLSID"))
            remains = remains || SameText(QueryString("CLSID\\" + clsid + "\\TypeLib", nullptr), libid);
        return remains ? S_OK : TYPE_E_REGISTRYACCESS;
    }
    if (RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    // The {libid} key goes with its last version.
    const std::string libKey = "TypeLib\\" + libid;
    if (SubkeyNames(libKey).empty() && RegDeleteTree(HKEY_CLASSES_ROOT, libKey.c_str()) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    return S_OK;
}

HRESULT QueryPathOfRegTypeLib(REFGUID guid, WORD wMaj, WORD wMin, LCID lcid, std::string* path) {
    if (!path) return E_POINTER;
    const std::string keyName = VersionKey(guid, wMaj, wMin) + "\\" + Hex(lcid) + "\\win32";
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;
    RegCloseKey(key);
    std::string value = QueryString(keyName, nullptr);
    if (value.empty()) return TYPE_E_LIBNOTREGISTERED;
    *path = value;
    return S_OK;
}
