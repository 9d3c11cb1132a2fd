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
        // Windows nobody can show: a missing value, no size, no step, a negative position, too wide.
        {{"--window", "0,0,640,480,1"}, "zivgrab: bad value for --window: 0,0,640,480,1 (x,y,dx,dy,incx,incy: "},
        {{"--window", "0,0,0,480,1,1"}, "zivgrab: bad value for --window: 0,0,0,480,1,1 ("},
        {{"--window", "0,0,640,480,0,1"}, "zivgrab: bad value for --window: 0,0,640,480,0,1 ("},
        {{"--window", "-1,0,640,480,1,1"}, "zivgrab: bad value for --window: -1,0,640,480,1,1 ("},
        {{"--window", "0,0,2147483648,1,1,1"}, "zivgrab: bad value for --window: 0,0,2147483648,1,1,1 ("},
        // Output names: one integer counter at most, nothing of the name ever a printf format.
        {{"--out", "img-%s.png"}, "zivgrab: bad value for --out: img-%s.png (a file name; %d or %0Nd numbers the "},
        {{"--out", "%n%n%n"}, "zivgrab: bad value for --out: %n%n%n ("},
        {{"--out", "a-%d-%d.png"}, "zivgrab: bad value for --out: a-%d-%d.png ("},
        {{"--out", "50%.png"}, "zivgrab: bad value for --out: 50%.png ("},
        {{"--out", "a%-6d.png"}, "zivgrab: bad value for --out: a%-6d.png ("},
        {{"--out", "a%"}, "zivgrab: bad value for --out: a% ("},
        {{"--live", "5", "--every", "0", "--out", "-"}, "zivgrab: bad value for --every: 0 (1..2147483647)\n"},
        {{"--live", "5", "--every", "2", "--out", "a.png"}, "zivgrab: --every needs --out with a counter (%d) or -\n"},
        {{"--reconnect"}, "zivgrab: --reconnect needs --live\n"},
    };
    ziv::test::WorkDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const auto result = dir.run("zivgrab", c.args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err.rfind(c.error, 0), 0u) << result.err;
        EXPECT_NE(result.err.find("\nusage: zivgrab [--server HOST]"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

}  // namespace
