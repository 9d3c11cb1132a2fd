#include "converters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ziv {

const WrapperTool kExewrap{"exewrap version 1.0 - win32\nsupports ro/da version 4.0\nfor TMS62Cxx systems\n",
                           "EXEC.OUT",
                           FileMode::Binary,
                           0x00,
                           HexCase::Upper,
                           HexCase::Upper,
                           40};
const WrapperTool kPackwrap{"packwrap version 1.0 - win32\nfor TMS62xx compressed executables\nRODA Version 5.06 +\n",
                            "BINARY.DAT",
                            FileMode::Binary,
                            0x80,
                            HexCase::Upper,
                            HexCase::Upper,
                            -1};
const WrapperTool kBinload{
    "binload version 1.1 - win32\n", "BINARY.DAT", FileMode::Binary, 0x02, HexCase::Upper, HexCase::Upper, -1};
const WrapperTool kTxtload{
    "txtload version 2.3 - win32\n", "ASCII.INP", FileMode::Text, 0x01, HexCase::Lower, HexCase::Lower, -1};
const WrapperTool kPicload{"picload version 1.1 convert jpeg data - win32\n",
                           "BINARY.DAT",
                           FileMode::Binary,
                           0x03,
                           HexCase::Lower,
                           HexCase::Lower,
                           -1};

bool take_name_argument(int argc, char** argv, const char* echo_format, NameField& name) {
    if (argc != 2) {
        std::fputs("wrong number of arguments\n", stdout);
        return false;
    }
    if (std::strlen(argv[1]) > kMaxName) {
        std::fputs("file name too long\n", stdout);
        return false;
    }
    std::printf(echo_format, argv[1]);
    name = make_name_field(argv[1]);
    return true;
}

namespace {

constexpr std::uint64_t kMaxLength = 0xFFFFFFFFu;
constexpr std::size_t kChunk = 1 << 16;

// Bytes the input delivers in its mode, up to just past the 32-bit limit.
std::uint64_t count_input(InFile& in) {
    std::int64_t size = in.remaining_binary_size();
    if (size >= 0) return static_cast<std::uint64_t>(size);
    std::vector<unsigned char> buf(kChunk);
    std::uint64_t total = 0;
    while (std::size_t n = in.read(buf.data(), buf.size())) {
        total += n;
        if (total > kMaxLength) break;
    }
    return total;
}

}  // namespace

int run_wrapper(const WrapperTool& tool, int argc, char** argv) {
    std::fputs(tool.banner, stdout);
    NameField name;
    if (!take_name_argument(argc, argv, "file name: %s\n", name)) return 0;

    // Read twice (counted, then copied), so it must be a file that can be opened again.
    InFile in;
    if (!open_or_report(in, tool.input, tool.mode, "fopen error 1\n", InputKind::RegularFile)) return 1;
    if (output_is_input(kDownloadFile, in, kDownloadFile, tool.input)) return 1;
    // Counted before ADSP.OUT is opened, so that an input whose length does not
    // fit the 32-bit length field leaves an existing download file untouched.
    std::uint64_t length = count_input(in);
    if (report_read_error(in, tool.input)) return 1;
    in.close();
    if (length > kMaxLength) {
        std::printf("%s is too large: a download file holds less than 4 GiB\n", tool.input);
        return 1;
    }

    OutFile out;
    if (!open_or_report(out, kDownloadFile, "fopen error 3\n")) return 1;
    DownloadWriter w(out);
    w.header_line(tool.type_code);
    std::uint16_t check = tool.check_base < 0 ? 0 : check_word(tool.check_base + name_check_sum(name));
    w.name_line(name, 1, check, true, tool.name_case);
    w.length_line(static_cast<std::uint32_t>(length));

    // The lines written so far stay when this fails (out closes on return).
    if (!open_or_report(in, tool.input, tool.mode, "fopen error 1\n", InputKind::RegularFile)) return 1;
    std::vector<unsigned char> buf(kChunk);
    std::uint64_t copied = 0;
    while (copied < length) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), length - copied));
        std::size_t n = in.read(buf.data(), want);
        if (n == 0) break;
        w.data_lines(buf.data(), n, tool.data_case);
        copied += n;
    }
    bool changed = copied != length || in.getc() != -1;
    if (in.failed()) {
        out.close();  // what was written stays, without an end line
        report_read_error(in, tool.input);
        return 1;
    }
    w.end_line();
    if (!out.close()) {
        std::printf("write error on %s\n", kDownloadFile);
        return 1;
    }
    if (changed) {
        std::printf("%s changed while it was read: %s does not match its length line\n", tool.input, kDownloadFile);
        return 1;
    }
    return 0;
}

}  // namespace ziv
