// Fuzzes convert (both passes over ADSP.EXE) on any input. When it reports
// success, ADSP.OUT must be a well-formed download file (header, module count
// and check word, module records, words, end lines) whose words are the data
// lines of ADSP.EXE in their order. For an input of well-made blocks (address
// line of hex digits, words, one closing line; one more line at the end of the
// file) every module's length and start must be those of its blocks.
#include <cstdint>
#include <optional>
#include <string>

#include "converters.h"
#include "file_checks.h"
#include "fuzz_support.h"

namespace {

constexpr const char* kName = "convert_fuzz";

bool is_word(std::string_view l) { return l.size() >= 4 && l.size() <= 6; }

std::optional<std::uint32_t> plain_hex(std::string_view l) {
    if (l.empty() || l.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : l) {
        const int d = ziv::test::checks_detail::hex_value(c, false);
        if (d < 0) return std::nullopt;
        v = v * 16 + std::uint32_t(d);
    }
    return v;
}

struct Module {
    int type;
    std::uint32_t start, length;
};

struct Model {
    std::vector<std::string_view> words;
    bool well_made = true;
    std::vector<Module> modules;  // when well made
};

// What convert should make of ADSP.EXE's lines, from the blocks as they stand.
Model model_of(const std::vector<std::string_view>& lines) {
    Model m;
    std::size_t i = 0;
    while (i < lines.size() && (lines[i].empty() || lines[i][0] != '@')) ++i;  // ahead of the first block
    std::optional<Module> open;
    while (i < lines.size()) {
        const int type = lines[i].size() > 1 && lines[i][1] == 'D' ? 1 : 0;
        const auto is_block = [&](std::size_t k) { return !lines[k].empty() && lines[k][0] == '@'; };
        const bool has_address = i + 1 < lines.size() && !is_block(i + 1);
        const std::optional<std::uint32_t> start = has_address ? plain_hex(lines[i + 1]) : std::nullopt;
        if (!start) m.well_made = false;
        std::size_t j = has_address ? i + 2 : i + 1;
        std::uint32_t words = 0;
        for (; j < lines.size() && !is_block(j); ++j) {
            if (!is_word(lines[j])) continue;
            m.words.push_back(lines[j]);
            ++words;
        }
        // Well made: the words, then one closing line (and, for the last
        // block, one more line), nothing else.
        const std::size_t body = j - (has_address ? i + 2 : i + 1);
        const bool last = j == lines.size();
        if (body != words + (last ? 2 : 1) || (last && is_word(lines[j - 1]))) m.well_made = false;
        if (start) {
            if (open && open->type == type && open->start + open->length == *start) {
                open->length += words;
            } else {
                if (open && open->length > 0) m.modules.push_back(*open);
                open = Module{type, *start, words};
            }
        }
        i = j;
    }
    if (open) m.modules.push_back(*open);
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ziv::fuzz::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ziv::fuzz::write_file("ADSP.EXE", bytes);
    if (ziv::fuzz::run_tool(ziv::run_convert, {"convert", "fuzz"}) != 0) return 0;

    const std::string out = ziv::fuzz::read_file("ADSP.OUT");
    ziv::test::DownloadSummary s;
    const std::string error = ziv::test::check_module_download(out, &s);
    if (!error.empty()) ziv::fuzz::fail(kName, "ADSP.OUT " + error);

    const Model m = model_of(ziv::fuzz::text_lines_model(bytes));
    std::vector<std::string_view> words;
    for (const auto& mod : s.modules) words.insert(words.end(), mod.words.begin(), mod.words.end());
    if (words != m.words) ziv::fuzz::fail(kName, "the words of ADSP.OUT are not the data lines of ADSP.EXE");
    if (!m.well_made) return 0;
    if (s.modules.size() != m.modules.size())
        ziv::fuzz::fail(kName, std::to_string(s.modules.size()) + " modules for " + std::to_string(m.modules.size()));
    for (std::size_t i = 0; i < m.modules.size(); ++i) {
        const auto& got = s.modules[i];
        const Module& want = m.modules[i];
        if (got.type != want.type || got.start != want.start || got.length != want.length ||
            got.words.size() != want.length)
            ziv::fuzz::fail(kName, "module " + std::to_string(i + 1) + " differs from its blocks");
    }
    return 0;
}
