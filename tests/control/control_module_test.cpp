// The module ziVControl as a container and a registration tool meet it: its
// registry entries, its dynamic symbols, and the control created by class
// identifier, driven by dispatch identifier against the simulated camera,
// until the module unloads. Nothing of the control is linked here.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dispatch_call.h"
#include "event_loop.h"
#include "function_sink.h"
#include "hive.h"
#include "objbase.h"
#include "proppage.h"
#include "server.h"
#include "winreg.h"

namespace {

constexpr CLSID kControl = MakeGuid("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");
constexpr IID kEvents = MakeGuid("{B93AB8B1-746F-4C2D-A1BA-C0F5549D0D48}");

std::string ModulePath() {
    char resolved[PATH_MAX];
    return realpath(ZIV_CONTROL_MODULE, resolved) ? resolved : ZIV_CONTROL_MODULE;
}

// Calls one entry point of the module, loaded for the call only.
HRESULT CallEntry(const char* name) {
    void* handle = dlopen(ZIV_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return E_UNEXPECTED;
    auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, name));
    const HRESULT hr = entry ? entry() : E_UNEXPECTED;
    dlclose(handle);
    return hr;
}

bool ModuleLoaded() {
    void* handle = dlopen(ZIV_CONTROL_MODULE, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

using ziv::test::RunUntil;

class Module : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setenv("ZIV_REGISTRY_DIR", dir_.path().toUtf8().constData(), 1);
    }
    void TearDown() override { unsetenv("ZIV_REGISTRY_DIR"); }

    static std::string ClassesText() {
        std::ifstream in(RegistryFolder() + "/HKEY_CLASSES_ROOT.reg", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QTemporaryDir dir_;
};

TEST_F(Module, RegistersTheEntriesOnceHoweverOften) {
    const std::string path = ModulePath();
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string clsid = "CLSID\\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}";
    const std::string page = "CLSID\\{C98C4835-25AC-4304-AB15-6D274FF02EB5}";
    const std::string progId = "ZIVCONTROL.ZiVControlCtrl.1";
    const std::string lib = "TypeLib\\{AAED9179-8C9E-4ADE-997E-D9A7519DFE72}\\1.0";
    const std::string dispatch = "Interface\\{1ABD8116-4A55-4E2D-9B92-F8F1D1ECA7BA}";
    const std::string events = "Interface\\{B93AB8B1-746F-4C2D-A1BA-C0F5549D0D48}";
    const std::string libid = "{AAED9179-8C9E-4ADE-997E-D9A7519DFE72}";
    const std::string psDispatch = "{00020420-0000-0000-C000-000000000046}";
    struct Entry {
        std::string key;
        std::string name;  // "": the default value
        std::string value;
    };
    const Entry expected[] = {
        {progId, "", "ZiVControl Control"},
        {progId + "\\CLSID", "", "{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}"},
        {progId + "\\Insertable", "", ""},
        {clsid, "", "ZiVControl Control"},
        {clsid + "\\ProgID", "", progId},
        {clsid + "\\InprocServer32", "", path},
        {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {clsid + "\\ToolboxBitmap32", "", path + ", 1"},
        {clsid + "\\MiscStatus", "", "0"},
        {clsid + "\\MiscStatus\\1", "", "131473"},
        {clsid + "\\Control", "", ""},
        {clsid + "\\TypeLib", "", libid},
        {clsid + "\\Version", "", "1.0"},
        {clsid + "\\Insertable", "", ""},
        {page, "", "ZiVControl Property Page"},
        {page + "\\InprocServer32", "", path},
        {lib, "", "ziVControl ActiveX Control module"},
        {lib + "\\FLAGS", "", "2"},
        {lib + "\\0\\win32", "", path},
        {lib + "\\HELPDIR", "", folder},
        {dispatch, "", "_DZiVControl"},
        {dispatch + "\\ProxyStubClsid", "", psDispatch},
        {dispatch + "\\ProxyStubClsid32", "", psDispatch},
        {dispatch + "\\TypeLib", "", libid},
        {dispatch + "\\TypeLib", "Version", "1.0"},
        {events, "", "_DZiVControlEvents"},
        {events + "\\ProxyStubClsid", "", psDispatch},
        {events + "\\ProxyStubClsid32", "", psDispatch},
        {events + "\\TypeLib", "", libid},
        {events + "\\TypeLib", "Version", "1.0"},
    };
    using namespace ziv::registry;
    Hive hive;
    for (const Entry& e : expected)
        ensure_key(hive, e.key).values[fold_name(e.name)] = HiveValue{e.name, REG_SZ, e.value + '\0'};
    const std::string expectedText = write_hive(hive, "HKEY_CLASSES_ROOT");

    EXPECT_EQ(CallEntry("DllRegisterServer"), S_OK);
    EXPECT_EQ(ClassesText(), expectedText);
    EXPECT_EQ(CallEntry("DllRegisterServer"), S_OK);
    EXPECT_EQ(ClassesText(), expectedText) << "registering again changes nothing";

    EXPECT_EQ(CallEntry("DllUnregisterServer"), S_OK);
    Hive left;
    ParseError error;
    ASSERT_TRUE(parse_hive(ClassesText(), "HKEY_CLASSES_ROOT", left, error)) << error.message;
    for (const auto& [sortKey, key] : left.keys) {
        EXPECT_TRUE(key.values.empty()) << key.path << " keeps values";
        for (const char* ours : {"1AB0D3D2", "C98C4835", "AAED9179", "1ABD8116", "B93AB8B1", "ZIVCONTROL"})
            EXPECT_EQ(key.path.find(ours), std::string::npos) << key.path;
    }
    EXPECT_EQ(CallEntry("DllUnregisterServer"), SELFREG_E_TYPELIB) << "the type library is gone already";
}

TEST_F(Module, ExportsItsFourEntryPointsAndNothingElse) {
    FILE* nm = popen(("nm -D --defined-only '" + ModulePath() + "'").c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) exported.insert(name);
    }
    EXPECT_EQ(pclose(nm), 0);
    EXPECT_EQ(exported, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                               "DllUnregisterServer"}));
}

TEST_F(Module, AControlByClassIdentifierFetchesAnImageAndTheModuleUnloads) {
    ziv::camsim::Options options;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.sensor_width = 320;
    options.sensor_height = 240;
    ziv::camsim::Server camera(options);
    std::string why;
    ASSERT_TRUE(camera.start(why)) << why;
    ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
    ASSERT_FALSE(ModuleLoaded());

    IDispatch* control = nullptr;
    ASSERT_EQ(
        CoCreateInstance(kControl, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control)),
        S_OK)
        << CoGetLastLoadError();
    std::vector<LONG> statuses;
    EXPECT_NE(FunctionSink::Advise(control, kEvents, [&](DISPID, LONG status) { statuses.push_back(status); }), 0u);
    EXPECT_EQ(InvokeDispatch(control, 1, DISPATCH_PROPERTYPUT, {COleVariant("127.0.0.1")}).hr, S_OK);
    EXPECT_EQ(InvokeDispatch(control, 2, DISPATCH_PROPERTYPUT, {COleVariant(LONG(camera.port()))}).hr, S_OK);
    EXPECT_EQ(InvokeDispatch(control, 5, DISPATCH_METHOD, {8, 4, 64, 48, 2, 1}).hr, S_OK);
    ASSERT_TRUE(RunUntil([&] { return !statuses.empty() && statuses.back() == 0; }));
    EXPECT_EQ(statuses, (std::vector<LONG>{9, 8, 0}));

    LONG attrib[4] = {-1, -1, -1, -1};
    std::vector<COleVariant> refs;
    for (LONG& v : attrib) {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_I4;
        ref.plVal = &v;
        refs.emplace_back(ref);
    }
    EXPECT_EQ(InvokeDispatch(control, 9, DISPATCH_METHOD, refs).hr, S_OK);
    EXPECT_EQ(std::vector<LONG>(attrib, attrib + 4), (std::vector<LONG>{8, 4, 32, 48}));

    EXPECT_TRUE(ModuleLoaded());
    CoFreeUnusedLibraries();
    EXPECT_TRUE(ModuleLoaded()) << "unloaded under a live control";
    control->Release();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ModuleLoaded());
    camera.stop();
}

TEST_F(Module, AboutBoxAndPropertiesOfAControlByClassIdentifier) {
    ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
    IDispatch* control = nullptr;
    ASSERT_EQ(
        CoCreateInstance(kControl, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control)),
        S_OK);
    std::vector<std::string> captions;
    std::vector<std::string> pages;
    CDialog::SetModalHook([&](CDialog& dialog) -> INT_PTR {
        captions.push_back(dialog.GetCaption());
        if (auto* frame = dynamic_cast<CPropertyFrame*>(&dialog))
            for (ULONG i = 0; i < frame->GetPageCount(); ++i) pages.push_back(frame->GetPage(i).title);
        return IDOK;
    });
    EXPECT_EQ(InvokeDispatch(control, DISPID_ABOUTBOX, DISPATCH_METHOD).hr, S_OK);
    IOleObject* object = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr), S_OK);
    CDialog::SetModalHook(nullptr);
    EXPECT_EQ(captions, (std::vector<std::string>{"About ZiVControl Control", "General"}));
    EXPECT_EQ(pages, std::vector<std::string>{"General"});

    object->Release();
    control->Release();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ModuleLoaded()) << "the page went with the frame";
}

}  // namespace
