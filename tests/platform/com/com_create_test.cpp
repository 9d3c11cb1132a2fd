// Creating a class by identifier through the registry and a real module, the
// failures on the way there, and unloading only when the module allows it.
#include <gtest/gtest.h>

#include <elf.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dispdriver.h"
#include "objbase.h"
#include "typelib.h"
#include "winreg.h"

namespace {
constexpr CLSID kCounter = MakeGuid("{7E57C0DE-0000-4000-8000-000000000001}");
constexpr CLSID kOther = MakeGuid("{7E57C0DE-0000-4000-8000-000000000002}");

class Creation : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/ziv-com-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        setenv("ZIV_REGISTRY_DIR", name, 1);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // `path` null: the key without a default value.
    void Register(REFCLSID clsid, const char* path) {
        const std::string name = "CLSID\\" + StringFromGUID(clsid) + "\\InprocServer32";
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyEx(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        if (path)
            RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                          static_cast<DWORD>(std::strlen(path) + 1));
        RegCloseKey(key);
    }

    static bool Unloaded() { return std::getenv("ZIV_TEST_MODULE_UNLOADED") != nullptr; }
    static int Loads() {
        const char* loads = std::getenv("ZIV_TEST_MODULE_LOADS");
        return loads ? std::atoi(loads) : 0;
    }

    std::string folder;
};

TEST_F(Creation, ReportsWhyAClassCannotBeCreated) {
    const std::string notModule = folder + "/text.so";
    std::ofstream(notModule) << "not a module\n";
    struct Row {
        const char* what;
        CLSID registered;
        const char* path;  // null: key without a path
        HRESULT hr;
        const char* message;
    };
    const Row rows[] = {
        {"not registered", GUID_NULL, nullptr, REGDB_E_CLASSNOTREG, "not registered"},
        {"no path", kCounter, nullptr, REGDB_E_CLASSNOTREG, "no in-process server path"},
        {"missing module", kCounter, "/nonexistent/ziv/module.so", CO_E_DLLNOTFOUND, "/nonexistent/ziv/module.so"},
        {"relative path", kCounter, "com_test_module.so", CO_E_DLLNOTFOUND, "not absolute"},
        {"not a module", kCounter, notModule.c_str(), CO_E_ERRORINDLL, "text.so"},
        {"no entry point", kCounter, ZIV_TEST_MODULE_NO_ENTRY, CO_E_ERRORINDLL, "DllGetClassObject"},
        {"class not served", kOther, ZIV_TEST_MODULE, CLASS_E_CLASSNOTAVAILABLE, ""},
    };
    for (const Row& row : rows) {
        RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID");
        if (row.registered != GUID_NULL) Register(row.registered, row.path);
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(CoCreateInstance(row.registered == GUID_NULL ? kCounter : row.registered, nullptr,
                                   CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
                  row.hr)
            << row.what;
        EXPECT_EQ(object, nullptr) << row.what;
        EXPECT_NE(CoGetLastLoadError().find(row.message), std::string::npos)
            << row.what << ": " << CoGetLastLoadError();
    }
}

// A module file cut short or for another machine must be refused before the
// loader maps it: touching a page the file does not have ends the process.
TEST_F(Creation, RefusesBrokenModuleFilesBeforeLoadingThem) {
    std::ifstream in(ZIV_TEST_MODULE, std::ios::binary);
    const std::string module{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(module.size(), 16384u);
    const auto patched = [&](std::size_t at, std::uint64_t value, std::size_t width) {
        std::string bytes = module;
        std::memcpy(bytes.data() + at, &value, width);
        return bytes;
    };
    constexpr const char* kDamaged = "module is damaged or incomplete: ";
    constexpr const char* kOtherMachine = "module is built for another machine: ";
    constexpr const char* kNoLibrary = "module is no shared library: ";
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"half", module.substr(0, module.size() / 2), kDamaged},
        {"4 KiB", module.substr(0, 4096), kDamaged},
        {"empty", "", kDamaged},
        {"3 bytes", module.substr(0, 3), kDamaged},
        {"63 bytes", module.substr(0, 63), kDamaged},
        {"last byte missing", module.substr(0, module.size() - 1), kDamaged},
        {"text", "not a module\n", kNoLibrary},
        {"executable", patched(offsetof(Elf64_Ehdr, e_type), ET_EXEC, 2), kNoLibrary},
        {"32-bit", patched(EI_CLASS, ELFCLASS32, 1), kOtherMachine},
        {"big-endian", patched(EI_DATA, ELFDATA2MSB, 1), kOtherMachine},
        {"other machine", patched(offsetof(Elf64_Ehdr, e_machine), EM_S390, 2), kOtherMachine},
        {"program headers wrap around", patched(offsetof(Elf64_Ehdr, e_phoff), ~std::uint64_t(0) - 8, 8), kDamaged},
        {"section headers past the end", patched(offsetof(Elf64_Ehdr, e_shoff), module.size() - 8, 8), kDamaged},
        {"no program headers", patched(offsetof(Elf64_Ehdr, e_phnum), 0, 2), kDamaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder + "/broken.so";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        std::string error;
        EXPECT_EQ(CallModuleRegistration(path, true, &error), CO_E_ERRORINDLL);
        EXPECT_EQ(error, c.message + path);
        RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID");
        Register(kCounter, path.c_str());
        IUnknown* object = nullptr;
        EXPECT_EQ(
            CoCreateInstance(kCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CO_E_ERRORINDLL);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(CoGetLastLoadError(), c.message + path);
    }
}

TEST_F(Creation, CreatesAndDrivesAnObjectByDispatchIdentifier) {
    Register(kCounter, ZIV_TEST_MODULE);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kCounter, reinterpret_cast<IUnknown*>(&object), CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(kCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);

    COleDispatchDriver counter;
    HRESULT hr = E_FAIL;
    ASSERT_TRUE(counter.CreateDispatch(kCounter, &hr));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(CoGetLastLoadError(), "");
    EXPECT_EQ(counter.SetProperty(1, COleVariant(40)), S_OK);
    LONG sum = 0;
    EXPECT_EQ(counter.InvokeHelper(2, DISPATCH_METHOD, VT_I4, &sum, {COleVariant(2)}), S_OK);
    EXPECT_EQ(sum, 42);
    LONG value = 0;
    EXPECT_EQ(counter.InvokeHelper(1, DISPATCH_PROPERTYGET, VT_I4, &value), S_OK);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(counter.InvokeHelper(2, DISPATCH_METHOD, VT_I4, &sum, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(counter.InvokeHelper(2, DISPATCH_METHOD, VT_I4, &sum, {COleVariant("two")}), DISP_E_TYPEMISMATCH);
}

TEST_F(Creation, UnloadsOnlyWhenTheModuleSaysSo) {
    Register(kCounter, ZIV_TEST_MODULE);
    IUnknown* object = nullptr;
    ASSERT_EQ(
        CoCreateInstance(kCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
        S_OK);
    const int loads = Loads();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Unloaded()) << "unloaded under a live object";
    object->Release();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Unloaded());

    // A lock keeps the module as well; the next creation loads it afresh.
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(kCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(Loads(), loads + 1);
    factory->LockServer(TRUE);
    factory->Release();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Unloaded()) << "unloaded while locked";
    ASSERT_EQ(CoGetClassObject(kCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(Loads(), loads + 1);
    factory->LockServer(FALSE);
    factory->Release();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Unloaded());
}
TEST_F(Creation, RegistersATypeLibrary) {
    constexpr GUID kLibid = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000AA}");
    const TypeLibData data = {"COUNTERLib", kLibid, 1, 0, 0, LIBFLAG_FCONTROL, "Counter module", nullptr, {}};
    ITypeLib* lib = nullptr;
    ASSERT_EQ(CreateTypeLibFromData(data, &lib), S_OK);
    std::string path;
    EXPECT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(RegisterTypeLib(lib, "/opt/old/counter.so", nullptr), S_OK);
    EXPECT_EQ(RegisterTypeLib(lib, "/opt/counter.so", "/opt"), S_OK);
    ASSERT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), S_OK);
    EXPECT_EQ(path, "/opt/counter.so");
    EXPECT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    lib->Release();
}

// The string value of a key below HKEY_CLASSES_ROOT; "(none)" when the key is missing.
std::string ClassesValue(const std::string& keyName, const char* valueName = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "(none)";
    char value[256] = {};
    DWORD size = sizeof value - 1;
    RegQueryValueEx(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return value;
}

TEST_F(Creation, RegistersTheDispatchInterfacesOfATypeLibrary) {
    constexpr GUID kLibid = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000AA}");
    constexpr GUID kOtherLib = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000AB}");
    constexpr IID kDispatch = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000B1}");
    constexpr IID kEvents = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000B2}");
    constexpr IID kForeign = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000B3}");
    constexpr CLSID kClass = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000C1}");
    static constexpr ImplData kImpls[] = {{kDispatch, IMPLTYPEFLAG_FDEFAULT},
                                          {kEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    static constexpr TypeData kTypes[] = {{TKIND_DISPATCH, "_DCounter", kDispatch, 0},
                                          {TKIND_DISPATCH, "_DCounterEvents", kEvents, 0},
                                          {TKIND_COCLASS, "Counter", kClass, TYPEFLAG_FCANCREATE, nullptr, {}, kImpls}};
    static constexpr TypeData kForeignTypes[] = {{TKIND_DISPATCH, "_DForeign", kForeign, 0}};
    const TypeLibData data = {"COUNTERLib", kLibid, 1, 0, 0, 0, nullptr, nullptr, kTypes};
    const TypeLibData other = {"OTHERLib", kOtherLib, 1, 0, 0, 0, nullptr, nullptr, kForeignTypes};
    ITypeLib* lib = nullptr;
    ITypeLib* otherLib = nullptr;
    ASSERT_EQ(CreateTypeLibFromData(data, &lib), S_OK);
    ASSERT_EQ(CreateTypeLibFromData(other, &otherLib), S_OK);
    ASSERT_EQ(RegisterTypeLib(otherLib, "/opt/other.so", nullptr), S_OK);
    ASSERT_EQ(RegisterTypeLib(lib, "/opt/counter.so", "/opt"), S_OK);

    const std::string psDispatch = "{00020420-0000-0000-C000-000000000046}";
    struct Row {
        IID iid;
        const char* sub;
        const char* valueName;
        std::string expected;
    };
    const Row rows[] = {
        {kDispatch, "", nullptr, "_DCounter"},
        {kDispatch, "\\ProxyStubClsid", nullptr, psDispatch},
        {kDispatch, "\\ProxyStubClsid32", nullptr, psDispatch},
        {kDispatch, "\\TypeLib", nullptr, StringFromGUID(kLibid)},
        {kDispatch, "\\TypeLib", "Version", "1.0"},
        {kEvents, "", nullptr, "_DCounterEvents"},
        {kEvents, "\\TypeLib", nullptr, StringFromGUID(kLibid)},
        {kClass, "", nullptr, "(none)"},  // classes are not interfaces
    };
    for (const Row& row : rows)
        EXPECT_EQ(ClassesValue("Interface\\" + StringFromGUID(row.iid) + row.sub, row.valueName), row.expected)
            << StringFromGUID(row.iid) << row.sub;
    EXPECT_EQ(ClassesValue("TypeLib\\" + StringFromGUID(kLibid) + "\\1.0\\HELPDIR"), "/opt");

    EXPECT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_EQ(ClassesValue("Interface\\" + StringFromGUID(kDispatch)), "(none)");
    EXPECT_EQ(ClassesValue("Interface\\" + StringFromGUID(kEvents)), "(none)");
    EXPECT_EQ(ClassesValue("TypeLib\\" + StringFromGUID(kLibid)), "(none)") << "no version left";
    EXPECT_EQ(ClassesValue("Interface\\" + StringFromGUID(kForeign)), "_DForeign") << "another library's";
    lib->Release();
    otherLib->Release();
}
}  // namespace
