// The shared S-record pieces: getspair, srcflush at the edges of the address
// space, and the line reader held to the bytes of InFile's text mode.
#include "srec.h"
#include "srec_testing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ziv::test::WorkDir;

namespace {

TEST(Getspair, DigitsOfBothCasesAndOtherCharactersByTheirCode) {
    struct Case {
        char hi, lo;
        int value;
    };
    const Case cases[] = {
        {'0', '0', 0x00},    {'9', '9', 0x99}, {'A', 'b', 0xAB},
        {'f', 'F', 0xFF},    {'a', '0', 0xA0}, {'G', '0', 0x70},  // 'G' = 0x47, shifted: 0x470
        {'0', 'G', 0x47},                                         // the whole code of 'G' in the low half
        {'1', ' ', 0x30},                                         // 0x10 | 0x20
        {'\xff', '1', 0xF1},                                      // -1 << 4 = ...F0
        {'1', '\xff', 0xFF},                                      // -1 sign-extends over the high half
        {'\0', '5', 0x05},
    };
    for (const auto& c : cases) EXPECT_EQ(ziv::getspair(c.hi, c.lo), c.value) << c.hi << c.lo;
}

std::string flushed(std::string_view data, std::uint32_t address, bool& ok) {
    WorkDir dir;
    ziv::OutFile out;
    EXPECT_TRUE(out.open(dir.file("r").c_str()));
    ok = ziv::srcflush(out, data, address);
    EXPECT_TRUE(out.close());
    return dir.read("r");
}

TEST(Srcflush, EdgesOfTheRecordAndTheAddressSpace) {
    struct Case {
        const char* what;
        std::string data;
        std::uint32_t address;
        bool ok;
        std::string record;
    };
    const std::string d20(40, '0');
    const Case cases[] = {
        {"upper-case fields, data as given", "ab", 0xABCDEF, true, "S205ABCDEFabE8\r\n"},
        {"last byte at FFFFFF", "00", 0xFFFFFF, true, "S205FFFFFF00FD\r\n"},
        {"twenty bytes up to FFFFFF", d20, 0xFFFFEC, true, "S218FFFFEC" + d20 + "FD\r\n"},
        {"one byte beyond", d20, 0xFFFFED, false, ""},
        {"empty at FFFFFF", "", 0xFFFFFF, true, "S204FFFFFFFE\r\n"},
        {"empty with no address left", "", 0x1000000, true, ""},
        {"longest record", std::string(2 * 251, '1'), 0, true, ""},
        {"beyond the byte count", std::string(2 * 252, '1'), 0, false, ""},
    };
    for (const auto& c : cases) {
        bool ok = false;
        std::string r = flushed(c.data, c.address, ok);
        EXPECT_EQ(ok, c.ok) << c.what;
        if (c.what == std::string("longest record")) {
            EXPECT_EQ(r.substr(0, 10), "S2FF000000") << c.what;
            EXPECT_EQ(r.size(), 12 + c.data.size() + 2) << c.what;
        } else {
            EXPECT_EQ(r, c.record) << c.what;
        }
    }
}

// Records are summed 16 characters at a time while they are hex digits; the
// characters around the digit ranges and beyond 0x7F must fall back to
// getspair's rule wherever they stand.
TEST(Srcflush, ChecksumOfAnyCharactersAtAnyLength) {
    const std::string hex = "0123456789abcdefABCDEF";
    const std::string odd = std::string("/:@G`g \x7f\x80\xc1\xff") + '\0';
    std::mt19937 gen(1);
    for (std::size_t n = 0; n <= 40; ++n) {
        for (int trial = 0; trial < 30; ++trial) {
            std::string data;
            for (std::size_t i = 0; i < 2 * n; ++i)
                data += gen() % 40 == 0 ? odd[gen() % odd.size()] : hex[gen() % hex.size()];
            const std::uint32_t address = gen() & 0xFFFF;
            unsigned sum = static_cast<unsigned>(n + 4) + (address >> 8) + (address & 0xFF);
            for (std::size_t i = 0; i < n; ++i) sum += ziv::getspair(data[2 * i], data[2 * i + 1]);
            char head[16];
            char check[8];
            std::snprintf(head, sizeof head, "S2%02X%06X", static_cast<unsigned>(n + 4), address);
            std::snprintf(check, sizeof check, "%02X\r\n", ~sum & 0xFFu);
            bool ok = false;
            ASSERT_EQ(flushed(data, address, ok), head + data + check) << n << " " << trial;
        }
    }
}

// Every line InFile hands out, against the bytes it reads in text mode.
std::vector<std::string> text_lines(const std::string& path, std::size_t max_line, std::size_t block) {
    ziv::InFile in(block);
    EXPECT_TRUE(in.open(path.c_str(), ziv::FileMode::Text));
    std::vector<std::string> all;
    std::string_view line;
    while (in.next_line(line, max_line)) all.emplace_back(line);
    return all;
}

std::vector<std::string> infile_lines(const std::string& path) {
    // The text-mode byte stream, cut at its line feeds; a last piece without
    // one is no line.
    ziv::InFile in;
    EXPECT_TRUE(in.open(path.c_str(), ziv::FileMode::Text));
    std::vector<std::string> all;
    std::string line;
    for (int c; (c = in.getc()) != -1;) {
        if (c == '\n') {
            all.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    return all;
}

TEST(InFileLines, SameLinesAsTextModeWhereverTheBlocksBreak) {
    // Short and long lines of CR, LF, CR LF and ordinary characters, some with
    // a 0x1A in them, cut at every block size from 1 on.
    std::vector<std::string> inputs = {"",
                                       "\n",
                                       "\r\n",
                                       "a",
                                       "ab\r\n",
                                       "a\rb\r\n",
                                       "a\r\r\n\r",
                                       "x\r\n\x1a"
                                       "y\n",
                                       "\r\r\r\n\n",
                                       "ab\ncd\r\nef"};
    std::mt19937 gen(7);
    for (int i = 0; i < 40; ++i) {
        std::string s;
        std::size_t len = gen() % 3000;
        for (std::size_t k = 0; k < len; ++k) {
            unsigned r = gen() % 100;
            s += r < 8 ? '\r' : r < 16 ? '\n' : r < 17 && i % 4 == 0 ? '\x1a' : static_cast<char>('0' + r % 10);
        }
        inputs.push_back(s);
    }
    inputs.push_back(std::string(3'000'000, 'x') + "\r\nshort\r\n" + std::string(300'000, 'y') + "\r");
    WorkDir dir;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        dir.write("in", inputs[i]);
        auto expected = infile_lines(dir.file("in"));
        for (std::size_t block : {1u, 2u, 3u, 7u, 64u, 1000u, 1u << 20}) {
            if (inputs[i].size() > 100'000 && block < 1000) continue;
            EXPECT_EQ(text_lines(dir.file("in"), 0, block), expected) << "input " << i << " block " << block;
        }
    }
}

TEST(InFileLines, LongLinesCutButNeverToTheLimit) {
    WorkDir dir;
    const std::string input = std::string(5000, 'a') + "\r\nshort\r\n" + std::string(600, 'b') + "\r\n" +
                              std::string(3000, 'c');  // no line end: not read
    dir.write("in", input);
    for (std::size_t block : {16u, 512u, 4096u, 1u << 20}) {
        auto lines = text_lines(dir.file("in"), 514, block);
        ASSERT_EQ(lines.size(), 3u) << block;
        EXPECT_GT(lines[0].size(), 514u) << block;
        EXPECT_EQ(lines[0].find_first_not_of('a'), std::string::npos);
        EXPECT_EQ(lines[1], "short");
        EXPECT_GT(lines[2].size(), 514u) << block;
        EXPECT_EQ(lines[2].find_first_not_of('b'), std::string::npos);
    }
}

}  // namespace
