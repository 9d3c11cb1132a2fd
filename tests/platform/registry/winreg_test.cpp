// The Reg* functions against hive files in a fresh temporary folder per test,
// including several processes writing at once and a writer killed midway.

#include "winreg.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::string;

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setenv("ZIV_REGISTRY_DIR", dir_.path().toUtf8().constData(), 1);
    }
    void TearDown() override {
        for (HKEY key : open_) RegCloseKey(key);
        unsetenv("ZIV_REGISTRY_DIR");
    }

    std::string file() const { return RegistryFolder() + "/HKEY_CURRENT_USER.reg"; }
    std::string read_file() const {
        std::ifstream in(file(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write_file(const std::string& text) const { std::ofstream(file(), std::ios::binary) << text; }

    HKEY create(const char* path, REGSAM sam = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &key,
                                 disposition),
                  ERROR_SUCCESS);
        open_.push_back(key);
        return key;
    }
    static LONG set(HKEY key, const char* name, DWORD type, const Bytes& data) {
        return RegSetValueEx(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
    }
    // The result, and on success the type and the bytes.
    static LONG query(HKEY key, const char* name, DWORD* type = nullptr, Bytes* data = nullptr) {
        DWORD size = 0;
        LONG result = RegQueryValueEx(key, name, nullptr, type, nullptr, &size);
        if (result != ERROR_SUCCESS || !data) return result;
        data->assign(size, '\0');
        result = RegQueryValueEx(key, name, nullptr, type, reinterpret_cast<BYTE*>(data->data()), &size);
        data->resize(size);
        return result;
    }

    QTemporaryDir dir_;
    std::vector<HKEY> open_;
};

TEST_F(Registry, EachValueTypeRoundTripsThroughTheFile) {
    struct Case {
        DWORD type;
        Bytes stored;
        Bytes read;
        const char* line;
    };
    const Case cases[] = {
        {REG_SZ, Bytes("C:\\dir \"x\"\0", 11), Bytes("C:\\dir \"x\"\0", 11), R"("v"="C:\\dir \"x\"")"},
        {REG_SZ, "no terminator", Bytes("no terminator\0", 14), R"("v"="no terminator")"},
        {REG_SZ, Bytes("cut\0here", 8), Bytes("cut\0", 4), R"("v"="cut")"},
        {REG_SZ, Bytes("a\nb\0", 4), Bytes("a\nb\0", 4), R"("v"=hex(1):61,0a,62,00)"},
        {REG_SZ, "\xff", Bytes("\xff\0", 2), R"("v"=hex(1):ff,00)"},
        {REG_DWORD, Bytes("\x2a\0\0\x80", 4), Bytes("\x2a\0\0\x80", 4), R"("v"=dword:8000002a)"},
        {REG_DWORD, "\x01\x02", "\x01\x02", R"("v"=hex(4):01,02)"},
        {REG_BINARY, Bytes("\0\x7f\xff", 3), Bytes("\0\x7f\xff", 3), R"("v"=hex:00,7f,ff)"},
        {REG_BINARY, "", "", R"("v"=hex:)"},
        {REG_NONE, "\x01", "\x01", R"("v"=hex(0):01)"},
        {0x1234, "\x02", "\x02", R"("v"=hex(1234):02)"},
    };
    HKEY key = create("T");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(set(key, "v", c.type, c.stored), ERROR_SUCCESS);
        EXPECT_NE(read_file().find(std::string("\n") + c.line + "\n"), std::string::npos) << read_file();
        DWORD type = 99;
        Bytes data;
        EXPECT_EQ(query(key, "v", &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.read);
    }
}

TEST_F(Registry, FileTextOfASmallHive) {
    HKEY key = create("Software\\Quorvel\\zivCClient");
    create("Software\\Empty");
    ASSERT_EQ(set(key, nullptr, REG_SZ, "Stored \"rects\""), ERROR_SUCCESS);
    ASSERT_EQ(set(key, "dialog", REG_BINARY, Bytes("\x0a\0\0\0\x14\0\0\0\xf4\x01\0\0\x90\x01\0\0", 16)), ERROR_SUCCESS);
    ASSERT_EQ(set(key, "Count", REG_DWORD, Bytes("\x07\0\0\0", 4)), ERROR_SUCCESS);
    ASSERT_EQ(set(key, "long", REG_BINARY, Bytes(30, '\x5a')), ERROR_SUCCESS);
    EXPECT_EQ(read_file(),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Empty]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Quorvel]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Quorvel\\zivCClient]\n"
              "@=\"Stored \\\"rects\\\"\"\n"
              "\"Count\"=dword:00000007\n"
              "\"dialog\"=hex:0a,00,00,00,14,00,00,00,f4,01,00,00,90,01,00,00\n"
              "\"long\"=hex:5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,5a,\\\n"
              "  5a,5a,5a,5a,5a,5a,5a,5a\n"
              "\n");
}

TEST_F(Registry, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
    HKEY key = create("Software\\Quorvel");
    ASSERT_EQ(set(key, "Dialog", REG_DWORD, Bytes(4, '\1')), ERROR_SUCCESS);
    ASSERT_EQ(set(key, "DIALOG", REG_DWORD, Bytes(4, '\2')), ERROR_SUCCESS);
    DWORD disposition = 0;
    HKEY again = create("SOFTWARE\\quorvel\\", KEY_READ, &disposition);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    Bytes data;
    EXPECT_EQ(query(again, "dialog", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(4, '\2'));
    create("software\\QUORVEL\\New", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    const std::string text = read_file();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Quorvel\\New]"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Dialog\"=dword:02020202"), std::string::npos) << text;
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos) << text;
}

TEST_F(Registry, QueryReportsSizesTheWindowsWay) {
    HKEY key = create("Q");
    ASSERT_EQ(set(key, "", REG_SZ, "abc"), ERROR_SUCCESS);  // 4 bytes with the NUL
    struct Case {
        bool with_buffer;
        DWORD size;
        LONG result;
        DWORD size_after;
    };
    const Case cases[] = {{false, 0, ERROR_SUCCESS, 4},
                          {true, 3, ERROR_MORE_DATA, 4},
                          {true, 4, ERROR_SUCCESS, 4},
                          {true, 10, ERROR_SUCCESS, 4}};
    for (const Case& c : cases) {
        char buffer[10] = "zzzzzzzzz";
        DWORD size = c.size;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueEx(key, nullptr, nullptr, &type,
                                  c.with_buffer ? reinterpret_cast<BYTE*>(buffer) : nullptr, &size),
                  c.result);
        EXPECT_EQ(size, c.size_after);
        EXPECT_EQ(type, DWORD(REG_SZ));
        if (c.result == ERROR_SUCCESS && c.with_buffer) {
            EXPECT_STREQ(buffer, "abc");
        }
    }
    EXPECT_EQ(RegQueryValueEx(key, "absent", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueEx(key, nullptr, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, DeletingValuesAndTrees) {
    HKEY a = create("A");
    create("A\\x\\y");
    HKEY ab = create("AB");  // shares a prefix with A, not a parent
    HKEY x = create("A\\x");
    ASSERT_EQ(set(a, "v", REG_DWORD, Bytes(4, '\0')), ERROR_SUCCESS);
    ASSERT_EQ(set(ab, "v", REG_DWORD, Bytes(4, '\0')), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValue(a, "V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(a, "v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query(a, "v"), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(set(a, "kept", REG_DWORD, Bytes(4, '\0')), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "a\\X"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "A\\x"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query(x, "any"), ERROR_KEY_DELETED);  // a handle outliving its key
    EXPECT_EQ(set(x, "any", REG_DWORD, Bytes(4, '\0')), ERROR_KEY_DELETED);
    EXPECT_EQ(query(a, "kept"), ERROR_SUCCESS);

    create("A\\z");
    EXPECT_EQ(RegDeleteTree(a, nullptr), ERROR_SUCCESS);  // empties A, keeps it
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A", 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A\\z", 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(query(a, "kept"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query(ab, "v"), ERROR_SUCCESS);
}

TEST_F(Registry, EnumeratesTheKeysRightBelowOne) {
    create("P\\beta\\deep");
    create("P\\Alpha");
    create("P\\gamma");
    create("PQ\\notachild");
    HKEY p = create("P");
    std::vector<std::string> names;
    char name[16];
    DWORD size = sizeof name;
    for (DWORD i = 0; RegEnumKeyEx(p, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        EXPECT_EQ(size, std::strlen(name));
        names.push_back(name);
        size = sizeof name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));

    size = 5;  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(RegEnumKeyEx(p, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(create("P\\gamma"), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyEx(create("P", KEY_QUERY_VALUE), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
}

TEST_F(Registry, RefusedCalls) {
    HKEY reader = create("R", KEY_READ);
    HKEY writer = create("W", KEY_WRITE);
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "R", 0, KEY_READ, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    HKEY out = nullptr;
    struct Case {
        const char* what;
        LONG result;
        LONG expected;
    };
    const Case cases[] = {
        {"closing twice", RegCloseKey(closed), ERROR_INVALID_HANDLE},
        {"closed handle", query(closed, "v"), ERROR_INVALID_HANDLE},
        {"set via a read handle", set(reader, "v", REG_BINARY, ""), ERROR_ACCESS_DENIED},
        {"subkey via a read handle", RegCreateKeyEx(reader, "sub", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr),
         ERROR_ACCESS_DENIED},
        {"query via a write handle", query(writer, "v"), ERROR_ACCESS_DENIED},
        {"tree via a write handle", RegDeleteTree(writer, nullptr), ERROR_ACCESS_DENIED},
        {"leading backslash", RegOpenKeyEx(HKEY_CURRENT_USER, "\\R", 0, KEY_READ, &out), ERROR_INVALID_PARAMETER},
        {"empty name", RegCreateKeyEx(HKEY_CURRENT_USER, "a\\\\b", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr),
         ERROR_INVALID_PARAMETER},
        {"volatile key", RegCreateKeyEx(HKEY_CURRENT_USER, "V", 0, nullptr, 1, KEY_READ, nullptr, &out, nullptr),
         ERROR_INVALID_PARAMETER},
        {"value name with a line break", set(writer, "a\nb", REG_BINARY, ""), ERROR_INVALID_PARAMETER},
        {"missing key", RegOpenKeyEx(HKEY_CURRENT_USER, "Nowhere", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(out, nullptr);
}

// One value in one call: the subkey is created on the way for a write, and a
// read takes only the types it asks for.
TEST_F(Registry, OneValueInOneCall) {
    const Bytes rect(16, '\x7f');
    ASSERT_EQ(RegSetKeyValue(HKEY_CURRENT_USER, "A\\B", "rect", REG_BINARY, rect.data(), DWORD(rect.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValue(HKEY_CURRENT_USER, "A\\B", nullptr, REG_SZ, "text", 5), ERROR_SUCCESS);
    HKEY reader = create("A", KEY_READ);
    HKEY writer = create("W", KEY_WRITE);
    struct Case {
        const char* what;
        HKEY key;
        const char* sub;
        const char* name;
        DWORD flags;
        LONG expected;
        DWORD type;
        Bytes data;
    };
    const Case cases[] = {
        {"binary", HKEY_CURRENT_USER, "A\\B", "rect", RRF_RT_REG_BINARY, ERROR_SUCCESS, REG_BINARY, rect},
        {"default string", HKEY_CURRENT_USER, "a\\b", nullptr, RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, Bytes("text", 5)},
        {"any type", reader, "B", "RECT", RRF_RT_ANY, ERROR_SUCCESS, REG_BINARY, rect},
        {"another type", HKEY_CURRENT_USER, "A\\B", "rect", RRF_RT_REG_SZ, ERROR_UNSUPPORTED_TYPE, REG_BINARY, ""},
        {"missing value", HKEY_CURRENT_USER, "A\\B", "none", RRF_RT_ANY, ERROR_FILE_NOT_FOUND, 0, ""},
        {"missing key", HKEY_CURRENT_USER, "A\\C", "rect", RRF_RT_ANY, ERROR_FILE_NOT_FOUND, 0, ""},
        {"no type asked for", HKEY_CURRENT_USER, "A\\B", "rect", 0, ERROR_INVALID_PARAMETER, 0, ""},
        {"own key via a write handle", writer, nullptr, "v", RRF_RT_ANY, ERROR_ACCESS_DENIED, 0, ""},
    };
    for (const Case& c : cases) {
        DWORD type = 0;
        char data[32] = {};
        DWORD size = sizeof data;
        EXPECT_EQ(RegGetValue(c.key, c.sub, c.name, c.flags, &type, data, &size), c.expected) << c.what;
        EXPECT_EQ(type, c.type) << c.what;
        if (c.expected == ERROR_SUCCESS) {
            EXPECT_EQ(Bytes(data, size), c.data) << c.what;
        }
    }
    DWORD size = 4;
    EXPECT_EQ(RegGetValue(HKEY_CURRENT_USER, "A\\B", "rect", RRF_RT_ANY, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 16u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(RegGetValue(HKEY_CURRENT_USER, "A\\B", "rect", RRF_RT_ANY, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(RegSetKeyValue(reader, "New", "v", REG_SZ, "x", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetKeyValue(writer, nullptr, "a\nb", REG_SZ, "x", 2), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, ADamagedFileIsReportedOnceAndNeverOverwritten) {
    const std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=hex:zz\n";
    write_file(damaged);
    HKEY key = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "New", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_BADDB);
    EXPECT_EQ(set(HKEY_CURRENT_USER, "v", REG_DWORD, Bytes(4, '\0')), ERROR_BADDB);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, nullptr), ERROR_BADDB);
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find(file() + " line 4:"), std::string::npos) << reported;
    EXPECT_EQ(reported.find(file(), reported.find(file()) + 1), std::string::npos) << "reported more than once";
    EXPECT_EQ(read_file(), damaged);
}

TEST(RegistryFolder, FromTheEnvironment) {
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    struct Case {
        const char* registry_dir;
        const char* config_home;
        std::string expected;
    };
    const Case cases[] = {{"/r", "/c", "/r"},
                          {nullptr, "/c", "/c/ziv/registry"},
                          {nullptr, nullptr, home + "/.config/ziv/registry"},
                          {"", "relative", home + "/.config/ziv/registry"}};
    for (const Case& c : cases) {
        c.registry_dir ? setenv("ZIV_REGISTRY_DIR", c.registry_dir, 1) : unsetenv("ZIV_REGISTRY_DIR");
        c.config_home ? setenv("XDG_CONFIG_HOME", c.config_home, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(RegistryFolder(), c.expected);
    }
    unsetenv("HOME");  // the default would be at the root
    EXPECT_EQ(RegistryFolder(), "");
    setenv("HOME", home.c_str(), 1);
    unsetenv("ZIV_REGISTRY_DIR");
    unsetenv("XDG_CONFIG_HOME");
}

// Forks a child that runs `body` and exits with its result (0 = success).
template <typename Body>
pid_t spawn(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int exit_status(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Registry, ParallelWritersLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kValues = 50;
    RegCloseKey(create("P"));
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        children.push_back(spawn([w] {
            HKEY key = nullptr;
            if (RegOpenKeyEx(HKEY_CURRENT_USER, "P", 0, KEY_WRITE, &key) != ERROR_SUCCESS) return 1;
            for (int i = 0; i < kValues; ++i) {
                const std::string name = std::to_string(w) + "_" + std::to_string(i);
                if (set(key, name.c_str(), REG_DWORD, Bytes(4, char(i))) != ERROR_SUCCESS) return 2;
            }
            return 0;
        }));
    }
    for (pid_t child : children) EXPECT_EQ(exit_status(child), 0);
    HKEY key = create("P", KEY_READ);
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kValues; ++i) {
            Bytes data;
            EXPECT_EQ(query(key, (std::to_string(w) + "_" + std::to_string(i)).c_str(), nullptr, &data), ERROR_SUCCESS);
            EXPECT_EQ(data, Bytes(4, char(i)));
        }
}

TEST_F(Registry, WhateverADeadWriterLeftTheNextOneGoesOnWithinSeconds) {
    HKEY key = create("K");
    ASSERT_EQ(set(key, "v", REG_DWORD, Bytes(4, '\0')), ERROR_SUCCESS);
    std::ofstream(file() + ".backup") << "kept";
    struct Case {
        const char* what;
        int kill_at_step;  // 0: the files below are left as a writer of an earlier version left them
        std::vector<std::pair<std::string, std::string>> left;  // suffix after the hive's name, content
    };
    const Case cases[] = {
        {"an empty lock file", 0, {{".lock", ""}}},
        {"an empty lock file and its removal lock", 0, {{".lock", ""}, {".lock.rmlock", ""}}},
        {"a lock naming a dead process", 0, {{".lock", "999999999\nregsvr\nhost\n"}, {".lock.rmlock", ""}}},
        {"half-written temporary files", 0, {{".tmp", "Windows Registry"}, {".Ab12Cd", "Windows"}}},
        {"killed with the lock file open", 1, {}},
        {"killed holding the lock", 2, {}},
        {"killed with the new text beside the hive", 3, {}},
        {"killed after the rename", 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [suffix, content] : c.left) std::ofstream(file() + suffix, std::ios::binary) << content;
        if (c.kill_at_step > 0) {
            const int step = c.kill_at_step;
            const pid_t child = spawn([step] {
                setenv("ZIV_REGISTRY_TEST_KILL_AT_STEP", std::to_string(step).c_str(), 1);
                HKEY k = nullptr;
                RegOpenKeyEx(HKEY_CURRENT_USER, "K", 0, KEY_WRITE, &k);
                set(k, "v", REG_DWORD, Bytes(4, char(step)));
                return 0;
            });
            EXPECT_EQ(exit_status(child), 128 + SIGKILL);
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(set(key, c.what, REG_DWORD, Bytes(4, '\1')), ERROR_SUCCESS);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        Bytes v;
        EXPECT_EQ(query(key, "v", nullptr, &v), ERROR_SUCCESS);
        EXPECT_EQ(v, Bytes(4, char(c.kill_at_step >= 4 ? 4 : 0))) << "the old value or the new one";
        EXPECT_FALSE(std::ifstream(file() + ".tmp")) << "a temporary file outlived the next write";
        EXPECT_FALSE(std::ifstream(file() + ".Ab12Cd"));
        EXPECT_TRUE(std::ifstream(file() + ".backup")) << "a file of the user's was taken for a temporary one";
        EXPECT_EQ(set(key, "v", REG_DWORD, Bytes(4, '\0')), ERROR_SUCCESS);
    }
}

TEST_F(Registry, ABatchIsWrittenOnceAtItsEndOrNotAtAll) {
    HKEY key = create("B");
    for (const BOOL commit : {FALSE, TRUE}) {
        SCOPED_TRACE(commit);
        const std::string before = read_file();
        ASSERT_EQ(RegBeginBatch(HKEY_CURRENT_USER), ERROR_SUCCESS);
        ASSERT_EQ(RegBeginBatch(HKEY_CURRENT_USER), ERROR_SUCCESS);  // nested: the outer end decides
        EXPECT_EQ(RegBeginBatch(HKEY_CLASSES_ROOT), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(set(key, "a", REG_DWORD, Bytes(4, '\1')), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "B"), ERROR_SUCCESS);
        EXPECT_EQ(query(key, "a"), ERROR_KEY_DELETED);  // the batch's own reads see its changes
        HKEY again = create("B\\C");
        EXPECT_EQ(set(again, "b", REG_DWORD, Bytes(4, '\2')), ERROR_SUCCESS);
        EXPECT_EQ(RegEndBatch(TRUE), ERROR_SUCCESS);
        EXPECT_EQ(read_file(), before);
        LONG other_result = -1;
        std::thread other([&] {  // another thread waits for the lock, so it writes after the batch
            HKEY k = nullptr;
            other_result = RegCreateKeyEx(HKEY_CURRENT_USER, "Other", 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
            RegCloseKey(k);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(read_file(), before);
        EXPECT_EQ(RegEndBatch(commit), ERROR_SUCCESS);
        other.join();
        EXPECT_EQ(other_result, ERROR_SUCCESS);
        const std::string after = read_file();
        EXPECT_NE(after.find("[HKEY_CURRENT_USER\\Other]"), std::string::npos) << after;
        EXPECT_EQ(after.find("\"b\"=dword:02020202") != std::string::npos, bool(commit)) << after;
        EXPECT_EQ(after.find("\"a\"="), std::string::npos) << after;
        RegDeleteTree(HKEY_CURRENT_USER, "Other");
    }
    EXPECT_EQ(RegEndBatch(TRUE), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, AWriterKilledMidwayLeavesAWholeFile) {
    HKEY key = create("K");
    ASSERT_EQ(set(key, "big", REG_BINARY, Bytes(5000, '\0')), ERROR_SUCCESS);
    for (int round = 0; round < 3; ++round) {
        const pid_t child = spawn([] {
            HKEY k = nullptr;
            if (RegOpenKeyEx(HKEY_CURRENT_USER, "K", 0, KEY_WRITE, &k) != ERROR_SUCCESS) return 1;
            for (int i = 1;; ++i) set(k, "big", REG_BINARY, Bytes(5000, char(i)));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + 70 * round));
        kill(child, SIGKILL);
        EXPECT_EQ(exit_status(child), 128 + SIGKILL);
        Bytes data;
        ASSERT_EQ(query(key, "big", nullptr, &data), ERROR_SUCCESS);
        ASSERT_EQ(data.size(), 5000u);
        EXPECT_EQ(data.find_first_not_of(data[0]), std::string::npos) << "a value mixed from two writes";
        // The lock the child may have held is taken over.
        EXPECT_EQ(set(key, "after", REG_DWORD, Bytes(4, char(round))), ERROR_SUCCESS);
    }
}

}  // namespace
