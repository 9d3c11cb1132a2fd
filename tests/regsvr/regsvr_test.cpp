// regsvr as a separate process with a temporary registry: the control's
// module registered by a relative path and removed again, registrations that
// run at once or are killed, modules that cannot be registered named with the
// loader's reason, and registries that cannot be used named with the file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "winreg.h"
#include "workdir.h"

namespace {

using ziv::test::RunResult;
using ziv::test::WorkDir;

constexpr const char* kServerKey = "CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}\\InprocServer32";
// The keys of one registration of the control's module.
constexpr const char* kRegistrationKeys[] = {
    "ZIVCONTROL.ZiVControlCtrl.1",
    "CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}",
    "CLSID\\{C98C4835-25AC-4304-AB15-6D274FF02EB5}",
    "TypeLib\\{AAED9179-8C9E-4ADE-997E-D9A7519DFE72}",
    "Interface\\{1ABD8116-4A55-4E2D-9B92-F8F1D1ECA7BA}",
    "Interface\\{B93AB8B1-746F-4C2D-A1BA-C0F5549D0D48}",
};
constexpr int kWhole = int(std::size(kRegistrationKeys));

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Regsvr : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.file("registry");
        setenv("ZIV_REGISTRY_DIR", folder.c_str(), 1);
    }

    // The module path the control's class is registered with; empty when it is not.
    static std::string registered_path() {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, kServerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
        char value[4096] = {};
        DWORD size = sizeof value - 1, type = 0;
        RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        return value;
    }

    // How many of the registration's keys are there.
    static int registration_keys() {
        int present = 0;
        for (const char* name : kRegistrationKeys) {
            HKEY key = nullptr;
            if (RegOpenKeyEx(HKEY_CLASSES_ROOT, name, 0, KEY_READ, &key) == ERROR_SUCCESS) ++present;
            RegCloseKey(key);
        }
        return present;
    }

    WorkDir dir;
    std::string folder;
};

TEST_F(Regsvr, RegistersByRelativePathUnderTheAbsoluteOneAndUnregisters) {
    const std::string module = std::filesystem::canonical(ZIV_CONTROL_MODULE).string();
    const std::string relative = std::filesystem::relative(module, std::filesystem::canonical(dir.path())).string();
    ASSERT_NE(relative.front(), '/');

    for (int round = 0; round < 2; ++round) {  // twice in a row: both succeed
        const RunResult r = dir.run("regsvr", {relative});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "DllRegisterServer in " + module + " succeeded.\nregistry folder: " + folder + "\n");
        EXPECT_EQ(registered_path(), module);
    }

    RunResult r = dir.run("regsvr", {"-u", module});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "DllUnregisterServer in " + module + " succeeded.\nregistry folder: " + folder + "\n");
    EXPECT_EQ(registered_path(), "");

    // Nothing left to remove: the module's own failure, in words and as its code.
    r = dir.run("regsvr", {module, "-u"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "DllUnregisterServer in " + module + " failed: ")) << r.err;
    EXPECT_TRUE(contains(r.err, " (0x8004020")) << r.err;
}

TEST_F(Regsvr, RunsAtOnceOrKilledLeaveAWholeRegistrationOrNone) {
    const std::string module = std::filesystem::canonical(ZIV_CONTROL_MODULE).string();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        constexpr int kRuns = 6;
        std::vector<RunResult> results(kRuns);
        std::vector<std::thread> runs;
        for (int i = 0; i < kRuns; ++i)
            runs.emplace_back([&, i] {
                results[std::size_t(i)] = dir.run(
                    "regsvr", i % 2 ? std::vector<std::string>{"-u", module} : std::vector<std::string>{module});
            });
        for (std::thread& run : runs) run.join();
        for (int i = 0; i < kRuns; ++i) {
            const RunResult& r = results[std::size_t(i)];
            if (i % 2 == 0 || r.status != 1) EXPECT_EQ(r.status, 0) << r.err;
            else EXPECT_TRUE(contains(r.err, "type library is not registered: nothing to remove")) << r.err;
        }
        const int present = registration_keys();
        EXPECT_TRUE(present == 0 || present == kWhole) << present << " of " << kWhole << " keys";
    }

    // Killed before its change is in place, and right after.
    ASSERT_EQ(dir.run("regsvr", {module}).status, 0);
    for (const char* step : {"3", "4"}) {
        setenv("ZIV_REGISTRY_TEST_KILL_AT_STEP", step, 1);
        const RunResult r = dir.run("regsvr", {"-u", module});
        unsetenv("ZIV_REGISTRY_TEST_KILL_AT_STEP");
        EXPECT_EQ(r.status, -1) << "not killed at step " << step;
        EXPECT_EQ(registration_keys(), step == std::string("3") ? kWhole : 0) << step;
    }
}

TEST_F(Regsvr, APartialRegistrationIsRemovedByUnregistering) {
    const std::string module = std::filesystem::canonical(ZIV_CONTROL_MODULE).string();
    ASSERT_EQ(dir.run("regsvr", {module}).status, 0);
    // What a writer killed by an earlier version could leave: the type library gone, the classes there.
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "TypeLib"), ERROR_SUCCESS);
    ASSERT_EQ(registration_keys(), kWhole - 1);
    RunResult r = dir.run("regsvr", {"-u", module});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(registration_keys(), 0);
    r = dir.run("regsvr", {"-u", module});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "DllUnregisterServer in " + module +
                         " failed: the module's type library is not registered: nothing to remove (0x80040200)\n");
}

TEST_F(Regsvr, ARegistryThatCannotBeUsedIsNamedWithTheFileAndTheReason) {
    const std::string module = std::filesystem::canonical(ZIV_CONTROL_MODULE).string();
    const std::string hive = folder + "/HKEY_CLASSES_ROOT.reg";
    std::filesystem::create_directories(folder);
    dir.write("plain", "");
    const bool root = geteuid() == 0;  // permissions do not stop root
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string reason;                     // what regsvr and zivgrab both say, naming the file
        std::optional<std::string> env_folder;  // ZIV_REGISTRY_DIR instead of the test's folder ("" unsets HOME too)
        bool reads_too = true;                  // zivgrab, which only reads, meets it as well
        bool skip_as_root = false;
    };
    const Case cases[] = {
        {"a directory as the hive", [&] { std::filesystem::create_directory(hive); },
         "registry: " + hive + " is not a regular file: a pipe, device or directory cannot hold a hive", std::nullopt},
        {"a pipe as the hive", [&] { mkfifo(hive.c_str(), 0600); },
         "registry: " + hive + " is not a regular file: a pipe, device or directory cannot hold a hive", std::nullopt},
        {"a file as the folder", [] {}, "Not a directory", dir.file("plain")},
        {"a link into a missing folder", [&] { std::filesystem::create_symlink("/nonexistent/ziv/x.reg", hive); },
         "registry: " + hive + ": a link to /nonexistent/ziv/x.reg, which does not exist", std::nullopt},
        {"a directory as the lock", [&] { std::filesystem::create_directory(hive + ".lock"); },
         "registry: " + hive + ".lock: Is a directory", std::nullopt, false},
        {"no home", [] {}, "registry: no registry folder: HOME is not set", ""},
        {"an unreadable hive", [&] { dir.write("registry/HKEY_CLASSES_ROOT.reg", ""), chmod(hive.c_str(), 0); },
         "registry: " + hive + ": Permission denied", std::nullopt, true, true},
        {"a read-only folder", [&] { chmod(folder.c_str(), 0555); }, "registry: " + hive + ".lock: Permission denied",
         std::nullopt, false, true},
    };
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    unsetenv("XDG_CONFIG_HOME");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.skip_as_root && root) continue;
        c.make();
        if (c.env_folder) setenv("ZIV_REGISTRY_DIR", c.env_folder->c_str(), 1);
        if (c.env_folder && c.env_folder->empty()) unsetenv("HOME"), unsetenv("ZIV_REGISTRY_DIR");
        const RunResult reg = dir.run("regsvr", {module});
        const RunResult grab = dir.run("zivgrab", {"--timeout", "1"});
        setenv("ZIV_REGISTRY_DIR", folder.c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        EXPECT_EQ(reg.status, 1);
        EXPECT_TRUE(contains(reg.err, "DllRegisterServer in " + module + " failed: registry: ")) << reg.err;
        EXPECT_TRUE(contains(reg.err, c.reason) && contains(reg.err, " (0x80040151)")) << reg.err;
        EXPECT_EQ(grab.status, 3);
        EXPECT_EQ(contains(grab.err, "zivgrab: registry: ") && contains(grab.err, c.reason), c.reads_too) << grab.err;
        EXPECT_EQ(contains(grab.err, "not registered"), !c.reads_too) << grab.err;
        chmod(folder.c_str(), 0755);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
}

TEST_F(Regsvr, ModulesThatCannotBeRegisteredAreNamedWithTheReason) {
    dir.write("text.so", "not a module\n");
    const std::string text = dir.file("text.so");
    // A module cut short: the loader would end regsvr with SIGBUS on its missing pages.
    std::ifstream in(ZIV_CONTROL_MODULE, std::ios::binary);
    const std::string module{std::istreambuf_iterator<char>(in), {}};
    dir.write("half.so", module.substr(0, module.size() / 2));
    const std::string half = dir.file("half.so");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{dir.file("none.so")},
         1,
         "DllRegisterServer in " + dir.file("none.so") + " failed: module not found: " + dir.file("none.so") +
             ": No such file or directory (0x800401F8)\n"},
        {{"text.so"}, 1, "DllRegisterServer in " + text + " failed: module is no shared library: " + text},
        {{"half.so"},
         1,
         "DllRegisterServer in " + half + " failed: module is damaged or incomplete: " + half + " (0x800401F9)\n"},
        {{ZIV_MODULE_WITHOUT_REGISTRATION}, 1, "failed: module has no entry point DllRegisterServer"},
        {{"-u", ZIV_MODULE_WITHOUT_REGISTRATION}, 1, "failed: module has no entry point DllUnregisterServer"},
        {{}, 2, "regsvr: no module named\nusage: regsvr [-u] [--machine] MODULE\n"},
        {{"a.so", "b.so"}, 2, "regsvr: unexpected argument b.so\nusage: regsvr [-u] [--machine] MODULE\n"},
        {{"-x", "a.so"}, 2, "regsvr: unknown option -x\nusage: regsvr [-u] [--machine] MODULE\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const RunResult r = dir.run("regsvr", c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(dir.exists("registry/HKEY_CLASSES_ROOT.reg"));
}

// The package's scripts: --machine registers in the machine's folder alone,
// twice gives one set, and -u --machine removes it; the user's folder is
// neither made nor read meanwhile.
TEST_F(Regsvr, MachineRegistrationIsOneSetAndRemovable) {
    const std::string machine = dir.file("machine");
    setenv("ZIV_MACHINE_REGISTRY_DIR", machine.c_str(), 1);
    const std::string module = std::filesystem::canonical(ZIV_CONTROL_MODULE).string();
    const std::string control_key = "[HKEY_CLASSES_ROOT\\CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}]";
    const auto count = [&](const std::string& key) {
        const std::string text = dir.read("machine/HKEY_CLASSES_ROOT.reg");
        int n = 0;
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) ++n;
        return n;
    };
    for (int round = 0; round < 2; ++round) {
        const RunResult r = dir.run("regsvr", {"--machine", module});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "DllRegisterServer in " + module + " succeeded.\nregistry folder: " + machine + "\n");
        EXPECT_EQ(count(control_key), 1);
    }
    EXPECT_EQ(registered_path(), module) << "the machine's registration is seen by the user";
    const RunResult r = dir.run("regsvr", {"-u", "--machine", module});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}"), 0);
    EXPECT_EQ(count("ZIVCONTROL"), 0);
    EXPECT_EQ(registered_path(), "");
    EXPECT_FALSE(dir.exists("registry"));
    unsetenv("ZIV_MACHINE_REGISTRY_DIR");
}

}  // namespace
