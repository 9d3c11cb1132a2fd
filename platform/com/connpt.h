// Outgoing events: an event table (what a source fires) and the connection
// point through which containers advise their sinks. Firing is synchronous:
// every sink advised when the event starts has been called when FireEvent
// returns.
#pragma once

#include <span>
#include <vector>

#include "dispmap.h"

struct EventEntry {
    const char* name;
    DISPID dispid;
    VarTypeList params;  // declaration order
};

template <VARTYPE... Params>
constexpr EventEntry DispEvent(const char* name, DISPID dispid) {
    return {name, dispid, MakeVarTypeList<Params...>()};
}

const EventEntry* FindEventEntry(std::span<const EventEntry> table, DISPID dispid);

// One connection point, embedded in the source object that owns it: its
// AddRef and Release go to the owner, so a container that holds it holds the
// source. Sinks must answer QueryInterface for the event interface with an
// IDispatch; each gets a reference while advised.
//
// Sinks may unadvise themselves or others, advise new ones and drop the last
// reference to the source from inside an event: firing holds the source and a
// snapshot of the sinks, skips those unadvised meanwhile and does not call
// sinks advised during the event. Not to be fired from the owner's
// constructor or destructor; the owner calls Close() first when it goes away.
class CConnectionPoint final : public IConnectionPoint {
public:
    CConnectionPoint(IUnknown* owner, REFIID eventIid, std::span<const EventEntry> events = {});
    ~CConnectionPoint();
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    UINT GetConnectionCount() const { return static_cast<UINT>(m_sinks.size()); }

    // `args` in declaration order, coerced to the event table's types (when
    // the table is not empty). E_INVALIDARG: the event or its arguments do
    // not match the table, nothing was fired. What sinks return is ignored.
    HRESULT FireEventV(DISPID dispid, const VARIANT* args, UINT count);
    template <class... Args>
    HRESULT FireEvent(DISPID dispid, const Args&... args) {
        const COleVariant values[] = {COleVariant(), COleVariant(args)...};
        return FireEventV(dispid, values + 1, sizeof...(Args));
    }

    // Drops every sink; later advises and events are refused.
    void Close();

    // FindConnectionPoint over the connection points of one source.
    static HRESULT Find(std::span<CConnectionPoint* const> points, REFIID riid, IConnectionPoint** ppCP);

private:
    struct Sink {
        DWORD cookie;
        IDispatch* sink;
    };
    bool IsAdvised(DWORD cookie) const;

    IUnknown* m_owner;
    IID m_iid;
    std::span<const EventEntry> m_events;
    std::vector<Sink> m_sinks;
    DWORD m_nextCookie = 1;
    bool m_bClosed = false;
};
