// The S-record tools: recmake (ADSP.OUT to ADSP.MSF), recjoin (two S-record
// files into one) and recraw (input.msf to the raw bytes of out.dat).
#include "srec.h"

#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ziv {

namespace {

// A record is closed by the first line that brings it to this many bytes.
constexpr std::size_t kRecordFill = 20;
// Download file lines hold at most 28 hex digits; a longer line is taken as
// pieces of that size, so that no record grows beyond 19 + 14 bytes.
constexpr std::size_t kMaxPiece = 28;

constexpr std::size_t kRawSkip = 21;  // the download file in front of the payload

// Builds recmake's records out of the lines of the download file.
class RecordMaker {
public:
    explicit RecordMaker(OutFile& out) : out_(out) {}

    // Takes a piece of at most kMaxPiece characters, even in number.
    bool add(const char* p, std::size_t len) {
        std::memcpy(data_ + 2 * n_, p, len);
        n_ += len / 2;
        return n_ < kRecordFill || close();
    }

    // The fast path of a two-character line.
    bool add2(const char* p) {
        data_[2 * n_] = p[0];
        data_[2 * n_ + 1] = p[1];
        return ++n_ < kRecordFill || close();
    }

    bool empty() const { return n_ == 0; }

    // A whole record of kRecordFill two-character lines, "hh" CR LF each.
    bool add_full(const char* p) {
        for (std::size_t i = 0; i < kRecordFill; ++i) std::memcpy(data_ + 2 * i, p + 4 * i, 2);
        n_ = kRecordFill;
        return close();
    }

    // Writes the record under construction, also when it is empty. False when
    // it would reach beyond the 24-bit address space.
    bool close() {
        if (!srcflush(out_, std::string_view(data_, 2 * n_), address_)) return false;
        address_ += static_cast<std::uint32_t>(n_);
        n_ = 0;
        return true;
    }

private:
    OutFile& out_;
    char data_[2 * (kRecordFill - 1 + kMaxPiece / 2)];
    std::size_t n_ = 0;
    std::uint32_t address_ = 0;
};

// Whether p holds the line "hh" CR LF, hh two characters other than LF.
inline bool short_line(const char* p) { return (p[2] == '\r') & (p[3] == '\n') & (p[0] != '\n') & (p[1] != '\n'); }

// Whether p holds kRecordFill such lines, 80 bytes, tested 16 at a time where
// the machine can: this test is most of recmake's own work on such files.
inline bool short_lines_for_record(const char* p) {
    static_assert(4 * kRecordFill % 16 == 0);
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    unsigned wrong = 0;
    for (std::size_t i = 0; i < 4 * kRecordFill; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        auto crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
        // LF exactly at the fourth byte of each line, CR at least at the third.
        wrong |= (lfs ^ 0x8888u) | (~crs & 0x4444u);
    }
    return wrong == 0;
#else
    bool all = true;
    for (std::size_t i = 0; i < kRecordFill; ++i) all &= short_line(p + 4 * i);
    return all;
#endif
}

}  // namespace

SrecReader::Result SrecReader::next(std::string_view& data) {
    std::string_view line;
    while (in_.next_line(line, kSrecMaxLine)) {
        ++lineno_;
        SrecLine rec = parse_srec_line(line);
        if (rec.kind == SrecLine::Kind::Skip) continue;
        if (rec.kind == SrecLine::Kind::Bad) {
            problem_ = rec.problem;
            return Result::Bad;
        }
        data = rec.data;
        return Result::Data;
    }
    return Result::End;
}

int make_records(InFile& in, OutFile& out) {
    RecordMaker rec(out);
    unsigned long long lineno = 0;
    bool full = false;
    std::string_view line;
    for (;;) {
        // Most download files are one byte per line: "hh" CR LF.
        const char* p = in.pending_begin();
        const char* e = in.pending_end();
        while (!full) {
            if (rec.empty() && e - p >= static_cast<std::ptrdiff_t>(4 * kRecordFill) && short_lines_for_record(p)) {
                lineno += kRecordFill;
                full = !rec.add_full(p);
                p += 4 * kRecordFill;
            } else if (e - p >= 4 && short_line(p)) {
                ++lineno;
                full = !rec.add2(p);
                p += 4;
            } else {
                break;
            }
        }
        in.skip_to(p);
        if (full || !in.next_line(line)) break;
        ++lineno;
        if (line.size() % 2 != 0) {
            std::printf("ADSP.OUT line %llu: odd number of hex digits\n", lineno);
            return 1;  // the records written so far stay
        }
        for (std::size_t at = 0; at < line.size() && !full; at += kMaxPiece)
            full = !rec.add(line.data() + at, std::min(kMaxPiece, line.size() - at));
        if (full) break;
    }
    if (report_read_error(in, "ADSP.OUT")) return 1;  // the records written so far stay
    if (full || !rec.close()) {
        std::fputs("ADSP.OUT holds more than 16 MiB: S2 addresses end at FFFFFF\n", stdout);
        return 1;
    }
    out.line(kSrecTerminator);
    if (!out.close()) {
        std::fputs("write error on ADSP.MSF\n", stdout);
        return 1;
    }
    return 0;
}

int run_recmake(int, char**) {
    std::fputs("recmake version 2.0 - win32\n", stdout);
    InFile in;
    if (!open_or_report(in, "ADSP.OUT", FileMode::Text, "fopen error - read\n")) return 1;
    if (output_is_input("ADSP.MSF", in, "ADSP.MSF", "ADSP.OUT")) return 1;
    OutFile out;
    if (!open_or_report(out, "ADSP.MSF", "fopen error - write\n")) return 1;
    return make_records(in, out);
}

namespace {

// Copies the data of one S-record file into recjoin's output, renumbered from
// `address` on. False when the tool must stop (the message is printed).
bool join_file(InFile& in, const char* name, OutFile& out, std::uint32_t& address) {
    SrecReader reader(in);
    std::string_view data;
    for (;;) {
        switch (reader.next(data)) {
        case SrecReader::Result::End: return !report_read_error(in, name);
        case SrecReader::Result::Bad:
            std::printf("%s line %llu: %s\n", name, reader.lineno(), reader.problem());
            return false;
        case SrecReader::Result::Data: break;
        }
        if (!srcflush(out, data, address)) {
            std::printf("%s line %llu: more than 16 MiB of data: S2 addresses end at FFFFFF\n", name, reader.lineno());
            return false;
        }
        address += static_cast<std::uint32_t>(data.size() / 2);
    }
}

}  // namespace

int run_recjoin(int argc, char** argv) {
    std::fputs("recjoin version 1.0 - win32\n", stdout);
    if (argc != 4) {
        std::fputs("wrong number of arguments\n", stdout);
        return 0;
    }
    for (int i = 1; i <= 3; ++i) {
        if (std::strlen(argv[i]) > 12) {
            std::printf("file name argument #%d too long\n", i);
            return 0;
        }
    }
    std::printf("file1:       %s\n", argv[1]);
    std::printf("file2:       %s\n", argv[2]);
    std::printf("output file: %s\n", argv[3]);

    InFile first;
    InFile second;
    if (!open_or_report(first, argv[1], FileMode::Text, "fopen error - read file1\n")) return 1;
    if (!open_or_report(second, argv[2], FileMode::Text, "fopen error - read file2\n")) return 1;
    if (output_is_input(argv[3], first, "output file", "file1") ||
        output_is_input(argv[3], second, "output file", "file2"))
        return 1;
    OutFile out;
    if (!open_or_report(out, argv[3], "fopen error - write\n")) return 1;

    std::uint32_t address = 0;
    if (!join_file(first, argv[1], out, address)) return 1;
    first.close();
    if (!join_file(second, argv[2], out, address)) return 1;
    second.close();
    out.line(kSrecTerminator);
    if (!out.close()) {
        std::printf("write error on %s\n", argv[3]);
        return 1;
    }
    return 0;
}

int run_recraw(int, char**) {
    std::fputs("S-record to binary conversion - win32\n", stdout);
    InFile in;
    if (!open_or_report(in, "input.msf", FileMode::Text, "fopen error 1\n")) return 1;
    if (output_is_input("out.dat", in, "out.dat", "input.msf")) return 1;
    OutFile out;
    if (!open_or_report(out, "out.dat", "fopen error 3\n")) return 1;

    SrecReader reader(in);
    std::size_t skipped = 0;  // counted over the whole file
    std::string_view data;
    for (SrecReader::Result r; (r = reader.next(data)) != SrecReader::Result::End;) {
        if (r == SrecReader::Result::Bad) {
            std::printf("input.msf line %llu: %s\n", reader.lineno(), reader.problem());
            return 1;
        }
        const char* d = data.data();
        std::size_t n = data.size() / 2;
        std::size_t i = 0;
        if (skipped < kRawSkip) {
            i = std::min(n, kRawSkip - skipped);
            skipped += i;
        }
        unsigned char* o = out.reserve(n - i);
        for (std::size_t k = i; k < n; ++k) *o++ = getspair(d[2 * k], d[2 * k + 1]);
        out.commit(n - i);
    }
    if (report_read_error(in, "input.msf")) return 1;  // the bytes written so far stay
    if (!out.close()) {
        std::fputs("write error on out.dat\n", stdout);
        return 1;
    }
    return 0;
}

}  // namespace ziv
