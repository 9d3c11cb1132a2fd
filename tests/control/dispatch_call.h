// Calls through IDispatch::Invoke the way a container makes them: arguments
// in declaration order (passed last first), a put naming its value
// DISPID_PROPERTYPUT.
#pragma once

#include <vector>

#include "oaidl.h"

struct DispatchCall {
    HRESULT hr;
    COleVariant result;
    UINT argErr = 0xFFFF;
};

inline DispatchCall InvokeDispatch(IDispatch* d, DISPID id, WORD flags, std::vector<COleVariant> args = {}) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, UINT(reversed.size()), put ? 1u : 0u};
    DispatchCall call;
    EXCEPINFO info{};
    call.hr = d->Invoke(id, IID_NULL, 0, flags, &params, &call.result, &info, &call.argErr);
    ClearExcepInfo(&info);
    return call;
}

// The dispatch identifier of `name`, DISPID_UNKNOWN when the object does not know it.
inline DISPID DispatchIdOf(IDispatch* d, const char* name) {
    std::u16string wide = OleStringFromUtf8(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
}
