// The engine behind dispatch tables: names to identifiers, and Invoke with
// argument checks and coercion.
#include "dispmap.h"

#include "asciicase.h"

namespace {
bool NameEquals(const OLECHAR* wide, const char* name) {
    return wide && name && EqualsAsciiNoCase(std::u16string_view(wide), std::string_view(name));
}

// A positional argument in declaration order `i` lives at rgvarg[cArgs - 1 - i].
UINT ArgIndex(const DISPPARAMS* params, UINT i) { return params->cArgs - 1 - i; }

HRESULT CoerceByRef(VARIANT& source, VARTYPE type, VARIANT* out) {
    const VARTYPE base = type & ~VT_BYREF;
    if (source.vt == type) {
        if (!source.byref) return E_POINTER;
        *out = source;  // the same reference; nothing to free
        return S_OK;
    }
    if (source.vt == (VT_BYREF | VT_VARIANT) && source.pvarVal) {
        VARIANT* target = source.pvarVal;
        const HRESULT hr = VariantChangeType(target, target, 0, base);
        if (FAILED(hr)) return hr;
        VariantInit(out);
        out->vt = type;
        out->byref = &target->llVal;  // every member of the value union starts here
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}
}  // namespace

const DispatchEntry* FindDispatchEntry(std::span<const DispatchEntry> table, DISPID dispid) {
    for (const DispatchEntry& e : table)
        if (e.dispid == dispid) return &e;
    return nullptr;
}

HRESULT DispatchGetIDsOfNames(std::span<const DispatchEntry> table, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const DispatchEntry& e : table) {
        if (NameEquals(names[0], e.name)) {
            ids[0] = e.dispid;
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchCoerceArguments(const DISPPARAMS* params, std::span<const VARTYPE> types, std::vector<COleVariant>* out,
                                UINT* argErr) {
    if (!params || !out) return E_INVALIDARG;
    if (params->cArgs != types.size()) return DISP_E_BADPARAMCOUNT;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    out->clear();
    out->resize(types.size());
    for (UINT i = 0; i < types.size(); ++i) {
        const UINT index = ArgIndex(params, i);
        VARIANT& source = params->rgvarg[index];
        VARIANT* target = &(*out)[i];
        HRESULT hr;
        if (types[i] & VT_BYREF) hr = CoerceByRef(source, types[i], target);
        else hr = VariantChangeType(target, &source, 0, types[i]);
        if (FAILED(hr)) {
            if (argErr) *argErr = index;
            if (hr == DISP_E_BADVARTYPE || hr == E_POINTER || hr == E_INVALIDARG) hr = DISP_E_TYPEMISMATCH;
            return hr;
        }
    }
    return S_OK;
}

HRESULT DispatchExceptionResult(EXCEPINFO* excepInfo, const char* what, bool outOfMemory) {
    if (outOfMemory) return E_OUTOFMEMORY;
    if (excepInfo) {
        ClearExcepInfo(excepInfo);
        excepInfo->scode = E_FAIL;
        excepInfo->bstrDescription = SysAllocStringUtf8(what ? what : "");
    }
    return DISP_E_EXCEPTION;
}

HRESULT DispatchInvoke(std::span<const DispatchEntry> table, void* object, DISPID dispid, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const DispatchEntry* entry = FindDispatchEntry(table, dispid);
    if (!entry) return DISP_E_MEMBERNOTFOUND;
    if (!params || (params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;

    COleVariant value;
    std::vector<COleVariant> args;
    HRESULT hr;
    if (entry->kind == DispKind::property && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) {
        if (!entry->set) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) return DISP_E_PARAMNOTFOUND;
        const VARTYPE type = entry->type;
        hr = DispatchCoerceArguments(params, std::span<const VARTYPE>(&type, 1), &args, argErr);
        if (FAILED(hr)) return hr;
        return DispatchGuardedCall(excepInfo, [&] { return entry->set(object, &args[0]); });
    }
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
    if (entry->kind == DispKind::property) {
        if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        hr = DispatchGuardedCall(excepInfo, [&] { return entry->get(object, &value); });
    } else {
        hr = DispatchCoerceArguments(params, entry->params.Span(), &args, argErr);
        if (FAILED(hr)) return hr;
        hr = DispatchGuardedCall(excepInfo, [&] { return entry->method(object, args.data(), &value); });
    }
    // The caller hands in an initialised, empty result.
    if (SUCCEEDED(hr) && result) *result = value.Detach();
    return hr;
}
