// zivgrab's pieces without a control: the type library description, the
// output formats and the terminal preview.
#include <gtest/gtest.h>

#include <QImage>

#include "describe.h"
#include "picture.h"
#include "typelib.h"

namespace {

TEST(GrabOutput, FormatFollowsTheNameCaseAlike) {
    const struct {
        const char* name;
        const char* format;  // null: the control's BMP
    } cases[] = {
        {"a.png", "png"},   {"A.PNG", "png"},  {"a.tif", "tiff"}, {"dir.png/a.TIFF", "tiff"}, {"a.bmp", nullptr},
        {"a.jpg", nullptr}, {".png", nullptr}, {"png", nullptr},  {"a.png.bmp", nullptr},
    };
    for (const auto& c : cases) {
        const char* format = ziv::grab::qt_format_for(c.name);
        EXPECT_STREQ(format ? format : "(bmp)", c.format ? c.format : "(bmp)") << c.name;
    }
}

TEST(GrabPreview, ShadesDarkToBrightAndKeepsTheAspect) {
    // Four grey bands, 0 to 255: the first and last of the ten shades.
    QImage bands(8, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) bands.scanLine(y)[x] = uchar(x < 2 ? 0 : x < 4 ? 100 : x < 6 ? 200 : 255);
    EXPECT_EQ(ziv::grab::preview_lines(bands, 64), (std::vector<std::string>{"      --##@@", "      --##@@"}));

    // Narrow and tall: no more columns than pixels, and the aspect kept.
    QImage narrow(3, 1000, QImage::Format_Grayscale8);
    narrow.fill(128);
    const auto tall = ziv::grab::preview_lines(narrow);
    EXPECT_EQ(tall.size(), 500u);
    EXPECT_EQ(tall.front(), "    +++");
    EXPECT_TRUE(ziv::grab::preview_lines(QImage()).empty());
}

constexpr GUID kLibid = MakeGuid("{0A0B0C0D-0000-4000-8000-00000000000A}");
constexpr IID kIid = MakeGuid("{0A0B0C0D-0000-4000-8000-00000000000B}");
constexpr IID kEventIid = MakeGuid("{0A0B0C0D-0000-4000-8000-00000000000C}");
constexpr CLSID kClsid = MakeGuid("{0A0B0C0D-0000-4000-8000-00000000000D}");
constexpr ParamData kAttribParams[] = {{"x", VT_BYREF | VT_I4}, {"name", VT_BSTR}};
constexpr ParamData kStatusParams[] = {{"status", VT_I4}};
constexpr MemberData kMembers[] = {
    {"server", 1, MemberKind::property, VT_BSTR, {}, "the \"host\""},
    {"Busy", 3, MemberKind::readonlyProperty, VT_BOOL},
    {"Save", 8, MemberKind::method, VT_BOOL, kAttribParams},
    {"AboutBox", DISPID_ABOUTBOX, MemberKind::method, VT_EMPTY},
};
constexpr MemberData kEvents[] = {{"PictureReady", 1, MemberKind::method, VT_EMPTY, kStatusParams}};
constexpr ImplData kImpls[] = {{kIid, IMPLTYPEFLAG_FDEFAULT},
                               {kEventIid, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
constexpr TypeData kTypes[] = {
    {TKIND_DISPATCH, "_DThing", kIid, TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE, "Thing", kMembers},
    {TKIND_DISPATCH, "_DThingEvents", kEventIid, TYPEFLAG_FDISPATCHABLE, nullptr, kEvents},
    {TKIND_COCLASS, "Thing", kClsid, TYPEFLAG_FCONTROL, "Thing Control", {}, kImpls},
};
constexpr TypeLibData kLib = {"THINGLib", kLibid, 1, 2, 0, LIBFLAG_FCONTROL, "thing module", "thing.hlp", kTypes};

TEST(GrabDescribe, ReadsLikeTheInterfaceDefinition) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(CreateTypeLibFromData(kLib, &lib), S_OK);
    EXPECT_EQ(ziv::grab::describe_type_library(lib),
              "[\n"
              "  uuid(0A0B0C0D-0000-4000-8000-00000000000A),\n"
              "  version(1.2),\n"
              "  helpstring(\"thing module\"),\n"
              "  helpfile(\"thing.hlp\"),\n"
              "  control\n"
              "]\n"
              "library THINGLib\n"
              "{\n"
              "    [\n"
              "      uuid(0A0B0C0D-0000-4000-8000-00000000000B),\n"
              "      helpstring(\"Thing\"),\n"
              "      hidden\n"
              "    ]\n"
              "    dispinterface _DThing\n"
              "    {\n"
              "    properties:\n"
              "        [id(1), helpstring(\"the \\\"host\\\"\")] BSTR server;\n"
              "        [id(3), readonly] VARIANT_BOOL Busy;\n"
              "    methods:\n"
              "        [id(8)] VARIANT_BOOL Save([in, out] long* x, [in] BSTR name);\n"
              "        [id(-552)] void AboutBox();\n"
              "    };\n"
              "\n"
              "    [\n"
              "      uuid(0A0B0C0D-0000-4000-8000-00000000000C)\n"
              "    ]\n"
              "    dispinterface _DThingEvents\n"
              "    {\n"
              "    properties:\n"
              "    methods:\n"
              "        [id(1)] void PictureReady([in] long status);\n"
              "    };\n"
              "\n"
              "    [\n"
              "      uuid(0A0B0C0D-0000-4000-8000-00000000000D),\n"
              "      helpstring(\"Thing Control\"),\n"
              "      control,\n"
              "      noncreatable\n"
              "    ]\n"
              "    coclass Thing\n"
              "    {\n"
              "        [default] dispinterface _DThing;\n"
              "        [default, source] dispinterface _DThingEvents;\n"
              "    };\n"
              "};\n");
    lib->Release();
}

}  // namespace
