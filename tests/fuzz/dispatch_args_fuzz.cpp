// Automation calls as any container might make them: any member, any call
// kind, any number of arguments of the types containers pass and of types the
// control refuses (short, byte, double, a null object), puts with or without
// their named argument. Every call answers with a result code
// (never a crash, leak or undefined behaviour), and a successful property get
// returns the property's type. SaveToBmp (writes files) and AboutBox (modal)
// are left out.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "scripted_socket.h"
#include "zivcontrolctrl.h"

namespace {

VARIANT make_argument(FuzzedDataProvider& in, LONG* cell) {
    VARIANT v;
    VariantInit(&v);
    switch (in.ConsumeIntegralInRange(0, 8)) {
    case 0: break;
    case 1: v.vt = VT_I2, v.iVal = in.ConsumeIntegral<std::int16_t>(); break;
    case 2: v.vt = VT_I4, v.lVal = in.ConsumeIntegral<std::int32_t>(); break;
    case 3: v.vt = VT_BOOL, v.boolVal = in.ConsumeIntegral<std::int16_t>(); break;
    case 4: v.vt = VT_UI1, v.bVal = in.ConsumeIntegral<std::uint8_t>(); break;
    case 5: v.vt = VT_R8, v.dblVal = in.ConsumeFloatingPoint<double>(); break;
    case 6: {
        const std::u16string text = [&] {
            const std::string bytes = in.ConsumeRandomLengthString(64);
            return std::u16string(bytes.begin(), bytes.end());
        }();
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
        break;
    }
    case 7: *cell = in.ConsumeIntegral<std::int32_t>(), v.vt = VT_BYREF | VT_I4, v.plVal = cell; break;
    case 8: v.vt = VT_DISPATCH, v.pdispVal = nullptr; break;
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    auto ctrl = std::make_unique<CZiVControlCtrl>(std::make_unique<ScriptedSocket>());
    IDispatch* dispatch = ctrl->GetIDispatch(FALSE);
    static const DISPID kIds[] = {1, 2, 3, 4, 5, 6, 7, 9, 0, 10, -1, -553, DISPID_PROPERTYPUT};
    static const WORD kFlags[] = {
        DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 0x10};
    for (int call = 0; call < 6 && in.remaining_bytes() > 0; ++call) {
        const DISPID id = in.PickValueInArray(kIds);
        const WORD flags = in.PickValueInArray(kFlags);
        const int count = in.ConsumeIntegralInRange(0, 8);
        LONG cells[8] = {};
        std::vector<VARIANT> args;
        for (int i = 0; i < count; ++i) args.push_back(make_argument(in, &cells[i]));
        DISPID named = DISPID_PROPERTYPUT;
        const bool name_put = (flags & DISPATCH_PROPERTYPUT) && in.ConsumeBool();
        DISPPARAMS params{args.data(), name_put ? &named : nullptr, UINT(args.size()), name_put ? 1u : 0u};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO info{};
        UINT arg_err = 0;
        const bool want_result = in.ConsumeBool();
        const HRESULT hr =
            dispatch->Invoke(id, IID_NULL, 0, flags, &params, want_result ? &result : nullptr, &info, &arg_err);
        if (SUCCEEDED(hr) && want_result && flags == DISPATCH_PROPERTYGET) {
            const VARTYPE expected = id == 1 ? VT_BSTR : id == 2 ? VT_I4 : (id == 3 || id == 4) ? VT_BOOL : result.vt;
            if (result.vt != expected) std::abort();
        }
        VariantClear(&result);
        ClearExcepInfo(&info);
        for (VARIANT& v : args) VariantClear(&v);
    }
    return 0;
}
