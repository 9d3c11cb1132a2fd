// What the tools' fuzz targets share: a private working folder for tool cores
// that work on fixed file names, file access, and a plain model of the old
// text mode to hold the tools' readers against.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace ziv::fuzz {

[[noreturn]] inline void fail(const char* target, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    std::abort();
}

// Makes a fresh folder the working directory for the rest of the process and
// removes it at exit. It lies in memory (/dev/shm) where it can: a disk file
// system that writes a truncated file back at close costs more than the run.
// The tools' messages on standard output go nowhere: libFuzzer reports on
// standard error.
inline void enter_scratch_dir() {
    static std::string path;
    const std::filesystem::path base =
        ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "ziv-fuzz-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) fail("fuzz", "mkdtemp failed");
    path = tmpl;
    if (::chdir(path.c_str()) != 0) fail("fuzz", "chdir failed");
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    });
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        std::fflush(stdout);
        ::dup2(null, 1);
        ::close(null);
    }
}

// Runs a tool's core with the given command line (program name first), as its
// main would; returns the exit status.
inline int run_tool(int (*tool)(int, char**), std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = tool(int(args.size()), argv.data());
    std::fflush(stdout);
    return status;
}

// Plain system calls: a file stream costs more than these small files need.
inline void write_file(const char* name, std::string_view bytes) {
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    for (std::size_t at = 0; ok && at < bytes.size();) {
        const ssize_t w = ::write(fd, bytes.data() + at, bytes.size() - at);
        ok = w > 0;
        if (ok) at += std::size_t(w);
    }
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) fail("fuzz", std::string("cannot write ") + name);
}

// The whole file; empty when it cannot be read.
inline std::string read_file(const char* name) {
    std::string bytes;
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char buf[4096];
    for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, std::size_t(got));
    ::close(fd);
    return bytes;
}

// The lines of a text file as the old text mode gives them: input ends at the
// first byte 0x1A; a line ends at LF, and a CR right before the LF is not
// part of it; a last line without LF is not read.
inline std::vector<std::string_view> text_lines_model(std::string_view bytes) {
    if (const std::size_t z = bytes.find('\x1a'); z != std::string_view::npos) bytes = bytes.substr(0, z);
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    for (std::size_t lf; (lf = bytes.find('\n', at)) != std::string_view::npos; at = lf + 1) {
        std::size_t end = lf;
        if (end > at && bytes[end - 1] == '\r') --end;
        lines.push_back(bytes.substr(at, end - at));
    }
    return lines;
}

}  // namespace ziv::fuzz
