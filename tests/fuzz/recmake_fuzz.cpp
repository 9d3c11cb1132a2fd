// Fuzzes recmake on any ADSP.OUT: it refuses exactly the inputs with a line of
// odd length; otherwise ADSP.MSF is a well-formed S-record file whose data are
// the input's lines, one after the other, in records that close at 20 bytes
// or more (at most 33), the last one open (fewer than 20).
#include <cstdint>
#include <string>

#include "file_checks.h"
#include "fuzz_support.h"
#include "srec.h"

namespace {
constexpr const char* kName = "recmake_fuzz";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ziv::fuzz::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ziv::fuzz::write_file("ADSP.OUT", bytes);
    const int status = ziv::fuzz::run_tool(ziv::run_recmake, {"recmake"});

    std::string lines;
    bool odd = false;
    for (std::string_view l : ziv::fuzz::text_lines_model(bytes)) {
        lines.append(l);
        odd = odd || l.size() % 2 != 0;
    }
    if (status != 0) {
        if (!odd) ziv::fuzz::fail(kName, "refused an input without a line of odd length");
        return 0;
    }
    if (odd) ziv::fuzz::fail(kName, "accepted a line of odd length");

    ziv::test::SrecSummary s;
    const std::string error = ziv::test::check_srec_file(ziv::fuzz::read_file("ADSP.MSF"), &s);
    if (!error.empty()) ziv::fuzz::fail(kName, "ADSP.MSF " + error);
    if (s.data_chars != lines) ziv::fuzz::fail(kName, "the records' data are not the input's lines");
    for (std::size_t i = 0; i < s.record_bytes.size(); ++i) {
        const std::size_t n = s.record_bytes[i];
        const bool last = i + 1 == s.record_bytes.size();
        if (last ? n >= 20 : n < 20 || n > 33)
            ziv::fuzz::fail(kName, "record " + std::to_string(i + 1) + " holds " + std::to_string(n) + " bytes");
    }
    return 0;
}
