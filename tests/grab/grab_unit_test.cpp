// zivgrab's pieces without a control: the type library description, the
// output names and formats, files that appear only complete, and the
// terminal preview.
#include <gtest/gtest.h>

#include <QImage>
#include <QRandomGenerator>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "describe.h"
#include "picture.h"
#include "typelib.h"
#include "workdir.h"

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

TEST(GrabOutput, CounterPatternsAreFormattedHereOrRefused) {
    const struct {
        const char* pattern;
        const char* name7;  // the name of image 7; null: refused
    } cases[] = {
        {"img-%06d.png", "img-000007.png"},
        {"%d", "7"},
        {"a%3i-%%.tif", "a  7-%.tif"},
        {"100%%-%u", "100%-7"},
        {"plain.bmp", "plain.bmp"},
        {"100%%.bmp", "100%.bmp"},  // no counter: one name
        {"x%s.png", nullptr},
        {"50%.png", nullptr},
        {"a%d-%d.png", nullptr},
        {"a%n", nullptr},
        {"a%ld", nullptr},
        {"a%-3d", nullptr},
        {"a%.3d", nullptr},
        {"a%021d", nullptr},
        {"a%", nullptr},
        {"a%0", nullptr},
        {"img-%020000000000012d.png", nullptr},  // a width that overflowed while it was read
    };
    for (const auto& c : cases) {
        ziv::grab::OutputName name;
        const std::string got = name.parse(c.pattern) ? name.name(7) : "(refused)";
        EXPECT_EQ(got, c.name7 ? c.name7 : "(refused)") << c.pattern;
    }
    ziv::grab::OutputName wide;
    ASSERT_TRUE(wide.parse("%02d"));
    EXPECT_EQ(wide.name(123456), "123456");
}

// Every way a write can fail leaves the target as it was and no file of
// ours beside it, with the reason. The size limit makes the write fail
// midway, as a full disk does; it is set in a child process.
TEST(GrabOutput, AFailedWriteLeavesNoFileAndSaysWhy) {
    QImage noise(200, 200, QImage::Format_Grayscale8);  // incompressible: some 40 KB in any format
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x) noise.scanLine(y)[x] = uchar(QRandomGenerator::global()->generate());
    const QByteArray bytes(50000, 'x');
    const struct {
        const char* target;  // in the work folder
        const char* format;  // null: the bytes
        rlim_t size_limit;   // 0: none
        const char* reason;
    } cases[] = {
        {"a.png", "png", 8192, "File too large"},
        {"a.tif", "tiff", 8192, "File too large"},
        {"a.bmp", nullptr, 8192, "File too large"},
        {"file/a.png", "png", 0, "Not a directory"},
        {"dir", nullptr, 0, "directory"},
        {"full.png", "png", 0, "No space left on device"},  // a link to /dev/full
        {"full.bmp", nullptr, 0, "No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        ziv::test::WorkDir dir;
        dir.write("file", "kept");
        std::filesystem::create_directory(dir.file("dir"));
        std::filesystem::create_symlink("/dev/full", dir.file("full.png"));
        std::filesystem::create_symlink("/dev/full", dir.file("full.bmp"));
        const std::string target = dir.file(c.target);
        int pipe_fds[2];
        ASSERT_EQ(::pipe(pipe_fds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe_fds[0]);
            if (c.size_limit) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{c.size_limit, c.size_limit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::string error;
            const bool written = c.format ? ziv::grab::write_picture(noise, target, c.format, error)
                                          : ziv::grab::write_bytes(bytes, target, error);
            if (::write(pipe_fds[1], error.data(), error.size()) < 0) ::_exit(2);
            ::_exit(written ? 1 : 0);
        }
        ::close(pipe_fds[1]);
        std::string error;
        char buffer[512];
        for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) error.append(buffer, std::size_t(n));
        ::close(pipe_fds[0]);
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "reported as written";
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"dir", "file", "full.bmp", "full.png"}));
        EXPECT_EQ(dir.read("file"), "kept");
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
