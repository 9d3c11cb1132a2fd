// A type library described as data, walked the way a container walks it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "typelib.h"

namespace {
constexpr GUID kLibid = MakeGuid("{AAED9179-0000-4ADE-997E-D9A7519DFE72}");
constexpr IID kIid = MakeGuid("{1ABD8116-0000-4E2D-9B92-F8F1D1ECA7BA}");
constexpr IID kEventIid = MakeGuid("{B93AB8B1-0000-4C2D-A1BA-C0F5549D0D48}");
constexpr CLSID kClsid = MakeGuid("{1AB0D3D2-0000-459E-8B38-3DAB46844FDF}");

constexpr ParamData kSaveParams[] = {{"fileName", VT_BSTR}};
constexpr ParamData kAttribParams[] = {
    {"x", VT_BYREF | VT_I4}, {"y", VT_BYREF | VT_I4}, {"dx", VT_BYREF | VT_I4}, {"dy", VT_BYREF | VT_I4}};
constexpr ParamData kStatusParams[] = {{"status", VT_I4}};
constexpr MemberData kMembers[] = {
    {"server", 1, MemberKind::property, VT_BSTR},
    {"Busy", 3, MemberKind::readonlyProperty, VT_BOOL},
    {"SaveToBmp", 8, MemberKind::method, VT_BOOL, kSaveParams},
    {"GetImgAttrib", 9, MemberKind::method, VT_EMPTY, kAttribParams, "image position and size"},
};
constexpr MemberData kEvents[] = {{"PictureReady", 1, MemberKind::method, VT_EMPTY, kStatusParams}};
constexpr ImplData kImpls[] = {{kIid, IMPLTYPEFLAG_FDEFAULT},
                               {kEventIid, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
constexpr TypeData kTypes[] = {
    {TKIND_DISPATCH, "_DThing", kIid, TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE, "Dispatch interface", kMembers},
    {TKIND_DISPATCH, "_DThingEvents", kEventIid, TYPEFLAG_FDISPATCHABLE, "Event interface", kEvents},
    {TKIND_COCLASS, "Thing", kClsid, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, "Thing Control", {}, kImpls},
};
constexpr TypeLibData kLib = {"THINGLib", kLibid, 1, 0, 0, LIBFLAG_FCONTROL, "thing module", "thing.hlp", kTypes};

std::string Take(BSTR s) {
    std::string text = Utf8FromBstr(s);
    SysFreeString(s);
    return text;
}

class TypeLib : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateTypeLibFromData(kLib, &lib), S_OK); }
    void TearDown() override { lib->Release(); }
    ITypeInfo* Type(REFGUID guid) {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, &info), S_OK);
        return info;
    }
    ITypeLib* lib = nullptr;
};

TEST_F(TypeLib, LibraryAttributesAndDocumentation) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, kLibid);
    EXPECT_EQ(attr->wMajorVerNum * 100 + attr->wMinorVerNum, 100);
    EXPECT_EQ(attr->wLibFlags, LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, &file), S_OK);
    EXPECT_EQ(Take(name) + "|" + Take(doc) + "|" + Take(file), "THINGLib|thing module|thing.hlp");
    ASSERT_EQ(lib->GetTypeInfoCount(), 3u);
    TYPEKIND kind{};
    EXPECT_EQ(lib->GetTypeInfoType(2, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_COCLASS);
    EXPECT_EQ(lib->GetDocumentation(3, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeLib, DispatchInterfaceFunctions) {
    ITypeInfo* info = Type(kIid);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE);
    struct Row {
        std::string name;
        MEMBERID memid;
        INVOKEKIND invkind;
        std::vector<VARTYPE> params;  // VT_PTR entries point to VT_I4
        VARTYPE result;
    };
    const Row expected[] = {
        {"server", 1, INVOKE_PROPERTYGET, {}, VT_BSTR},
        {"server", 1, INVOKE_PROPERTYPUT, {VT_BSTR}, VT_VOID},
        {"Busy", 3, INVOKE_PROPERTYGET, {}, VT_BOOL},
        {"SaveToBmp", 8, INVOKE_FUNC, {VT_BSTR}, VT_BOOL},
        {"GetImgAttrib", 9, INVOKE_FUNC, {VT_PTR, VT_PTR, VT_PTR, VT_PTR}, VT_VOID},
    };
    ASSERT_EQ(attr->cFuncs, std::size(expected));
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, expected[i].memid);
        EXPECT_EQ(f->invkind, expected[i].invkind);
        EXPECT_EQ(f->funckind, FUNC_DISPATCH);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, expected[i].result);
        ASSERT_EQ(f->cParams, static_cast<SHORT>(expected[i].params.size()));
        for (SHORT p = 0; p < f->cParams; ++p) {
            const TYPEDESC& t = f->lprgelemdescParam[p].tdesc;
            EXPECT_EQ(t.vt, expected[i].params[p]);
            if (t.vt == VT_PTR) {
                EXPECT_EQ(t.lptdesc->vt, VT_I4);
            }
        }
        BSTR name = nullptr;
        EXPECT_EQ(info->GetDocumentation(f->memid, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(Take(name), expected[i].name);
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);

    BSTR names[5] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(9, names, 5, &count), S_OK);
    std::string joined;
    for (UINT i = 0; i < count; ++i) joined += Take(names[i]) + " ";
    EXPECT_EQ(joined, "GetImgAttrib x y dx dy ");
    BSTR help = nullptr;
    ASSERT_EQ(info->GetDocumentation(9, nullptr, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(help), "image position and size");

    LPOLESTR lookup[] = {const_cast<LPOLESTR>(u"getimgattrib"), const_cast<LPOLESTR>(u"DY")};
    MEMBERID ids[2] = {};
    EXPECT_EQ(info->GetIDsOfNames(lookup, 2, ids), S_OK);
    EXPECT_EQ(ids[0] * 10 + ids[1], 93);
    info->Release();
}

TEST_F(TypeLib, CoclassNamesItsDefaultAndSourceInterfaces) {
    ITypeInfo* coclass = Type(kClsid);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    ASSERT_EQ(attr->cImplTypes, 2);
    const std::pair<IID, INT> expected[] = {{kIid, IMPLTYPEFLAG_FDEFAULT},
                                            {kEventIid, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ITypeInfo* impl = nullptr;
        TYPEATTR* implAttr = nullptr;
        ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
        ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &ref), S_OK);
        ASSERT_EQ(coclass->GetRefTypeInfo(ref, &impl), S_OK);
        ASSERT_EQ(impl->GetTypeAttr(&implAttr), S_OK);
        EXPECT_EQ(implAttr->guid, expected[i].first);
        EXPECT_EQ(flags, expected[i].second);
        impl->Release();
    }
    ITypeLib* containing = nullptr;
    UINT index = 0;
    ASSERT_EQ(coclass->GetContainingTypeLib(&containing, &index), S_OK);
    EXPECT_EQ(containing, lib);
    EXPECT_EQ(index, 2u);
    containing->Release();
    coclass->Release();
}

TEST(TypeLibData, RefusesDescriptionsThatContradictThemselves) {
    constexpr ImplData kForeign[] = {{MakeGuid("{00000000-0000-0000-0000-0000000000AA}"), 0}};
    const TypeData foreignImpl[] = {{TKIND_COCLASS, "C", kClsid, 0, nullptr, {}, kForeign}};
    const TypeData twice[] = {{TKIND_DISPATCH, "A", kIid, 0}, {TKIND_DISPATCH, "B", kIid, 0}};
    const TypeData alias[] = {{TKIND_ALIAS, "A", kIid, 0}};
    for (std::span<const TypeData> types :
         {std::span<const TypeData>(foreignImpl), std::span<const TypeData>(twice), std::span<const TypeData>(alias)}) {
        TypeLibData bad = kLib;
        bad.types = types;
        ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
        EXPECT_EQ(CreateTypeLibFromData(bad, &lib), E_INVALIDARG);
        EXPECT_EQ(lib, nullptr);
    }
}
}  // namespace
