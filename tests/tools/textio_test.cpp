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

std::string read_all(const std::string& path, FileMode mode)
{
    InFile in;
    EXPECT_TRUE(in.open(path.c_str(), mode));
    std::string s;
    unsigned char buf[7];  // small, odd reads cross every boundary
    while (std::size_t n = in.read(buf, sizeof buf)) s.append(reinterpret_cast<char*>(buf), n);
    return s;
}

std::vector<std::string> read_lines(const std::string& path)
{
    InFile in;
    EXPECT_TRUE(in.open(path.c_str(), FileMode::Binary));
    ziv::TextLines reader(in);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.next(line)) lines.emplace_back(line);
    return lines;
}

TEST(TextMode, TranslatesLikeTheOldLibrary)
{
    struct Case {
        std::string raw;
        std::string text;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\nb", "a\nb"},
        {"a\rb\r", "a\rb\r"},            // a lone CR is an ordinary byte
        {"\r\r\n", "\r\n"},              // only the CR right before LF goes
        {"ab\x1a" "cd\r\n", "ab"},       // 0x1A ends the input
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
TEST(TextMode, BlockBoundaries)
{
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

TEST(TextMode, LinesWithoutLineEndAreDropped)
{
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

TEST(TextMode, OutFileWritesLinesWithCrLf)
{
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

TEST(TextMode, MissingFileOrFolderCannotBeOpened)
{
    WorkDir dir;
    InFile in;
    EXPECT_FALSE(in.open(dir.file("none").c_str(), FileMode::Text));
    EXPECT_FALSE(in.open(dir.path().c_str(), FileMode::Binary));
}

}  // namespace
