// zivdemo refuses a wrong command line with a message, its usage and status 2,
// before it connects anywhere.

#include "workdir.h"

#include <gtest/gtest.h>

namespace {

TEST(ZivdemoArguments, WrongCommandLinesAreReportedWithStatus2) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--port", "2002", "--frobnicate"}, "zivdemo: unknown option --frobnicate\n"},
        {{"--frobnicate", "x", "--port", "2002"}, "zivdemo: unknown option --frobnicate\n"},
        {{}, "zivdemo: --port is required\n"},
        {{"--port", "0"}, "zivdemo: bad value for --port: 0 (1..65535)\n"},
        {{"--port", "2002", "--bmp"}, "zivdemo: --bmp needs a value\n"},
    };
    ziv::test::WorkDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const auto result = dir.run("zivdemo", c.args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err.rfind(std::string(c.error) + "usage: zivdemo --port P", 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

}  // namespace
