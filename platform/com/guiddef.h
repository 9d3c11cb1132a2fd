// Globally unique identifiers as the component object model names them:
// classes, interfaces and type libraries are told apart by these 16 bytes,
// written as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in the registry.
#pragma once

#include <cstdint>
#include <string>

#include "winerror.h"

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;
using LPIID = IID*;

namespace guid_detail {
constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from any character
// type; false for anything else.
template <class Char>
constexpr bool Parse(const Char* s, GUID& out) {
    if (!s) return false;
    constexpr int kDashes[] = {9, 14, 19, 24};
    std::uint8_t bytes[16] = {};
    int nibble = 0;
    for (int i = 0; i < 38; ++i) {
        const auto c = s[i];
        if (c == 0) return false;
        if (i == 0 || i == 37) {
            if (c != (i == 0 ? '{' : '}')) return false;
        } else if (i == kDashes[0] || i == kDashes[1] || i == kDashes[2] || i == kDashes[3]) {
            if (c != '-') return false;
        } else {
            const int v = (c > 0 && c < 128) ? HexValue(static_cast<char>(c)) : -1;
            if (v < 0) return false;
            bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] << 4 | v);
            ++nibble;
        }
    }
    if (s[38] != 0) return false;
    out.Data1 = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
    out.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    out.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i) out.Data4[i] = bytes[8 + i];
    return true;
}
}  // namespace guid_detail

// A GUID from its braced text at compile time, for identifiers in tables:
// constexpr CLSID kClsid = MakeGuid("{...}"). Malformed text does not compile.
constexpr GUID MakeGuid(const char (&text)[39]) {
    GUID g{};
    if (!guid_detail::Parse(text, g)) throw "malformed GUID literal";
    return g;
}

constexpr GUID GUID_NULL{};
constexpr IID IID_NULL{};
constexpr CLSID CLSID_NULL{};

// The braced text; CO_E_CLASSSTRING (class) or E_INVALIDARG (interface) when
// the text is not exactly a braced GUID. Identifiers by programmatic name are
// not looked up.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT CLSIDFromString(const char* text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, LPIID iid);
HRESULT IIDFromString(const char* text, LPIID iid);
// Writes the braced text (upper-case hex) and its NUL; returns the characters
// written including the NUL (39), or 0 when `cchMax` is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);
// The braced text in UTF-8, for the registry and messages.
std::string StringFromGUID(REFGUID guid);
