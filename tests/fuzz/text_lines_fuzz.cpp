// Fuzzes the tools' text-mode line reader: the same bytes read in blocks of a
// size the input chooses and in one block that holds them all give the lines
// of the plain text-mode model; with a longest line set, a longer line may
// come cut, but only to a prefix longer than that limit.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "textio.h"

namespace {

constexpr const char* kName = "text_lines_fuzz";

std::vector<std::string> read_lines(std::size_t max_line, std::size_t block)
{
    ziv::InFile in;
    if (!in.open("in.txt", ziv::FileMode::Binary)) ziv::fuzz::fail(kName, "cannot open in.txt");
    ziv::TextLines lines(in, max_line, block);
    std::vector<std::string> out;
    std::string_view line;
    while (lines.next(line)) out.emplace_back(line);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ziv::fuzz::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const std::size_t block = 1 + data[0] % 64;               // the reader's block size
    const std::size_t max_line = data[1] < 128 ? 0 : data[1] % 48;  // 0: no limit
    const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    ziv::fuzz::write_file("in.txt", bytes);

    const std::vector<std::string_view> model = ziv::fuzz::text_lines_model(bytes);
    // In blocks of the chosen size and in one block that holds the whole input.
    for (const std::size_t b : {block, bytes.size() + 16}) {
        const std::vector<std::string> lines = read_lines(max_line, b);
        const std::string where = " (block size " + std::to_string(b) + ")";
        if (lines.size() != model.size())
            ziv::fuzz::fail(kName, std::to_string(lines.size()) + " lines, the model has " +
                                       std::to_string(model.size()) + where);
        for (std::size_t i = 0; i < model.size(); ++i) {
            const bool cut = max_line > 0 && model[i].size() > max_line;
            const bool same = cut ? lines[i].size() > max_line && model[i].substr(0, lines[i].size()) == lines[i]
                                  : lines[i] == model[i];
            if (!same) ziv::fuzz::fail(kName, "line " + std::to_string(i + 1) + " differs from the model" + where);
        }
    }
    return 0;
}
