// Automation strings and values: allocation, copying and the few coercions
// that the control's dispatch table relies on.
#include "oleauto.h"

#include <cstdlib>
#include <cstring>

#include <QString>

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
// The values the control's members and its event take and give: long, BOOL and
// string, and references to them.
bool IsSupportedBase(VARTYPE t) {
    switch (t) {
    case VT_EMPTY:
    case VT_I4:
    case VT_BOOL:
    case VT_BSTR:
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
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
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
    case VT_I4: view->lVal = *src->plVal; break;
    case VT_BOOL: view->boolVal = *src->pboolVal; break;
    case VT_BSTR: view->bstrVal = *src->pbstrVal; break;
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
// A value keeps its type; only long and BOOL turn into each other. An empty
// value (an out-parameter a container passes by reference) becomes 0, FALSE or
// the empty string.
HRESULT Coerce(VARIANT* out, const VARIANT& src, VARTYPE vt) {
    VariantInit(out);
    if (vt == src.vt) return CopyValue(out, &src);
    if (vt == VT_I4 && src.vt == VT_BOOL) out->lVal = src.boolVal;
    else if (vt == VT_BOOL && src.vt == VT_I4) out->boolVal = src.lVal ? VARIANT_TRUE : VARIANT_FALSE;
    else if (vt != VT_EMPTY && src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out->vt = vt;
    return S_OK;
}
}  // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (!IsSupported(src->vt) || !IsSupported(vt) || (vt & VT_BYREF)) return DISP_E_BADVARTYPE;
    VARIANT view;
    HRESULT hr = Dereference(src, &view);
    if (FAILED(hr)) return hr;
    VARIANT result;
    hr = Coerce(&result, view, vt);
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
    if (vtSrc == VT_BOOL) {
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        vt = VT_I4;
        lVal = value;
    }
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
