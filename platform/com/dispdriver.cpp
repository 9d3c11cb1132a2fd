// Calls through an IDispatch by dispatch identifier.
#include "dispdriver.h"

#include <algorithm>
#include <vector>

#include "objbase.h"

COleDispatchDriver::COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease)
    : m_lpDispatch(lpDispatch), m_bAutoRelease(bAutoRelease) {}

BOOL COleDispatchDriver::CreateDispatch(REFCLSID clsid, HRESULT* phr) {
    ReleaseDispatch();
    LPDISPATCH dispatch = nullptr;
    const HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (phr) *phr = hr;
    if (FAILED(hr)) return FALSE;
    AttachDispatch(dispatch, TRUE);
    return TRUE;
}

void COleDispatchDriver::AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease) {
    ReleaseDispatch();
    m_lpDispatch = lpDispatch;
    m_bAutoRelease = bAutoRelease;
}

LPDISPATCH COleDispatchDriver::DetachDispatch() {
    LPDISPATCH dispatch = m_lpDispatch;
    m_lpDispatch = nullptr;
    return dispatch;
}

void COleDispatchDriver::ReleaseDispatch() {
    LPDISPATCH dispatch = DetachDispatch();
    if (dispatch && m_bAutoRelease) dispatch->Release();
}

namespace {
HRESULT StoreResult(VARIANT& result, VARTYPE vtRet, void* pvRet) {
    if (vtRet == VT_EMPTY || !pvRet) return S_OK;
    if (vtRet != VT_I4 && vtRet != VT_BOOL && vtRet != VT_BSTR) return DISP_E_BADVARTYPE;
    if (FAILED(VariantChangeType(&result, &result, 0, vtRet))) return DISP_E_TYPEMISMATCH;
    switch (vtRet) {
    case VT_I4: *static_cast<LONG*>(pvRet) = result.lVal; break;
    case VT_BOOL: *static_cast<BOOL*>(pvRet) = result.boolVal ? TRUE : FALSE; break;
    default: *static_cast<std::string*>(pvRet) = Utf8FromBstr(result.bstrVal); break;
    }
    return S_OK;
}
}  // namespace

HRESULT COleDispatchDriver::Call(DISPID id, WORD flags, DISPPARAMS* params, VARTYPE vtRet, void* pvRet) {
    if (!m_lpDispatch) return E_POINTER;
    COleVariant result;
    EXCEPINFO excepInfo{};  // the caller is told the HRESULT only
    UINT argErr = 0;
    HRESULT hr = m_lpDispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, &result, &excepInfo, &argErr);
    ClearExcepInfo(&excepInfo);
    if (FAILED(hr)) return hr;
    return StoreResult(result, vtRet, pvRet);
}

HRESULT COleDispatchDriver::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                         std::initializer_list<VARIANT> args) {
    // The arguments stay the caller's; Invoke sees them last first.
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return Call(dwDispID, wFlags, &params, vtRet, pvRet);
}

HRESULT COleDispatchDriver::SetProperty(DISPID dwDispID, const VARIANT& value) {
    VARIANT arg = value;  // shallow: the value stays the caller's
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    return Call(dwDispID, DISPATCH_PROPERTYPUT, &params, VT_EMPTY, nullptr);
}
