// A fresh temporary working directory per test, and running our programs in it.
#pragma once

#include <string>
#include <vector>

namespace ziv::test {

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
};

class WorkDir {
public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;  // fails the test when missing
    bool exists(const std::string& name) const;

    // Runs bin/<tool> with the arguments, in this directory, with no input.
    RunResult run(const std::string& tool, const std::vector<std::string>& args = {}) const;

private:
    std::string path_;
};

// Reads a file of the source tree's tests/ folder (golden files), byte for byte.
std::string read_test_data(const std::string& relative);

// Path of a built program.
std::string bin_path(const std::string& tool);

}  // namespace ziv::test
