// HKEY_CLASSES_ROOT as the user's classes over the machine's: which one a
// lookup sees, a machine file that cannot be read, and the machine's file left
// alone by every change a user's process makes.

#include "winreg.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr const char* kServer = "CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}\\InprocServer32";

// A classes hive whose control is served by `module`, with one value only this file has.
std::string classes(const std::string& module, const std::string& own_value) {
    return "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\" + std::string(kServer) + "]\n@=\"" + module +
           "\"\n\"" + own_value + "\"=\"x\"\n";
}

std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The default value of the control's server key, or the failure.
LONG server_of(std::string& module) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyEx(HKEY_CLASSES_ROOT, kServer, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) return result;
    char value[256] = {};
    DWORD size = sizeof value - 1;
    result = RegQueryValueEx(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    module = value;
    return result;
}

TEST(MachineClasses, UserOverMachineAndTheMachineFileUntouched) {
    const struct {
        const char* name;
        const char* machine;  // the machine's file; null: none
        const char* user;     // the user's file; null: none
        LONG lookup;
        const char* module;  // what the lookup sees
        bool machine_only_value_seen;
    } cases[] = {
        {"user over machine", "/m/ziVControl.so", "/u/ziVControl.so", ERROR_SUCCESS, "/u/ziVControl.so", true},
        {"machine only", "/m/ziVControl.so", nullptr, ERROR_SUCCESS, "/m/ziVControl.so", true},
        {"user only", nullptr, "/u/ziVControl.so", ERROR_SUCCESS, "/u/ziVControl.so", false},
        {"neither", nullptr, nullptr, ERROR_FILE_NOT_FOUND, "", false},
        {"damaged machine file", "damaged", "/u/ziVControl.so", ERROR_BADDB, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const std::string root = dir.path().toStdString();
        const std::string machine_file = root + "/machine/HKEY_CLASSES_ROOT.reg";
        const std::string user_file = root + "/user/HKEY_CLASSES_ROOT.reg";
        setenv("ZIV_MACHINE_REGISTRY_DIR", (root + "/machine").c_str(), 1);
        setenv("ZIV_REGISTRY_DIR", (root + "/user").c_str(), 1);
        std::filesystem::create_directories(root + "/machine");
        if (c.machine) {
            std::ofstream(machine_file, std::ios::binary)
                << (std::string(c.machine) == "damaged" ? std::string("Windows Registry Editor Version 5.00\n[")
                                                        : classes(c.machine, "machine_only"));
        }
        if (c.user) {
            std::filesystem::create_directories(root + "/user");
            std::ofstream(user_file, std::ios::binary) << classes(c.user, "user_only");
        }
        const std::string machine_before = slurp(machine_file);

        std::string module;
        testing::internal::CaptureStderr();
        EXPECT_EQ(server_of(module), c.lookup);
        const std::string reported = testing::internal::GetCapturedStderr();
        EXPECT_EQ(module, c.module);
        if (c.lookup == ERROR_BADDB) {
            EXPECT_NE(RegLastErrorText().find(machine_file), std::string::npos) << RegLastErrorText();
            EXPECT_NE(reported.find(machine_file), std::string::npos) << reported;
        }
        HKEY key = nullptr;
        if (c.lookup == ERROR_SUCCESS) {
            ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, kServer, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
            EXPECT_EQ(RegQueryValueEx(key, "machine_only", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS,
                      c.machine_only_value_seen);
            // A user's changes, on a key the machine may have alone: into the user's file.
            const char mine[] = "Both";
            EXPECT_EQ(RegSetValueEx(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(mine), 5),
                      ERROR_SUCCESS);
            EXPECT_NE(slurp(user_file).find("\"ThreadingModel\"=\"Both\""), std::string::npos);
            RegCloseKey(key);
            // Deleting them takes away the user's classes alone: the machine's show again.
            EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);
            module.clear();
            EXPECT_EQ(server_of(module), c.machine ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(module, c.machine ? c.machine : "");
        }
        EXPECT_EQ(slurp(machine_file), machine_before);
        EXPECT_FALSE(std::filesystem::exists(machine_file + ".lock"));
    }
    unsetenv("ZIV_MACHINE_REGISTRY_DIR");
    unsetenv("ZIV_REGISTRY_DIR");
}

// regsvr --machine and the package's scripts write the machine's file alone.
TEST(MachineClasses, MachineModeReadsAndWritesTheMachineFileAlone) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    setenv("ZIV_MACHINE_REGISTRY_DIR", (root + "/machine").c_str(), 1);
    setenv("ZIV_REGISTRY_DIR", (root + "/user").c_str(), 1);
    std::filesystem::create_directories(root + "/user");
    std::ofstream(root + "/user/HKEY_CLASSES_ROOT.reg") << classes("/u/ziVControl.so", "user_only");
    const std::string user_before = slurp(root + "/user/HKEY_CLASSES_ROOT.reg");

    RegUseMachineClasses(TRUE);
    std::string module;
    EXPECT_EQ(server_of(module), ERROR_FILE_NOT_FOUND) << "the user's classes seen in machine mode";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, kServer, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char path[] = "/m/ziVControl.so";
    EXPECT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(server_of(module), ERROR_SUCCESS);
    EXPECT_EQ(module, "/m/ziVControl.so");
    RegUseMachineClasses(FALSE);

    EXPECT_EQ(slurp(root + "/user/HKEY_CLASSES_ROOT.reg"), user_before);
    EXPECT_NE(slurp(root + "/machine/HKEY_CLASSES_ROOT.reg").find("/m/ziVControl.so"), std::string::npos);
    EXPECT_EQ(server_of(module), ERROR_SUCCESS);
    EXPECT_EQ(module, "/u/ziVControl.so");
    unsetenv("ZIV_MACHINE_REGISTRY_DIR");
    unsetenv("ZIV_REGISTRY_DIR");
}

}  // namespace
