#include "workdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace ziv::test {

namespace {
std::string slurp(const std::string& path, bool& ok) {
    std::ifstream f(path, std::ios::binary);
    ok = static_cast<bool>(f);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}
}  // namespace

WorkDir::WorkDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ziv-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

WorkDir::~WorkDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WorkDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream f(file(name), std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << "cannot write " << file(name);
}

std::string WorkDir::read(const std::string& name) const {
    bool ok = false;
    std::string s = slurp(file(name), ok);
    EXPECT_TRUE(ok) << name << " missing";
    return s;
}

bool WorkDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string bin_path(const std::string& tool) { return std::string(ZIV_BIN_DIR) + "/" + tool; }

std::string read_test_data(const std::string& relative) {
    bool ok = false;
    std::string s = slurp(std::string(ZIV_TEST_DATA_DIR) + "/" + relative, ok);
    EXPECT_TRUE(ok) << relative << " missing";
    return s;
}

RunResult WorkDir::run(const std::string& tool, const std::vector<std::string>& args) const {
    RunResult r;
    int outp[2], errp[2];
    if (::pipe2(outp, O_CLOEXEC) != 0 || ::pipe2(errp, O_CLOEXEC) != 0) return r;
    std::string exe = bin_path(tool);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(outp[1], 1);
        ::dup2(errp[1], 2);
        if (::chdir(path_.c_str()) != 0) ::_exit(126);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outp[1]);
    ::close(errp[1]);
    pollfd fds[2] = {{outp[0], POLLIN, 0}, {errp[0], POLLIN, 0}};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        if (::poll(fds, 2, 60000) <= 0) break;  // a tool that hangs fails the test
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) {
            ::kill(pid, SIGKILL);
            ::close(f.fd);
        }
    int st = 0;
    ::waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace ziv::test
