// Embedded controls: creation, saved state, in-place activation, events.
#include "controlsite.h"

#include <QWidget>
#include <string>

#include "objbase.h"
#include "oleidl.h"
#include "propbag.h"

namespace {
bool& ControlContainerEnabled() {
    static bool enabled = false;
    return enabled;
}
}  // namespace

void AfxEnableControlContainer() { ControlContainerEnabled() = true; }

HRESULT CControlSite::Create(const DialogControlData& data, QWidget* parent, const RECT& rect,
                             std::span<const SinkEntry> events, void* eventObject,
                             std::unique_ptr<CControlSite>* site) {
    if (!site) return E_POINTER;
    site->reset();
    if (!ControlContainerEnabled()) return E_NOTIMPL;
    std::unique_ptr<CControlSite> made(new CControlSite);
    HRESULT hr = CoCreateInstance(data.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&made->m_unknown));
    if (SUCCEEDED(hr)) hr = made->Load(data);
    if (SUCCEEDED(hr)) hr = made->Activate(parent, rect);
    if (SUCCEEDED(hr)) hr = made->Connect(events, eventObject);
    if (FAILED(hr)) return hr;
    *site = std::move(made);
    return S_OK;
}

CControlSite::~CControlSite() {
    if (m_cookie) UnadviseSink(m_unknown, m_eventIid, m_cookie);
    if (m_dispatch) m_dispatch->Release();
    if (m_unknown) m_unknown->Release();
}

HRESULT CControlSite::Load(const DialogControlData& data) {
    IPersistPropertyBag* persist = nullptr;
    if (FAILED(m_unknown->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist)))) return S_OK;
    auto* bag = new CMemoryPropertyBag;
    for (const DialogControlProperty& p : data.state) {
        COleVariant value(p.value);
        const std::u16string name = OleStringFromUtf8(p.name);
        bag->Write(name.c_str(), &value);
    }
    const HRESULT hr = data.state.empty() ? persist->InitNew() : persist->Load(bag, nullptr);
    bag->Release();
    persist->Release();
    return hr;
}

HRESULT CControlSite::Activate(QWidget* parent, const RECT& rect) {
    IOleObject* ole = nullptr;
    HRESULT hr = m_unknown->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
    if (FAILED(hr)) return hr;
    hr = ole->DoVerb(OLEIVERB_INPLACEACTIVATE, parent, &rect);
    ole->Release();
    if (FAILED(hr)) return hr;
    IOleWindow* oleWindow = nullptr;
    hr = m_unknown->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&oleWindow));
    if (SUCCEEDED(hr)) {
        hr = oleWindow->GetWindow(&m_hwnd);
        oleWindow->Release();
    }
    if (FAILED(hr) || !m_hwnd) return FAILED(hr) ? hr : E_FAIL;
    m_unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_dispatch));
    return S_OK;
}

HRESULT CControlSite::Connect(std::span<const SinkEntry> events, void* eventObject) {
    if (events.empty()) return S_OK;
    IProvideClassInfo2* info = nullptr;
    HRESULT hr = m_unknown->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info));
    if (SUCCEEDED(hr)) {
        hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &m_eventIid);
        info->Release();
    }
    if (FAILED(hr)) return hr;
    auto* sink = new CEventSink(m_eventIid, eventObject, {events.begin(), events.end()});
    hr = AdviseSink(m_unknown, m_eventIid, sink, &m_cookie);
    sink->Release();
    return hr;
}
