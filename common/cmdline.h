// One small command-line parser for our programs: a table of options (name,
// value placeholder, help text, and where the value goes) gives both the
// parsing, the usage text, the man page's option list and the shell
// completion, so none of them can drift apart. --help, -h and --version are
// always understood; errors name the option and the value that was wrong.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace ziv::cmdline {

// What an option does with its value.
struct Value {
    bool takes_value = true;
    std::string hint = {};  // what a good value looks like, shown after a bad one: "0..65535"
    // Stores the value (empty for a flag); false when the text is not a good value.
    std::function<bool(const std::string& text)> store = {};
};

struct Option {
    std::string name;         // "--port", or short like "-v"; empty: a heading line (`help`) in the usage text
    std::string placeholder;  // "N", "WxH"; empty for a flag
    std::string help = {};    // '\n' starts a continuation line
    Value value = {};
    bool required = false;
};

// What a program prints instead of running. The last two are for the build,
// which makes the man page and the bash completion from the table.
enum class Info { usage, version, man_options, completion };

struct Parsed {
    bool ok = true;     // false: `error` says why
    bool help = false;  // --help, --version (or a build-time mode) was given; nothing after it is looked at
    Info info = Info::usage;
    std::string error = {};
};

// The project's version, as --version shows it.
const char* version();

struct CommandLine {
    std::string program;
    std::vector<Option> options;
    std::string synopsis = {};  // what follows "usage: program"; empty: made from the options
    std::string epilog = {};    // text after the option list, ending with a line end
    // Takes an argument that is no option, such as a file name; without it, or
    // when it gives false, the argument is unexpected.
    std::function<bool(const std::string& arg)> operand = {};

    // Parses argv[1] onwards. An option may be given as "--name value" or "--name=value";
    // a repeated option keeps its last value.
    Parsed parse(int argc, const char* const* argv) const;
    std::string usage() const;
    // The OPTIONS section of the man page in scdoc markup: every option with
    // its placeholder and help text, --help and --version included.
    std::string man_options() const;
    // A bash completion script for `program`: the option names, and file names
    // after an option whose placeholder is FILE or PATH.
    std::string completion() const;
    // For main: on --help prints the usage on `out` and gives 0 (likewise
    // "program VERSION" on --version, and the two texts above on --help-man
    // and --help-completion); on an error prints
    // "program: error" and the usage on `err` and gives 2; nullopt when the program goes on.
    std::optional<int> parse_main(int argc, const char* const* argv, std::FILE* out = stdout,
                                  std::FILE* err = stderr) const;
};

// The whole text as a decimal integer (an optional '-', digits, nothing else).
bool parse_int(const std::string& text, std::int64_t& out);
// "WxH" (or "WXH") as two integers; their range is the caller's.
bool parse_size(const std::string& text, std::int64_t& width, std::int64_t& height);
// Comma-separated integers, at least one, none empty.
bool parse_int_list(const std::string& text, std::vector<std::int64_t>& out);
// "lo..hi", or "at least lo" / "at most hi" when the other end is unbounded.
std::string range_hint(std::int64_t lo, std::int64_t hi);

// --- Values ----------------------------------------------------------------

Value flag(bool& out);
Value text(std::string& out);
Value custom(std::string hint, std::function<bool(const std::string& text)> store);
Option heading(std::string text);

// An integer in lo..hi, stored in any integer type that holds that range.
template <std::integral T>
Value integer(T& out, std::int64_t lo, std::int64_t hi) {
    static_assert(std::is_signed_v<T> || sizeof(T) < sizeof(std::int64_t));
    return {true, range_hint(lo, hi), [&out, lo, hi](const std::string& s) {
                std::int64_t v = 0;
                if (!parse_int(s, v) || v < lo || v > hi) return false;
                out = T(v);
                return true;
            }};
}

// `count` comma-separated integers (any number when 0), each in lo..hi:
// "--window 0,0,640,480,1,1".
template <std::integral T>
Value int_list(std::vector<T>& out, std::size_t count, std::int64_t lo, std::int64_t hi) {
    static_assert(std::is_signed_v<T> || sizeof(T) < sizeof(std::int64_t));
    std::string hint = (count ? std::to_string(count) + " " : std::string()) + "comma-separated integers";
    if (lo != std::numeric_limits<std::int64_t>::min() || hi != std::numeric_limits<std::int64_t>::max())
        hint += ", each " + range_hint(lo, hi);
    return {true, hint, [&out, count, lo, hi](const std::string& s) {
                std::vector<std::int64_t> all;
                if (!parse_int_list(s, all) || (count && all.size() != count)) return false;
                for (const std::int64_t v : all)
                    if (v < lo || v > hi) return false;
                out.assign(all.begin(), all.end());
                return true;
            }};
}

}  // namespace ziv::cmdline
