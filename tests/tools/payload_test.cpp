// What the single-module wrappers put into the payload, and what they refuse.
#include "workdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

using ziv::test::WorkDir;

namespace {

std::string body_of(const std::string& bytes, bool upper) {
    std::string s;
    char buf[8];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, upper ? "%02X\r\n" : "%02x\r\n", b);
        s += buf;
    }
    return s;
}

std::string all_bytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
}

// Everything after the name line: length line, data lines, end line.
std::string after_name_line(const std::string& out) {
    std::size_t first = out.find("\r\n");
    std::size_t second = out.find("\r\n", first + 2);
    return out.substr(second + 2);
}

TEST(Payload, BytesAndLengthPerToolAndMode) {
    struct Case {
        const char* tool;
        const char* input;
        std::string raw;
        std::string payload;  // what must arrive in the download file
        bool upper;
    };
    const std::string all = all_bytes();
    const Case cases[] = {
        // Binary inputs: every byte as stored, CR, LF and 0x1A included.
        {"binload", "BINARY.DAT", all, all, true},
        {"exewrap", "EXEC.OUT", all, all, true},
        {"packwrap", "BINARY.DAT", all, all, true},
        {"picload", "BINARY.DAT", all, all, false},
        {"picload", "BINARY.DAT", "a\r\nb\r\n", "a\r\nb\r\n", false},
        {"binload", "BINARY.DAT", "", "", true},
        // Text input: CR LF arrives as LF, 0x1A ends it.
        {"txtload", "ASCII.INP", "a\r\nb\r\n", "a\nb\n", false},
        {"txtload", "ASCII.INP",
         "ab\x1a"
         "cd",
         "ab", false},
        {"txtload", "ASCII.INP", "a\rb", "a\rb", false},
        {"txtload", "ASCII.INP", "", "", false},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write(c.input, c.raw);
        auto r = dir.run(c.tool, {"n"});
        ASSERT_EQ(r.status, 0) << c.tool << r.out;
        char len[16];
        std::snprintf(len, sizeof len, "%08zx\r\n", c.payload.size());
        EXPECT_EQ(after_name_line(dir.read("ADSP.OUT")), len + body_of(c.payload, c.upper) + "55\r\n") << c.tool;
    }
}

TEST(Payload, SameBytesDifferOnlyInTypeCodeAndCase) {
    WorkDir dir;
    dir.write("BINARY.DAT", "plain text without line ends");
    dir.write("ASCII.INP", "plain text without line ends");
    ASSERT_EQ(dir.run("binload", {"same"}).status, 0);
    std::string bin = dir.read("ADSP.OUT");
    ASSERT_EQ(dir.run("packwrap", {"same"}).status, 0);
    std::string pack = dir.read("ADSP.OUT");
    ASSERT_EQ(dir.run("picload", {"same"}).status, 0);
    std::string pic = dir.read("ADSP.OUT");
    ASSERT_EQ(dir.run("txtload", {"same"}).status, 0);
    std::string txt = dir.read("ADSP.OUT");

    EXPECT_EQ(pack.substr(0, 6), "ABCD80");
    EXPECT_EQ(bin.substr(6), pack.substr(6));
    EXPECT_EQ(pic.substr(6), txt.substr(6));
    std::string lowered = bin;
    for (char& ch : lowered) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(lowered.substr(6), pic.substr(6));
}

// A length of 4 GiB or more does not fit the 32-bit length field: the tool
// refuses and leaves an existing download file as it was.
TEST(Payload, InputOf4GiBIsRefused) {
    for (const char* tool : {"binload", "picload"}) {
        WorkDir dir;
        int fd = ::open(dir.file("BINARY.DAT").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 0x100000000LL), 0);  // sparse: costs no disk
        ::close(fd);
        dir.write("ADSP.OUT", "keep me");
        auto r = dir.run(tool, {"big"});
        EXPECT_EQ(r.status, 1) << tool;
        EXPECT_NE(r.out.find("BINARY.DAT is too large"), std::string::npos) << r.out;
        EXPECT_EQ(dir.read("ADSP.OUT"), "keep me");
    }
}

}  // namespace
