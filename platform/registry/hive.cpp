// The hive text format: the registry-export layout, read strictly enough that a
// file we would misread is refused rather than rewritten without what we did
// not understand. Comment lines survive a rewrite, above the entry they stood
// above (blank lines and the order of entries do not).
//
// The writer picks the plainest form that holds a value exactly: "text" for a
// REG_SZ holding one NUL-terminated line of text, dword: for a 4-byte REG_DWORD,
// hex: for REG_BINARY, and hex(type): with the raw bytes for everything else
// (including REG_SZ data that is no plain text).

#include "hive.h"

#include <QString>

#include <algorithm>
#include <iterator>

namespace ziv::registry {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr char kSortSeparator = '\x01';  // below every character a name may hold
constexpr std::size_t kHexLineWidth = 80;
constexpr char kHexDigits[] = "0123456789abcdef";

constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;

// Length of the well-formed UTF-8 sequence at s[i], or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < n) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    return n;
}

// Number of characters of a valid name, or npos when it is not one.
std::size_t name_chars(std::string_view name) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); ++chars) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F) return std::string_view::npos;
        const std::size_t n = utf8_sequence(name, i);
        if (n == 0) return std::string_view::npos;
        i += n;
    }
    return chars;
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits, the whole of `s`.
bool parse_hex_number(std::string_view s, std::uint32_t& value) {
    if (s.empty() || s.size() > 8) return false;
    value = 0;
    for (char c : s) {
        const int v = hex_value(c);
        if (v < 0) return false;
        value = (value << 4) | std::uint32_t(v);
    }
    return true;
}

class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const std::size_t end = std::min(text_.find('\n', pos_), text_.size());
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++number_;
        return true;
    }
    std::size_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

class Parser {
public:
    Parser(std::string_view text, std::string_view root_name, Hive& hive, ParseError& error)
        : lines_(text), root_name_(root_name), hive_(hive), error_(error) {}

    bool run() {
        std::string_view line;
        if (!lines_.next(line) || trim(strip_bom(line)) != kHeader)
            return fail("the file does not begin with \"" + std::string(kHeader) + "\"");
        HiveKey* key = nullptr;
        while (lines_.next(line)) {
            line = trim(line);
            if (line.empty()) continue;
            if (line.front() == ';') {
                comments_ += line;
                comments_ += '\n';
            } else if (line.front() == '[') {
                key = section(line);
                if (!key) return false;
                key->comments += comments_;
                comments_.clear();
            } else if (!key) {
                return fail("a value comes before the first [key] line");
            } else if (!value(line, *key)) {
                return false;
            }
        }
        hive_.trailing_comments = std::move(comments_);
        return true;
    }

private:
    static std::string_view strip_bom(std::string_view line) {
        if (line.substr(0, kBom.size()) == kBom) line.remove_prefix(kBom.size());
        return line;
    }

    bool fail(std::string message) {
        error_.line = std::max<std::size_t>(lines_.number(), 1);  // an empty file fails on its first line
        error_.message = std::move(message);
        return false;
    }

    HiveKey* section(std::string_view line) {
        if (line.size() < 2 || line.back() != ']') {
            fail("a key line must end with ']'");
            return nullptr;
        }
        std::string_view path = line.substr(1, line.size() - 2);
        if (!path.empty() && path.front() == '-') {
            fail("key deletions ([-...]) have no place in a hive file");
            return nullptr;
        }
        const std::size_t slash = path.find('\\');
        if (fold_name(path.substr(0, slash)) != fold_name(root_name_)) {
            fail("the key is not under " + std::string(root_name_));
            return nullptr;
        }
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        std::vector<std::string_view> names;
        if ((slash != std::string_view::npos && path.empty()) || !split_key_path(path, names)) {
            fail("the key path holds an empty, too long or invalid name, or is nested too deeply");
            return nullptr;
        }
        return &ensure_key(hive_, path);
    }

    // A quoted string from s[pos] (which is '"'), with \\ and \" as the only escapes.
    bool quoted(std::string_view s, std::size_t& pos, std::string& out) {
        for (++pos; pos < s.size(); ++pos) {
            const char c = s[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\') {
                if (pos + 1 == s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"'))
                    return fail("a backslash inside quotes must be followed by \\ or \"");
                out += s[++pos];
                continue;
            }
            out += c;
        }
        return fail("a quoted string is not closed on its line");
    }

    bool value(std::string_view line, HiveKey& key) {
        std::string name;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() == '"') {
            if (!quoted(line, pos, name)) return false;
            if (!is_valid_name(name)) return fail("the value name is not valid UTF-8 text");
        } else {
            return fail("expected a [key] line, \"name\"= or @=");
        }
        if (pos == line.size() || line[pos] != '=') return fail("expected '=' after the value name");
        const std::string_view rest = line.substr(pos + 1);

        HiveValue v;
        v.name = name;
        if (!rest.empty() && rest.front() == '"') {
            std::size_t end = 0;
            if (!quoted(rest, end, v.data)) return false;
            if (end != rest.size()) return fail("unexpected text after the closing quote");
            v.type = kTypeString;
            v.data += '\0';
        } else if (rest.substr(0, 6) == "dword:") {
            std::uint32_t n = 0;
            if (!parse_hex_number(rest.substr(6), n)) return fail("dword: takes 1 to 8 hex digits");
            for (int i = 0; i < 4; ++i) v.data += char((n >> (8 * i)) & 0xFF);
            v.type = kTypeDword;
        } else if (rest.substr(0, 4) == "hex:") {
            v.type = kTypeBinary;
            if (!hex_list(rest.substr(4), v.data)) return false;
        } else if (rest.substr(0, 4) == "hex(") {
            const std::size_t close = rest.find("):");
            if (close == std::string_view::npos || !parse_hex_number(rest.substr(4, close - 4), v.type))
                return fail("hex( takes a type of 1 to 8 hex digits and then \"):\"");
            if (!hex_list(rest.substr(close + 2), v.data)) return false;
        } else if (rest == "-") {
            return fail("value deletions (=-) have no place in a hive file");
        } else {
            return fail("expected \"text\", dword:, hex: or hex(type): after '='");
        }
        std::string folded = fold_name(name);
        // A repeated value replaces the earlier one; the comments of both stay.
        const auto earlier = key.values.find(folded);
        v.comments = (earlier == key.values.end() ? std::string() : earlier->second.comments) + comments_;
        comments_.clear();
        key.values.insert_or_assign(std::move(folded), std::move(v));
        return true;
    }

    // Comma-separated bytes of one or two hex digits; a backslash at the end of
    // a line (after a comma or right after the colon) continues the list on
    // the next line.
    bool hex_list(std::string_view s, std::string& out) {
        bool need_byte = false;  // after a comma
        bool first = true;
        std::size_t i = 0;
        for (;;) {
            while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
            if (i == s.size()) {
                if (need_byte) return fail("a hex list ends with a comma");
                return true;
            }
            const char c = s[i];
            if (c == '\\') {
                if (i + 1 != s.size() || (!need_byte && !first))
                    return fail("a backslash in a hex list must end the line, after a comma");
                std::string_view next;
                if (!lines_.next(next)) return fail("the hex list continues past the end of the file");
                s = trim(next);
                i = 0;
                continue;
            }
            if (!need_byte && !first) {
                if (c != ',') return fail("expected ',' between hex bytes");
                need_byte = true;
                ++i;
                continue;
            }
            const int hi = hex_value(c);
            if (hi < 0) return fail("expected a hex byte");
            ++i;
            int byte = hi;
            if (i < s.size() && hex_value(s[i]) >= 0) byte = byte * 16 + hex_value(s[i++]);
            out += char(byte);
            need_byte = false;
            first = false;
        }
    }

    Lines lines_;
    std::string comments_;  // waiting for the entry they stand above
    std::string_view root_name_;
    Hive& hive_;
    ParseError& error_;
};

void append_quoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

void append_hex_list(std::string& out, std::size_t line_start, std::string_view data) {
    std::size_t column = out.size() - line_start;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out += ',';
            ++column;
            // Leave room for the next byte and the ",\" that may follow it.
            if (column + 4 > kHexLineWidth) {
                out += "\\\n  ";
                column = 2;
            }
        }
        const auto b = static_cast<unsigned char>(data[i]);
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 15];
        column += 2;
    }
}

void append_value(std::string& out, const HiveValue& v) {
    out += v.comments;
    const std::size_t line_start = out.size();
    if (v.name.empty()) out += '@';
    else append_quoted(out, v.name);
    out += '=';
    const std::string_view data = v.data;
    if (v.type == kTypeString && !data.empty() && data.back() == '\0' &&
        is_valid_name(data.substr(0, data.size() - 1))) {
        append_quoted(out, data.substr(0, data.size() - 1));
    } else if (v.type == kTypeDword && data.size() == 4) {
        std::uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(data[std::size_t(i)]);
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(n >> shift) & 15];
    } else {
        if (v.type == kTypeBinary) {
            out += "hex:";
        } else {
            out += "hex(";
            bool digits = false;
            for (int shift = 28; shift >= 0; shift -= 4) {
                const std::uint32_t d = (v.type >> shift) & 15;
                if (d != 0 || digits || shift == 0) {
                    out += kHexDigits[d];
                    digits = true;
                }
            }
            out += "):";
        }
        append_hex_list(out, line_start, data);
    }
    out += '\n';
}

}  // namespace

Hive::Hive() { keys.emplace(std::string(), HiveKey{}); }

std::string fold_name(std::string_view name) {
    std::string out(name);
    bool ascii = true;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    if (ascii) return out;
    const QByteArray folded = QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), std::size_t(folded.size()));
}

bool is_valid_name(std::string_view name) { return name_chars(name) != std::string_view::npos; }

bool is_valid_key_name(std::string_view name) {
    const std::size_t chars = name_chars(name);
    return chars != std::string_view::npos && chars > 0 && chars <= kMaxKeyNameChars &&
           name.find('\\') == std::string_view::npos;
}

bool split_key_path(std::string_view path, std::vector<std::string_view>& names) {
    names.clear();
    if (path.empty()) return true;
    for (;;) {
        const std::size_t slash = path.find('\\');
        const std::string_view name = path.substr(0, slash);
        if (!is_valid_key_name(name) || names.size() == kMaxKeyDepth) return false;
        names.push_back(name);
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

std::string key_sort_key(std::string_view path) {
    std::string out = fold_name(path);
    for (char& c : out)
        if (c == '\\') c = kSortSeparator;
    return out;
}

HiveKey* find_key(Hive& hive, std::string_view path) {
    const auto it = hive.keys.find(key_sort_key(path));
    return it == hive.keys.end() ? nullptr : &it->second;
}

std::vector<std::string> subkey_names(const Hive& hive, std::string_view path) {
    std::vector<std::string> names;
    const std::string sort_key = key_sort_key(path);
    const auto self = hive.keys.find(sort_key);
    if (self == hive.keys.end()) return names;
    const std::string prefix = sort_key.empty() ? std::string() : sort_key + kSortSeparator;
    for (auto it = std::next(self); it != hive.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find(kSortSeparator, prefix.size()) != std::string::npos) continue;  // deeper down
        const std::string& child = it->second.path;
        const std::size_t slash = child.rfind('\\');
        names.push_back(slash == std::string::npos ? child : child.substr(slash + 1));
    }
    return names;
}

HiveKey& ensure_key(Hive& hive, std::string_view path) {
    std::vector<std::string_view> names;
    split_key_path(path, names);
    HiveKey* key = &hive.keys.begin()->second;  // the root sorts first
    std::string sort_key;
    for (std::string_view name : names) {
        if (!sort_key.empty()) sort_key += kSortSeparator;
        sort_key += fold_name(name);
        auto it = hive.keys.find(sort_key);
        if (it == hive.keys.end()) {
            HiveKey child;
            child.path = key->path.empty() ? std::string(name) : key->path + '\\' + std::string(name);
            it = hive.keys.emplace(sort_key, std::move(child)).first;
        }
        key = &it->second;
    }
    return *key;
}

void erase_key(Hive& hive, std::string_view path, bool keep_key) {
    const std::string sort_key = key_sort_key(path);
    const auto self = hive.keys.find(sort_key);
    if (self == hive.keys.end()) return;
    // Everything below is the run of keys that follows it in the map.
    auto it = std::next(self);
    const std::string prefix = sort_key.empty() ? std::string() : sort_key + kSortSeparator;
    while (it != hive.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0) it = hive.keys.erase(it);
    if (keep_key || sort_key.empty()) self->second.values.clear();
    else hive.keys.erase(self);
}

bool parse_hive(std::string_view text, std::string_view root_name, Hive& hive, ParseError& error) {
    hive = Hive{};
    error = ParseError{};
    return Parser(text, root_name, hive, error).run();
}

std::string write_hive(const Hive& hive, std::string_view root_name) {
    std::string out(kHeader);
    out += "\n\n";
    for (const auto& [sort_key, key] : hive.keys) {
        if (key.path.empty() && key.values.empty() && key.comments.empty()) continue;  // an empty root needs no section
        out += key.comments;
        out += '[';
        out += root_name;
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\n";
        for (const auto& [folded, value] : key.values) append_value(out, value);
        out += '\n';
    }
    out += hive.trailing_comments;
    return out;
}

}  // namespace ziv::registry
