// The shared command-line parser: parsing and the usage text from one table.
#include "cmdline.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

namespace ziv::cmdline {

namespace {

// The arguments every program understands without listing them.
constexpr struct {
    const char* arg;
    Info info;
} kInfoArgs[] = {
    {"--help", Info::usage},
    {"-h", Info::usage},
    {"--version", Info::version},
    {"--help-man", Info::man_options},
    {"--help-completion", Info::completion},
};

const Option kHelpOption{"--help", {}, "print this text and stop", {}, false};
const Option kVersionOption{"--version", {}, "print the version and stop", {}, false};

// "--name PLACEHOLDER" as the usage text shows it.
std::string shown(const Option& o) { return o.placeholder.empty() ? o.name : o.name + " " + o.placeholder; }

}  // namespace

bool parse_int(const std::string& text, std::int64_t& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (text.empty() || ec != std::errc() || end != last) return false;
    out = v;
    return true;
}

bool parse_size(const std::string& text, std::int64_t& width, std::int64_t& height) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    std::int64_t w = 0, h = 0;
    if (!parse_int(text.substr(0, x), w) || !parse_int(text.substr(x + 1), h)) return false;
    width = w;
    height = h;
    return true;
}

bool parse_int_list(const std::string& text, std::vector<std::int64_t>& out) {
    std::vector<std::int64_t> values;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        std::int64_t v = 0;
        if (!parse_int(text.substr(from, comma - from), v)) return false;
        values.push_back(v);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    out = std::move(values);
    return true;
}

std::string range_hint(std::int64_t lo, std::int64_t hi) {
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    if (hi == kMax && lo != kMin) return "at least " + std::to_string(lo);
    if (lo == kMin && hi != kMax) return "at most " + std::to_string(hi);
    if (lo == kMin) return "an integer";
    return std::to_string(lo) + ".." + std::to_string(hi);
}

Value flag(bool& out) {
    return {false, {}, [&out](const std::string&) {
                out = true;
                return true;
            }};
}

Value text(std::string& out) {
    return {true, {}, [&out](const std::string& s) {
                out = s;
                return true;
            }};
}

Value custom(std::string hint, std::function<bool(const std::string& text)> store) {
    return {true, std::move(hint), std::move(store)};
}

const char* version() { return ZIV_VERSION; }

Option heading(std::string text) { return Option{{}, {}, std::move(text), {}, false}; }

Parsed CommandLine::parse(int argc, const char* const* argv) const {
    Parsed result;
    auto fail = [&result](std::string error) {
        result.ok = false;
        result.error = std::move(error);
        return result;
    };
    std::set<const Option*> given;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string name = arg;
        std::optional<std::string> attached;  // the value of "--name=value"
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            attached = arg.substr(eq + 1);
        }
        const auto it = std::find_if(options.begin(), options.end(),
                                     [&name](const Option& o) { return !o.name.empty() && o.name == name; });
        if (it == options.end()) {
            for (const auto& info : kInfoArgs)
                if (arg == info.arg) {
                    result.help = true;
                    result.info = info.info;
                    return result;
                }
            if (arg.size() > 1 && arg[0] == '-') return fail("unknown option " + name);
            if (operand && operand(arg)) continue;
            return fail("unexpected argument " + arg);
        }
        std::string value;
        if (!it->value.takes_value) {
            if (attached) return fail(name + " takes no value");
        } else if (attached) {
            value = *attached;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail(name + " needs a value");
        }
        if (!it->value.store(value)) {
            const std::string& hint = it->value.hint;
            return fail("bad value for " + name + ": " + value + (hint.empty() ? "" : " (" + hint + ")"));
        }
        given.insert(&*it);
    }
    for (const Option& o : options)
        if (o.required && !given.count(&o)) return fail(o.name + " is required");
    return result;
}

std::string CommandLine::usage() const {
    std::string text = "usage: " + program;
    if (!synopsis.empty()) {
        text += " " + synopsis;
    } else {
        for (const Option& o : options) {
            if (o.name.empty()) continue;
            text.append(o.required ? " " : " [").append(shown(o)).append(o.required ? "" : "]");
        }
    }
    text += "\n";

    std::size_t width = shown(kVersionOption).size();
    for (const Option& o : options) width = std::max(width, shown(o).size());
    const std::size_t column = 2 + width + 3;
    auto add = [&](const Option& o) {
        if (o.name.empty()) {
            text += o.help + "\n";
            return;
        }
        std::string line = "  " + shown(o);
        std::size_t from = 0;
        for (;;) {
            const std::size_t end = o.help.find('\n', from);
            line.resize(column, ' ');
            text += line + o.help.substr(from, end - from) + "\n";
            if (end == std::string::npos) break;
            from = end + 1;
            line.clear();
        }
    };
    add(kHelpOption);
    add(kVersionOption);
    for (const Option& o : options) add(o);
    return text + epilog;
}

namespace {

// Text with scdoc's inline markup characters taken literally.
std::string scdoc_literal(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '*' || c == '_' || c == '\\') out += '\\';
        out += c == '\n' ? ' ' : c;
    }
    return out;
}

bool takes_file(const Option& o) { return o.placeholder == "FILE" || o.placeholder == "PATH"; }

}  // namespace

std::string CommandLine::man_options() const {
    std::string text;
    auto add = [&text](const Option& o) {
        if (o.name.empty()) {
            text += scdoc_literal(o.help) + "\n\n";
            return;
        }
        text.append("*").append(scdoc_literal(o.name)).append("*");
        if (!o.placeholder.empty()) text.append(" _").append(scdoc_literal(o.placeholder)).append("_");
        text.append("\n\t").append(scdoc_literal(o.help)).append("\n\n");
    };
    add(kHelpOption);
    add(kVersionOption);
    for (const Option& o : options) add(o);
    return text;
}

std::string CommandLine::completion() const {
    // A shell function name may not hold every character a program name may.
    std::string function = "_";
    for (const char c : program) function += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    std::string names = kHelpOption.name + " " + kVersionOption.name, files, values;
    for (const Option& o : options) {
        if (o.name.empty()) continue;
        names += " " + o.name;
        if (o.value.takes_value) (takes_file(o) ? files : values) += o.name + "|";
    }
    std::string text = "# bash completion for " + program + "\n" + function + "() {\n" +
                       "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n" +
                       "    case $prev in\n";
    if (!files.empty()) {
        files.pop_back();
        text += "    " + files + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
    }
    if (!values.empty()) {
        values.pop_back();
        text += "    " + values + ") COMPREPLY=(); return ;;\n";
    }
    text += "    esac\n    COMPREPLY=($(compgen -W \"" + names + "\" -- \"$cur\"))\n}\ncomplete -F " + function + " " +
            program + "\n";
    return text;
}

std::optional<int> CommandLine::parse_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) const {
    const Parsed parsed = parse(argc, argv);
    if (!parsed.ok) {
        std::fprintf(err, "%s: %s\n%s", program.c_str(), parsed.error.c_str(), usage().c_str());
        return 2;
    }
    if (parsed.help) {
        switch (parsed.info) {
        case Info::usage: std::fputs(usage().c_str(), out); break;
        case Info::version: std::fprintf(out, "%s %s\n", program.c_str(), version()); break;
        case Info::man_options: std::fputs(man_options().c_str(), out); break;
        case Info::completion: std::fputs(completion().c_str(), out); break;
        }
        return 0;
    }
    return std::nullopt;
}

}  // namespace ziv::cmdline
