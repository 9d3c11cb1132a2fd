// Connection points: advising sinks and firing events to them.
#include "connpt.h"

#include <algorithm>

const EventEntry* FindEventEntry(std::span<const EventEntry> table, DISPID dispid) {
    for (const EventEntry& e : table)
        if (e.dispid == dispid) return &e;
    return nullptr;
}

CConnectionPoint::CConnectionPoint(IUnknown* owner, REFIID eventIid, std::span<const EventEntry> events)
    : m_owner(owner), m_iid(eventIid), m_events(events) {}

CConnectionPoint::~CConnectionPoint() { Close(); }

HRESULT CConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

ULONG CConnectionPoint::AddRef() { return m_owner->AddRef(); }
ULONG CConnectionPoint::Release() { return m_owner->Release(); }

HRESULT CConnectionPoint::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = m_iid;
    return S_OK;
}

HRESULT CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    return m_owner->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
}

HRESULT CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    if (m_bClosed) return CONNECT_E_CANNOTCONNECT;
    IDispatch* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(m_iid, reinterpret_cast<void**>(&sink))) || !sink)
        return CONNECT_E_CANNOTCONNECT;
    try {
        m_sinks.push_back({m_nextCookie, sink});
    } catch (...) {
        sink->Release();
        return E_OUTOFMEMORY;
    }
    *pdwCookie = m_nextCookie++;
    return S_OK;
}

HRESULT CConnectionPoint::Unadvise(DWORD dwCookie) {
    const auto it = std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Sink& s) { return s.cookie == dwCookie; });
    if (it == m_sinks.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = it->sink;
    m_sinks.erase(it);
    sink->Release();  // last: the sink's destructor may call back
    return S_OK;
}

HRESULT CConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

void CConnectionPoint::Close() {
    m_bClosed = true;
    std::vector<Sink> sinks;
    sinks.swap(m_sinks);
    for (const Sink& s : sinks) s.sink->Release();
}

bool CConnectionPoint::IsAdvised(DWORD cookie) const {
    return std::any_of(m_sinks.begin(), m_sinks.end(), [&](const Sink& s) { return s.cookie == cookie; });
}

HRESULT CConnectionPoint::FireEventV(DISPID dispid, const VARIANT* args, UINT count) {
    if (count && !args) return E_INVALIDARG;
    // Arguments of the table's types go out as they are; others are converted here, once.
    std::vector<COleVariant> converted;
    const VARIANT* values = args;
    try {
        if (!m_events.empty()) {
            const EventEntry* entry = FindEventEntry(m_events, dispid);
            if (!entry || entry->params.count != count) return E_INVALIDARG;
            for (UINT i = 0; i < count && values == args; ++i)
                if (args[i].vt != entry->params.types[i]) {
                    converted.resize(count);
                    for (UINT j = 0; j < count; ++j)
                        if (FAILED(VariantChangeType(&converted[j], &args[j], 0, entry->params.types[j])))
                            return E_INVALIDARG;
                    values = converted.data();
                }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (m_bClosed || m_sinks.empty()) return S_OK;

    std::vector<Sink> snapshot;
    std::vector<COleVariant> reversed;
    try {
        snapshot = m_sinks;
        reversed.reserve(count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (const Sink& s : snapshot) s.sink->AddRef();
    IUnknown* owner = m_owner;
    owner->AddRef();  // keeps the source, and with it this connection point, alive

    for (const Sink& s : snapshot) {
        if (!IsAdvised(s.cookie)) continue;
        // Each sink gets its own copy, last argument first (within the
        // reserved room: nothing here throws while references are held).
        reversed.clear();
        for (UINT i = count; i-- > 0;) reversed.push_back(values[i]);
        DISPPARAMS params{reversed.data(), nullptr, count, 0};
        COleVariant result;
        EXCEPINFO excepInfo{};
        UINT argErr = 0;
        s.sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excepInfo, &argErr);
        ClearExcepInfo(&excepInfo);
    }

    for (const Sink& s : snapshot) s.sink->Release();
    owner->Release();  // may destroy the source and this object: nothing after this
    return S_OK;
}

HRESULT CConnectionPoint::Find(std::span<CConnectionPoint* const> points, REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    for (CConnectionPoint* cp : points) {
        if (cp && cp->m_iid == riid) {
            cp->AddRef();
            *ppCP = cp;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}
