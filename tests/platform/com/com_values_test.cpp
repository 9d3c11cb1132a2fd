// Identifiers, strings, value coercion, the memory stream and property bag.
#include <gtest/gtest.h>

#include <cmath>

#include "comobject.h"
#include "propbag.h"

namespace {
constexpr GUID kSample = MakeGuid("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");

TEST(Guid, ParsesAndPrintsBraced) {
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString("{1ab0d3d2-4f4e-459e-8b38-3dab46844fdf}", &parsed), S_OK);
    EXPECT_EQ(parsed, kSample);
    EXPECT_EQ(StringFromGUID(parsed), "{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");
    OLECHAR wide[39];
    ASSERT_EQ(StringFromGUID2(kSample, wide, 39), 39);
    IID again{};
    ASSERT_EQ(IIDFromString(wide, &again), S_OK);
    EXPECT_TRUE(IsEqualGUID(again, kSample));
    EXPECT_EQ(StringFromGUID2(kSample, wide, 38), 0);
}

TEST(Guid, RefusesMalformedText) {
    const char* const bad[] = {
        nullptr,
        "",
        "1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF",     // no braces
        "{1AB0D3D2-4F4E-459E-8B38-3DAB46844FD}",    // one digit short
        "{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}x",  // trailing text
        "{1AB0D3D2-4F4E-459E-8B383-DAB46844FDF}",   // dash misplaced
        "{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDG}",   // not hex
        "{1AB0D3D2 4F4E-459E-8B38-3DAB46844FDF}",
    };
    for (const char* text : bad) {
        CLSID clsid{};
        IID iid{};
        EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING) << (text ? text : "(null)");
        EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG) << (text ? text : "(null)");
    }
}

TEST(HResult, TextsForTheCodesToolsReport) {
    EXPECT_STREQ(HResultText(REGDB_E_CLASSNOTREG), "class not registered");
    EXPECT_STREQ(HResultText(MakeHResult(0x8ABC0001)), "unknown failure");
    EXPECT_TRUE(FAILED(DISP_E_EXCEPTION) && SUCCEEDED(S_FALSE));
}

TEST(Bstr, LengthPrefixAndUtf8) {
    BSTR text = SysAllocStringUtf8(
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC");  // "Grüße €"
    EXPECT_EQ(SysStringLen(text), 7u);
    EXPECT_EQ(SysStringByteLen(text), 14u);
    EXPECT_EQ(text[7], 0);
    EXPECT_EQ(Utf8FromBstr(text),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC");
    SysFreeString(text);

    BSTR zeros = SysAllocStringLen(nullptr, 3);
    EXPECT_EQ(SysStringLen(zeros), 3u);
    EXPECT_EQ(zeros[0] | zeros[1] | zeros[2] | zeros[3], 0);
    EXPECT_EQ(Utf8FromOleString(u"a\0b", 3), std::string("a\0b", 3));
    SysFreeString(zeros);

    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(Utf8FromBstr(nullptr), "");
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_I2: return a.iVal == b.iVal;
    case VT_I4: return a.lVal == b.lVal;
    case VT_UI1: return a.bVal == b.bVal;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_BSTR: return Utf8FromBstr(a.bstrVal) == Utf8FromBstr(b.bstrVal);
    default: return true;
    }
}

COleVariant Null() {
    COleVariant v;
    v.vt = VT_NULL;
    return v;
}

TEST(Variant, CoercionTable) {
    LONG nine = 9;
    struct Row {
        COleVariant from;
        VARTYPE to;
        USHORT flags;
        HRESULT hr;
        COleVariant expected;
    };
    const Row rows[] = {
        {COleVariant(SHORT(7)), VT_I4, 0, S_OK, COleVariant(7)},
        {COleVariant(BYTE(200)), VT_I4, 0, S_OK, COleVariant(200)},
        {COleVariant(true), VT_I4, 0, S_OK, COleVariant(-1)},
        {COleVariant(2.5), VT_I4, 0, S_OK, COleVariant(2)},  // half to even
        {COleVariant(3.5), VT_I4, 0, S_OK, COleVariant(4)},
        {COleVariant(-2.5), VT_I4, 0, S_OK, COleVariant(-2)},
        {COleVariant(3e9), VT_I4, 0, DISP_E_OVERFLOW, {}},
        {COleVariant(NAN), VT_I4, 0, DISP_E_OVERFLOW, {}},
        {COleVariant(" 42 "), VT_I4, 0, S_OK, COleVariant(42)},
        {COleVariant("-17"), VT_I4, 0, S_OK, COleVariant(-17)},
        {COleVariant("1e3"), VT_I4, 0, S_OK, COleVariant(1000)},
        {COleVariant("2147483648"), VT_I4, 0, DISP_E_OVERFLOW, {}},
        {COleVariant("12abc"), VT_I4, 0, DISP_E_TYPEMISMATCH, {}},
        {COleVariant(""), VT_I4, 0, DISP_E_TYPEMISMATCH, {}},
        {COleVariant("0x10"), VT_I4, 0, DISP_E_TYPEMISMATCH, {}},
        {COleVariant("inf"), VT_I4, 0, DISP_E_TYPEMISMATCH, {}},
        {COleVariant(), VT_I4, 0, S_OK, COleVariant(0)},
        {Null(), VT_I4, 0, DISP_E_TYPEMISMATCH, {}},
        {COleVariant(70000), VT_I2, 0, DISP_E_OVERFLOW, {}},
        {COleVariant(-1), VT_UI1, 0, DISP_E_OVERFLOW, {}},
        {COleVariant(255), VT_UI1, 0, S_OK, COleVariant(BYTE(255))},
        {COleVariant(VariantByRef(&nine)), VT_I2, 0, S_OK, COleVariant(SHORT(9))},
        {COleVariant(5), VT_BOOL, 0, S_OK, COleVariant(true)},
        {COleVariant(0.0), VT_BOOL, 0, S_OK, COleVariant(false)},
        {COleVariant("TRUE"), VT_BOOL, 0, S_OK, COleVariant(true)},
        {COleVariant("false"), VT_BOOL, 0, S_OK, COleVariant(false)},
        {COleVariant("0"), VT_BOOL, 0, S_OK, COleVariant(false)},
        {COleVariant("maybe"), VT_BOOL, 0, DISP_E_TYPEMISMATCH, {}},
        {COleVariant(-12), VT_BSTR, 0, S_OK, COleVariant("-12")},
        {COleVariant(0.1), VT_BSTR, 0, S_OK, COleVariant("0.1")},
        {COleVariant(true), VT_BSTR, 0, S_OK, COleVariant("-1")},
        {COleVariant(true), VT_BSTR, VARIANT_ALPHABOOL, S_OK, COleVariant("True")},
        {COleVariant("3.5"), VT_R8, 0, S_OK, COleVariant(3.5)},
        {COleVariant(4), VT_EMPTY, 0, S_OK, COleVariant()},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        COleVariant out(COleVariant(SHORT(123)));
        const HRESULT hr = VariantChangeType(&out, &rows[i].from, rows[i].flags, rows[i].to);
        EXPECT_EQ(hr, rows[i].hr) << "row " << i;
        if (SUCCEEDED(hr)) EXPECT_TRUE(SameValue(out, rows[i].expected)) << "row " << i;
        else EXPECT_TRUE(out.vt == VT_I2 && out.iVal == 123) << "row " << i << ": failure changed the target";
    }
}

TEST(Variant, ChangesInPlaceAndCopiesDeeply) {
    COleVariant v("  8");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.lVal, 8);

    COleVariant original("text");
    COleVariant copy(original);
    original.Clear();
    EXPECT_EQ(Utf8FromBstr(copy.bstrVal), "text");
}

TEST(MemoryStream, WritesSeeksAndReads) {
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ULONG n = 0;
    EXPECT_EQ(stream->Write("abcdef", 6, &n), S_OK);
    LARGE_INTEGER move{};
    move.QuadPart = -4;
    ULARGE_INTEGER pos{};
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 2u);
    char buffer[8] = {};
    EXPECT_EQ(stream->Read(buffer, 8, &n), S_FALSE);  // short read at the end
    EXPECT_EQ(std::string(buffer, n), "cdef");
    move.QuadPart = -10;
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);

    std::vector<BYTE> all;
    ASSERT_EQ(ReadStreamContents(stream, &all), S_OK);
    EXPECT_EQ(std::string(all.begin(), all.end()), "abcdef");
    stream->Release();
}

TEST(MemoryPropertyBag, StoresByNameWithoutCase) {
    auto* bag = new CMemoryPropertyBag;
    COleVariant value(16000);
    ASSERT_EQ(bag->Write(u"_ExtentX", &value), S_OK);
    COleVariant replaced(17000);
    ASSERT_EQ(bag->Write(u"_EXTENTX", &replaced), S_OK);

    COleVariant asText;
    asText.vt = VT_BSTR;
    ASSERT_EQ(bag->Read(u"_extentx", &asText, nullptr), S_OK);
    EXPECT_EQ(Utf8FromBstr(asText.bstrVal), "17000");
    COleVariant missing;
    EXPECT_EQ(bag->Read(u"_Version", &missing, nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->GetNames(), std::vector<std::string>{"_ExtentX"});
    bag->Release();
}
}  // namespace
