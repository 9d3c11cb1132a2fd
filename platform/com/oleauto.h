// Automation values: strings (BSTR), tagged values (VARIANT) and their
// conversions, and the argument and exception blocks of IDispatch::Invoke.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "guiddef.h"
#include "wintypes.h"
#include "winerror.h"

using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t;
using INT = int;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using FLOAT = float;
using DOUBLE = double;
using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

struct IUnknown;
struct IDispatch;

// A length-prefixed UTF-16 string: 32-bit byte count before the first
// character, NUL after the last. A null BSTR is the empty string.
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text null: `length` NULs
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// UTF-8 at our side of the boundary. Invalid UTF-8 becomes U+FFFD.
BSTR SysAllocStringUtf8(std::string_view text);
std::string Utf8FromBstr(const OLECHAR* text);  // null: empty
std::string Utf8FromOleString(const OLECHAR* text, UINT length);
std::u16string OleStringFromUtf8(std::string_view text);

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_USERDEFINED = 29,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct tagVARIANT;
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;

struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        tagVARIANT* pvarVal;
        void* byref;
    };
};

// Supported types: EMPTY, I4, BOOL, BSTR and references (VT_BYREF) to the
// last three or to a VARIANT; anything else is DISP_E_BADVARTYPE.
void VariantInit(VARIANTARG* v);
HRESULT VariantClear(VARIANTARG* v);                           // frees the string, releases the interface
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);  // deep; references stay references
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);  // deep, follows a reference
// Converts to `vt`; `dest` may be `src`. On failure `dest` is left as it was.
// A value converts only to its own type, to VT_EMPTY, and between VT_I4 and
// VT_BOOL (any non-zero long is VARIANT_TRUE); VT_EMPTY converts to 0, FALSE
// or a null string. Anything else is DISP_E_TYPEMISMATCH. `flags` is not looked at.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);

struct DISPPARAMS {
    VARIANTARG* rgvarg;  // the arguments, last one first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Frees the strings of an EXCEPINFO and zeroes it.
void ClearExcepInfo(EXCEPINFO* info);

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_ABOUTBOX = -552;
constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// A VARIANT that clears itself, with the constructors a container needs to
// pass arguments: COleVariant(5L), COleVariant(true), COleVariant("text"),
// COleVariant(x, VT_BOOL).
class COleVariant : public tagVARIANT {
public:
    COleVariant() { VariantInit(this); }
    COleVariant(const VARIANT& src);
    COleVariant(const COleVariant& src);
    COleVariant(COleVariant&& src) noexcept;
    COleVariant& operator=(const COleVariant& src);
    COleVariant& operator=(COleVariant&& src) noexcept;
    ~COleVariant() { VariantClear(this); }

    // VT_BOOL when `vtSrc` says so, VT_I4 otherwise.
    COleVariant(LONG value, VARTYPE vtSrc = VT_I4);
    COleVariant(long value, VARTYPE vtSrc = VT_I4) : COleVariant(static_cast<LONG>(value), vtSrc) {}
    COleVariant(bool value) : COleVariant(static_cast<LONG>(value), VT_BOOL) {}
    COleVariant(const char* text);  // UTF-8; null gives a null (empty) BSTR
    COleVariant(const std::string& text) : COleVariant(std::string_view(text)) {}
    COleVariant(std::string_view text);
    COleVariant(const OLECHAR* text);
    COleVariant(IUnknown*) = delete;  // objects do not travel in values here (not even as a bool)

    void Clear() { VariantClear(this); }
    // Gives up the value to the caller, leaving VT_EMPTY.
    VARIANT Detach();
};

// A by-reference argument that writes through to `target`.
VARIANT VariantByRef(LONG* target);
