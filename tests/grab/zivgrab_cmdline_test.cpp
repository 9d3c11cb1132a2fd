// zivgrab refuses a wrong command line with a message, its usage and status 2,
// before it looks for the control or connects anywhere.

#include "workdir.h"

#include <gtest/gtest.h>

namespace {

TEST(ZivgrabArguments, WrongCommandLinesAreReportedWithStatus2) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--port", "2002", "--frobnicate"}, "zivgrab: unknown option --frobnicate\n"},
        {{"--frobnicate", "x", "--port", "2002"}, "zivgrab: unknown option --frobnicate\n"},
        {{"--port", "0"}, "zivgrab: bad value for --port: 0 (1..65535)\n"},
        {{"--port", "2002", "--out"}, "zivgrab: --out needs a value\n"},
        {{"--live", "-3"}, "zivgrab: bad value for --live: -3 (1..2147483647)\n"},
        {{"grab.bmp"}, "zivgrab: unexpected argument grab.bmp\n"},
    };
    ziv::test::WorkDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const auto result = dir.run("zivgrab", c.args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err.rfind(std::string(c.error) + "usage: zivgrab [--server HOST]", 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

}  // namespace
