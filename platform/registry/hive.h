// One registry hive in memory, and its text form: the parser and the writer of
// the hive files, free of any file access so that they can be tested (and
// fuzzed) on plain text. write_hive's output always parses back to the same
// Hive, and any input either parses or yields a line-numbered error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ziv::registry {

// Comments of a hand-written file (";" lines, each with its '\n') are kept
// with the entry that follows them and written back above it.
struct HiveValue {
    std::string name;  // as created; empty for the default value
    std::uint32_t type = 0;
    std::string data;  // the raw bytes
    std::string comments{};
    bool operator==(const HiveValue&) const = default;
};

struct HiveKey {
    std::string path;                         // as created, backslash-separated; empty for the root
    std::map<std::string, HiveValue> values;  // by folded name
    std::string comments{};                   // above its [key] line
    bool operator==(const HiveKey&) const = default;
};

// Keys by sort key (see key_sort_key); the root key is always present.
struct Hive {
    Hive();
    std::map<std::string, HiveKey> keys;
    std::string trailing_comments;  // after the last entry
    bool operator==(const Hive&) const = default;
};

struct ParseError {
    std::size_t line = 0;  // 1-based
    std::string message;
};

// The limits on key names; the writer and every caller keep to them, so that
// the parser can refuse anything beyond and stays cheap on any input.
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxKeyDepth = 512;

// Case-folded (Unicode) for comparisons without regard to case.
std::string fold_name(std::string_view name);
// Value names (and the text of REG_SZ values written as text): valid UTF-8
// without control characters.
bool is_valid_name(std::string_view name);
// One key name: a non-empty valid name of at most kMaxKeyNameChars characters
// without a backslash.
bool is_valid_key_name(std::string_view name);
// Splits a backslash-separated path into key names; false when one of them is
// not valid or there are more than kMaxKeyDepth.
bool split_key_path(std::string_view path, std::vector<std::string_view>& names);

// The map key of a key path: folded, with separators that sort before any name
// character, so the map's order puts every parent right before its children.
std::string key_sort_key(std::string_view path);
HiveKey* find_key(Hive& hive, std::string_view path);
// The names of the keys right below the key at `path`, in the hive's order
// (by folded name); empty when there is no such key.
std::vector<std::string> subkey_names(const Hive& hive, std::string_view path);
// Finds or creates the key of a valid path with any missing parents; a new key
// takes the spelling of the existing keys above it and of `path` below them.
HiveKey& ensure_key(Hive& hive, std::string_view path);
// Removes the key at `path` with everything below it; with keep_key (always
// for the root) the key stays, emptied of its values and subkeys.
void erase_key(Hive& hive, std::string_view path, bool keep_key);

// Parses the text of the hive whose sections start with root_name
// (HKEY_CURRENT_USER, ...). On failure `hive` is unspecified.
bool parse_hive(std::string_view text, std::string_view root_name, Hive& hive, ParseError& error);
std::string write_hive(const Hive& hive, std::string_view root_name);

}  // namespace ziv::registry
