// How `convert` cuts ADSP.EXE into modules, and what it refuses.
#include "srec_testing.h"
#include "workdir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

using ziv::test::WorkDir;

namespace {

// Test texts are written with LF; the files carry CR LF as on the camera's PC.
std::string crlf(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const std::string kBanner = "convert version 2.5 - win32\nsupports ro/da version 2.3\nro/da file name:   t\n";

std::string header(int modules) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "ABCD00\n740000000000000000%04x%04x\n", modules, (23 * modules + 0x74) & 0xFFFF);
    return buf;
}

struct Case {
    const char* what;
    std::string exe;
    int modules;
    std::string body;  // ADSP.OUT after the name line
};

TEST(Convert, ModuleRules) {
    const std::string longline(100, 'F');
    const Case cases[] = {
        {"contiguous blocks of one type join", "@PA\n0000\n0001\nend\n@PA\n0001\n0002\nend\n\n", 1,
         "000000000200000000\n0001\n0002\n55\n"},
        {"a gap starts a new module", "@PA\n0000\n0001\nend\n@PA\n0005\n0002\nend\n\n", 2,
         "000000000100000000\n0001\n55\n000000000100000005\n0002\n55\n"},
        {"an overlap starts a new module", "@PA\n0000\n0001\nend\n@PA\n0000\n0002\nend\n\n", 2,
         "000000000100000000\n0001\n55\n000000000100000000\n0002\n55\n"},
        {"another block type starts a new module", "@PA\n0000\n0001\nend\n@DA\n0001\n0002\nend\n\n", 2,
         "000000000100000000\n0001\n55\n010000000100000001\n0002\n55\n"},
        {"an empty module is not counted; its words go with the next",
         "@PA\n0000\n0001\nend\n@DA\n0010\n0007\n@PA\n0001\n0002\nend\n\n", 2,
         "000000000100000000\n0001\n55\n000000000100000001\n0007\n0002\n55\n"},
        {"lines of 3 or 7 characters count but are not copied", "@PA\n0000\n0001\n123\n1234567\n0002\nend\n\n", 1,
         "000000000400000000\n0001\n0002\n55\n"},
        {"a line longer than the old buffer counts but is not copied", "@PA\n0000\n0001\n" + longline + "\nend\n\n", 1,
         "000000000200000000\n0001\n55\n"},
        {"data lines keep their case", "@DA\nABCD\nabcdef\n12aB\nend\n\n", 1, "01000000020000abcd\nabcdef\n12aB\n55\n"},
        {"a hex address in any case, 32 bits", "@PA\nFFFFfff0\n0001\nend\n\n", 1, "0000000001fffffff0\n0001\n55\n"},
        {"one line ahead of the first block is ignored", "title\n@PA\n0000\n0001\nend\n\n", 1,
         "000000000100000000\n0001\n55\n"},
        {"several lines ahead of the first block are ignored", "title\nmore\nstill more\n@PA\n0000\n0001\nend\n\n", 1,
         "000000000100000000\n0001\n55\n"},
        {"the last module is closed without a trailing line", "@PA\n0000\n0001\n0002\nend\n", 1,
         "000000000100000000\n0001\n0002\n55\n"},
        {"the most negative 32-bit address", "@PA\n80000000\n0001\nend\n\n", 1, "000000000180000000\n0001\n55\n"},
        {"blocks join across the sign of the address", "@PA\n7fffffff\n0001\nend\n@PA\n80000000\n0002\nend\n\n", 1,
         "00000000027fffffff\n0001\n0002\n55\n"},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write("ADSP.EXE", crlf(c.exe));
        auto r = dir.run("convert", {"t"});
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.out, kBanner + "number of modules: " + std::to_string(c.modules) + "\n") << c.what;
        EXPECT_EQ(dir.read("ADSP.OUT"), crlf(header(c.modules) + c.body)) << c.what;
    }
}

TEST(Convert, ScratchFileKeepsTheLastModule) {
    WorkDir dir;
    dir.write("ADSP.EXE", crlf("@PA\n0000\n0001\nend\n@DA\n0100\n0007\n0008\nend\n\n"));
    ASSERT_EQ(dir.run("convert", {"t"}).status, 0);
    EXPECT_EQ(dir.read("ADSP.TMP"), "0007\r\n0008\r\n");
}

std::string modules_with_gaps(int n) {
    std::string s;
    char buf[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "@PA\n%06x\n0001\nend\n", 16 * i);
        s += buf;
    }
    return s + "\n";
}

TEST(Convert, WarningAboveTenModules) {
    const std::string warning =
        "warning: more than 10 modules detected\ntoo many modules reduce RO/DA file efficiency\n"
        "please check linking procedure\n";
    for (int n : {10, 11, 40}) {
        WorkDir dir;
        dir.write("ADSP.EXE", crlf(modules_with_gaps(n)));
        auto r = dir.run("convert", {"t"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kBanner + "number of modules: " + std::to_string(n) + "\n" + (n > 10 ? warning : ""));
        // The printed count, the count in the name line and the end lines agree.
        std::string out = dir.read("ADSP.OUT");
        EXPECT_EQ(out.substr(0, 36), crlf(header(n)));
        std::size_t ends = 0;
        for (std::size_t p = 0; (p = out.find("\r\n55\r\n", p)) != std::string::npos; ++p) ++ends;
        EXPECT_EQ(ends, static_cast<std::size_t>(n));
    }
}

// Input whose download file would contradict its own header is refused before
// anything is written, with the line that caused it.
TEST(Convert, RefusesInputWithoutSettledMeaning) {
    struct Refusal {
        std::string exe;
        const char* message;
    };
    const Refusal cases[] = {
        {"@XA\n0000\n0001\nend\n\n", "ADSP.EXE line 1: block type is neither P nor D"},
        {"@PA\n0000\n0001\nend\n@\n0001\n", "ADSP.EXE line 5: block type is neither P nor D"},
        {"@PA\n0000\n00001\nend\n\n", "ADSP.EXE line 3: data line of 5 characters"},
        {"@PA\n0000\n0001\nstop\n\n", "ADSP.EXE line 4: data line of characters that are no hex digits"},
        {"@DA\n0000\nabcde!\nend\n\n", "ADSP.EXE line 3: data line of characters that are no hex digits"},
        {"@PA\nzz00\n0001\nend\n\n", "ADSP.EXE line 2: address line is not a hex number"},
        {"@PA\n\n0001\nend\n\n", "ADSP.EXE line 2: address line is not a hex number"},
        {"", "no block line"},
        {"just text\n", "no block line"},
        {modules_with_gaps(65536), "more than 65535 modules"},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write("ADSP.EXE", crlf(c.exe));
        auto r = dir.run("convert", {"t"});
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.out.rfind(kBanner, 0), 0u);
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("number of modules"), std::string::npos) << r.out;
        EXPECT_EQ(dir.read("ADSP.OUT"), "");
    }
}

// A scratch file that takes no data is a failure: ADSP.OUT never gets more
// than the counted words, whether they went through the file or not. The file
// size limit stops a tool that would copy the device's zeros for ever.
TEST(Convert, ScratchFileThatCannotBeWritten) {
    std::string big = "@PA\n000000\n";  // more words than the scratch buffer holds
    for (int i = 0; i < 200000; ++i) big += "123456\n";
    const std::string two_blocks = "end\n@DA\n0100\n0007\nend\n\n";
    const std::string cases[] = {"@PA\n0000\n0001\n" + two_blocks, big + two_blocks};
    for (const auto& exe : cases) {
        WorkDir good;
        good.write("ADSP.EXE", crlf(exe));
        ASSERT_EQ(good.run("convert", {"t"}).status, 0);
        WorkDir dir;
        dir.write("ADSP.EXE", crlf(exe));
        ASSERT_EQ(::symlink("/dev/full", dir.file("ADSP.TMP").c_str()), 0);
        auto r = srectest::shell(dir, "ulimit -f 100000; " + ziv::test::bin_path("convert") + " t");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kBanner + "number of modules: 2\nwrite error on ADSP.TMP\n");
        const std::string complete = good.read("ADSP.OUT");
        const std::string out = dir.read("ADSP.OUT");
        EXPECT_EQ(complete.compare(0, out.size(), out), 0) << "ADSP.OUT is not the start of the complete file";
    }
}

TEST(Convert, ScratchFileThatCannotBeOpened) {
    WorkDir dir;
    dir.write("ADSP.EXE", crlf("@PA\n0000\n0001\nend\n\n"));
    dir.write("ADSP.OUT", "keep me");
    ASSERT_EQ(::mkdir(dir.file("ADSP.TMP").c_str(), 0755), 0);
    auto r = dir.run("convert", {"t"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kBanner + "fopen error 2\n");
    EXPECT_EQ(dir.read("ADSP.OUT"), "keep me");
}

}  // namespace

namespace {

// Modules larger than the scratch buffer go through ADSP.TMP on disk; the
// result must not depend on which way they went.
TEST(Convert, LargeModulesPassThroughTheScratchFile) {
    const int big = 300000;  // about 2.4 MB of words: more than the buffer
    std::string exe = "@PA\n000000\n";
    std::string words;
    char buf[16];
    for (int i = 0; i < big; ++i) {
        std::snprintf(buf, sizeof buf, "%06x\n", i);
        exe += buf;
        words += buf;
    }
    exe += "end\n@DA\n800000\n0001\n0002\nend\n\n";
    WorkDir dir;
    dir.write("ADSP.EXE", crlf(exe));
    auto r = dir.run("convert", {"t"});
    ASSERT_EQ(r.status, 0) << r.out;
    char rec[32];
    std::snprintf(rec, sizeof rec, "00%08x00000000\n", big);
    EXPECT_EQ(dir.read("ADSP.OUT"), crlf(header(2) + rec + words + "55\n010000000200800000\n0001\n0002\n55\n"));
    EXPECT_EQ(dir.read("ADSP.TMP"), "0001\r\n0002\r\n");

    // The same big module last: ADSP.TMP keeps all of it.
    WorkDir last;
    last.write("ADSP.EXE", crlf("@DA\n800000\n0001\n0002\nend\n" + exe.substr(0, exe.find("end\n@DA")) + "end\n\n"));
    r = last.run("convert", {"t"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(last.read("ADSP.TMP"), crlf(words));
}

}  // namespace
