// regsvr as a separate process with a temporary registry: the control's
// module registered by a relative path and removed again, and modules that
// cannot be registered named with the loader's reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "winreg.h"
#include "workdir.h"

namespace {

using ziv::test::RunResult;
using ziv::test::WorkDir;

constexpr const char* kServerKey = "CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}\\InprocServer32";

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
        {{}, 2, "regsvr: no module named\nusage: regsvr [-u] MODULE\n"},
        {{"a.so", "b.so"}, 2, "regsvr: unexpected argument b.so\nusage: regsvr [-u] MODULE\n"},
        {{"-x", "a.so"}, 2, "regsvr: unexpected argument -x\nusage: regsvr [-u] MODULE\n"},
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

}  // namespace
