// Automation strings and values: allocation, copying and the coercions that
// containers and dispatch tables rely on.
#include "oleauto.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <QString>

#include "asciicase.h"
#include "oaidl.h"

// ---- BSTR -------------------------------------------------------------------

namespace {
constexpr UINT kMaxBstrLength = (0xFFFFFFFFu - 8) / 2;

std::uint32_t* Header(BSTR text) { return reinterpret_cast<std::uint32_t*>(text) - 1; }
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxBstrLength) return nullptr;
    auto* block = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t) + (length + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    block[0] = length * sizeof(OLECHAR);
    BSTR result = reinterpret_cast<BSTR>(block + 1);
    if (text) std::memcpy(result, text, length * sizeof(OLECHAR));
    else std::memset(result, 0, length * sizeof(OLECHAR));
    result[length] = 0;
    return result;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::char_traits<OLECHAR>::length(text)));
}

void SysFreeString(BSTR text) {
    if (text) std::free(Header(text));
}

UINT SysStringByteLen(BSTR text) { return text ? *Header(text) : 0; }
UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (!target) return FALSE;
    BSTR copy = SysAllocString(text);
    if (text && !copy) return FALSE;
    SysFreeString(*target);
    *target = copy;
    return TRUE;
}

std::u16string OleStringFromUtf8(std::string_view text) {
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

BSTR SysAllocStringUtf8(std::string_view text) {
    const std::u16string wide = OleStringFromUtf8(text);
    if (wide.size() > kMaxBstrLength) return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string Utf8FromOleString(const OLECHAR* text, UINT length) {
    if (!text || length == 0) return {};
    const QByteArray bytes = QString::fromUtf16(text, static_cast<qsizetype>(length)).toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string Utf8FromBstr(const OLECHAR* text) {
    if (!text) return {};
    return Utf8FromOleString(text, static_cast<UINT>(std::char_traits<OLECHAR>::length(text)));
}

// ---- VARIANT ----------------------------------------------------------------

void VariantInit(VARIANTARG* v) {
    std::memset(v, 0, sizeof(VARIANT));
    v->vt = VT_EMPTY;
}

namespace {
bool IsSupportedBase(VARTYPE t) {
    switch (t) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_R8:
    case VT_BOOL:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:
    case VT_VARIANT: return true;
    default: return false;
    }
}

bool IsSupported(VARTYPE vt) {
    if (vt & VT_BYREF) return IsSupportedBase(vt & ~VT_BYREF) && (vt & ~VT_BYREF) != VT_EMPTY;
    return vt != VT_VARIANT && IsSupportedBase(vt);
}
}  // namespace

HRESULT VariantClear(VARIANTARG* v) {
    if (!v) return E_INVALIDARG;
    if (!IsSupported(v->vt)) return DISP_E_BADVARTYPE;
    switch (v->vt) {
    case VT_BSTR: SysFreeString(v->bstrVal); break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        if (v->punkVal) v->punkVal->Release();
        break;
    default: break;
    }
    VariantInit(v);
    return S_OK;
}

namespace {
// A deep copy of a value that is not a reference into `dest` (uninitialised).
HRESULT CopyValue(VARIANT* dest, const VARIANT* src) {
    *dest = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        dest->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!dest->bstrVal) {
            VariantInit(dest);
            return E_OUTOFMEMORY;
        }
    } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
        src->punkVal->AddRef();
    }
    return S_OK;
}

// The value a reference points to, as a shallow view; `src` itself when it is
// no reference.
HRESULT Dereference(const VARIANT* src, VARIANT* view) {
    if (!(src->vt & VT_BYREF)) {
        *view = *src;
        return S_OK;
    }
    if (!src->byref) return E_INVALIDARG;
    VariantInit(view);
    const VARTYPE base = src->vt & ~VT_BYREF;
    switch (base) {
    case VT_VARIANT:
        if (src->pvarVal->vt & VT_BYREF) return DISP_E_BADVARTYPE;
        *view = *src->pvarVal;
        return S_OK;
    case VT_I2: view->iVal = *src->piVal; break;
    case VT_I4: view->lVal = *src->plVal; break;
    case VT_UI1: view->bVal = *src->pbVal; break;
    case VT_R8: view->dblVal = *src->pdblVal; break;
    case VT_BOOL: view->boolVal = *src->pboolVal; break;
    case VT_BSTR: view->bstrVal = *src->pbstrVal; break;
    case VT_ERROR: view->scode = *static_cast<SCODE*>(src->byref); break;
    case VT_DISPATCH: view->pdispVal = *src->ppdispVal; break;
    case VT_UNKNOWN: view->punkVal = *src->ppunkVal; break;
    default: return DISP_E_BADVARTYPE;
    }
    view->vt = base;
    return S_OK;
}
}  // namespace

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!IsSupported(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy;
    HRESULT hr = CopyValue(&copy, src);
    if (FAILED(hr)) return hr;
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!IsSupported(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT view;
    HRESULT hr = Dereference(src, &view);
    if (FAILED(hr)) return hr;
    VARIANT copy;
    hr = CopyValue(&copy, &view);
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

// ---- Coercion ---------------------------------------------------------------

namespace {
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// A decimal number: optional sign, digits with an optional fraction, optional
// exponent, blanks around. Nothing else (no hex, no "inf", no separators).
bool ParseNumber(const OLECHAR* text, double* value) {
    if (!text) return false;
    const OLECHAR* end = text + std::char_traits<OLECHAR>::length(text);
    while (text < end && IsBlank(*text)) ++text;
    while (end > text && IsBlank(end[-1])) --end;
    std::string ascii;
    for (const OLECHAR* p = text; p < end; ++p) {
        if (*p > 127) return false;
        ascii += static_cast<char>(*p);
    }
    std::size_t i = 0;
    const bool negative = !ascii.empty() && ascii[0] == '-';
    if (!ascii.empty() && (ascii[0] == '+' || ascii[0] == '-')) ++i;
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++digits;
    if (i < ascii.size() && ascii[i] == '.') {
        ++i;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < ascii.size() && (ascii[i] == 'e' || ascii[i] == 'E')) {
        ++i;
        if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != ascii.size()) return false;
    double magnitude = 0;
    const auto [ptr, ec] = std::from_chars(ascii.data() + start, ascii.data() + ascii.size(), magnitude);
    if (ptr != ascii.data() + ascii.size()) return false;
    if (ec == std::errc::result_out_of_range) magnitude = std::numeric_limits<double>::infinity();
    *value = negative ? -magnitude : magnitude;
    return true;
}

bool EqualsAsciiNoCase(const OLECHAR* text, const char* word) {
    return text && ::EqualsAsciiNoCase(std::u16string_view(text), std::string_view(word));
}

// A number taken from a value: exact integers stay integers.
struct Number {
    bool integral;
    LONGLONG i;
    double d;
};

HRESULT ToNumber(const VARIANT& v, Number* n) {
    switch (v.vt) {
    case VT_EMPTY: *n = {true, 0, 0}; return S_OK;
    case VT_I2: *n = {true, v.iVal, 0}; return S_OK;
    case VT_I4: *n = {true, v.lVal, 0}; return S_OK;
    case VT_UI1: *n = {true, v.bVal, 0}; return S_OK;
    case VT_BOOL: *n = {true, v.boolVal, 0}; return S_OK;
    case VT_R8: *n = {false, 0, v.dblVal}; return S_OK;
    case VT_BSTR: {
        double d = 0;
        if (!ParseNumber(v.bstrVal, &d)) return DISP_E_TYPEMISMATCH;
        *n = {false, 0, d};
        return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToInteger(const Number& n, LONGLONG lo, LONGLONG hi, LONGLONG* out) {
    LONGLONG value = n.i;
    if (!n.integral) {
        // The default rounding mode rounds half to even, as the platform does.
        const double r = std::nearbyint(n.d);
        if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) return DISP_E_OVERFLOW;
        value = static_cast<LONGLONG>(r);
    }
    if (value < lo || value > hi) return DISP_E_OVERFLOW;
    *out = value;
    return S_OK;
}

HRESULT ToString(const VARIANT& v, USHORT flags, BSTR* out) {
    std::string text;
    switch (v.vt) {
    case VT_EMPTY: *out = nullptr; return S_OK;
    case VT_I2: text = std::to_string(v.iVal); break;
    case VT_I4: text = std::to_string(v.lVal); break;
    case VT_UI1: text = std::to_string(v.bVal); break;
    case VT_BOOL:
        if (flags & VARIANT_ALPHABOOL) text = v.boolVal ? "True" : "False";
        else text = v.boolVal ? "-1" : "0";
        break;
    case VT_R8: {
        char buffer[64];
        const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.dblVal);
        if (ec != std::errc()) return DISP_E_OVERFLOW;
        text.assign(buffer, ptr);
        break;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
    *out = SysAllocStringUtf8(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Coerce(VARIANT* out, const VARIANT& src, USHORT flags, VARTYPE vt) {
    VariantInit(out);
    if (vt == src.vt) return CopyValue(out, &src);
    Number n{};
    LONGLONG i = 0;
    HRESULT hr = S_OK;
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: out->vt = vt; return S_OK;
    case VT_I2:
        if (FAILED(hr = ToNumber(src, &n)) || FAILED(hr = ToInteger(n, -32768, 32767, &i))) return hr;
        out->iVal = static_cast<SHORT>(i);
        break;
    case VT_I4:
        if (FAILED(hr = ToNumber(src, &n)) ||
            FAILED(hr = ToInteger(n, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), &i)))
            return hr;
        out->lVal = static_cast<LONG>(i);
        break;
    case VT_UI1:
        if (FAILED(hr = ToNumber(src, &n)) || FAILED(hr = ToInteger(n, 0, 255, &i))) return hr;
        out->bVal = static_cast<BYTE>(i);
        break;
    case VT_R8:
        if (FAILED(hr = ToNumber(src, &n))) return hr;
        out->dblVal = n.integral ? static_cast<double>(n.i) : n.d;
        break;
    case VT_BOOL:
        if (src.vt == VT_BSTR && EqualsAsciiNoCase(src.bstrVal, "true")) {
            out->boolVal = VARIANT_TRUE;
        } else if (src.vt == VT_BSTR && EqualsAsciiNoCase(src.bstrVal, "false")) {
            out->boolVal = VARIANT_FALSE;
        } else {
            if (FAILED(hr = ToNumber(src, &n))) return hr;
            out->boolVal = (n.integral ? n.i != 0 : n.d != 0) ? VARIANT_TRUE : VARIANT_FALSE;
        }
        break;
    case VT_BSTR:
        if (FAILED(hr = ToString(src, flags, &out->bstrVal))) return hr;
        break;
    case VT_DISPATCH:
        if (src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        out->pdispVal = nullptr;
        if (src.punkVal && FAILED(src.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out->pdispVal))))
            return DISP_E_TYPEMISMATCH;
        break;
    case VT_UNKNOWN:
        if (src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        out->punkVal = nullptr;
        if (src.pdispVal && FAILED(src.pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&out->punkVal))))
            return DISP_E_TYPEMISMATCH;
        break;
    default: return DISP_E_BADVARTYPE;
    }
    out->vt = vt;
    return S_OK;
}
}  // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (!IsSupported(src->vt) || !IsSupported(vt) || (vt & VT_BYREF)) return DISP_E_BADVARTYPE;
    VARIANT view;
    HRESULT hr = Dereference(src, &view);
    if (FAILED(hr)) return hr;
    VARIANT result;
    hr = Coerce(&result, view, flags, vt);
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

void ClearExcepInfo(EXCEPINFO* info) {
    if (!info) return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    std::memset(info, 0, sizeof *info);
}

// ---- COleVariant ------------------------------------------------------------

COleVariant::COleVariant(const VARIANT& src) {
    VariantInit(this);
    VariantCopy(this, &src);
}

COleVariant::COleVariant(const COleVariant& src) : COleVariant(static_cast<const VARIANT&>(src)) {}

COleVariant::COleVariant(COleVariant&& src) noexcept : tagVARIANT(src) { VariantInit(&src); }

COleVariant& COleVariant::operator=(const COleVariant& src) {
    VariantCopy(this, &src);
    return *this;
}

COleVariant& COleVariant::operator=(COleVariant&& src) noexcept {
    if (this != &src) {
        VariantClear(this);
        static_cast<VARIANT&>(*this) = src;
        VariantInit(&src);
    }
    return *this;
}

COleVariant::COleVariant(LONG value, VARTYPE vtSrc) {
    VariantInit(this);
    switch (vtSrc) {
    case VT_BOOL: boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_I2: iVal = static_cast<SHORT>(value); break;
    case VT_UI1: bVal = static_cast<BYTE>(value); break;
    default:
        vtSrc = VT_I4;
        lVal = value;
        break;
    }
    vt = vtSrc;
}

COleVariant::COleVariant(double value) {
    VariantInit(this);
    vt = VT_R8;
    dblVal = value;
}

COleVariant::COleVariant(const char* text) {
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = text ? SysAllocStringUtf8(text) : nullptr;
}

COleVariant::COleVariant(std::string_view text) {
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocStringUtf8(text);
}

COleVariant::COleVariant(const OLECHAR* text) {
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocString(text);
}

COleVariant::COleVariant(IDispatch* disp) {
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = disp;
    if (disp) disp->AddRef();
}

VARIANT COleVariant::Detach() {
    VARIANT out = *this;
    VariantInit(this);
    return out;
}

VARIANT VariantByRef(LONG* target) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_I4;
    v.plVal = target;
    return v;
}
