// The old text mode, reproduced by InFile and OutFile.
#include "textio.h"
#include "workdir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ziv::FileMode;
using ziv::InFile;
using ziv::test::WorkDir;

namespace {

std::string read_all(const std::string& path, FileMode mode) {
    InFile in;
    EXPECT_TRUE(in.open(path.c_str(), mode));
    std::string s;
    unsigned char buf[7];  // small, odd reads cross every boundary
    while (std::size_t n = in.read(buf, sizeof buf)) s.append(reinterpret_cast<char*>(buf), n);
    return s;
}

std::vector<std::string> read_lines(const std::string& path) {
    InFile in;
    EXPECT_TRUE(in.open(path.c_str(), FileMode::Text));
    std::vector<std::string> lines;
    std::string_view line;
    while (in.next_line(line)) lines.emplace_back(line);
    return lines;
}

TEST(TextMode, TranslatesLikeTheOldLibrary) {
    struct Case {
        std::string raw;
        std::string text;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\nb", "a\nb"},
        {"a\rb\r", "a\rb\r"},  // a lone CR is an ordinary byte
        {"\r\r\n", "\r\n"},    // only the CR right before LF goes
        {"ab\x1a"
         "cd\r\n",
         "ab"},  // 0x1A ends the input
        {"\x1a", ""},
        {"x\r\x1a", "x\r"},
        {"", ""},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write("f", c.raw);
        EXPECT_EQ(read_all(dir.file("f"), FileMode::Text), c.text);
        EXPECT_EQ(read_all(dir.file("f"), FileMode::Binary), c.raw);
    }
}

// The reader works in large blocks; a CR LF pair split between two blocks must
// still become one LF, and 0x1A must still end the input in a later block.
TEST(TextMode, BlockBoundaries) {
    for (std::size_t at : {262142u, 262143u, 262144u, 262145u, 524287u}) {
        std::string raw(at, 'x');
        raw += "\r\nyz\r";
        std::string text(at, 'x');
        text += "\nyz\r";
        WorkDir dir;
        dir.write("f", raw);
        EXPECT_EQ(read_all(dir.file("f"), FileMode::Text), text) << at;
        dir.write("g", raw + "\x1a" + raw);
        EXPECT_EQ(read_all(dir.file("g"), FileMode::Text), text) << at;
    }
}

TEST(TextMode, LinesWithoutLineEndAreDropped) {
    struct Case {
        std::string raw;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"one\r\ntwo\nthree", {"one", "two"}},
        {"\n\r\n", {"", ""}},
        {"last\x1a\n", {}},
        {std::string(100000, 'L') + "\r\n", {std::string(100000, 'L')}},  // any length, read whole
        {"", {}},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write("f", c.raw);
        EXPECT_EQ(read_lines(dir.file("f")), c.lines);
    }
}

TEST(TextMode, OutFileWritesLinesWithCrLf) {
    WorkDir dir;
    {
        ziv::OutFile out;
        ASSERT_TRUE(out.open(dir.file("o").c_str()));
        out.line("ab");
        out.line("");
        std::string big(3 << 20, 'z');  // larger than the buffer
        out.write(big);
        out.write("!", 1);
        EXPECT_TRUE(out.close());
    }
    std::string want = "ab\r\n\r\n" + std::string(3 << 20, 'z') + "!";
    EXPECT_EQ(dir.read("o"), want);
}

// A line end split by a block boundary, wherever it falls: the CR of the CR LF
// pair at every offset around the first boundaries, for a line exactly as long
// as the limit (a CR still undecided must not count as one more character).
TEST(TextMode, LineEndAtEveryOffsetAroundBlockBoundaries) {
    const std::size_t kLen = 10;
    const std::string body(kLen, 'x');
    for (std::size_t block : {1u, 2u, 7u, 8u, 16u}) {
        for (std::size_t max_line : {std::size_t{0}, kLen}) {
            for (std::size_t cr_at = kLen; cr_at <= 4 * block + kLen; ++cr_at) {
                const std::string input = std::string(cr_at - kLen, '\n') + body + "\r\nnext\r\n";
                std::vector<std::string> want(cr_at - kLen, "");
                want.push_back(body);
                want.push_back("next");
                InFile lines(block);
                lines.open_memory(input, FileMode::Text);
                std::vector<std::string> got;
                std::string_view line;
                while (lines.next_line(line, max_line)) got.emplace_back(line);
                EXPECT_EQ(got, want) << "block " << block << " max " << max_line << " CR at " << cr_at;

                InFile bytes(block);
                bytes.open_memory(input, FileMode::Text);
                std::string text;
                for (int c; (c = bytes.getc()) != -1;) text += static_cast<char>(c);
                EXPECT_EQ(text, std::string(cr_at - kLen, '\n') + body + "\nnext\n") << block << " " << cr_at;
            }
        }
    }
}

// A failed read ends the input but is no end of file: the tools must be able
// to tell. Reading a process's memory at offset 0 fails on Linux.
TEST(TextMode, ReadErrorIsReportedNotTakenAsTheEnd) {
    for (FileMode mode : {FileMode::Text, FileMode::Binary}) {
        InFile in;
        ASSERT_TRUE(in.open("/proc/self/mem", mode));
        unsigned char buf[16];
        EXPECT_EQ(in.read(buf, sizeof buf), 0u);
        EXPECT_TRUE(in.failed());
        in.open_memory("ab\r\n", mode);
        EXPECT_FALSE(in.failed());
    }
}

TEST(TextMode, MissingFileOrFolderCannotBeOpened) {
    WorkDir dir;
    InFile in;
    EXPECT_FALSE(in.open(dir.file("none").c_str(), FileMode::Text));
    EXPECT_FALSE(in.open(dir.path().c_str(), FileMode::Binary));
}

}  // namespace
