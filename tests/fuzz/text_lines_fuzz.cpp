// Fuzzes the tools' text-mode reader (InFile on memory). The same bytes read
// in blocks of a size the input chooses and in one block that holds them all
// give the lines of the plain text-mode model; with a longest line set, a
// longer line may come cut, but only to a prefix longer than that limit. Read
// as bytes, in pieces of a chosen size, they give the model's text: every
// CR LF as LF, nothing from the first 0x1A on.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "textio.h"

namespace {

constexpr const char* kName = "text_lines_fuzz";

std::string text_model(std::string_view bytes) {
    if (const std::size_t z = bytes.find('\x1a'); z != std::string_view::npos) bytes = bytes.substr(0, z);
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += bytes[i];
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t block = 1 + data[0] % 64;                     // the reader's block size
    const std::size_t max_line = data[1] < 128 ? 0 : data[1] % 48;  // 0: no limit
    const std::size_t piece = 1 + data[2] % 16;                     // bytes asked for per read
    const std::string_view bytes(reinterpret_cast<const char*>(data + 3), size - 3);

    const std::vector<std::string_view> model = ziv::fuzz::text_lines_model(bytes);
    for (const std::size_t b : {block, bytes.size() + 16}) {
        ziv::InFile in(b);
        in.open_memory(bytes, ziv::FileMode::Text);
        const std::string where = " (block size " + std::to_string(b) + ")";
        std::string_view line;
        std::size_t n = 0;
        for (; in.next_line(line, max_line); ++n) {
            if (n == model.size()) ziv::fuzz::fail(kName, "more lines than the model has" + where);
            const std::string_view want = model[n];
            const bool cut = max_line > 0 && want.size() > max_line;
            const bool same = cut ? line.size() > max_line && want.substr(0, line.size()) == line : line == want;
            if (!same) ziv::fuzz::fail(kName, "line " + std::to_string(n + 1) + " differs from the model" + where);
        }
        if (n != model.size())
            ziv::fuzz::fail(kName, std::to_string(n) + " lines, the model has " + std::to_string(model.size()) + where);
    }

    ziv::InFile in(block);
    in.open_memory(bytes, ziv::FileMode::Text);
    std::string text;
    unsigned char buf[16];
    while (const std::size_t got = in.read(buf, piece)) text.append(reinterpret_cast<const char*>(buf), got);
    if (text != text_model(bytes)) ziv::fuzz::fail(kName, "bytes read in text mode differ from the model");
    return 0;
}
