// recmake, recjoin and recraw, run as real programs in scratch folders.
#include "srec_testing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using srectest::crlf;
using ziv::test::read_test_data;
using ziv::test::WorkDir;

namespace {

const std::string kRecmake = "recmake version 2.0 - win32\n";
const std::string kRecjoin = "recjoin version 1.0 - win32\n";
const std::string kRecraw = "S-record to binary conversion - win32\n";

std::string golden(const std::string& name) { return read_test_data("tools/golden/srec/" + name); }

// An S2 record formatted here from hex data, as the oracle for the tools.
std::string s2(unsigned address, const std::string& data) {
    unsigned n = static_cast<unsigned>(data.size() / 2);
    unsigned sum = n + 4 + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
    for (unsigned i = 0; i < n; ++i) sum += static_cast<unsigned>(std::stoul(data.substr(2 * i, 2), nullptr, 16));
    char head[16];
    char check[4];
    std::snprintf(head, sizeof head, "S2%02X%06X", n + 4, address);
    std::snprintf(check, sizeof check, "%02X", ~sum & 0xFFu);
    return head + data + check;
}

std::string repeat(const std::string& s, int times) {
    std::string r;
    for (int i = 0; i < times; ++i) r += s;
    return r;
}

std::vector<std::string> files_in(const WorkDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    return names;
}

// --- worked examples ---------------------------------------------------------

TEST(SrecWorkedExample, TxtloadWritesTheDownloadFilesThatRecmakeIsShown) {
    for (auto [text, out] : {std::pair{"hi", "hi.out"}, std::pair{"abcdefghijklmnopqrs", "abc19.out"}}) {
        WorkDir dir;
        dir.write("ASCII.INP", text);
        ASSERT_EQ(dir.run("txtload", {"T"}).status, 0);
        EXPECT_EQ(dir.read("ADSP.OUT"), golden(out)) << out;
    }
}

struct RecmakeGolden {
    const char* download;  // empty: an empty ADSP.OUT
    const char* msf;
};
void PrintTo(const RecmakeGolden& g, std::ostream* os) { *os << g.msf; }
class RecmakeWorkedExample : public testing::TestWithParam<RecmakeGolden> {};

TEST_P(RecmakeWorkedExample, MatchesGolden) {
    WorkDir dir;
    dir.write("ADSP.OUT", *GetParam().download ? golden(GetParam().download) : "");
    auto r = dir.run("recmake");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kRecmake);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("ADSP.MSF"), golden(GetParam().msf));
}
INSTANTIATE_TEST_SUITE_P(Srec, RecmakeWorkedExample,
                         testing::Values(RecmakeGolden{"hi.out", "hi.msf"}, RecmakeGolden{"abc19.out", "abc19.msf"},
                                         RecmakeGolden{"", "empty.msf"}));

TEST(SrecWorkedExample, RecjoinMergesTheFileWithItself) {
    WorkDir dir;
    dir.write("ADSP.MSF", golden("hi.msf"));
    auto r = dir.run("recjoin", {"ADSP.MSF", "ADSP.MSF", "JOINED.MSF"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kRecjoin + "file1:       ADSP.MSF\nfile2:       ADSP.MSF\noutput file: JOINED.MSF\n");
    EXPECT_EQ(dir.read("JOINED.MSF"), golden("hi_joined.msf"));
}

TEST(SrecWorkedExample, RecrawGivesThePayloadAndEndMark) {
    WorkDir dir;
    dir.write("input.msf", golden("hi.msf"));
    auto r = dir.run("recraw");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kRecraw);
    EXPECT_EQ(dir.read("out.dat"), golden("hi.dat"));
}

// --- recmake -------------------------------------------------------------------

struct MakeCase {
    const char* what;
    std::string download;
    std::string msf;  // the whole ADSP.MSF expected
    int status;
    std::string message;  // after the banner
};
void PrintTo(const MakeCase& c, std::ostream* os) { *os << c.what; }
class RecmakeLines : public testing::TestWithParam<MakeCase> {};

TEST_P(RecmakeLines, Output) {
    const MakeCase& c = GetParam();
    WorkDir dir;
    dir.write("ADSP.OUT", c.download);
    auto r = dir.run("recmake", {"ignored", "arguments"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, kRecmake + c.message);
    EXPECT_EQ(dir.read("ADSP.MSF"), c.msf);
}

const std::string k20lower = repeat("ab", 20);
const std::string k20upper = repeat("AB", 20);
const std::string k60 = "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E";

INSTANTIATE_TEST_SUITE_P(
    Srec, RecmakeLines,
    testing::Values(
        MakeCase{"CaseOfDataKept", repeat("ab\r\n", 20) + repeat("AB\r\n", 20),
                 crlf({s2(0, k20lower), s2(20, k20upper), "S204000028D3", "S9030000FC"}), 0, ""},
        MakeCase{"LineNeverSplitRecordGrowsPast20", crlf({repeat("11", 14), repeat("22", 14), "33"}),
                 crlf({s2(0, repeat("11", 14) + repeat("22", 14)), s2(28, "33"), "S9030000FC"}), 0, ""},
        MakeCase{"LongLineTakenInPiecesOf28", crlf({k60}),
                 crlf({s2(0, k60.substr(0, 56)), s2(28, k60.substr(56)), "S9030000FC"}), 0, ""},
        MakeCase{"EmptyLinesAddNothing", "01\r\n\r\n\r\n02\r\n", crlf({s2(0, "0102"), "S9030000FC"}), 0, ""},
        MakeCase{"LastLineWithoutLineEndDropped", "0102\r\n0304", crlf({s2(0, "0102"), "S9030000FC"}), 0, ""},
        MakeCase{"LineFeedAloneEndsALine", "0102\n0304\n", crlf({s2(0, "01020304"), "S9030000FC"}), 0, ""},
        MakeCase{"CtrlZEndsTheInput",
                 "0102\r\n\x1a"
                 "0304\r\n",
                 crlf({s2(0, "0102"), "S9030000FC"}), 0, ""},
        MakeCase{"NonHexCharactersCarriedAsTheyStand", "0G\r\n",
                 // getspair('0', 'G') = 0x47: sum 05 + 47 = 4C, checksum B3
                 crlf({"S2050000000GB3", "S9030000FC"}), 0, ""},
        MakeCase{"OddLineStopsKeepingClosedRecords", repeat("01\r\n", 20) + "02\r\nABC\r\n03\r\n",
                 crlf({s2(0, repeat("01", 20))}), 1, "ADSP.OUT line 22: odd number of hex digits\n"},
        MakeCase{"OddFirstLineLeavesEmptyFile", "ABCD0\r\n", "", 1, "ADSP.OUT line 1: odd number of hex digits\n"}));

TEST(Recmake, MissingDownloadFileLeavesNoOutput) {
    WorkDir dir;
    auto r = dir.run("recmake");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRecmake + "fopen error - read\n");
    EXPECT_FALSE(dir.exists("ADSP.MSF"));
}

TEST(Recmake, OutputThatCannotBeOpened) {
    WorkDir dir;
    dir.write("ADSP.OUT", golden("hi.out"));
    std::filesystem::create_directory(dir.file("ADSP.MSF"));
    auto r = dir.run("recmake");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRecmake + "fopen error - write\n");
}

// 16 MiB fill the 24-bit addresses exactly: 8 records of 22 bytes (a 28- and a
// 16-digit line each) and 838852 records of 20 bytes (one 40-digit line each).
std::string download_of_16_mib() {
    std::string text;
    text.reserve(36'000'000);
    for (int i = 0; i < 8; ++i) text += crlf({repeat("00", 14), repeat("00", 8)});
    const std::string line = repeat("00", 20) + "\r\n";
    for (int i = 0; i < 838852; ++i) text += line;
    return text;
}

TEST(Recmake, SixteenMiBFitOneByteMoreIsRefused) {
    WorkDir dir;
    std::string text = download_of_16_mib();
    dir.write("ADSP.OUT", text);
    auto r = dir.run("recmake");
    EXPECT_EQ(r.status, 0);
    std::string msf = dir.read("ADSP.MSF");
    // The last record ends at FFFFFF; the empty closing record, which has no
    // address left, is left out.
    const std::string tail = crlf({s2(0xFFFFEC, repeat("00", 20)), "S9030000FC"});
    ASSERT_GE(msf.size(), tail.size());
    EXPECT_EQ(msf.substr(msf.size() - tail.size()), tail);

    dir.write("ADSP.OUT", text + "00\r\n");
    r = dir.run("recmake");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRecmake + "ADSP.OUT holds more than 16 MiB: S2 addresses end at FFFFFF\n");
    std::string cut = dir.read("ADSP.MSF");
    EXPECT_EQ(cut, msf.substr(0, msf.size() - 12));  // every data record, no terminator
}

// --- recjoin -------------------------------------------------------------------

struct JoinArgs {
    const char* what;
    std::vector<std::string> args;
    std::string message;  // after the banner
};
void PrintTo(const JoinArgs& c, std::ostream* os) { *os << c.what; }
class RecjoinArguments : public testing::TestWithParam<JoinArgs> {};

TEST_P(RecjoinArguments, RefusedWithStatusZeroAndNoFile) {
    WorkDir dir;
    auto r = dir.run("recjoin", GetParam().args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kRecjoin + GetParam().message);
    EXPECT_TRUE(files_in(dir).empty());
}

const std::string k13 = "abcdefghi.msf";
INSTANTIATE_TEST_SUITE_P(
    Srec, RecjoinArguments,
    testing::Values(JoinArgs{"None", {}, "wrong number of arguments\n"},
                    JoinArgs{"Two", {"a", "b"}, "wrong number of arguments\n"},
                    JoinArgs{"Four", {"a", "b", "c", "d"}, "wrong number of arguments\n"},
                    JoinArgs{"FirstTooLong", {k13, "b", "c"}, "file name argument #1 too long\n"},
                    JoinArgs{"SecondTooLong", {"a", k13, "c"}, "file name argument #2 too long\n"},
                    JoinArgs{"ThirdTooLong", {"a", "b", k13}, "file name argument #3 too long\n"},
                    JoinArgs{"OnlyFirstTooLongReported", {"a", k13, k13}, "file name argument #2 too long\n"},
                    JoinArgs{"CountBeforeLength", {k13, k13}, "wrong number of arguments\n"}));

TEST(Recjoin, TwelveCharacterNamesAccepted) {
    WorkDir dir;
    dir.write("abcdefgh.msf", golden("hi.msf"));
    auto r = dir.run("recjoin", {"abcdefgh.msf", "abcdefgh.msf", "joined12.msf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("joined12.msf"), golden("hi_joined.msf"));
}

struct OpenCase {
    const char* what;
    bool first, second, out_is_folder;
    std::string message;
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.what; }
class RecjoinOpening : public testing::TestWithParam<OpenCase> {};

TEST_P(RecjoinOpening, OutputUntouchedUntilBothInputsOpen) {
    const OpenCase& c = GetParam();
    WorkDir dir;
    if (c.first) dir.write("a.msf", golden("hi.msf"));
    if (c.second) dir.write("b.msf", golden("hi.msf"));
    if (c.out_is_folder) std::filesystem::create_directory(dir.file("out.msf"));
    else dir.write("out.msf", "old contents");
    auto r = dir.run("recjoin", {"a.msf", "b.msf", "out.msf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRecjoin + "file1:       a.msf\nfile2:       b.msf\noutput file: out.msf\n" + c.message);
    if (!c.out_is_folder) {
        EXPECT_EQ(dir.read("out.msf"), "old contents");
    }
}
INSTANTIATE_TEST_SUITE_P(Srec, RecjoinOpening,
                         testing::Values(OpenCase{"FirstMissing", false, true, false, "fopen error - read file1\n"},
                                         OpenCase{"BothMissing", false, false, false, "fopen error - read file1\n"},
                                         OpenCase{"SecondMissing", true, false, false, "fopen error - read file2\n"},
                                         OpenCase{"OutputUnwritable", true, true, true, "fopen error - write\n"}));

TEST(Recjoin, OutputThatIsAnInputIsRefusedBeforeItIsEmptied) {
    for (auto [args, n] : {std::pair{std::vector<std::string>{"a.msf", "b.msf", "a.msf"}, 1},
                           std::pair{std::vector<std::string>{"a.msf", "b.msf", "./b.msf"}, 2}}) {
        WorkDir dir;
        dir.write("a.msf", golden("hi.msf"));
        dir.write("b.msf", golden("abc19.msf"));
        auto r = dir.run("recjoin", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("output file is file" + std::to_string(n)), std::string::npos) << r.out;
        EXPECT_EQ(dir.read("a.msf"), golden("hi.msf"));
        EXPECT_EQ(dir.read("b.msf"), golden("abc19.msf"));
    }
}

TEST(Recjoin, RenumbersWithoutGapAndDropsTerminatorsWhereverTheyStand) {
    WorkDir dir;
    dir.write("a.msf", crlf({"S9030000FC", "S2060012340102AA", "S204000000FB", "S9030000FC", "S2050000000377"}));
    dir.write("b.msf", crlf({"S2070055550405065D", "S9030000FC", "S9030000FC", "S204ABCDEF00", "S2050000000770"}));
    auto r = dir.run("recjoin", {"a.msf", "b.msf", "c.msf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("c.msf"),
              crlf({s2(0, "0102"), s2(2, ""), s2(2, "03"), s2(3, "040506"), s2(6, ""), s2(6, "07"), "S9030000FC"}));
}

// --- lines that recjoin and recraw both read ---------------------------------

struct LineCase {
    const char* what;
    std::string line;     // placed between two good records
    std::string data;     // hex data it contributes (when accepted)
    const char* problem;  // or why it is refused
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.what; }
class SrecInputLines : public testing::TestWithParam<LineCase> {};

const std::string k200 = repeat("5A", 200);
const std::string kData21 = "0102030405060708090A0B0C0D0E0F101112131415";
const std::string kFirst = s2(0, kData21);
const std::string kLast = "S20600001562637D";

INSTANTIATE_TEST_SUITE_P(
    Srec, SrecInputLines,
    testing::Values(
        LineCase{"EmptyLinePassedOver", "", "", nullptr}, LineCase{"HeaderPassedOver", "S00600004844521B", "", nullptr},
        LineCase{"CountPassedOver", "S5030002FA", "", nullptr},
        LineCase{"S8TerminatorPassedOver", "S804000000FB", "", nullptr},
        LineCase{"S7TerminatorPassedOver", "S70500000000FA", "", nullptr},
        LineCase{"S1DataTakenFromItsField", "S1051234ABCDxx", "ABCD", nullptr},
        LineCase{"S3DataTakenFromItsField", "S30712345678ABCDxx", "ABCD", nullptr},
        LineCase{"ChecksumAndAddressNotChecked", "S2FF999999010200", "0102", nullptr},
        LineCase{"LongerThan79", "S2CC000000" + k200 + "00", k200, nullptr},
        LineCase{"LongestRecord", "S2FF000000" + repeat("5A", 251) + "00", repeat("5A", 251), nullptr},
        LineCase{"BeyondTheLongestRecord", "S2FF000000" + repeat("5A", 252) + "00", "", "too long for an S2 record"},
        LineCase{"LongerThanTheReadBlock", repeat("S2", 1300000), "", "too long for an S2 record"},
        LineCase{"ShortS2", "S20500000", "", "too short for an S-record"},
        LineCase{"ShortS1", "S1030000", "", "too short for an S-record"}, LineCase{"JustS", "S", "", "not an S-record"},
        LineCase{"OddLength", "S20500000001FF0", "", "odd number of characters"},
        LineCase{"NoSuchType", "S4050000000100", "", "not an S-record"},
        LineCase{"NotARecord", "hello, world", "", "not an S-record"},
        LineCase{"LowerCaseType", "s20500000001F9", "", "not an S-record"}));

TEST_P(SrecInputLines, Recjoin) {
    const LineCase& c = GetParam();
    WorkDir dir;
    dir.write("a.msf", crlf({kFirst, c.line, kLast}));
    dir.write("b.msf", crlf({"S9030000FC"}));
    auto r = dir.run("recjoin", {"a.msf", "b.msf", "c.msf"});
    std::string head = kRecjoin + "file1:       a.msf\nfile2:       b.msf\noutput file: c.msf\n";
    if (c.problem) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, head + "a.msf line 2: " + c.problem + "\n");
        EXPECT_EQ(dir.read("c.msf"), crlf({kFirst}));  // what came before stays
    } else {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, head);
        std::string middle = c.data.empty() ? "" : crlf({s2(21, c.data)});
        unsigned after = 21 + static_cast<unsigned>(c.data.size() / 2);
        EXPECT_EQ(dir.read("c.msf"), crlf({kFirst}) + middle + crlf({s2(after, "6263"), "S9030000FC"}));
    }
}

TEST_P(SrecInputLines, Recraw) {
    const LineCase& c = GetParam();
    WorkDir dir;
    dir.write("input.msf", crlf({kFirst, c.line, kLast}));
    auto r = dir.run("recraw");
    if (c.problem) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kRecraw + "input.msf line 2: " + c.problem + "\n");
    } else {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kRecraw);
        EXPECT_EQ(dir.read("out.dat"), srectest::download_stream(c.data + "6263\n"));
    }
}

// 16 MiB of data in lines of the longest record: 66841 of 251 bytes and one of 125.
std::string srec_of_16_mib() {
    std::string text;
    text.reserve(35'000'000);
    const std::string line = "S2FF000000" + repeat("00", 251) + "00\r\n";
    for (int i = 0; i < 66841; ++i) text += line;
    text += crlf({"S281000000" + repeat("00", 125) + "00"});
    return text;
}

TEST(Recjoin, SixteenMiBFitOneByteMoreIsRefused) {
    WorkDir dir;
    dir.write("a.msf", srec_of_16_mib());
    dir.write("b.msf", crlf({"S204000000FB", "S9030000FC"}));
    auto r = dir.run("recjoin", {"a.msf", "b.msf", "c.msf"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::string joined = dir.read("c.msf");
    // The last record ends at FFFFFF; the empty record of b.msf has no address left.
    const std::string tail = crlf({s2(0xFFFF83, repeat("00", 125)), "S9030000FC"});
    ASSERT_GE(joined.size(), tail.size());
    EXPECT_EQ(joined.substr(joined.size() - tail.size()), tail);

    dir.write("b.msf", crlf({"S2050000000000"}));
    r = dir.run("recjoin", {"a.msf", "b.msf", "c.msf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("b.msf line 1: more than 16 MiB of data: S2 addresses end at FFFFFF\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(dir.read("c.msf"), joined.substr(0, joined.size() - 12));
}

// --- recraw --------------------------------------------------------------------

TEST(Recraw, TwentyOneBytesLeftOutOverTheWholeFile) {
    struct Case {
        std::vector<std::string> records;
        std::string bytes;
    };
    const Case cases[] = {
        {{}, ""},
        {{s2(0, repeat("11", 21))}, ""},
        {{s2(0, repeat("11", 20)), s2(20, "22")}, ""},
        {{s2(0, repeat("11", 5)), s2(5, repeat("22", 5)), s2(10, repeat("33", 5)), s2(15, repeat("44", 5)),
          s2(20, repeat("55", 5))},
         "\x55\x55\x55\x55"},
        {{s2(0x123456, repeat("11", 21)), s2(0, "AbcD"), "S204000000FB", s2(7, "ef")}, "\xab\xcd\xef"},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        std::string text;
        for (const auto& rec : c.records) text += rec + "\r\n";
        dir.write("input.msf", text + "S9030000FC\r\n");
        auto r = dir.run("recraw", {"ignored"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(dir.read("out.dat"), c.bytes) << text;
    }
}

TEST(Recraw, LastLineWithoutLineEndNotRead) {
    WorkDir dir;
    dir.write("input.msf", crlf({s2(0, repeat("11", 21)), s2(21, "22")}) + s2(22, "33"));
    ASSERT_EQ(dir.run("recraw").status, 0);
    EXPECT_EQ(dir.read("out.dat"), "\x22");
}

TEST(Recraw, FilesThatCannotBeOpened) {
    WorkDir dir;
    auto r = dir.run("recraw");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRecraw + "fopen error 1\n");
    EXPECT_FALSE(dir.exists("out.dat"));

    dir.write("input.msf", golden("hi.msf"));
    std::filesystem::create_directory(dir.file("out.dat"));
    r = dir.run("recraw");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRecraw + "fopen error 3\n");
}

// A full disk is reported, not taken for success.
TEST(SrecTools, WriteErrorsAreReported) {
    struct Case {
        const char* tool;
        const char* input;
        const char* output;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"recmake", "ADSP.OUT", "ADSP.MSF", {}, kRecmake + "write error on ADSP.MSF\n"},
        {"recraw", "input.msf", "out.dat", {}, kRecraw + "write error on out.dat\n"},
        {"recjoin",
         "a.msf",
         "c.msf",
         {"a.msf", "a.msf", "c.msf"},
         kRecjoin + "file1:       a.msf\nfile2:       a.msf\noutput file: c.msf\nwrite error on c.msf\n"},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        dir.write(c.input, c.input == std::string("ADSP.OUT") ? golden("abc19.out") : golden("abc19.msf"));
        std::filesystem::create_symlink("/dev/full", dir.file(c.output));
        auto r = dir.run(c.tool, c.args);
        EXPECT_EQ(r.status, 1) << c.tool;
        EXPECT_EQ(r.out, c.message);
    }
}

}  // namespace
