// The generic event sink and the advise helpers.
#include "eventsink.h"

#include <algorithm>

CEventSink::CEventSink(REFIID eventIid, void* object, std::vector<SinkEntry> entries) : m_iid(eventIid) {
    m_rows.reserve(entries.size());
    for (const SinkEntry& e : entries) m_rows.push_back({e, object});
}

CEventSink::CEventSink(REFIID eventIid, std::vector<SinkFunction> handlers)
    : m_iid(eventIid), m_functions(std::move(handlers)) {
    m_rows.reserve(m_functions.size());
    for (SinkFunction& f : m_functions)
        m_rows.push_back(
            {{f.dispid, f.params,
              [](void* call, VARIANT* args) { (*static_cast<std::function<void(VARIANT*)>*>(call))(args); }},
             &f.call});
}

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

namespace {
// The arguments as the source passed them already have the declared types (a
// VARIANT parameter is always copied: the handler may keep or change it).
bool OfDeclaredTypes(const DISPPARAMS& params, std::span<const VARTYPE> types) {
    for (UINT i = 0; i < types.size(); ++i)
        if (types[i] == VT_VARIANT || params.rgvarg[params.cArgs - 1 - i].vt != types[i]) return false;
    return true;
}
}  // namespace

HRESULT CEventSink::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const Row* row = nullptr;
    for (const Row& r : m_rows)
        if (r.entry.dispid == dispIdMember) row = &r;
    if (!row) return DISP_E_MEMBERNOTFOUND;
    if (!pDispParams) return E_INVALIDARG;
    if (pDispParams->cNamedArgs) return DISP_E_NONAMEDARGS;
    const std::span<const VARTYPE> types = row->entry.params.Span();
    if (pDispParams->cArgs != types.size()) return DISP_E_BADPARAMCOUNT;
    if (pDispParams->cArgs && !pDispParams->rgvarg) return E_INVALIDARG;
    VARIANT* args = pDispParams->rgvarg;
    std::vector<COleVariant> coerced;
    if (!OfDeclaredTypes(*pDispParams, types)) {
        const HRESULT hr = DispatchCoerceArguments(pDispParams, types, &coerced, puArgErr);
        if (FAILED(hr)) return hr;
        std::reverse(coerced.begin(), coerced.end());
        args = coerced.data();
    }
    AddRef();
    const HRESULT hr = DispatchGuardedCall(pExcepInfo, [&] {
        row->entry.handler(row->object, args);
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
