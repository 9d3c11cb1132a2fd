// zivgrab's pieces without a control: the command line, the type library
// description, the output formats and the terminal preview.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include "describe.h"
#include "grab.h"
#include "picture.h"
#include "typelib.h"

namespace {

using ziv::grab::GrabOptions;

std::optional<int> parse(std::vector<const char*> args, GrabOptions& options) {
    args.insert(args.begin(), "zivgrab");
    return ziv::grab::parse_command_line(static_cast<int>(args.size()), args.data(), options);
}

TEST(GrabCommandLine, TakesEachOptionAndKeepsTheDefaultsOfTheOthers) {
    const GrabOptions defaults;
    const struct {
        std::vector<const char*> args;
        std::function<bool(const GrabOptions&)> holds;
    } cases[] = {
        {{},
         [&](const GrabOptions& o) {
             return o.server == "127.0.0.1" && o.port == 2002 && o.out == "grab.bmp" && o.live == 0 &&
                    o.timeout_s == 10 && !o.preview && !o.describe &&
                    o.window == std::vector<std::int32_t>{0, 0, 640, 480, 1, 1};
         }},
        {{"--server", "camera", "--port", "65535"},
         [](const GrabOptions& o) { return o.server == "camera" && o.port == 65535; }},
        {{"--window=4,0,8,8,2,3"},
         [](const GrabOptions& o) { return o.window == std::vector<std::int32_t>{4, 0, 8, 8, 2, 3}; }},
        {{"--live", "3", "--timeout", "1"}, [](const GrabOptions& o) { return o.live == 3 && o.timeout_s == 1; }},
        {{"--out", "a.png", "--preview", "--describe"},
         [](const GrabOptions& o) { return o.out == "a.png" && o.preview && o.describe; }},
    };
    for (const auto& c : cases) {
        GrabOptions options;
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(parse(c.args, options), std::nullopt);
        EXPECT_TRUE(c.holds(options));
    }
}

TEST(GrabCommandLine, RefusesWindowsNobodyCanShowAndOtherBadValues) {
    const std::vector<std::vector<const char*>> cases = {
        {"--window", "0,0,640,480,1"},
        {"--window", "0,0,0,480,1,1"},
        {"--window", "0,0,640,480,0,1"},
        {"--window", "-1,0,640,480,1,1"},
        {"--window", "0,0,2147483648,1,1,1"},
        {"--window", "0,,640,480,1,1"},
        {"--port", "0"},
        {"--live", "0"},
        {"--timeout", "0"},
        {"--frobnicate"},
        {"--out"},
    };
    for (const auto& args : cases) {
        GrabOptions options;
        SCOPED_TRACE(args[0] + std::string(" ") + (args.size() > 1 ? args[1] : ""));
        EXPECT_EQ(parse(args, options), ziv::grab::kExitUsage);
        EXPECT_EQ(options.window, GrabOptions().window);
    }
}

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

QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.scanLine(y)[x] = uchar((x * 255 / std::max(1, width - 1) + y) & 0xFF);
    return image;
}

TEST(GrabOutput, WrittenPicturesReadBackWithTheSamePixels) {
    QTemporaryDir dir;
    const QImage image = gradient(37, 11);  // rows with fill bytes in BMP-like strides
    for (const char* format : {"png", "tiff"}) {
        const std::string name = dir.filePath(QString("a.") + format).toStdString();
        std::string error;
        ASSERT_TRUE(ziv::grab::write_picture(image, name, format, error)) << format << ": " << error;
        EXPECT_EQ(QImage(QString::fromStdString(name)).convertToFormat(QImage::Format_Grayscale8), image) << format;
    }
    std::string error;
    EXPECT_FALSE(ziv::grab::write_picture(image, dir.filePath("x/none.png").toStdString(), "png", error));
    EXPECT_FALSE(error.empty());
}

TEST(GrabPreview, ShadesDarkToBrightAndKeepsTheAspect) {
    // Four grey bands, 0 to 255: the first and last of the ten shades.
    QImage bands(8, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) bands.scanLine(y)[x] = uchar(x < 2 ? 0 : x < 4 ? 100 : x < 6 ? 200 : 255);
    EXPECT_EQ(ziv::grab::preview_lines(bands, 64), (std::vector<std::string>{"      --##@@", "      --##@@"}));

    const struct {
        int width, height, lines, columns;
    } sizes[] = {{640, 480, 24, 64}, {1280, 1024, 25, 64}, {4096, 10, 1, 64}, {3, 1000, 500, 3}, {1, 1, 1, 1}};
    for (const auto& s : sizes) {
        const auto lines = ziv::grab::preview_lines(gradient(s.width, s.height));
        ASSERT_EQ(lines.size(), size_t(s.lines)) << s.width << "x" << s.height;
        EXPECT_EQ(lines.front().size(), size_t(4 + s.columns));
    }
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

TEST(GrabDescribe, NamesTypesAsDeclared) {
    TYPEDESC inner{};
    inner.vt = VT_BSTR;
    TYPEDESC pointer{};
    pointer.vt = VT_PTR;
    pointer.lptdesc = &inner;
    const struct {
        TYPEDESC type;
        const char* text;
    } cases[] = {
        {pointer, "BSTR*"},
        {[] {
             TYPEDESC t{};
             t.vt = VT_BYREF | VT_BOOL;
             return t;
         }(),
         "VARIANT_BOOL*"},
        {[] {
             TYPEDESC t{};
             t.vt = VT_ARRAY | VT_UI1;
             return t;
         }(),
         "SAFEARRAY(unsigned char)"},
        {[] {
             TYPEDESC t{};
             t.vt = VT_VOID;
             return t;
         }(),
         "void"},
        {[] {
             TYPEDESC t{};
             t.vt = 99;
             return t;
         }(),
         "vartype(99)"},
    };
    for (const auto& c : cases) EXPECT_EQ(ziv::grab::describe_type(c.type), c.text);
}

}  // namespace
