// ziv: runs one of the download tools from the tools' own folder, which is
// kept off the PATH (a tool called `convert` would shadow another well-known
// one): `ziv recjoin a.msf b.msf c.msf`, `ziv --list`. The tool replaces this
// process, so its output, input and exit status are its own.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline.h"

namespace {

namespace fs = std::filesystem;

constexpr struct {
    const char* name;
    const char* what;
} kTools[] = {
    {"convert", "ADSP.EXE (text) to the download file ADSP.OUT"},
    {"exewrap", "EXEC.OUT (binary) to ADSP.OUT"},
    {"packwrap", "BINARY.DAT (binary) to ADSP.OUT"},
    {"binload", "BINARY.DAT (binary) to ADSP.OUT"},
    {"txtload", "ASCII.INP (text) to ADSP.OUT"},
    {"picload", "BINARY.DAT (binary, a picture) to ADSP.OUT"},
    {"recmake", "ADSP.OUT to the S-record file ADSP.MSF"},
    {"recjoin", "two S-record files merged into a third"},
    {"recraw", "input.msf to the binary out.dat"},
};

constexpr const char* kUsage =
    "usage: ziv TOOL [ARGUMENTS...]   runs a download tool with its arguments\n"
    "       ziv --list                names the tools\n"
    "       ziv --version | --help\n"
    "The tools are taken from $ZIV_TOOLS_DIR, else from the folder of the installed tools.\n";

bool is_tool(const fs::path& file) { return access(file.c_str(), X_OK) == 0 && !fs::is_directory(file); }

// Where the tools are: $ZIV_TOOLS_DIR; else the installed layout seen from
// this program's own place (so a moved prefix still works); else beside this
// program (the build tree); else where the build said they would be installed.
fs::path tools_folder(const char* tool) {
    if (const char* dir = std::getenv("ZIV_TOOLS_DIR"); dir && *dir) return dir;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (const fs::path& dir : {self.parent_path() / ZIV_TOOLS_RELATIVE, self.parent_path()})
            if (is_tool(dir / tool)) return dir;
    }
    return ZIV_TOOLS_INSTALLED;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("ziv %s\n", ziv::cmdline::version());
        return 0;
    }
    if (first == "--list") {
        for (const auto& tool : kTools) std::printf("%-9s %s\n", tool.name, tool.what);
        return 0;
    }
    bool known = false;
    for (const auto& tool : kTools) known = known || first == tool.name;
    if (!known) {
        std::fprintf(stderr, "ziv: no download tool called '%s' (ziv --list names them)\n", argv[1]);
        return 2;
    }
    const fs::path program = tools_folder(argv[1]) / argv[1];
    // The tool sees its own name first, as when it is run directly.
    std::vector<char*> args(argv + 1, argv + argc);
    args.push_back(nullptr);
    execv(program.c_str(), args.data());
    const int error = errno;
    std::fprintf(stderr, "ziv: cannot run %s: %s\n", program.c_str(), std::strerror(error));
    return error == ENOENT ? 127 : 126;
}
