// Checkers for what the download tools write, used by the fuzz targets on
// every output and by tests: an S-record file of the tools' dialect, and a
// download file of convert's module layout. Each returns "" when the text is
// well formed, else what is wrong and on which line. No test framework here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "srec.h"

namespace ziv::test {

namespace checks_detail {

inline int hex_value(char c, bool upper_only) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (!upper_only && c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The value of `digits` hex digits at s, or -1.
inline long long hex_field(std::string_view s, std::size_t digits, bool upper_only) {
    if (s.size() < digits) return -1;
    long long v = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int d = hex_value(s[i], upper_only);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

// Splits text into CR LF lines; false when a line ends otherwise (a lone LF,
// or characters after the last CR LF).
inline bool crlf_lines(std::string_view text, std::vector<std::string_view>& lines, std::string& error) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos || lf == at || text[lf - 1] != '\r') {
            error = "line " + std::to_string(lines.size() + 1) + ": does not end with CR LF";
            return false;
        }
        lines.push_back(text.substr(at, lf - 1 - at));
        at = lf + 1;
    }
    return true;
}

inline std::string at_line(std::size_t index, const std::string& what) {
    return "line " + std::to_string(index + 1) + ": " + what;
}

}  // namespace checks_detail

struct SrecSummary {
    std::string data_chars;                 // the data fields of all records, one after the other
    std::vector<std::size_t> record_bytes;  // data bytes of each record
};

// An S-record file as recmake and recjoin write it: S2 records whose byte
// count, address (from 0, without gap) and checksum are right, then the one
// terminator S9030000FC; every line ends with CR LF. Count, address and
// checksum are upper-case hex. The data field keeps the case of the input and
// may carry characters that are no hex digits (they count by getspair's rule)
// unless `hex_data_only`.
inline std::string check_srec_file(std::string_view text, SrecSummary* summary = nullptr, bool hex_data_only = false) {
    using namespace checks_detail;
    std::vector<std::string_view> lines;
    std::string error;
    if (!crlf_lines(text, lines, error)) return error;
    if (lines.empty() || lines.back() != kSrecTerminator) return "no terminator S9030000FC at the end";
    std::uint32_t address = 0;
    SrecSummary s;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string_view l = lines[i];
        if (l.size() < 12 || l.substr(0, 2) != "S2") return at_line(i, "not an S2 record");
        const long long count = hex_field(l.substr(2), 2, true);
        const long long addr = hex_field(l.substr(4), 6, true);
        const long long check = hex_field(l.substr(l.size() - 2), 2, true);
        if (count < 0 || addr < 0 || check < 0) return at_line(i, "count, address or checksum is not upper-case hex");
        if (count < 4 || l.size() != std::size_t(2 * count + 4)) return at_line(i, "byte count does not fit the line");
        if (addr != address)
            return at_line(i, "address " + std::to_string(addr) + ", expected " + std::to_string(address));
        const std::size_t n = std::size_t(count - 4);
        if (address + n > kSrecAddressSpace) return at_line(i, "data beyond address FFFFFF");
        unsigned sum = unsigned(count) + unsigned(addr >> 16) + unsigned((addr >> 8) & 0xFF) + unsigned(addr & 0xFF);
        const std::string_view data = l.substr(10, 2 * n);
        for (std::size_t k = 0; k < n; ++k) {
            const int hi = hex_value(data[2 * k], false), lo = hex_value(data[2 * k + 1], false);
            if (hex_data_only && (hi < 0 || lo < 0)) return at_line(i, "data is not hex");
            sum += (hi >= 0 && lo >= 0) ? unsigned(hi * 16 + lo) : getspair(data[2 * k], data[2 * k + 1]);
        }
        if ((~sum & 0xFFu) != unsigned(check)) return at_line(i, "wrong checksum");
        address += std::uint32_t(n);
        s.data_chars.append(data);
        s.record_bytes.push_back(n);
    }
    if (summary) *summary = std::move(s);
    return "";
}

struct DownloadModule {
    int type = 0;  // 0x00 P, 0x01 D
    std::uint32_t length = 0, start = 0;
    std::vector<std::string_view> words;
};

struct DownloadSummary {
    std::vector<DownloadModule> modules;
};

// A download file of convert's layout: "ABCD00", the name line (nine name
// bytes, module count, check word = 23 x count + b0 + b2 + b4 + b6 + b8), then
// each module: record line (type 00 or 01, length, start), words of 4 or 6
// hex digits (either case, as convert copies them), end line 55; nothing
// after the last module. Otherwise lower-case hex,
// CR LF line ends. The length fields are returned, not compared.
inline std::string check_module_download(std::string_view text, DownloadSummary* summary = nullptr) {
    using namespace checks_detail;
    std::vector<std::string_view> lines;
    std::string error;
    if (!crlf_lines(text, lines, error)) return error;
    auto lower_hex = [](std::string_view l) {
        for (char c : l)
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
        return true;
    };
    if (lines.size() < 2 || lines[0] != "ABCD00") return "no header line ABCD00";
    const std::string_view name = lines[1];
    if (name.size() != 26 || !lower_hex(name)) return at_line(1, "name line is not 26 lower-case hex digits");
    const long long count = hex_field(name.substr(18), 4, false);
    const long long check = hex_field(name.substr(22), 4, false);
    long long sum = 23 * count;
    for (std::size_t b = 0; b < 9; b += 2) sum += static_cast<signed char>(hex_field(name.substr(2 * b), 2, false));
    if ((sum & 0xFFFF) != check) return at_line(1, "wrong check word");

    DownloadSummary s;
    std::size_t i = 2;
    for (long long m = 0; m < count; ++m) {
        if (i >= lines.size())
            return "file ends after " + std::to_string(m) + " of " + std::to_string(count) + " modules";
        const std::string_view rec = lines[i];
        if (rec.size() != 18 || !lower_hex(rec) || (rec.substr(0, 2) != "00" && rec.substr(0, 2) != "01"))
            return at_line(i, "not a module record");
        DownloadModule mod;
        mod.type = int(hex_field(rec, 2, false));
        mod.length = std::uint32_t(hex_field(rec.substr(2), 8, false));
        mod.start = std::uint32_t(hex_field(rec.substr(10), 8, false));
        for (++i; i < lines.size() && lines[i] != "55"; ++i) {
            if ((lines[i].size() != 4 && lines[i].size() != 6) || hex_field(lines[i], lines[i].size(), false) < 0)
                return at_line(i, "not a word of 4 or 6 hex digits");
            mod.words.push_back(lines[i]);
        }
        if (i == lines.size()) return at_line(i - 1, "module without end line 55");
        ++i;
        s.modules.push_back(std::move(mod));
    }
    if (i != lines.size()) return at_line(i, "lines after the last module");
    if (summary) *summary = std::move(s);
    return "";
}

}  // namespace ziv::test
