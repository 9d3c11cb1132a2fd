// `convert`: ADSP.EXE (a camera program in hex text form, cut into P and D
// blocks) to a download file of several modules. Both passes over ADSP.EXE run
// through convf, so they apply the same rules and agree on the module count.
#include "converters.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace ziv {

namespace {

constexpr const char* kExeFile = "ADSP.EXE";
constexpr const char* kTmpFile = "ADSP.TMP";

// The pass counters are 32-bit signed values that wrap like the machine's,
// whatever an address line holds (80000000 is the most negative of them).
std::int32_t add32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t sub32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// Reads a leading hex number (blanks and a 0x prefix allowed before it) into
// its low 32 bits. False when the text does not begin with one.
bool parse_hex(std::string_view s, std::int32_t& value) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2])))
        i += 2;
    std::uint32_t v = 0;
    std::size_t digits = 0;
    for (; i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])); ++i, ++digits) {
        char c = s[i];
        int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    value = static_cast<std::int32_t>(v);
    return digits > 0;
}

// A refusal of ADSP.EXE content that would make the download file's header
// contradict its body.
struct Refusal {
    long line = 0;
    const char* what = nullptr;
};

enum class Failure { None, Refused, ExeRead, TmpReopen, TmpWrite, TmpRead, Write };

class Pass {
public:
    Pass(int mode, InFile& exe, OutFile& out, OutFile& tmp) : mode_(mode), exe_(exe), out_(out), tmp_(tmp), w_(out) {}

    Failure run(std::int32_t& nmod_out);
    const Refusal& refusal() const { return refusal_; }

private:
    Failure close_module(char type, std::int32_t length, std::int32_t start, bool at_end);
    Failure copy_words_back(std::uint64_t size);

    int mode_;
    InFile& exe_;
    OutFile& out_;
    OutFile& tmp_;
    DownloadWriter w_;
    Refusal refusal_;
};

// Copies the `size` bytes just written to ADSP.TMP from the file into ADSP.OUT:
// exactly those, so that ADSP.OUT never holds more than the module's words,
// whatever ADSP.TMP turned out to be.
Failure Pass::copy_words_back(std::uint64_t size) {
    InFile words;
    if (!words.open(tmp_.path().c_str(), FileMode::Binary)) return Failure::TmpReopen;
    unsigned char buf[1 << 16];
    while (size > 0) {
        std::size_t n = words.read(buf, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, size)));
        if (n == 0) return Failure::TmpRead;  // a read error, or fewer bytes than were written
        out_.write(buf, n);
        size -= n;
    }
    return Failure::None;
}

Failure Pass::close_module(char type, std::int32_t length, std::int32_t start, bool at_end) {
    w_.module_record(type == 'P' ? 0x00 : 0x01, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(start));
    // The module's words wait in ADSP.TMP. While they still fit its buffer
    // they are taken from memory; the file itself then only needs emptying.
    if (!tmp_.written_through()) {
        out_.write(tmp_.pending());
        if (!at_end) tmp_.drop_pending();
        if (at_end) {
            w_.end_line();
            return Failure::None;  // the caller closes ADSP.TMP, which keeps the last module
        }
    } else {
        const std::uint64_t size = tmp_.size();
        if (!tmp_.close()) return Failure::TmpWrite;
        if (Failure f = copy_words_back(size); f != Failure::None) return f;
    }
    w_.end_line();
    if (!at_end && !tmp_.reopen()) return Failure::TmpReopen;
    return Failure::None;
}

Failure Pass::run(std::int32_t& nmod_out) {
    const bool writing = mode_ == 1;
    std::string_view buf;
    std::int32_t count = 1;
    std::int32_t lastcount = 0;
    char type = 0;
    char lasttype = 0;
    std::int32_t value = 0;
    std::int32_t addr = 0;
    std::int32_t start = 0;
    std::int32_t nmod = 0;
    bool seen_block = false;
    long lineno = 0;

    auto refuse = [&](const char* what) {
        refusal_ = {lineno, what};
        return Failure::Refused;
    };

    while (exe_.next_line(buf)) {
        ++lineno;
        const bool block_line = !buf.empty() && buf[0] == '@';
        // Lines ahead of the first block line belong to no block; counting them
        // would make a module without a block type.
        if (!seen_block && !block_line) continue;

        count = add32(count, 1);
        if (block_line) {
            seen_block = true;
            lasttype = type;
            type = buf.size() > 1 ? buf[1] : 0;
            if (type != 'P' && type != 'D') return refuse("block type is neither P nor D");
            lastcount = count;
            count = 0;
        }
        if (count == 1) {
            if (!parse_hex(buf, value)) return refuse("address line is not a hex number");
            const std::int32_t end = add32(addr, sub32(lastcount, 3));
            if (end == value && type == lasttype) {
                addr = value;
            } else {
                addr = end;
                std::int32_t length = sub32(addr, start);
                if (length > 0) {
                    if (nmod == 0xFFFF) return refuse("more than 65535 modules");
                    ++nmod;
                    if (writing) {
                        if (Failure f = close_module(lasttype, length, start, false); f != Failure::None) return f;
                    }
                }
                addr = start = value;
            }
        }
        if (count > 1 && type != 0 && buf.size() >= 4 && buf.size() <= 6) {
            if (buf.size() == 5) return refuse("data line of 5 characters (an odd number of hex digits)");
            // Copied as they stand, other characters would end up in the hex text of the download file.
            for (char c : buf)
                if (!std::isxdigit(static_cast<unsigned char>(c)))
                    return refuse("data line of characters that are no hex digits");
            if (writing) {
                // Four or six characters and CR LF, stored without a call.
                unsigned char* p = tmp_.reserve(8);
                if (buf.size() == 4) {
                    std::memcpy(p, buf.data(), 4);
                } else {
                    std::memcpy(p, buf.data(), 6);
                }
                p[buf.size()] = '\r';
                p[buf.size() + 1] = '\n';
                tmp_.commit(buf.size() + 2);
            }
        }
    }
    // A read error is no end of ADSP.EXE: the counts would be wrong.
    if (exe_.failed()) return Failure::ExeRead;
    if (!seen_block) return refuse("no block line (@P or @D) in the file");
    if (nmod == 0xFFFF) return refuse("more than 65535 modules");
    ++nmod;
    addr = add32(addr, sub32(count, 3));
    if (writing) {
        if (Failure f = close_module(type, sub32(addr, start), start, true); f != Failure::None) return f;
        const bool tmp_ok = tmp_.close();
        if (!out_.close()) return Failure::Write;
        if (!tmp_ok) return Failure::TmpWrite;
    }
    nmod_out = nmod;
    return Failure::None;
}

struct Files {
    InFile exe;
    OutFile tmp;
    OutFile out;
};

// Opens the three files in their fixed order; returns 0 or the exit status.
int open_files(Files& f) {
    // Read twice, so it must be a file that can be opened again.
    if (!open_or_report(f.exe, kExeFile, FileMode::Text, "fopen error 1\n", InputKind::RegularFile)) return 1;
    if (output_is_input(kTmpFile, f.exe, kTmpFile, kExeFile) ||
        output_is_input(kDownloadFile, f.exe, kDownloadFile, kExeFile))
        return 1;
    if (!open_or_report(f.tmp, kTmpFile, "fopen error 2\n")) return 2;
    if (!open_or_report(f.out, kDownloadFile, "fopen error 3\n")) return 3;
    return 0;
}

int report(Failure failure, const Pass& pass) {
    switch (failure) {
    case Failure::None: return 0;
    case Failure::Refused:
        std::printf("%s line %ld: %s; no download file written\n", kExeFile, pass.refusal().line, pass.refusal().what);
        return 1;
    case Failure::ExeRead: std::printf("read error on %s\n", kExeFile); return 1;
    case Failure::TmpReopen: std::fputs("fopen error 2\n", stdout); return 1;
    case Failure::TmpWrite: std::printf("write error on %s\n", kTmpFile); return 1;
    case Failure::TmpRead: std::printf("read error on %s\n", kTmpFile); return 1;
    case Failure::Write: std::printf("write error on %s\n", kDownloadFile); return 1;
    }
    return 1;
}

}  // namespace

int convf(int mode, InFile& exe, OutFile& out, OutFile& tmp, std::int32_t& nmod) {
    Pass pass(mode, exe, out, tmp);
    return report(pass.run(nmod), pass);
}

int run_convert(int argc, char** argv) {
    std::fputs("convert version 2.5 - win32\n", stdout);
    std::printf("supports ro/da version %3.1f\n", 2.3);
    NameField name;
    if (!take_name_argument(argc, argv, "ro/da file name:   %s\n", name)) return 0;

    std::int32_t nmod = 0;
    {
        Files f;
        if (int status = open_files(f)) return status;
        if (int status = convf(0, f.exe, f.out, f.tmp, nmod)) return status;
        std::printf("number of modules: %d\n", nmod);
        if (nmod > 10) {
            std::fputs(
                "warning: more than 10 modules detected\n"
                "too many modules reduce RO/DA file efficiency\n"
                "please check linking procedure\n",
                stdout);
        }
    }  // all three closed; opening them again empties ADSP.OUT and ADSP.TMP

    Files f;
    if (int status = open_files(f)) return status;
    DownloadWriter w(f.out);
    w.header_line(0x00);
    w.name_line(name, static_cast<std::uint16_t>(nmod), check_word(23 * nmod + name_check_sum(name)), false,
                HexCase::Lower);
    std::int32_t written = 0;
    return convf(1, f.exe, f.out, f.tmp, written);
}

}  // namespace ziv
