// ziv as a program: a tool run by name with its arguments and its own exit
// status, the list, and names or folders that lead nowhere.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline.h"
#include "workdir.h"

namespace {

using ziv::test::RunResult;
using ziv::test::WorkDir;

TEST(Dispatch, RunsToolsByNameAndPassesTheirStatusThrough) {
    WorkDir dir;
    // A stand-in tool that shows its arguments and ends with a status of its own.
    dir.write("recraw", "#!/bin/sh\nprintf '[%s]' \"$@\"\nexit 7\n");
    ASSERT_EQ(::chmod(dir.file("recraw").c_str(), 0755), 0);
    const std::string fake = dir.path();
    const struct {
        const char* tools_dir;  // ZIV_TOOLS_DIR; null: found from ziv's own place
        std::vector<std::string> args;
        int status;
        std::string out, err;  // err is matched at its start
    } cases[] = {
        {fake.c_str(), {"recraw", "a b", "", "-x"}, 7, "[a b][][-x]", ""},
        {fake.c_str(), {"recjoin"}, 127, "", "ziv: cannot run " + fake + "/recjoin: No such file or directory\n"},
        {nullptr, {"frobnicate", "x"}, 2, "", "ziv: no download tool called 'frobnicate' (ziv --list names them)\n"},
        {nullptr, {"./recraw"}, 2, "", "ziv: no download tool called './recraw'"},
        {nullptr, {}, 2, "", "usage: ziv TOOL"},
        {nullptr, {"--version"}, 0, std::string("ziv ") + ziv::cmdline::version() + "\n", ""},
        {nullptr, {"--list"}, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
        if (c.tools_dir) {
            setenv("ZIV_TOOLS_DIR", c.tools_dir, 1);
        } else {
            unsetenv("ZIV_TOOLS_DIR");
        }
        const RunResult r = dir.run("ziv", c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.args != std::vector<std::string>{"--list"}) {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    }
    unsetenv("ZIV_TOOLS_DIR");
}

TEST(Dispatch, ListsEveryToolAndRunsTheRealOneAsIfCalledDirectly) {
    WorkDir dir;
    const RunResult list = dir.run("ziv", {"--list"});
    for (const char* tool :
         {"convert", "exewrap", "packwrap", "binload", "txtload", "picload", "recmake", "recjoin", "recraw"})
        EXPECT_NE(("\n" + list.out).find(std::string("\n") + tool + " "), std::string::npos) << tool << "\n"
                                                                                             << list.out;

    // In the build tree the tools lie beside ziv: recjoin's own message and status.
    const RunResult direct = dir.run("recjoin", {"missing.msf", "other.msf", "out.msf"});
    const RunResult through = dir.run("ziv", {"recjoin", "missing.msf", "other.msf", "out.msf"});
    EXPECT_NE(direct.status, 0);
    EXPECT_EQ(through.status, direct.status);
    EXPECT_EQ(through.out, direct.out);
    EXPECT_EQ(through.err, direct.err);
}

}  // namespace
