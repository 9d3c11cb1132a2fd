// Embedded controls: a control made by class identifier (CoCreateInstance),
// given its saved state, activated in place inside a container's window, and
// its events connected to a table of handlers. Dialogs host their control
// items through it; it knows nothing of dialogs.
#pragma once

#include <memory>
#include <span>

#include "eventsink.h"
#include "winuser.h"

// Lets containers embed controls; off until called.
void AfxEnableControlContainer();

// A property of an embedded control's initial saved state.
struct DialogControlProperty {
    const char* name;
    LONG value;
};
// What a control is made from: its class and its initial saved state (loaded
// through IPersistPropertyBag; without that interface the control starts new).
struct DialogControlData {
    CLSID clsid;
    std::span<const DialogControlProperty> state;
};

class CControlSite {
public:
    // Makes the control of `data` inside `parent` at `rect` (pixels) and, when
    // `events` has rows, connects them to the control's default event
    // interface; each handler gets `eventObject`. On failure, the result says
    // why and nothing is left behind: E_NOTIMPL without
    // AfxEnableControlContainer, else what creation, loading, activation or
    // the connection answered.
    static HRESULT Create(const DialogControlData& data, QWidget* parent, const RECT& rect,
                          std::span<const SinkEntry> events, void* eventObject, std::unique_ptr<CControlSite>* site);
    // Disconnects the events and releases the control.
    ~CControlSite();
    CControlSite(const CControlSite&) = delete;
    CControlSite& operator=(const CControlSite&) = delete;

    HWND GetWindow() const { return m_hwnd; }
    IDispatch* GetDispatch() const { return m_dispatch; }

private:
    CControlSite() = default;
    HRESULT Load(const DialogControlData& data);
    HRESULT Activate(QWidget* parent, const RECT& rect);
    HRESULT Connect(std::span<const SinkEntry> events, void* eventObject);

    IUnknown* m_unknown = nullptr;
    IDispatch* m_dispatch = nullptr;
    HWND m_hwnd = nullptr;
    IID m_eventIid{};
    DWORD m_cookie = 0;
};
