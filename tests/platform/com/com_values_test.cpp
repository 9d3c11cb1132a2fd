// Identifiers, strings, value coercion, the memory stream and property bag.
#include <gtest/gtest.h>

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
    EXPECT_EQ(again, kSample);
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
    case VT_I4: return a.lVal == b.lVal;
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_BSTR: return Utf8FromBstr(a.bstrVal) == Utf8FromBstr(b.bstrVal);
    default: return true;
    }
}

TEST(Variant, CoercionTable) {
    LONG nine = 9;
    VARIANT shortValue;  // a type no member takes
    VariantInit(&shortValue);
    shortValue.vt = VT_I2;
    struct Row {
        VARIANT from;
        VARTYPE to;
        HRESULT hr;
        COleVariant expected;
    };
    const COleVariant seven(7), text("12"), yes(true), none;  // the rows hold shallow copies
    const Row rows[] = {
        {seven, VT_I4, S_OK, COleVariant(7)},
        {yes, VT_I4, S_OK, COleVariant(-1)},
        {seven, VT_BOOL, S_OK, COleVariant(true)},
        {COleVariant(0), VT_BOOL, S_OK, COleVariant(false)},
        {VariantByRef(&nine), VT_I4, S_OK, COleVariant(9)},
        {text, VT_BSTR, S_OK, COleVariant("12")},
        {seven, VT_EMPTY, S_OK, COleVariant()},
        {text, VT_I4, DISP_E_TYPEMISMATCH, {}},  // no number parsing
        {seven, VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {none, VT_BOOL, S_OK, COleVariant(false)},
        {shortValue, VT_I4, DISP_E_BADVARTYPE, {}},
        {seven, VT_R8, DISP_E_BADVARTYPE, {}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        COleVariant out(LONG(123));
        const HRESULT hr = VariantChangeType(&out, &rows[i].from, 0, rows[i].to);
        EXPECT_EQ(hr, rows[i].hr) << "row " << i;
        if (SUCCEEDED(hr)) EXPECT_TRUE(SameValue(out, rows[i].expected)) << "row " << i;
        else EXPECT_TRUE(out.vt == VT_I4 && out.lVal == 123) << "row " << i << ": failure changed the target";
    }
}

TEST(Variant, ChangesInPlaceAndCopiesDeeply) {
    COleVariant v(true);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.lVal, -1);

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

    COleVariant asLong;
    asLong.vt = VT_I4;
    ASSERT_EQ(bag->Read(u"_extentx", &asLong, nullptr), S_OK);
    EXPECT_EQ(asLong.lVal, 17000);
    COleVariant asText;
    asText.vt = VT_BSTR;
    EXPECT_EQ(bag->Read(u"_extentx", &asText, nullptr), DISP_E_TYPEMISMATCH);
    COleVariant missing;
    EXPECT_EQ(bag->Read(u"_Version", &missing, nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->GetNames(), std::vector<std::string>{"_ExtentX"});
    bag->Release();
}
}  // namespace
