// The shared command-line parser: command lines to stored values or to the
// error text, the usage text made from the same table, and parse_main's
// exit statuses.

#include "cmdline.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

using namespace ziv::cmdline;

namespace {

// Every kind of value, as a tool like a grabber would use them.
struct Targets {
    std::string server;
    int port = 2002;
    bool describe = false;
    std::vector<int> window;
    std::int64_t width = 0, height = 0;
    std::int64_t delta = 0;

    std::string summary() const {
        std::ostringstream s;
        s << "server=" << server << " port=" << port << " describe=" << describe << " window=";
        for (size_t i = 0; i < window.size(); ++i) s << (i ? "," : "") << window[i];
        s << " size=" << width << "x" << height << " delta=" << delta;
        return s.str();
    }
};

CommandLine command_line(Targets& t) {
    auto size = [&t](const std::string& s) { return parse_size(s, t.width, t.height) && t.width > 0 && t.height > 0; };
    return CommandLine{
        .program = "grab",
        .options = {{"--server", "HOST", "camera address", text(t.server), true},
                    {"--port", "N", "TCP port\n(default 2002)", integer(t.port, 0, 65535)},
                    {"--window", "x,y,dx,dy,incx,incy", "window and steps",
                     int_list(t.window, 6, INT32_MIN, INT32_MAX)},
                    heading("more:"),
                    {"--size", "WxH", "size", custom("WxH, each at least 1", size)},
                    {"--delta", "D", "any integer", integer(t.delta, INT64_MIN, INT64_MAX)},
                    {"--describe", "", "say what is done", flag(t.describe)}},
        .epilog = "The end.\n",
    };
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> words{"grab"};
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

TEST(Cmdline, CommandLinesGiveValuesOrTheirError) {
    const std::string kDefaults = "server=cam port=2002 describe=0 window= size=0x0 delta=0";
    struct Case {
        const char* args;
        std::string want;  // the summary of the values, or the error
    };
    const Case cases[] = {
        {"--server cam", kDefaults},
        {"--server cam --port 7 --describe --window 1,-2,3,4,5,6 --size 640X480 --delta -5",
         "server=cam port=7 describe=1 window=1,-2,3,4,5,6 size=640x480 delta=-5"},
        {"--server=cam --port=0", "server=cam port=0 describe=0 window= size=0x0 delta=0"},
        {"--port 1 --server cam --port 2", "server=cam port=2 describe=0 window= size=0x0 delta=0"},
        {"--server cam --delta -9223372036854775808",
         "server=cam port=2002 describe=0 window= size=0x0 delta=" + std::to_string(INT64_MIN)},
        {"--server cam --window 0,0,2147483647,-2147483648,1,1",
         "server=cam port=2002 describe=0 window=0,0,2147483647,-2147483648,1,1 size=0x0 delta=0"},
        {"--server cam --x", "unknown option --x"},
        {"--server cam --x=3", "unknown option --x"},
        {"--server cam -q", "unknown option -q"},
        {"--server cam stray", "unexpected argument stray"},
        {"--server cam --port", "--port needs a value"},
        {"--port 5", "--server is required"},
        {"--server cam --port abc", "bad value for --port: abc (0..65535)"},
        {"--server cam --port 65536", "bad value for --port: 65536 (0..65535)"},
        {"--server cam --port -1", "bad value for --port: -1 (0..65535)"},
        {"--server cam --port 0x10", "bad value for --port: 0x10 (0..65535)"},
        {"--server cam --port +5", "bad value for --port: +5 (0..65535)"},
        {"--server cam --port=", "bad value for --port:  (0..65535)"},
        {"--server cam --delta 9223372036854775808", "bad value for --delta: 9223372036854775808 (an integer)"},
        {"--server cam --window 1,2,3",
         "bad value for --window: 1,2,3 (6 comma-separated integers, each "
         "-2147483648..2147483647)"},
        {"--server cam --window 1,,3,4,5,6",
         "bad value for --window: 1,,3,4,5,6 (6 comma-separated integers, each "
         "-2147483648..2147483647)"},
        {"--server cam --window 1,2,3,4,5,2147483648",
         "bad value for --window: 1,2,3,4,5,2147483648 (6 "
         "comma-separated integers, each -2147483648..2147483647)"},
        {"--server cam --size 0x5", "bad value for --size: 0x5 (WxH, each at least 1)"},
        {"--server cam --size 5", "bad value for --size: 5 (WxH, each at least 1)"},
        {"--server cam --describe=1", "--describe takes no value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Targets t;
        const auto words = split(c.args);
        std::vector<const char*> argv;
        for (const auto& w : words) argv.push_back(w.c_str());
        const Parsed p = command_line(t).parse(int(argv.size()), argv.data());
        EXPECT_FALSE(p.help);
        EXPECT_EQ(p.ok ? t.summary() : p.error, c.want);
        EXPECT_EQ(p.ok, p.error.empty());
    }
}

TEST(Cmdline, HelpStopsTheParsingUnlessAnErrorCameFirst) {
    const struct {
        std::vector<const char*> argv;
        bool ok, help;
    } cases[] = {
        {{"grab", "--help", "--bogus"}, true, true},
        {{"grab", "-h"}, true, true},  // required options are not asked for with --help
        {{"grab", "--port", "x", "--help"}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv[1]);
        Targets t;
        const Parsed p = command_line(t).parse(int(c.argv.size()), c.argv.data());
        EXPECT_EQ(p.ok, c.ok);
        EXPECT_EQ(p.help, c.help);
    }
}

TEST(Cmdline, UsageComesFromTheTable) {
    Targets t;
    EXPECT_EQ(command_line(t).usage(),
              "usage: grab --server HOST [--port N] [--window x,y,dx,dy,incx,incy] [--size WxH] [--delta D] "
              "[--describe]\n"
              "  --help                         print this text and stop\n"
              "  --version                      print the version and stop\n"
              "  --server HOST                  camera address\n"
              "  --port N                       TCP port\n"
              "                                 (default 2002)\n"
              "  --window x,y,dx,dy,incx,incy   window and steps\n"
              "more:\n"
              "  --size WxH                     size\n"
              "  --delta D                      any integer\n"
              "  --describe                     say what is done\n"
              "The end.\n");
}

// What parse_main printed and gave.
struct MainRun {
    std::optional<int> status;
    std::string out, err;
};

MainRun run_main(std::vector<const char*> argv) {
    Targets t;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    MainRun r;
    r.status = command_line(t).parse_main(int(argv.size()), argv.data(), out, err);
    for (auto [file, text] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
        std::rewind(file);
        for (int ch; (ch = std::fgetc(file)) != EOF;) text->push_back(char(ch));
        std::fclose(file);
    }
    return r;
}

TEST(Cmdline, ParseMainPrintsAndGivesTheExitStatus) {
    const MainRun good = run_main({"grab", "--server", "cam"});
    EXPECT_FALSE(good.status.has_value());
    EXPECT_EQ(good.out + good.err, "");

    const MainRun help = run_main({"grab", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: grab --server HOST", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");

    const MainRun bad = run_main({"grab", "--frobnicate"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err.rfind("grab: unknown option --frobnicate\nusage: grab", 0), 0u) << bad.err;
}

// The man page's option list and the completion are made from the table at
// build time: each must name every option, and --version answers alone.
TEST(Cmdline, VersionManPageAndCompletionComeFromTheTable) {
    const MainRun version = run_main({"grab", "--version", "--bogus"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("grab ") + ziv::cmdline::version() + "\n");

    const MainRun man = run_main({"grab", "--help-man"});
    const MainRun completion = run_main({"grab", "--help-completion"});
    EXPECT_EQ(man.status, 0);
    EXPECT_EQ(completion.status, 0);
    Targets t;
    for (const Option& o : command_line(t).options) {
        if (o.name.empty()) continue;
        EXPECT_NE(man.out.find("*" + o.name + "*" + (o.placeholder.empty() ? "" : " _" + o.placeholder + "_")),
                  std::string::npos)
            << o.name << "\n"
            << man.out;
        EXPECT_NE(completion.out.find(" " + o.name), std::string::npos) << o.name << "\n" << completion.out;
    }
    EXPECT_NE(man.out.find("*--version*"), std::string::npos);
    EXPECT_NE(completion.out.find("complete -F _grab grab\n"), std::string::npos) << completion.out;
}

}  // namespace
