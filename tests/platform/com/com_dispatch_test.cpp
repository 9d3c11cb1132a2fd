// Dispatch tables through the engine behind IDispatch::Invoke, and the generic
// event sink.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "dispmap.h"
#include "eventsink.h"

namespace {
// Shaped like an image control's automation face.
class CThing {
public:
    const std::string& GetServer() const { return m_server; }
    void SetServer(LPCTSTR server) { m_server = server; }
    LONG GetPort() const { return m_port; }
    void SetPort(LONG port) { m_port = port; }
    BOOL GetBusy() const { return FALSE; }
    void SetBusy(BOOL) {}
    void RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry) {
        m_request = {x, y, dx, dy, incrx, incry};
    }
    BOOL SaveToBmp(LPCTSTR fileName) { return *fileName ? 5 : 0; }  // any non-zero is TRUE
    void GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy) { *x = 1, *y = 2, *dx = 30, *dy = 40; }
    void AboutBox() { ++m_nAbout; }
    BSTR Title() { return SysAllocString(u"thing"); }  // handed to the caller
    void Fail() { throw std::runtime_error("camera on fire"); }

    std::string m_server;
    LONG m_port = 0;
    std::vector<LONG> m_request;
    int m_nAbout = 0;
};

constexpr VARTYPE kRef = VT_BYREF | VT_I4;
constexpr DispatchEntry kThingMap[] = {
    DispProperty<&CThing::GetServer, &CThing::SetServer, VT_BSTR>("server", 1),
    DispProperty<&CThing::GetPort, &CThing::SetPort, VT_I4>("port", 2),
    DispProperty<&CThing::GetBusy, &CThing::SetBusy, VT_BOOL>("Busy", 3),
    DispMethod<&CThing::RequestImage, VT_EMPTY, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4>("RequestImage", 5),
    DispMethod<&CThing::SaveToBmp, VT_BOOL, VT_BSTR>("SaveToBmp", 8),
    DispMethod<&CThing::GetImgAttrib, VT_EMPTY, kRef, kRef, kRef, kRef>("GetImgAttrib", 9),
    DispMethod<&CThing::AboutBox, VT_EMPTY>("AboutBox", DISPID_ABOUTBOX),
    DispMethod<&CThing::Title, VT_BSTR>("Title", 10),
    DispMethod<&CThing::Fail, VT_EMPTY>("Fail", 11),
};

struct Call {
    HRESULT hr;
    COleVariant result;
    UINT argErr = 0xFFFF;
    std::string exception;
};

// `args` in declaration order; a put names its one argument DISPID_PROPERTYPUT.
Call Invoke(CThing* thing, DISPID id, WORD flags, std::vector<VARIANT> args, bool namedPut = true) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (flags & DISPATCH_PROPERTYPUT) && namedPut;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()), put ? 1u : 0u};
    Call call;
    EXCEPINFO info{};
    call.hr = DispatchInvoke(kThingMap, thing, id, IID_NULL, flags, &params, &call.result, &info, &call.argErr);
    call.exception = Utf8FromBstr(info.bstrDescription);
    ClearExcepInfo(&info);
    return call;
}

class DispatchTable : public ::testing::Test {
protected:
    CThing object;
    CThing* thing = &object;
};

TEST_F(DispatchTable, MethodArgumentsArriveInDeclarationOrderCoerced) {
    const Call call =
        Invoke(thing, 5, DISPATCH_METHOD,
               {COleVariant(1), COleVariant(2), COleVariant(3), COleVariant(4), COleVariant(5), COleVariant(true)});
    EXPECT_EQ(call.hr, S_OK);
    EXPECT_EQ(call.result.vt, VT_EMPTY);
    EXPECT_EQ(thing->m_request, (std::vector<LONG>{1, 2, 3, 4, 5, -1}));
}

TEST_F(DispatchTable, PropertiesPutAndGet) {
    EXPECT_EQ(Invoke(thing, 1, DISPATCH_PROPERTYPUT, {COleVariant("camera.local")}).hr, S_OK);
    EXPECT_EQ(Invoke(thing, 2, DISPATCH_PROPERTYPUT, {COleVariant(5000)}).hr, S_OK);
    EXPECT_EQ(Invoke(thing, 3, DISPATCH_PROPERTYPUT, {COleVariant(true)}).hr, S_OK);  // accepted, ignored

    const Call server = Invoke(thing, 1, DISPATCH_PROPERTYGET, {});
    ASSERT_EQ(server.result.vt, VT_BSTR);
    EXPECT_EQ(Utf8FromBstr(server.result.bstrVal), "camera.local");
    EXPECT_EQ(Invoke(thing, 2, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}).result.lVal, 5000);
    const Call busy = Invoke(thing, 3, DISPATCH_PROPERTYGET, {});
    EXPECT_TRUE(busy.result.vt == VT_BOOL && busy.result.boolVal == VARIANT_FALSE);
    EXPECT_EQ(Utf8FromBstr(Invoke(thing, 10, DISPATCH_METHOD, {}).result.bstrVal), "thing");
}

TEST_F(DispatchTable, BoolResultIsVariantTrue) {
    const Call saved = Invoke(thing, 8, DISPATCH_METHOD, {COleVariant("a.bmp")});
    ASSERT_EQ(saved.result.vt, VT_BOOL);
    EXPECT_EQ(saved.result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(Invoke(thing, 8, DISPATCH_METHOD, {COleVariant("")}).result.boolVal, VARIANT_FALSE);
}

TEST_F(DispatchTable, ByReferenceArgumentsAreWrittenThrough) {
    LONG x = 0, y = 0, dx = 0;
    COleVariant held(true);  // a by-reference VARIANT takes the value as a long
    VARIANT viaVariant;
    VariantInit(&viaVariant);
    viaVariant.vt = VT_BYREF | VT_VARIANT;
    viaVariant.pvarVal = &held;
    const Call call =
        Invoke(thing, 9, DISPATCH_METHOD, {VariantByRef(&x), VariantByRef(&y), VariantByRef(&dx), viaVariant});
    EXPECT_EQ(call.hr, S_OK);
    EXPECT_EQ(call.result.vt, VT_EMPTY);
    EXPECT_EQ(std::vector<LONG>({x, y, dx}), std::vector<LONG>({1, 2, 30}));
    EXPECT_TRUE(held.vt == VT_I4 && held.lVal == 40);
}

TEST_F(DispatchTable, RefusesWrongCallsWithTheirCodes) {
    LONG a = 0;
    const COleVariant i(1), text("x"), many("many");  // the rows hold shallow copies
    struct Row {
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        bool namedPut;
        HRESULT hr;
        UINT argErr;  // 0xFFFF: not set
    };
    const Row rows[] = {
        {99, DISPATCH_METHOD, {}, true, DISP_E_MEMBERNOTFOUND, 0xFFFF},
        {5, DISPATCH_METHOD, {i, i, i, i, i}, true, DISP_E_BADPARAMCOUNT, 0xFFFF},
        {5, DISPATCH_METHOD, {i, i, text, i, i, i}, true, DISP_E_TYPEMISMATCH, 3},
        {5, DISPATCH_PROPERTYPUT, {i}, true, DISP_E_MEMBERNOTFOUND, 0xFFFF},
        {2, DISPATCH_PROPERTYPUT, {many}, true, DISP_E_TYPEMISMATCH, 0},
        {2, DISPATCH_PROPERTYPUT, {i}, false, DISP_E_PARAMNOTFOUND, 0xFFFF},
        {2, DISPATCH_PROPERTYPUT, {i, i}, true, DISP_E_BADPARAMCOUNT, 0xFFFF},
        {2, DISPATCH_PROPERTYGET, {i}, true, DISP_E_BADPARAMCOUNT, 0xFFFF},
        {9, DISPATCH_METHOD, {VariantByRef(&a), VariantByRef(&a), VariantByRef(&a), i}, true, DISP_E_TYPEMISMATCH, 0},
        {11, DISPATCH_METHOD, {}, true, DISP_E_EXCEPTION, 0xFFFF},
    };
    for (std::size_t r = 0; r < std::size(rows); ++r) {
        const Call call = Invoke(thing, rows[r].id, rows[r].flags, rows[r].args, rows[r].namedPut);
        EXPECT_EQ(call.hr, rows[r].hr) << "row " << r;
        EXPECT_EQ(call.argErr, rows[r].argErr) << "row " << r;
    }
    EXPECT_EQ(Invoke(thing, 11, DISPATCH_METHOD, {}).exception, "camera on fire");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(DispatchInvoke(kThingMap, thing, 7, IID_IDispatch, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTable, NamesWithoutRegardToCase) {
    struct Row {
        std::vector<const char16_t*> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    };
    const Row rows[] = {
        {{u"REQUESTIMAGE"}, S_OK, {5}},
        {{u"aboutbox"}, S_OK, {DISPID_ABOUTBOX}},
        {{u"Server"}, S_OK, {1}},
        {{u"serverx"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {{u"RequestImage", u"x"}, DISP_E_UNKNOWNNAME, {5, DISPID_UNKNOWN}},
    };
    for (const Row& row : rows) {
        std::vector<LPOLESTR> names;
        for (const char16_t* n : row.names) names.push_back(const_cast<LPOLESTR>(n));
        std::vector<DISPID> ids(names.size(), 12345);
        EXPECT_EQ(DispatchGetIDsOfNames(kThingMap, names.data(), static_cast<UINT>(names.size()), ids.data()), row.hr);
        EXPECT_EQ(ids, row.ids);
    }
    LPOLESTR about = const_cast<LPOLESTR>(u"AboutBox");
    DISPID id = 0;
    ASSERT_EQ(DispatchGetIDsOfNames(kThingMap, &about, 1, &id), S_OK);
    EXPECT_EQ(Invoke(thing, id, DISPATCH_METHOD, {}).hr, S_OK);
    EXPECT_EQ(thing->m_nAbout, 1);
}

HRESULT InvokeSink(IDispatch* sink, DISPID id, std::vector<VARIANT> args) {
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    COleVariant result;
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
}

constexpr IID kEvents = MakeGuid("{B93AB8B1-0000-4C2D-A1BA-C0F5549D0D48}");

TEST(EventSink, RoutesByIdentifier) {
    std::vector<LONG> seen;
    std::vector<std::string> pairs;
    auto* sink = new CEventSink(
        kEvents,
        {SinkHandler<VT_I4>(1, [&](LONG status) { seen.push_back(status); }),
         SinkHandler<VT_I4, VT_BSTR>(3, [&](LONG n, std::string t) { pairs.push_back(std::to_string(n) + t); })});
    IDispatch* asEvents = nullptr;
    ASSERT_EQ(sink->QueryInterface(kEvents, reinterpret_cast<void**>(&asEvents)), S_OK);
    EXPECT_EQ(InvokeSink(asEvents, 1, {COleVariant(9)}), S_OK);
    EXPECT_EQ(InvokeSink(asEvents, 1, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeSink(asEvents, 2, {COleVariant(0)}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(seen, std::vector<LONG>{9});
    // In declaration order (DISPPARAMS carries them last first), whether the
    // arguments come as declared or are coerced (a BOOL to a long).
    COleVariant seven(7L), ab("ab"), yes(true), cd("cd");
    EXPECT_EQ(InvokeSink(asEvents, 3, {ab, seven}), S_OK);
    EXPECT_EQ(InvokeSink(asEvents, 3, {cd, yes}), S_OK);
    EXPECT_EQ(pairs, (std::vector<std::string>{"7ab", "-1cd"}));
    asEvents->Release();
    sink->Release();
}
}  // namespace
