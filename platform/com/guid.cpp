// GUID text in both directions.
#include "guiddef.h"

#include <cstdio>

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (!clsid) return E_INVALIDARG;
    return guid_detail::Parse(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CLSIDFromString(const char* text, LPCLSID clsid) {
    if (!clsid) return E_INVALIDARG;
    return guid_detail::Parse(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
    if (!iid) return E_INVALIDARG;
    return guid_detail::Parse(text, *iid) ? S_OK : E_INVALIDARG;
}

HRESULT IIDFromString(const char* text, LPIID iid) {
    if (!iid) return E_INVALIDARG;
    return guid_detail::Parse(text, *iid) ? S_OK : E_INVALIDARG;
}

std::string StringFromGUID(REFGUID g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
    if (!buffer || cchMax < 39) return 0;
    const std::string text = StringFromGUID(guid);
    for (int i = 0; i < 38; ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
    buffer[38] = 0;
    return 39;
}
