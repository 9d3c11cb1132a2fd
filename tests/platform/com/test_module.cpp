// A tiny in-process server for the creation tests: one class with a dispatch
// table, a class factory, and the module entry points. It marks its loading
// and unloading in the environment, where the test reads them.
// Built twice: once without DllGetClassObject and the marks (ZIV_TEST_NO_ENTRY).
#include <atomic>
#include <cstdlib>
#include <string>

#include "dispmap.h"
#include "objbase.h"

namespace {
constexpr CLSID kCounterClsid = MakeGuid("{7E57C0DE-0000-4000-8000-000000000001}");

std::atomic<long> g_objects{0};  // live objects, factories included
std::atomic<long> g_locks{0};

#ifndef ZIV_TEST_NO_ENTRY
struct LoadMarker {
    LoadMarker() {
        const char* loads = std::getenv("ZIV_TEST_MODULE_LOADS");
        setenv("ZIV_TEST_MODULE_LOADS", std::to_string((loads ? std::atoi(loads) : 0) + 1).c_str(), 1);
        unsetenv("ZIV_TEST_MODULE_UNLOADED");
    }
    ~LoadMarker() { setenv("ZIV_TEST_MODULE_UNLOADED", "1", 1); }
} g_marker;
#endif

class CCounter final : public CComObjectImpl<IDispatch> {
public:
    CCounter() { ++g_objects; }
    ~CCounter() override { --g_objects; }
    HRESULT GetTypeInfoCount(UINT* count) override { return count ? (*count = 0, S_OK) : E_POINTER; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispatchGetIDsOfNames(Map(), names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                   UINT* argErr) override {
        return DispatchInvoke(Map(), this, id, riid, flags, params, result, info, argErr);
    }
    LONG GetValue() const { return m_value; }
    void SetValue(LONG value) { m_value = value; }
    LONG Add(LONG amount) { return m_value += amount; }

private:
    static std::span<const DispatchEntry> Map();
    LONG m_value = 0;
};

constexpr DispatchEntry kCounterMap[] = {
    DispProperty<&CCounter::GetValue, &CCounter::SetValue, VT_I4>("value", 1),
    DispMethod<&CCounter::Add, VT_I4, VT_I4>("Add", 2),
};
std::span<const DispatchEntry> CCounter::Map() { return kCounterMap; }

class CCounterFactory final : public CComObjectImpl<IClassFactory> {
public:
    CCounterFactory() { ++g_objects; }
    ~CCounterFactory() override { --g_objects; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* counter = new CCounter;
        const HRESULT hr = counter->QueryInterface(riid, ppv);
        counter->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};
}  // namespace

#ifndef ZIV_TEST_NO_ENTRY
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != kCounterClsid) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new CCounterFactory;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
#endif

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }
