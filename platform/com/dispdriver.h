// The client's side of automation: a holder of an IDispatch through which a
// container calls members and reads and writes properties by dispatch
// identifier only.
//
//   COleDispatchDriver control(dispatch);           // takes over the reference
//   control.SetProperty(2, COleVariant(5000L));
//   control.InvokeHelper(5, DISPATCH_METHOD, VT_EMPTY, nullptr, {COleVariant(0L), ...});
//   BOOL saved = FALSE;
//   control.InvokeHelper(8, DISPATCH_METHOD, VT_BOOL, &saved, {COleVariant("a.bmp")});
//
// Calls return the HRESULT instead of raising; a failed call leaves *pvRet
// untouched.
#pragma once

#include <initializer_list>

#include "oaidl.h"

class COleDispatchDriver {
public:
    COleDispatchDriver() = default;
    // Takes over the caller's reference (released at the end when bAutoRelease).
    explicit COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
    ~COleDispatchDriver() { ReleaseDispatch(); }
    COleDispatchDriver(const COleDispatchDriver&) = delete;
    COleDispatchDriver& operator=(const COleDispatchDriver&) = delete;

    // CoCreateInstance of `clsid` for IDispatch; FALSE on failure, with the
    // reason in *phr when given.
    BOOL CreateDispatch(REFCLSID clsid, HRESULT* phr = nullptr);
    void AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
    LPDISPATCH DetachDispatch();
    void ReleaseDispatch();

    // `args` in declaration order. pvRet by vtRet: VT_EMPTY none (may be
    // null), VT_I4 LONG*, VT_BOOL BOOL*, VT_BSTR std::string* (UTF-8); any
    // other type gives DISP_E_BADVARTYPE. A result that does not convert
    // gives DISP_E_TYPEMISMATCH.
    HRESULT InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                         std::initializer_list<VARIANT> args = {});
    HRESULT SetProperty(DISPID dwDispID, const VARIANT& value);

    LPDISPATCH m_lpDispatch = nullptr;
    BOOL m_bAutoRelease = TRUE;

private:
    HRESULT Call(DISPID id, WORD flags, DISPPARAMS* params, VARTYPE vtRet, void* pvRet);
};
