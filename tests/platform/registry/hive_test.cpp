// The hive text format on its own: what the parser accepts, where it stops,
// and that whatever it accepts is written back to text that parses the same.

#include "hive.h"

#include <gtest/gtest.h>

#include <string>

using namespace ziv::registry;

namespace {

constexpr const char* kRoot = "HKEY_CURRENT_USER";

Hive parse_ok(const std::string& text) {
    Hive hive;
    ParseError error;
    EXPECT_TRUE(parse_hive(text, kRoot, hive, error)) << "line " << error.line << ": " << error.message;
    return hive;
}

TEST(HiveText, AcceptedFormsRewriteCanonicallyAndRoundTrip) {
    struct Case {
        const char* text;
        const char* canonical;
    };
    const Case cases[] = {
        // CR LF, a BOM, comments, blank lines, an implicit parent, a continued hex list.
        {"\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; note\r\n[HKEY_CURRENT_USER\\A\\B]\r\n"
         "\"x\"=hex:01,02,\\\r\n  03\r\n@=\"d\"\r\n",
         "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\n"
         "; note\n[HKEY_CURRENT_USER\\A\\B]\n@=\"d\"\n\"x\"=hex:01,02,03\n\n"},
        // Comments stay above the key or value below them, those of a repeated value with it; the last at the end.
        {"Windows Registry Editor Version 5.00\n;  root\n[HKEY_CURRENT_USER]\n[HKEY_CURRENT_USER\\K]\n"
         "  ; b first\n\"b\"=dword:1\n; a\n\n;a too\n\"a\"=\"x\"\n; b again\n\"B\"=dword:2\n\n; the end\n",
         "Windows Registry Editor Version 5.00\n\n;  root\n[HKEY_CURRENT_USER]\n\n[HKEY_CURRENT_USER\\K]\n"
         "; a\n;a too\n\"a\"=\"x\"\n; b first\n; b again\n\"B\"=dword:00000002\n\n; the end\n"},
        // A repeated key (other case) merges; a repeated value (other case) replaces.
        {"Windows Registry Editor Version 5.00\n[hkey_current_user\\Key]\n\"v\"=dword:1\n"
         "[HKEY_CURRENT_USER\\KEY]\n\"V\"=\"s\"\n",
         "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Key]\n\"V\"=\"s\"\n\n"},
        // Values on the root; one-digit bytes, an empty list, other types.
        {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER]\n"
         "\"e\"=hex:\n\"t\"=hex(7):a,B\n\"s\"=hex(1):0a,00\n",
         "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"e\"=hex:\n\"s\"=hex(1):0a,00\n"
         "\"t\"=hex(7):0a,0b\n\n"},
        {"Windows Registry Editor Version 5.00", "Windows Registry Editor Version 5.00\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Hive hive = parse_ok(c.text);
        const std::string written = write_hive(hive, kRoot);
        EXPECT_EQ(written, c.canonical);
        EXPECT_EQ(parse_ok(written), hive);
    }
}

TEST(HiveText, RefusedInputNamesItsLine) {
    // Texts without a header of their own follow one that opens key K.
    const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n";
    struct Case {
        bool after_head;
        const char* text;
        std::size_t line;
    };
    const Case cases[] = {
        {false, "", 1},
        {false, "REGEDIT4\n", 1},
        {false, "Windows Registry Editor Version 5.00\n\"v\"=\"x\"\n", 2},
        {true, "[HKEY_CLASSES_ROOT\\K]\n", 3},
        {true, "[HKEY_CURRENT_USER\\K\\\\L]\n", 3},
        {true, "[HKEY_CURRENT_USER\\]\n", 3},
        {true, "[HKEY_CURRENT_USER\\K\n", 3},
        {true, "[-HKEY_CURRENT_USER\\K]\n", 3},
        {true, "\"v\"=\"unterminated\n", 3},
        {true, "\"v\"=\"bad \\n escape\"\n", 3},
        {true, "\"v\"=\"x\" trailing\n", 3},
        {true, "\"v\"=-\n", 3},
        {true, "\"v\"=dword:123456789\n", 3},
        {true, "\"v\"=dword:\n", 3},
        {true, "\"v\"=hex:01,,02\n", 3},
        {true, "\"v\"=hex:01,\n", 3},
        {true, "\"v\"=hex:123\n", 3},
        {true, "\"v\"=hex(x):01\n", 3},
        {true, "\"v\"=hex:01\\\n", 3},
        {true, "\n\n\"v\"=hex:01,\\\n", 5},
        {true, "\"v\"=str\n", 3},
        {true, "v=\"x\"\n", 3},
        {true, "\"\xff\"=\"x\"\n", 3},
        {true, "\"tab\there\"=\"x\"\n", 3},
    };
    for (const Case& c : cases) {
        const std::string text = c.after_head ? head + c.text : c.text;
        SCOPED_TRACE(text);
        Hive hive;
        ParseError error;
        EXPECT_FALSE(parse_hive(text, kRoot, hive, error));
        EXPECT_EQ(error.line, c.line);
        EXPECT_FALSE(error.message.empty());
    }
}

TEST(HiveText, KeyNamesAtTheirLimits) {
    const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\";
    std::string deepest = "k";
    for (std::size_t i = 1; i < kMaxKeyDepth; ++i) deepest += "\\k";
    Hive hive;
    ParseError error;
    EXPECT_TRUE(parse_hive(head + std::string(kMaxKeyNameChars, 'n') + "]\n", kRoot, hive, error));
    std::string wide;  // the limit counts characters, not bytes
    for (std::size_t i = 0; i < kMaxKeyNameChars; ++i) wide += "\xC3\xA9";
    EXPECT_TRUE(parse_hive(head + wide + "]\n", kRoot, hive, error));
    EXPECT_FALSE(parse_hive(head + std::string(kMaxKeyNameChars + 1, 'n') + "]\n", kRoot, hive, error));
    EXPECT_TRUE(parse_hive(head + deepest + "]\n", kRoot, hive, error));
    EXPECT_EQ(hive.keys.size(), kMaxKeyDepth + 1);
    EXPECT_FALSE(parse_hive(head + deepest + "\\k]\n", kRoot, hive, error));
}

}  // namespace
