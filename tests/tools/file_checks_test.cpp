// The output checkers of the fuzz targets, held once against an independent
// S-record reader (srec_info) and against the golden download files.
#include "file_checks.h"
#include "srec_testing.h"

#include <gtest/gtest.h>

using srectest::crlf;
using ziv::test::check_module_download;
using ziv::test::check_srec_file;
using ziv::test::read_test_data;
using ziv::test::WorkDir;

namespace {

struct SrecCase {
    const char* what;
    std::string text;
    bool good;
};

TEST(FileChecks, SrecVerdictsAgreeWithSrecInfo) {
    const std::string golden = "tools/golden/srec/";
    const SrecCase cases[] = {
        {"golden hi.msf", read_test_data(golden + "hi.msf"), true},
        {"golden abc19.msf", read_test_data(golden + "abc19.msf"), true},
        {"golden hi_joined.msf", read_test_data(golden + "hi_joined.msf"), true},
        {"golden empty.msf", read_test_data(golden + "empty.msf"), true},
        {"lower-case data", crlf({"S205000000ab4F", "S9030000FC"}), true},
        {"checksum one off", crlf({"S207000015686955BE", "S9030000FC"}), false},
        {"byte count one too many", crlf({"S208000015686955BC", "S9030000FC"}), false},
        {"byte count one too few", crlf({"S206000015686955BE", "S9030000FC"}), false},
        {"odd number of characters", crlf({"S2060000156869A55BD", "S9030000FC"}), false},
        {"data digit that is no hex digit", crlf({"S207000015686G55BD", "S9030000FC"}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(check_srec_file(c.text, nullptr, true).empty(), c.good) << c.what << ": " << check_srec_file(c.text);
        WorkDir dir;
        dir.write("f.msf", c.text);
        EXPECT_EQ(srectest::shell(dir, "srec_info f.msf").status == 0, c.good) << c.what;
    }
}

TEST(FileChecks, SrecFileRules) {
    const SrecCase cases[] = {
        {"non-hex data counted by getspair", crlf({"S2050000000GB3", "S9030000FC"}), true},
        {"address gap", crlf({"S205000000AB4F", "S205000002CD2B", "S9030000FC"}), false},
        {"no terminator", crlf({"S205000000AB4F"}), false},
        {"a line after the terminator", crlf({"S9030000FC", "S205000000AB4F"}), false},
        {"LF alone", "S205000000AB4F\nS9030000FC\r\n", false},
        {"lower-case checksum", crlf({"S205000000ab4f", "S9030000FC"}), false},
    };
    for (const auto& c : cases) EXPECT_EQ(check_srec_file(c.text).empty(), c.good) << c.what;
}

TEST(FileChecks, ModuleDownloadRules) {
    const std::string good = read_test_data("tools/golden/convert/ADSP.OUT");
    ziv::test::DownloadSummary s;
    ASSERT_EQ(check_module_download(good, &s), "");
    ASSERT_EQ(s.modules.size(), 2u);
    EXPECT_EQ(s.modules[1].start, 0x3800u);
    EXPECT_EQ(s.modules[1].words.size(), 2u);

    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::pair<const char*, std::string> bad[] = {
        {"check word off", with("00ff\r\n", "00fe\r\n")},
        {"one module fewer than counted", with("\r\n010000000200003800\r\n0007\r\n0008\r\n55", "")},
        {"a word of 5 digits", with("0007\r\n", "00070\r\n")},
        {"a word that is no hex", with("0007\r\n", "00g7\r\n")},
        {"a module type of 02", with("\r\n0100", "\r\n0200")},
        {"something after the last module", good + "55\r\n"},
    };
    for (const auto& [what, text] : bad) EXPECT_NE(check_module_download(text), "") << what;
}

}  // namespace
