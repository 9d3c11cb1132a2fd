// What every tool does with an input it cannot read as usual: a line end on a
// block boundary, a read error, a pipe, an output that is the input. Also the
// tools' cores run on memory with small blocks.
#include "converters.h"
#include "srec.h"
#include "srec_testing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

using srectest::crlf;
using ziv::test::bin_path;
using ziv::test::WorkDir;

namespace {

// A valid record of the longest kind, its CR around the end of the first 1 MiB
// block of the reader; empty lines (LF alone) in front of it place it.
TEST(ToolInputs, LongestRecordEndingOnTheBlockBoundary) {
    const std::string record = "S2FF000000" + std::string(2 * 251, '5') + "00";
    for (long shift : {-2, -1, 0, 1, 2}) {
        const std::size_t cr_at = (1u << 20) - 1 + static_cast<std::size_t>(shift);
        const std::string text = std::string(cr_at - record.size(), '\n') + crlf({record, "S9030000FC"});
        for (const char* tool : {"recjoin", "recraw"}) {
            WorkDir dir;
            dir.write("input.msf", text);
            dir.write("empty.msf", "");
            auto r = tool == std::string("recraw") ? dir.run(tool) : dir.run(tool, {"input.msf", "empty.msf", "o.msf"});
            EXPECT_EQ(r.status, 0) << tool << " shift " << shift << ": " << r.out;
        }
    }
}

struct Tool {
    const char* name;
    const char* input;
    std::vector<std::string> args;
};

// A read error ends the run with a message, never as if the input had ended.
TEST(ToolInputs, ReadErrorIsReported) {
    const Tool tools[] = {{"txtload", "ASCII.INP", {"t"}}, {"binload", "BINARY.DAT", {"t"}},
                          {"convert", "ADSP.EXE", {"t"}},  {"recmake", "ADSP.OUT", {}},
                          {"recraw", "input.msf", {}},     {"recjoin", "a.msf", {"a.msf", "a.msf", "c.msf"}}};
    for (const auto& t : tools) {
        WorkDir dir;
        std::filesystem::create_symlink("/proc/self/mem", dir.file(t.input));  // reads fail with EIO
        auto r = dir.run(t.name, t.args);
        EXPECT_EQ(r.status, 1) << t.name;
        const std::string message = std::string("read error on ") + t.input + "\n";
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), message.size())), message) << r.out;
    }
}

// The converters read their input twice; a pipe cannot be, and waiting for it
// to be opened again would never end.
TEST(ToolInputs, PipeAsInputOfAConverterIsRefusedAtOnce) {
    const Tool tools[] = {{"convert", "ADSP.EXE", {}},   {"exewrap", "EXEC.OUT", {}},  {"packwrap", "BINARY.DAT", {}},
                          {"binload", "BINARY.DAT", {}}, {"txtload", "ASCII.INP", {}}, {"picload", "BINARY.DAT", {}}};
    for (const auto& t : tools) {
        WorkDir dir;
        ASSERT_EQ(::mkfifo(dir.file(t.input).c_str(), 0600), 0);
        dir.write("ADSP.OUT", "keep me");
        auto r = srectest::shell(dir, "timeout 10 " + bin_path(t.name) + " t");
        EXPECT_EQ(r.status, 1) << t.name;
        EXPECT_NE(r.out.find(std::string(t.input) + " is not a regular file: a pipe or device cannot be read twice\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(dir.read("ADSP.OUT"), "keep me") << t.name;
        EXPECT_FALSE(dir.exists("ADSP.TMP")) << t.name;
    }
}

// An output that is a link to the input is refused before it empties the input.
TEST(ToolInputs, OutputThatIsTheInputIsRefused) {
    struct Case {
        Tool tool;
        const char* output;
        const char* message;
    };
    const Case cases[] = {
        {{"recmake", "ADSP.OUT", {}}, "ADSP.MSF", "ADSP.MSF is ADSP.OUT"},
        {{"recraw", "input.msf", {}}, "out.dat", "out.dat is input.msf"},
        {{"binload", "BINARY.DAT", {"t"}}, "ADSP.OUT", "ADSP.OUT is BINARY.DAT"},
        {{"convert", "ADSP.EXE", {"t"}}, "ADSP.OUT", "ADSP.OUT is ADSP.EXE"},
        {{"convert", "ADSP.EXE", {"t"}}, "ADSP.TMP", "ADSP.TMP is ADSP.EXE"},
    };
    const std::string content = "@PA\r\n0000\r\n0001\r\nend\r\n";
    for (const auto& c : cases) {
        for (bool hard : {true, false}) {
            WorkDir dir;
            dir.write(c.tool.input, content);
            if (hard) std::filesystem::create_hard_link(dir.file(c.tool.input), dir.file(c.output));
            else std::filesystem::create_symlink(c.tool.input, dir.file(c.output));
            auto r = dir.run(c.tool.name, c.tool.args);
            EXPECT_EQ(r.status, 1) << c.tool.name;
            EXPECT_NE(r.out.find(std::string(c.message) + ": it would be emptied before it is read\n"),
                      std::string::npos)
                << r.out;
            EXPECT_EQ(dir.read(c.tool.input), content) << c.tool.name;
        }
    }
}

// --- the cores on memory --------------------------------------------------------

// What the cores write for their inputs read in blocks of `block` bytes.
struct CoreOutputs {
    std::string records;  // make_records on the download text
    std::string modules;  // convf, both passes, on the same text
    std::string data;     // the data fields SrecReader hands out, one a line
};

ziv::InFile& open_memory(ziv::InFile& in, const std::string& bytes) {
    in.open_memory(bytes, ziv::FileMode::Text);
    return in;
}

CoreOutputs run_cores(const std::string& text, const std::string& srec, std::size_t block) {
    CoreOutputs c;
    WorkDir dir;
    {
        ziv::InFile in(block);
        ziv::OutFile out;
        EXPECT_TRUE(out.open(dir.file("records").c_str()));
        EXPECT_EQ(ziv::make_records(open_memory(in, text), out), 0);
    }
    c.records = dir.read("records");

    std::int32_t nmod = 0;
    for (int mode : {0, 1}) {
        ziv::InFile exe(block);
        ziv::OutFile out;
        ziv::OutFile tmp;
        EXPECT_TRUE(out.open(dir.file("modules").c_str()));
        EXPECT_TRUE(tmp.open(dir.file("tmp").c_str()));
        EXPECT_EQ(ziv::convf(mode, open_memory(exe, text), out, tmp, nmod), 0);
    }
    c.modules = std::to_string(nmod) + "\n" + dir.read("modules");

    ziv::InFile in(block);
    ziv::SrecReader reader(open_memory(in, srec));
    std::string_view data;
    for (ziv::SrecReader::Result r; (r = reader.next(data)) != ziv::SrecReader::Result::End;)
        c.data += (r == ziv::SrecReader::Result::Bad ? std::string(reader.problem()) : std::string(data)) + "\n";
    return c;
}

// Every tool's lines read the same in blocks of any size: lines of many
// lengths, ending in CR LF or LF alone, with lone CRs among the characters.
TEST(ToolInputs, CoresReadTheSameInAnyBlockSize) {
    std::string text = "@PA0\r\n0000\r\n";
    for (int i = 0; i < 40; ++i) {
        text += std::string(static_cast<std::size_t>(2 * (i % 6)), static_cast<char>('0' + i % 7));
        text += i % 3 ? "\r\n" : "\n";
        // Closing and CR lines of 8 characters: even for recmake, and no data lines for convert,
        // which refuses data lines that are no hex digits.
        if (i == 20) text += "end00000\r\n@DA0\r\n8000\r\n\r\r\r\r\r\r\r\r\r\n";
    }
    const std::string srec = crlf({"S2050000000102", "", "S9030000FC", "S2FF000000" + std::string(502, 'a') + "00"}) +
                             "S20600000001020\n" + crlf({"S1051234ABCDxx", std::string(600, 'S')});
    const CoreOutputs whole = run_cores(text, srec, ziv::InFile::kBlock);
    EXPECT_NE(whole.records.find("S9030000FC"), std::string::npos);
    EXPECT_EQ(whole.modules.substr(0, 2), "2\n");
    EXPECT_EQ(whole.data, "01\n" + std::string(502, 'a') + "\nodd number of characters\nABCD\nnot an S-record\n");
    for (std::size_t block = 1; block <= 24; ++block) {
        const CoreOutputs small = run_cores(text, srec, block);
        EXPECT_EQ(small.records, whole.records) << block;
        EXPECT_EQ(small.modules, whole.modules) << block;
        EXPECT_EQ(small.data, whole.data) << block;
    }
}

}  // namespace
