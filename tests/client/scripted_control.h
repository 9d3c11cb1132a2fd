// A stand-in for the image control: registered for the control's class in
// this process (CoRegisterClassObject), it answers the members the client
// calls by writing them into a log, reports a chosen image size and fires
// PictureReady when the test says so.
#pragma once

#include <string>
#include <vector>

#include "objbase.h"
#include "olecontrol.h"
#include "zivcontrolctrl.h"

class ScriptedControl : public COleControl {
public:
    static constexpr IID kIid = MakeGuid("{6D1E0C6A-0E55-4C0B-9F7A-3C1E5D2B9A01}");
    static constexpr IID kEventsIid = MakeGuid("{6D1E0C6A-0E55-4C0B-9F7A-3C1E5D2B9A02}");

    ScriptedControl() {
        InitializeIIDs(&kIid, &kEventsIid);
        last_ = this;
    }
    ~ScriptedControl() override {
        if (last_ == this) last_ = nullptr;
    }
    // The control the dialog made last (null once it is gone).
    static ScriptedControl* last() { return last_; }

    void fire(LONG status) { FireEvent(1, status); }

    std::vector<std::string> log;
    LONG width = 640, rows = 480;
    BOOL save_result = TRUE;

    HRESULT GetClassID(CLSID* pClassID) override {
        *pClassID = CLSID_ZiVControl;
        return S_OK;
    }

private:
    std::string GetServer() { return server_; }
    void SetServer(const std::string& s) { log.push_back("server=" + (server_ = s)); }
    LONG GetPort() { return port_; }
    void SetPort(LONG p) { log.push_back("port=" + std::to_string(port_ = p)); }
    BOOL GetLive() { return live_; }
    void SetLive(BOOL l) { log.push_back("live=" + std::to_string(live_ = l ? 1 : 0)); }
    void RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG ix, LONG iy) {
        log.push_back("RequestImage " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(dx) + "," +
                      std::to_string(dy) + "," + std::to_string(ix) + "," + std::to_string(iy));
    }
    void SetPosition(LONG x, LONG y, LONG dx, LONG dy) {
        log.push_back("SetPosition " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(dx) + "," +
                      std::to_string(dy));
        SetWindowPos(nullptr, x, y, dx, dy, SWP_NOZORDER);
    }
    void Abort() { log.push_back("Abort"); }
    BOOL SaveToBmp(const std::string& file) {
        log.push_back("SaveToBmp " + file);
        return save_result;
    }
    void GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy) {
        *x = *y = 0;
        *dx = width;
        *dy = rows;
    }

    std::span<const DispatchEntry> GetDispatchMap() const override {
        using C = ScriptedControl;
        static constexpr DispatchEntry kMap[] = {
            DispProperty<&C::GetServer, &C::SetServer, VT_BSTR>("server", 1),
            DispProperty<&C::GetPort, &C::SetPort, VT_I4>("port", 2),
            DispProperty<&C::GetLive, &C::SetLive, VT_BOOL>("live", 4),
            DispMethod<&C::RequestImage, VT_EMPTY, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4>("RequestImage", 5),
            DispMethod<&C::SetPosition, VT_EMPTY, VT_I4, VT_I4, VT_I4, VT_I4>("SetPosition", 6),
            DispMethod<&C::Abort, VT_EMPTY>("Abort", 7),
            DispMethod<&C::SaveToBmp, VT_BOOL, VT_BSTR>("SaveToBmp", 8),
            DispMethod<&C::GetImgAttrib, VT_EMPTY, VT_BYREF | VT_I4, VT_BYREF | VT_I4, VT_BYREF | VT_I4,
                       VT_BYREF | VT_I4>("GetImgAttrib", 9),
        };
        return kMap;
    }
    void* GetDispatchTarget() override { return this; }
    std::span<const EventEntry> GetEventMap() const override {
        static constexpr EventEntry kEvents[] = {DispEvent<VT_I4>("PictureReady", 1)};
        return kEvents;
    }

    std::string server_;
    LONG port_ = 0;
    BOOL live_ = FALSE;
    static inline ScriptedControl* last_ = nullptr;
};

// Makes ScriptedControls for the control's class while it lives.
class ScriptedControlClass {
public:
    ScriptedControlClass() {
        Factory* factory = new Factory;
        CoRegisterClassObject(CLSID_ZiVControl, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
        factory->Release();
    }
    ~ScriptedControlClass() { CoRevokeClassObject(cookie_); }

private:
    class Factory final : public CComObjectImpl<IClassFactory> {
    public:
        HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
            if (outer) return CLASS_E_NOAGGREGATION;
            auto* control = new ScriptedControl;
            const HRESULT hr = control->GetUnknown()->QueryInterface(riid, ppv);
            control->GetUnknown()->Release();
            return hr;
        }
        HRESULT LockServer(BOOL) override { return S_OK; }
    };
    DWORD cookie_ = 0;
};
