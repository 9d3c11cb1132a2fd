// The image control as containers see it: every member through
// IDispatch::Invoke, the type information they walk, events through the
// connection point, persistence, the About box and the property page.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <map>
#include <string>

#include "dispatch_call.h"
#include "propbag.h"
#include "harness.h"
#include "zivcontrolppg.h"
#include "zivcontrolres.h"

using namespace imageproto;

namespace {

using Statuses = std::vector<LONG>;
constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;
constexpr WORD kMethod = DISPATCH_METHOD;

COleVariant Bool(bool b) { return COleVariant(b); }

// Equal type and value (strings by their text).
::testing::AssertionResult SameVariant(const VARIANT& actual, const VARIANT& expected) {
    if (actual.vt != expected.vt)
        return ::testing::AssertionFailure() << "type " << actual.vt << ", expected " << expected.vt;
    bool same = true;
    switch (expected.vt) {
    case VT_EMPTY: break;
    case VT_BSTR: same = Utf8FromBstr(actual.bstrVal) == Utf8FromBstr(expected.bstrVal); break;
    case VT_BOOL: same = actual.boolVal == expected.boolVal; break;
    default: same = actual.lVal == expected.lVal; break;
    }
    return same ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "another value";
}

// Answers modal dialogs for the test and counts them.
struct ModalRecorder {
    std::vector<std::string> captions;
    std::vector<UINT> templates;
    ModalRecorder() {
        CDialog::SetModalHook([this](CDialog& dialog) -> INT_PTR {
            captions.push_back(dialog.GetCaption());
            templates.push_back(dialog.GetTemplate().id);
            return IDOK;
        });
    }
    ~ModalRecorder() { CDialog::SetModalHook(nullptr); }
};

TEST(ControlDispatch, EveryMemberByIdentifier) {
    Harness h;
    ModalRecorder modal;
    IDispatch* d = h.ctrl->GetIDispatch(FALSE);
    QTemporaryDir dir;
    const std::string bmp = dir.filePath("a.bmp").toStdString();
    struct Step {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<COleVariant> args;
        HRESULT hr;
        COleVariant result = COleVariant();  // VT_EMPTY: none
        UINT argErr = 0xFFFF;
    };
    const Step steps[] = {
        {"put server", 1, kPut, {COleVariant("camera-7.local")}, S_OK},
        {"get server, a copy", 1, kGet, {}, S_OK, COleVariant("camera-7.local")},
        {"put port", 2, kPut, {COleVariant(5000)}, S_OK},
        {"get port", 2, kGet, {}, S_OK, COleVariant(5000)},
        {"port not a number", 2, kPut, {COleVariant("abc")}, DISP_E_TYPEMISMATCH, COleVariant(), 0},
        {"put Busy: accepted", 3, kPut, {Bool(true)}, S_OK},
        {"get Busy: the control's own", 3, kGet, {}, S_OK, Bool(false)},
        {"live from any non-zero value", 4, kPut, {COleVariant(7)}, S_OK},
        {"get live: VARIANT_TRUE", 4, kGet, {}, S_OK, Bool(true)},
        {"live off", 4, kPut, {Bool(false)}, S_OK},
        {"get live", 4, kMethod | kGet, {}, S_OK, Bool(false)},
        {"RequestImage, six longs", 5, kMethod, {1, 2, 3, 4, 5, 6}, S_OK},
        {"RequestImage, five", 5, kMethod, {1, 2, 3, 4, 5}, DISP_E_BADPARAMCOUNT},
        {"RequestImage, a word",
         5,
         kMethod,
         {1, 2, COleVariant("three"), 4, 5, 6},
         DISP_E_TYPEMISMATCH,
         COleVariant(),
         3},
        {"SetPosition without a window", 6, kMethod, {0, 0, 10, 10}, S_OK},
        {"Abort", 7, kMethod, {}, S_OK},
        {"Abort with an argument", 7, kMethod, {1}, DISP_E_BADPARAMCOUNT},
        {"SaveToBmp written: VARIANT_TRUE", 8, kMethod, {COleVariant(bmp)}, S_OK, Bool(true)},
        {"SaveToBmp, no such folder", 8, kMethod, {COleVariant("/nonexistent/ziv/a.bmp")}, S_OK, Bool(false)},
        {"SaveToBmp, no argument", 8, kMethod, {}, DISP_E_BADPARAMCOUNT},
        {"GetImgAttrib by value", 9, kMethod, {1, 2, 3, 4}, DISP_E_TYPEMISMATCH, COleVariant(), 3},
        {"a method is no property", 5, kPut, {1}, DISP_E_MEMBERNOTFOUND},
        {"no member 10", 10, kMethod, {}, DISP_E_MEMBERNOTFOUND},
        {"AboutBox", DISPID_ABOUTBOX, kMethod, {}, S_OK},
    };
    for (const Step& step : steps) {
        const DispatchCall call = InvokeDispatch(d, step.id, step.flags, step.args);
        EXPECT_EQ(call.hr, step.hr) << step.what;
        EXPECT_TRUE(SameVariant(call.result, step.result)) << step.what;
        if (step.argErr != 0xFFFF) {
            EXPECT_EQ(call.argErr, step.argErr) << step.what;
        }
        if (std::string(step.what) == "RequestImage, six longs") {
            // Passed last first, they arrive in declaration order.
            h.sock->Connected();
            ASSERT_EQ(h.sock->sent.size(), 1u);
            const RequestBytes expected = encode(ImageRequest{1, 2, 3, 4, 5, 6});
            EXPECT_EQ(h.sock->sent[0], std::vector<BYTE>(expected.begin(), expected.end()));
            EXPECT_EQ(h.sock->hosts.back(), "camera-7.local");
            EXPECT_EQ(h.sock->ports.back(), 5000u);
        }
    }
    EXPECT_EQ(h.ctrl->GetServer(), "camera-7.local");
    EXPECT_EQ(modal.templates, std::vector<UINT>{IDD_ABOUTBOX_ZIVCONTROL});
}

TEST(ControlDispatch, NamesWithoutRegardToCase) {
    Harness h;
    IDispatch* d = h.ctrl->GetIDispatch(FALSE);
    const std::pair<const char*, DISPID> names[] = {
        {"SERVER", 1},       {"Port", 2},        {"busy", 3},          {"LIVE", 4},
        {"requestimage", 5}, {"SetPosition", 6}, {"ABORT", 7},         {"savetobmp", 8},
        {"GetImgAttrib", 9}, {"aboutbox", -552}, {"PictureReady", -1}, {"server ", -1},
    };
    for (const auto& [name, id] : names) EXPECT_EQ(DispatchIdOf(d, name), id) << name;

    // A member reached by its name works like one reached by its number.
    ModalRecorder modal;
    EXPECT_EQ(InvokeDispatch(d, DispatchIdOf(d, "AboutBox"), kMethod).hr, S_OK);
    EXPECT_EQ(modal.captions, std::vector<std::string>{"About ZiVControl Control"});
}

TEST(ControlDispatch, GetImgAttribWritesAllFourThroughReferences) {
    Harness h;
    h.Start(16, 8, 2, 1);
    h.sock->Deliver(Reply(3, 4, 16, 8, 2, 1, 1));
    IDispatch* d = h.ctrl->GetIDispatch(FALSE);

    LONG values[4] = {-1, -1, -1, -1};
    std::vector<COleVariant> refs;
    for (LONG& v : values) {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_I4;
        ref.plVal = &v;
        refs.emplace_back(ref);
    }
    DispatchCall call = InvokeDispatch(d, 9, kMethod, refs);
    EXPECT_EQ(call.hr, S_OK);
    EXPECT_EQ(call.result.vt, VT_EMPTY) << "no return value";
    EXPECT_EQ(std::vector<LONG>(values, values + 4), (std::vector<LONG>{3, 4, 8, 8}));

    // References to variants receive longs.
    COleVariant held[4];
    std::vector<COleVariant> variantRefs;
    for (COleVariant& v : held) {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &v;
        variantRefs.emplace_back(ref);
    }
    EXPECT_EQ(InvokeDispatch(d, 9, kMethod, variantRefs).hr, S_OK);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(SameVariant(held[i], COleVariant(values[i]))) << i;
}

TEST(ControlDispatch, WritesMarkTheControlModifiedExceptBusy) {
    Harness h;  // server "camera", port 2002, live off
    IDispatch* d = h.ctrl->GetIDispatch(FALSE);
    IPersistStreamInit* persist = h.ctrl.get();
    const struct {
        const char* what;
        DISPID id;
        COleVariant value;
        bool modified;
    } rows[] = {
        {"server, the same text again", 1, COleVariant("camera"), true},
        {"port, the same value", 2, COleVariant(2002), true},
        {"live, the same value", 4, Bool(false), true},
        {"Busy, TRUE", 3, Bool(true), false},
        {"Busy, FALSE", 3, Bool(false), false},
    };
    for (const auto& row : rows) {
        h.ctrl->SetModifiedFlag(FALSE);
        EXPECT_EQ(InvokeDispatch(d, row.id, kPut, {row.value}).hr, S_OK) << row.what;
        EXPECT_EQ(h.ctrl->IsModified(), row.modified ? TRUE : FALSE) << row.what;
        EXPECT_EQ(persist->IsDirty(), row.modified ? S_OK : S_FALSE) << row.what;
    }
    EXPECT_EQ(h.ctrl->GetBusy(), FALSE);
    h.Start();
    EXPECT_EQ(InvokeDispatch(d, 3, kPut, {Bool(false)}).hr, S_OK);
    EXPECT_TRUE(SameVariant(InvokeDispatch(d, 3, kGet).result, Bool(true))) << "the control's own value stays";
}

// --- Type information ------------------------------------------------------

struct Param {
    std::string name;
    VARTYPE vt;  // VT_BYREF | x: a pointer to x
};
struct Function {
    std::string name;
    MEMBERID memid;
    INVOKEKIND kind;
    VARTYPE result;  // VT_VOID: none
    std::vector<Param> params;
    bool operator==(const Function& o) const {
        if (name != o.name || memid != o.memid || kind != o.kind || result != o.result) return false;
        if (params.size() != o.params.size()) return false;
        for (std::size_t i = 0; i < params.size(); ++i)
            if (params[i].vt != o.params[i].vt || (!o.params[i].name.empty() && params[i].name != o.params[i].name))
                return false;
        return true;
    }
};

std::string Text(BSTR s) {
    std::string t = Utf8FromBstr(s);
    SysFreeString(s);
    return t;
}

std::vector<Function> Functions(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    std::vector<Function> out;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        info->GetFuncDesc(i, &f);
        BSTR names[8] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 8, &count);
        Function fn{Text(names[0]), f->memid, f->invkind, f->elemdescFunc.tdesc.vt, {}};
        for (SHORT p = 0; p < f->cParams; ++p) {
            const TYPEDESC& t = f->lprgelemdescParam[p].tdesc;
            const VARTYPE vt = t.vt == VT_PTR ? VARTYPE(VT_BYREF | t.lptdesc->vt) : t.vt;
            // A property's get and put share their identifier: the names are the get's.
            fn.params.push_back({UINT(p + 1) < count && f->invkind == INVOKE_FUNC ? Text(names[p + 1]) : "", vt});
        }
        for (UINT n = f->invkind == INVOKE_FUNC ? UINT(f->cParams) + 1 : 1; n < count; ++n) SysFreeString(names[n]);
        out.push_back(fn);
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
    return out;
}

// What a type library shows for described members: a method as one function,
// a property as its get and its put (which takes one value of its type).
std::vector<Function> FunctionsOf(std::span<const MemberData> members) {
    std::vector<Function> out;
    for (const MemberData& m : members) {
        if (m.kind == MemberKind::method) {
            Function fn{m.name, m.dispid, INVOKE_FUNC, m.type == VT_EMPTY ? VARTYPE(VT_VOID) : m.type, {}};
            for (const ParamData& p : m.params) fn.params.push_back({p.name, p.vt});
            out.push_back(fn);
            continue;
        }
        out.push_back({m.name, m.dispid, INVOKE_PROPERTYGET, m.type, {}});
        if (m.kind == MemberKind::property)
            out.push_back({m.name, m.dispid, INVOKE_PROPERTYPUT, VT_VOID, {{"", m.type}}});
    }
    return out;
}

TEST(ControlTypeLibrary, WhatContainersReadThroughGetTypeInfo) {
    Harness h;
    IDispatch* d = h.ctrl->GetIDispatch(FALSE);
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(d->GetTypeInfo(0, 0, &dispatch), S_OK);
    ITypeLib* lib = nullptr;
    UINT index = 99;
    ASSERT_EQ(dispatch->GetContainingTypeLib(&lib, &index), S_OK);
    dispatch->Release();

    TLIBATTR* libAttr = nullptr;
    lib->GetLibAttr(&libAttr);
    EXPECT_EQ(libAttr->guid, LIBID_ZIVCONTROLLib);
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    EXPECT_EQ(libAttr->wLibFlags, LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(libAttr);

    // The outward interface: containers call the members by these names and
    // identifiers. Types and parameters come from the one description.
    const std::pair<std::string, DISPID> contract[] = {
        {"server", dispidServer},
        {"port", dispidPort},
        {"Busy", dispidBusy},
        {"live", dispidLive},
        {"RequestImage", dispidRequestImage},
        {"SetPosition", dispidSetPosition},
        {"Abort", dispidAbort},
        {"SaveToBmp", dispidSaveToBmp},
        {"GetImgAttrib", dispidGetImgAttrib},
        {"AboutBox", DISPID_ABOUTBOX},
    };
    std::vector<std::pair<std::string, DISPID>> described;
    for (const MemberData& m : kZivControlMembers) described.emplace_back(m.name, m.dispid);
    EXPECT_EQ(described, std::vector(std::begin(contract), std::end(contract)));
    ASSERT_EQ(std::size(kZivControlEvents), 1u);
    EXPECT_EQ(kZivControlEvents[0].name, std::string("PictureReady"));
    EXPECT_EQ(kZivControlEvents[0].dispid, eventidPictureReady);

    struct Type {
        std::string name;
        GUID guid;
        TYPEKIND kind;
        WORD flags;
        std::string help;
        std::vector<Function> functions;
        std::vector<std::pair<GUID, INT>> impls;
    };
    const Type expected[] = {
        {"ZIVCONTROLLib", LIBID_ZIVCONTROLLib, TKIND_MODULE, 0, "ziVControl ActiveX Control module", {}, {}},
        {"_DZiVControl",
         DIID__DZiVControl,
         TKIND_DISPATCH,
         TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE,
         "Dispatch interface for ZiVControl Control",
         FunctionsOf(kZivControlMembers),
         {}},
        {"_DZiVControlEvents",
         DIID__DZiVControlEvents,
         TKIND_DISPATCH,
         TYPEFLAG_FDISPATCHABLE,
         "Event interface for ZiVControl Control",
         FunctionsOf(kZivControlEvents),
         {}},
        {"ZiVControl",
         CLSID_ZiVControl,
         TKIND_COCLASS,
         TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
         "ZiVControl Control",
         {},
         {{DIID__DZiVControl, IMPLTYPEFLAG_FDEFAULT},
          {DIID__DZiVControlEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}},
    };
    BSTR name = nullptr, help = nullptr, helpFile = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &help, nullptr, &helpFile), S_OK);
    EXPECT_EQ(Text(name), expected[0].name);
    EXPECT_EQ(Text(help), expected[0].help);
    EXPECT_EQ(Text(helpFile), "ziVControl.hlp");

    ASSERT_EQ(lib->GetTypeInfoCount(), 3u);
    EXPECT_EQ(index, 0u) << "the dispatch interface comes first";
    for (UINT t = 0; t < 3; ++t) {
        const Type& want = expected[t + 1];
        ITypeInfo* info = nullptr;
        ASSERT_EQ(lib->GetTypeInfo(t, &info), S_OK);
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        EXPECT_EQ(attr->guid, want.guid) << want.name;
        EXPECT_EQ(attr->typekind, want.kind) << want.name;
        EXPECT_EQ(attr->wTypeFlags, want.flags) << want.name;
        ASSERT_EQ(attr->cImplTypes, want.impls.size()) << want.name;
        for (UINT i = 0; i < attr->cImplTypes; ++i) {
            HREFTYPE ref = 0;
            INT flags = 0;
            ITypeInfo* impl = nullptr;
            info->GetRefTypeOfImplType(i, &ref);
            info->GetImplTypeFlags(i, &flags);
            ASSERT_EQ(info->GetRefTypeInfo(ref, &impl), S_OK);
            TYPEATTR* implAttr = nullptr;
            impl->GetTypeAttr(&implAttr);
            EXPECT_EQ(implAttr->guid, want.impls[i].first) << want.name << " " << i;
            EXPECT_EQ(flags, want.impls[i].second) << want.name << " " << i;
            impl->ReleaseTypeAttr(implAttr);
            impl->Release();
        }
        info->ReleaseTypeAttr(attr);
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
        EXPECT_EQ(Text(name), want.name);
        EXPECT_EQ(Text(help), want.help) << want.name;
        const std::vector<Function> functions = Functions(info);
        EXPECT_EQ(functions.size(), want.functions.size()) << want.name;
        for (std::size_t f = 0; f < std::min(functions.size(), want.functions.size()); ++f)
            EXPECT_TRUE(functions[f] == want.functions[f]) << want.name << ": " << want.functions[f].name;
        for (const Function& fn : functions) {
            // No member carries help of its own, and the control answers every name.
            ASSERT_EQ(info->GetDocumentation(fn.memid, nullptr, &help, nullptr, nullptr), S_OK);
            EXPECT_EQ(Text(help), "") << fn.name;
            if (t == 0) {
                EXPECT_EQ(DispatchIdOf(d, fn.name.c_str()), fn.memid);
            }
        }
        info->Release();
    }
    lib->Release();
}

// --- Events ----------------------------------------------------------------

struct TrackedCtrl : CZiVControlCtrl {
    bool* gone;
    TrackedCtrl(std::unique_ptr<CImageSocket> socket, bool* destroyed)
        : CZiVControlCtrl(std::move(socket)), gone(destroyed) {}
    ~TrackedCtrl() override { *gone = true; }
};

TEST(ControlEvents, TwoSinksOnTheConnectionPoint) {
    enum class FirstSink { listens, abortsOn8, unadvisesOn9, releasesTheControlOn8 };
    const struct {
        const char* what;
        FirstSink first;
        Statuses heardByFirst, heardBySecond;
    } rows[] = {
        {"both hear every status", FirstSink::listens, {9, 8, 0}, {9, 8, 0}},
        // The status in progress still reaches the second sink; the exchange ends.
        {"a sink calls back into the control", FirstSink::abortsOn8, {9, 8}, {9, 8}},
        {"a sink unadvises itself", FirstSink::unadvisesOn9, {9}, {9, 8, 0}},
        // The status in progress still reaches every sink; after it, nobody
        // hears from the control any more, and it goes from the event loop.
        {"a sink releases the last reference", FirstSink::releasesTheControlOn8, {9, 8}, {9, 8}},
    };
    for (const auto& row : rows) {
        bool gone = false;
        auto socket = std::make_unique<ScriptedSocket>();
        ScriptedSocket* sock = socket.get();
        auto* ctrl = new TrackedCtrl(std::move(socket), &gone);  // one reference, ours
        IUnknown* source = ctrl->GetControllingUnknown();
        std::vector<std::string> order;
        Statuses first, second;
        bool released = false;
        DWORD firstCookie = 0;
        firstCookie = FunctionSink::Advise(source, DIID__DZiVControlEvents, [&](DISPID, LONG status) {
            first.push_back(status);
            order.push_back("first");
            if (row.first == FirstSink::abortsOn8 && status == PR_IMAGE_STARTED) ctrl->Abort();
            if (row.first == FirstSink::unadvisesOn9 && status == PR_REQUEST_SENT) {
                EXPECT_EQ(UnadviseSink(source, DIID__DZiVControlEvents, firstCookie), S_OK);
            }
            if (row.first == FirstSink::releasesTheControlOn8 && status == PR_IMAGE_STARTED) {
                released = true;
                source->Release();
            }
        });
        FunctionSink::Advise(source, DIID__DZiVControlEvents, [&](DISPID, LONG status) {
            second.push_back(status);
            order.push_back("second");
        });

        ctrl->SetServer("camera");
        ctrl->RequestImage(0, 0, 16, 8, 1, 1);
        sock->Connected();
        EXPECT_EQ(order, (std::vector<std::string>{"first", "second"})) << row.what << ": synchronous, in order";
        sock->Deliver(Reply(0, 0, 16, 8, 1, 1, 1));
        EXPECT_EQ(first, row.heardByFirst) << row.what;
        EXPECT_EQ(second, row.heardBySecond) << row.what;
        EXPECT_FALSE(gone) << row.what << ": destroyed under its own feet";
        if (!released) source->Release();
        QCoreApplication::processEvents();
        EXPECT_TRUE(gone) << row.what;
    }
}

// --- Persistence -----------------------------------------------------------

CZiVControlCtrl* NewControl() { return new CZiVControlCtrl(std::make_unique<ScriptedSocket>()); }

SIZEL Extent(CZiVControlCtrl* c) {
    SIZEL size{-1, -1};
    static_cast<IOleObject*>(c)->GetExtent(DVASPECT_CONTENT, &size);
    return size;
}

TEST(ControlPersistence, VersionAndExtentComeBackTheConnectionDoesNot) {
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    auto* bag = new CMemoryPropertyBag;
    const struct {
        const char* medium;
        std::function<HRESULT(IUnknown*)> save, load;
    } media[] = {
        {"stream",
         [&](IUnknown* c) {
             IPersistStreamInit* p = nullptr;
             c->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&p));
             const HRESULT hr = p->Save(stream, TRUE);
             p->Release();
             return hr;
         },
         [&](IUnknown* c) {
             IPersistStreamInit* p = nullptr;
             c->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&p));
             stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
             const HRESULT hr = p->Load(stream);
             p->Release();
             return hr;
         }},
        {"property bag",
         [&](IUnknown* c) {
             IPersistPropertyBag* p = nullptr;
             c->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&p));
             const HRESULT hr = p->Save(bag, TRUE, TRUE);
             p->Release();
             return hr;
         },
         [&](IUnknown* c) {
             IPersistPropertyBag* p = nullptr;
             c->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&p));
             const HRESULT hr = p->Load(bag, nullptr);
             p->Release();
             return hr;
         }},
    };
    for (const auto& m : media) {
        CZiVControlCtrl* saved = NewControl();
        saved->SetServer("camera");
        saved->SetPort(2002);
        saved->SetLive(TRUE);
        SIZEL extent{5000, 3000};
        static_cast<IOleObject*>(saved)->SetExtent(DVASPECT_CONTENT, &extent);
        EXPECT_EQ(m.save(saved->GetControllingUnknown()), S_OK) << m.medium;
        EXPECT_EQ(saved->IsModified(), FALSE) << m.medium << ": saved with the dirty flag cleared";
        saved->Release();

        CZiVControlCtrl* loaded = NewControl();
        loaded->SetModifiedFlag();
        EXPECT_EQ(m.load(loaded->GetControllingUnknown()), S_OK) << m.medium;
        EXPECT_EQ(loaded->GetServer(), "") << m.medium;
        EXPECT_EQ(loaded->GetPort(), 0) << m.medium;
        EXPECT_EQ(loaded->GetLive(), FALSE) << m.medium;
        EXPECT_EQ(Extent(loaded).cx, 5000) << m.medium;
        EXPECT_EQ(Extent(loaded).cy, 3000) << m.medium;
        EXPECT_EQ(loaded->IsModified(), FALSE) << m.medium;
        loaded->Release();
    }

    // The stream: version 1.0, extent, no stock properties, little-endian.
    std::vector<BYTE> bytes;
    ReadStreamContents(stream, &bytes);
    EXPECT_EQ(bytes, (std::vector<BYTE>{0x00, 0x00, 0x01, 0x00, 0x88, 0x13, 0, 0, 0xB8, 0x0B, 0, 0, 0, 0, 0, 0}));
    // The bag: the same by name.
    EXPECT_EQ(bag->GetNames(), (std::vector<std::string>{"_Version", "_ExtentX", "_ExtentY", "_StockProps"}));
    const VARIANT* version = bag->Find(u"_Version");
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(SameVariant(*version, COleVariant(0x00010000)));
    stream->Release();
    bag->Release();
}

TEST(ControlPersistence, SavesItsOwnVersionAndRefusesHalfAState) {
    // State saved by a later version: loaded, and saved again as version 1.0.
    auto* bag = new CMemoryPropertyBag;
    const std::pair<const char16_t*, LONG> values[] = {{u"_Version", 0x00020000}, {u"_ExtentX", 1000}};
    for (auto [name, value] : values) {
        COleVariant v(value);
        bag->Write(name, &v);
    }
    CZiVControlCtrl* ctrl = NewControl();
    const SIZEL initial = Extent(ctrl);
    EXPECT_EQ(initial.cx, 2646) << "100 pixels at 96 per inch";
    EXPECT_EQ(initial.cy, 1323) << "50 pixels";
    EXPECT_EQ(static_cast<IPersistPropertyBag*>(ctrl)->Load(bag, nullptr), S_OK);
    EXPECT_EQ(Extent(ctrl).cx, 1000);
    EXPECT_EQ(Extent(ctrl).cy, initial.cy) << "missing: the default";
    auto* again = new CMemoryPropertyBag;
    EXPECT_EQ(static_cast<IPersistPropertyBag*>(ctrl)->Save(again, TRUE, TRUE), S_OK);
    EXPECT_TRUE(SameVariant(*again->Find(u"_Version"), COleVariant(0x00010000)));

    // A stream cut short: an error, and the defaults rather than a mixture.
    IStream* stream = nullptr;
    const BYTE cut[] = {0x00, 0x00, 0x01, 0x00, 0x10, 0x27, 0x00, 0x00, 0x10};
    ASSERT_EQ(CreateStreamOnBytes(cut, sizeof cut, &stream), S_OK);
    EXPECT_EQ(static_cast<IPersistStreamInit*>(ctrl)->Load(stream), E_FAIL);
    EXPECT_EQ(Extent(ctrl).cx, initial.cx);
    EXPECT_EQ(Extent(ctrl).cy, initial.cy);
    ULARGE_INTEGER size{};
    EXPECT_EQ(static_cast<IPersistStreamInit*>(ctrl)->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 16u);
    stream->Release();
    again->Release();
    bag->Release();
    ctrl->Release();
}

// --- Class, status, resources, property page -------------------------------

TEST(ControlFace, IdentityStatusAndResources) {
    CZiVControlCtrl* ctrl = NewControl();
    IUnknown* unk = ctrl->GetControllingUnknown();
    const IID answered[] = {IID_IUnknown,
                            IID_IDispatch,
                            DIID__DZiVControl,
                            IID_IPersist,
                            IID_IPersistStreamInit,
                            IID_IPersistPropertyBag,
                            IID_IConnectionPointContainer,
                            IID_IOleObject};
    for (const IID& iid : answered) {
        IUnknown* p = nullptr;
        EXPECT_EQ(unk->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK) << StringFromGUID(iid);
        if (p) p->Release();
    }
    IUnknown* none = nullptr;
    EXPECT_EQ(unk->QueryInterface(DIID__DZiVControlEvents, reinterpret_cast<void**>(&none)), E_NOINTERFACE);

    CLSID clsid{};
    EXPECT_EQ(static_cast<IOleObject*>(ctrl)->GetUserClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_ZiVControl);
    DWORD status = 0;
    EXPECT_EQ(static_cast<IOleObject*>(ctrl)->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191u);
    ctrl->Release();

    const std::map<UINT, std::string> strings = {
        {1, "ZiVControl Control"}, {2, "ZiVControl Property Page"}, {200, "General"}};
    EXPECT_EQ(kStringTable.size(), strings.size());
    for (const auto& [id, text] : strings) EXPECT_EQ(LoadResourceString(id), text) << id;
}

TEST(ControlFace, AboutBoxAndPropertyPage) {
    const DialogTemplate* about = FindDialogTemplate(IDD_ABOUTBOX_ZIVCONTROL);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(std::vector<short>({about->cx, about->cy}), std::vector<short>({260, 55}));
    ASSERT_EQ(about->items.size(), 4u);
    EXPECT_STREQ(about->items[1].text, "ZiVControl Control, Version 1.0");
    EXPECT_EQ(about->items[3].id, UINT(IDOK));
    EXPECT_EQ(about->items[3].kind, DialogItemKind::defPushButton);
    EXPECT_TRUE(FindDialogTemplate(IDD_PROPPAGE_ZIVCONTROL)->items.empty()) << "a page without fields";

    // The page: titled by string 200, sized by template 200 (default base units here).
    auto* page = new CZiVControlPropPage;
    PROPPAGEINFO info{};
    EXPECT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(Utf8FromBstr(info.pszTitle), "General");
    EXPECT_EQ(info.size.cx, 375);
    EXPECT_EQ(info.size.cy, 101);
    SysFreeString(info.pszTitle);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    page->Release();
}

}  // namespace
