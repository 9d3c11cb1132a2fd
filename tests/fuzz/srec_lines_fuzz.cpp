// Fuzzes the S-record line reader of recjoin and recraw. The input is cut in
// two files A and B at a point its first byte chooses. Checked:
// - recjoin A B is accepted exactly when A and B are each accepted alone, and
//   then its output is well formed and carries A's data followed by B's;
// - joining a well-formed file with an empty one gives the same file back;
// - recraw refuses A exactly when recjoin does, and otherwise writes A's data
//   bytes less the first 21.
#include <cstdint>
#include <string>

#include "file_checks.h"
#include "fuzz_support.h"
#include "srec.h"

namespace {

constexpr const char* kName = "srec_lines_fuzz";

struct Joined {
    int status = 0;
    std::string text;
    ziv::test::SrecSummary summary;
};

Joined join(const char* first, const char* second) {
    Joined j;
    j.status = ziv::fuzz::run_tool(ziv::run_recjoin, {"recjoin", first, second, "out.msf"});
    if (j.status != 0) return j;
    j.text = ziv::fuzz::read_file("out.msf");
    const std::string error = ziv::test::check_srec_file(j.text, &j.summary);
    if (!error.empty()) ziv::fuzz::fail(kName, std::string("recjoin ") + first + " " + second + ": " + error);
    return j;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ziv::fuzz::enter_scratch_dir();
    ziv::fuzz::write_file("empty.msf", "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cut = rest.size() * data[0] / 255;
    const std::string_view a = rest.substr(0, cut), b = rest.substr(cut);
    ziv::fuzz::write_file("a.msf", a);
    ziv::fuzz::write_file("b.msf", b);

    const Joined ab = join("a.msf", "b.msf");
    const Joined ae = join("a.msf", "empty.msf");
    const Joined be = join("b.msf", "empty.msf");
    if ((ab.status == 0) != (ae.status == 0 && be.status == 0))
        ziv::fuzz::fail(kName, "recjoin A B and recjoin of each alone disagree");
    if (ab.status == 0 && ab.summary.data_chars != ae.summary.data_chars + be.summary.data_chars)
        ziv::fuzz::fail(kName, "recjoin A B does not carry A's data followed by B's");
    if (ae.status == 0 && ziv::test::check_srec_file(a).empty() && ae.text != a)
        ziv::fuzz::fail(kName, "joining a well-formed file with an empty one changes it");

    ziv::fuzz::write_file("input.msf", a);
    const int raw = ziv::fuzz::run_tool(ziv::run_recraw, {"recraw"});
    if ((raw == 0) != (ae.status == 0)) ziv::fuzz::fail(kName, "recraw and recjoin disagree about A");
    if (raw == 0) {
        std::string bytes;
        const std::string& d = ae.summary.data_chars;
        for (std::size_t i = 0; i + 1 < d.size(); i += 2) bytes += char(ziv::getspair(d[i], d[i + 1]));
        if (ziv::fuzz::read_file("out.dat") != (bytes.size() > 21 ? bytes.substr(21) : ""))
            ziv::fuzz::fail(kName, "out.dat is not A's data less the first 21 bytes");
    }
    return 0;
}
