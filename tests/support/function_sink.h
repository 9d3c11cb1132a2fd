// A container's event sink for tests: every event of the source's event
// interface, whatever its identifier, goes to one function with its first
// argument as a long. It is advised through the source's connection point,
// the one road events take.
#pragma once

#include <functional>
#include <utility>

#include "eventsink.h"

class FunctionSink final : public CComObjectImpl<IDispatch> {
public:
    using Handler = std::function<void(DISPID dispid, LONG value)>;
    FunctionSink(REFIID eventIid, Handler handler) : m_iid(eventIid), m_handler(std::move(handler)) {}

    HRESULT GetTypeInfoCount(UINT* pctinfo) override {
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        COleVariant value;
        if (params && params->cArgs > 0) VariantChangeType(&value, &params->rgvarg[params->cArgs - 1], 0, VT_I4);
        AddRef();  // the handler may unadvise this sink
        m_handler(dispid, value.vt == VT_I4 ? value.lVal : 0);
        Release();
        return S_OK;
    }

    // Advises a new sink with `handler` on `source`'s events; the connection
    // holds the sink. The cookie, 0 on failure.
    static DWORD Advise(IUnknown* source, REFIID eventIid, Handler handler) {
        auto* sink = new FunctionSink(eventIid, std::move(handler));
        DWORD cookie = 0;
        AdviseSink(source, eventIid, sink, &cookie);
        sink->Release();
        return cookie;
    }

protected:
    void* QueryExtraInterface(REFIID riid) override { return riid == m_iid ? static_cast<IDispatch*>(this) : nullptr; }

private:
    IID m_iid;
    Handler m_handler;
};
