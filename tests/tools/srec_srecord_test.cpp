// Cross-checks against srecord (srec_info, srec_cat, srec_cmp), an independent
// reader and writer of S-records: what recmake and recjoin write must pass its
// checksum tests and decode to the right bytes, and recraw must agree with it.
#include "srec_testing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using srectest::download_stream;
using srectest::random_bytes;
using srectest::shell;
using ziv::test::WorkDir;

namespace {

// srec_info reads the whole file and fails on a bad checksum or a malformed
// line; srec_cat then decodes it to binary from address 0.
std::string decoded_by_srecord(const WorkDir& dir, const std::string& file) {
    auto info = shell(dir, "srec_info " + file);
    EXPECT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(info.out.find("checksum"), std::string::npos) << info.out;
    auto cat = shell(dir, "srec_cat " + file + " -o decoded.bin -binary");
    EXPECT_EQ(cat.status, 0) << cat.out;
    return dir.read("decoded.bin");
}

void srecord_agrees(const WorkDir& dir, const std::string& file, const std::string& stream) {
    EXPECT_EQ(decoded_by_srecord(dir, file), stream) << file;
    dir.write("stream.bin", stream);
    auto cmp = shell(dir, "srec_cmp " + file + " stream.bin -binary");
    EXPECT_EQ(cmp.status, 0) << cmp.out;
}

TEST(Srecord, IsInstalled) {
    WorkDir dir;
    ASSERT_EQ(shell(dir, "srec_cat --version").status, 0) << "install srecord: bash scripts/install-deps.sh";
}

// Download files made by binload from payloads of these sizes.
class RecmakeFromBinload : public testing::TestWithParam<std::size_t> {};

TEST_P(RecmakeFromBinload, SrecordDecodesTheStreamAndRecrawThePayload) {
    WorkDir dir;
    const std::string payload = random_bytes(GetParam(), static_cast<unsigned>(GetParam()));
    dir.write("BINARY.DAT", payload);
    ASSERT_EQ(dir.run("binload", {"bench"}).status, 0);
    const std::string stream = download_stream(dir.read("ADSP.OUT"));
    ASSERT_EQ(stream.size(), payload.size() + 22);

    ASSERT_EQ(dir.run("recmake").status, 0);
    srecord_agrees(dir, "ADSP.MSF", stream);

    ASSERT_EQ(shell(dir, "cp ADSP.MSF input.msf").status, 0);
    ASSERT_EQ(dir.run("recraw").status, 0);
    EXPECT_EQ(dir.read("out.dat"), decoded_by_srecord(dir, "input.msf").substr(21));
    EXPECT_EQ(dir.read("out.dat"), payload + "\x55");
}
INSTANTIATE_TEST_SUITE_P(Sizes, RecmakeFromBinload, testing::Values(0, 1, 19, 20, 21, 999, 100'000));

// A download file with lines of every even length up to 28 and beyond, in
// both cases, as no converter writes them but the format allows.
TEST(Srecord, RecmakeOfMixedLines) {
    WorkDir dir;
    std::mt19937 gen(3);
    const std::string bytes = random_bytes(50'000, 11);
    std::string text;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t n = std::min<std::size_t>(gen() % 40, bytes.size() - at);
        const char* digits = gen() % 2 ? "0123456789abcdef" : "0123456789ABCDEF";
        for (std::size_t i = 0; i < n; ++i, ++at) {
            auto b = static_cast<unsigned char>(bytes[at]);
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        text += gen() % 5 ? "\r\n" : "\n";
    }
    dir.write("ADSP.OUT", text);
    ASSERT_EQ(dir.run("recmake").status, 0);
    srecord_agrees(dir, "ADSP.MSF", bytes);
}

TEST(Srecord, RecjoinOfTwoRecmakeFiles) {
    WorkDir dir;
    std::string streams;
    for (auto [size, name] : {std::pair{12'345, "a.msf"}, std::pair{777, "b.msf"}}) {
        dir.write("BINARY.DAT", random_bytes(size, static_cast<unsigned>(size)));
        ASSERT_EQ(dir.run("binload", {"x"}).status, 0);
        streams += download_stream(dir.read("ADSP.OUT"));
        ASSERT_EQ(dir.run("recmake").status, 0);
        ASSERT_EQ(shell(dir, std::string("mv ADSP.MSF ") + name).status, 0);
    }
    ASSERT_EQ(dir.run("recjoin", {"a.msf", "b.msf", "c.msf"}).status, 0);
    srecord_agrees(dir, "c.msf", streams);

    // recraw leaves out the first download's header only; the second reaches
    // out.dat whole.
    ASSERT_EQ(shell(dir, "cp c.msf input.msf").status, 0);
    ASSERT_EQ(dir.run("recraw").status, 0);
    EXPECT_EQ(dir.read("out.dat"), streams.substr(21));
}

// Files that srec_cat writes carry a header, S1 or S3 data, a record count and
// their own terminator; recjoin and recraw take their data as they stand.
TEST(Srecord, FilesWrittenBySrecord) {
    for (const char* form : {"", "-address-length=2", "-address-length=4", "-address-length=3 -obs=200"}) {
        WorkDir dir;
        const std::string payload = random_bytes(3000, 5);
        dir.write("p.bin", payload);
        auto made = shell(dir, std::string("srec_cat p.bin -binary -o in.srec ") + form);
        ASSERT_EQ(made.status, 0) << made.out;
        ASSERT_EQ(shell(dir, "cp in.srec input.msf").status, 0);

        ASSERT_EQ(dir.run("recraw").status, 0) << form;
        EXPECT_EQ(dir.read("out.dat"), payload.substr(21)) << form;

        auto r = dir.run("recjoin", {"in.srec", "in.srec", "joined.srec"});
        ASSERT_EQ(r.status, 0) << form << r.out;
        srecord_agrees(dir, "joined.srec", payload + payload);
    }
}

}  // namespace
