// The generic event sink and the advise helpers.
#include "eventsink.h"

CEventSink::CEventSink(REFIID eventIid, std::vector<SinkEntry> handlers)
    : m_iid(eventIid), m_handlers(std::move(handlers)) {}

void* CEventSink::QueryExtraInterface(REFIID riid) { return riid == m_iid ? static_cast<IDispatch*>(this) : nullptr; }

HRESULT CEventSink::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT CEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT CEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT CEventSink::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const SinkEntry* entry = nullptr;
    for (const SinkEntry& e : m_handlers)
        if (e.dispid == dispIdMember) entry = &e;
    if (!entry) return DISP_E_MEMBERNOTFOUND;
    if (pDispParams && pDispParams->cNamedArgs) return DISP_E_NONAMEDARGS;
    std::vector<COleVariant> args;
    HRESULT hr = DispatchCoerceArguments(pDispParams, entry->params.Span(), &args, puArgErr);
    if (FAILED(hr)) return hr;
    AddRef();
    hr = DispatchGuardedCall(pExcepInfo, [&] {
        entry->handler(args.data());
        return S_OK;
    });
    Release();
    return hr;
}

namespace {

// The source's connection point for `eventIid` (a reference the caller releases).
HRESULT FindPoint(IUnknown* source, REFIID eventIid, IConnectionPoint** point) {
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hr;
    hr = container->FindConnectionPoint(eventIid, point);
    container->Release();
    return hr;
}

}  // namespace

HRESULT AdviseSink(IUnknown* source, REFIID eventIid, IUnknown* sink, DWORD* cookie) {
    if (cookie) *cookie = 0;
    if (!source || !sink || !cookie) return E_POINTER;
    IConnectionPoint* point = nullptr;
    HRESULT hr = FindPoint(source, eventIid, &point);
    if (FAILED(hr)) return hr;
    hr = point->Advise(sink, cookie);
    point->Release();
    return hr;
}

HRESULT UnadviseSink(IUnknown* source, REFIID eventIid, DWORD cookie) {
    if (!source) return E_POINTER;
    IConnectionPoint* point = nullptr;
    HRESULT hr = FindPoint(source, eventIid, &point);
    if (FAILED(hr)) return hr;
    hr = point->Unadvise(cookie);
    point->Release();
    return hr;
}
