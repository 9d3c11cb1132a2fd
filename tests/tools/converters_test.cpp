// The six converters, run as real programs in scratch folders.
#include "workdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using ziv::test::read_test_data;
using ziv::test::WorkDir;

namespace {

struct Tool {
    const char* name;
    const char* input;
};
void PrintTo(const Tool& t, std::ostream* os) { *os << t.name; }
const Tool kTools[] = {{"convert", "ADSP.EXE"},   {"exewrap", "EXEC.OUT"},  {"packwrap", "BINARY.DAT"},
                       {"binload", "BINARY.DAT"}, {"txtload", "ASCII.INP"}, {"picload", "BINARY.DAT"}};

std::string banner(const std::string& tool) {
    if (tool == "convert") return "convert version 2.5 - win32\nsupports ro/da version 2.3\n";
    if (tool == "exewrap") return "exewrap version 1.0 - win32\nsupports ro/da version 4.0\nfor TMS62Cxx systems\n";
    if (tool == "packwrap")
        return "packwrap version 1.0 - win32\nfor TMS62xx compressed executables\nRODA Version 5.06 +\n";
    if (tool == "binload") return "binload version 1.1 - win32\n";
    if (tool == "txtload") return "txtload version 2.3 - win32\n";
    return "picload version 1.1 convert jpeg data - win32\n";
}

std::string echo(const std::string& tool, const std::string& name) {
    return (tool == "convert" ? "ro/da file name:   " : "file name: ") + name + "\n";
}

// The worked examples, byte for byte: input, ADSP.OUT and standard output.
struct Golden {
    const char* tool;
    const char* name;
    const char* input;
};
void PrintTo(const Golden& g, std::ostream* os) { *os << g.tool; }
class WorkedExample : public testing::TestWithParam<Golden> {};

TEST_P(WorkedExample, MatchesGoldenFiles) {
    const Golden& g = GetParam();
    WorkDir dir;
    std::string folder = std::string("tools/golden/") + g.tool + "/";
    dir.write(g.input, read_test_data(folder + g.input));
    auto r = dir.run(g.tool, {g.name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, read_test_data(folder + "stdout"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("ADSP.OUT"), read_test_data(folder + "ADSP.OUT"));
}

INSTANTIATE_TEST_SUITE_P(Converters, WorkedExample,
                         testing::Values(Golden{"convert", "demo", "ADSP.EXE"}, Golden{"binload", "cam", "BINARY.DAT"},
                                         Golden{"txtload", "cam", "ASCII.INP"}, Golden{"exewrap", "cam", "EXEC.OUT"},
                                         Golden{"picload", "pic", "BINARY.DAT"}),
                         [](const auto& p) { return std::string(p.param.tool); });

// --- The shared command line --------------------------------------------------

class CommandLine : public testing::TestWithParam<Tool> {};

TEST_P(CommandLine, UsageErrorsStopBeforeAnyFileWithStatusZero) {
    const Tool& t = GetParam();
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "wrong number of arguments\n"},
        {{"a", "b"}, "wrong number of arguments\n"},
        {{"123456789"}, "file name too long\n"},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write(t.input, "");
        dir.write("ADSP.OUT", "keep me");
        auto r = dir.run(t.name, c.args);
        EXPECT_EQ(r.status, 0) << t.name;
        EXPECT_EQ(r.out, banner(t.name) + c.message) << t.name;
        EXPECT_EQ(dir.read("ADSP.OUT"), "keep me") << t.name;
        EXPECT_FALSE(dir.exists("ADSP.TMP")) << t.name;
    }
}

TEST_P(CommandLine, MissingInputLeavesDownloadFileUntouched) {
    const Tool& t = GetParam();
    WorkDir dir;
    dir.write("ADSP.OUT", "keep me");
    auto r = dir.run(t.name, {"abcdefgh"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner(t.name) + echo(t.name, "abcdefgh") + "fopen error 1\n");
    EXPECT_EQ(dir.read("ADSP.OUT"), "keep me");
}

TEST_P(CommandLine, UnwritableDownloadFile) {
    const Tool& t = GetParam();
    WorkDir dir;
    dir.write(t.input, "");
    std::filesystem::create_directory(dir.file("ADSP.OUT"));
    auto r = dir.run(t.name, {"x"});
    EXPECT_EQ(r.status, std::string(t.name) == "convert" ? 3 : 1);
    EXPECT_EQ(r.out, banner(t.name) + echo(t.name, "x") + "fopen error 3\n");
}

// A download file that cannot be written completely is a failure, not a success.
TEST_P(CommandLine, WriteErrorIsReported) {
    const Tool& t = GetParam();
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    WorkDir dir;
    dir.write(t.input, t.name == std::string("convert") ? "@PA\n0000\n0001\nend\n" : "abc");
    std::filesystem::create_symlink("/dev/full", dir.file("ADSP.OUT"));
    auto r = dir.run(t.name, {"x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("write error on ADSP.OUT\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(AllConverters, CommandLine, testing::ValuesIn(kTools),
                         [](const auto& p) { return std::string(p.param.name); });

// --- Name line and check word --------------------------------------------------

TEST(NameLine, CaseAndCheckWordPerWriter) {
    struct Case {
        const char* tool;
        std::string name;
        const char* line;  // second line of ADSP.OUT
    };
    const std::string one_module = "@PA\n0000\n0001\nend\n";
    const Case cases[] = {
        // An empty name: nine zero bytes; exewrap's check word is its constant.
        {"exewrap", "", "0000000000000000000001002800"},
        {"binload", "", "0000000000000000000001000000"},
        // Eight characters fill the field; the ninth byte stays zero.
        {"picload", "AbCdEfGh", "4162436445664768000001000000"},
        {"packwrap", "abcdefgh", "6162636465666768000001000000"},
        // Only the bytes at even positions count: 40 + a + c + e + g.
        {"exewrap", "abcdefgh", "616263646566676800000101b800"},
        // Case is kept, and changes the check word.
        {"exewrap", "Cam", "43616D000000000000000100d800"},
        {"convert", "cam", "63616d000000000000000100e7"},
        {"convert", "Cam", "43616d000000000000000100c7"},
        // A byte of 0x80 or more takes two digits and counts as a signed value.
        {"exewrap", "\xe4", "E400000000000000000001000c00"},
        {"txtload", "\xff\x80", "ff80000000000000000001000000"},
        // A negative sum is kept to 16 bits.
        {"exewrap",
         "\x80"
         "a\x80"
         "a\x80"
         "a\x80",
         "8061806180618000000001fe2800"},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        std::string tool = c.tool;
        dir.write(tool == "convert"   ? "ADSP.EXE"
                  : tool == "exewrap" ? "EXEC.OUT"
                  : tool == "txtload" ? "ASCII.INP"
                                      : "BINARY.DAT",
                  tool == "convert" ? one_module : "");
        auto r = dir.run(tool, {c.name});
        ASSERT_EQ(r.status, 0) << r.out;
        std::string out = dir.read("ADSP.OUT");
        std::size_t first = out.find("\r\n");
        std::size_t second = out.find("\r\n", first + 2);
        EXPECT_EQ(out.substr(first + 2, second - first - 2), c.line) << tool << " '" << c.name << "'";
    }
}

}  // namespace
