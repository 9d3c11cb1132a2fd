// The container's side of events: a sink object for one event interface that
// routes each event, by dispatch identifier, to a handler from a table, and
// helpers to connect it to a source's connection point.
//
// A table of constant rows (a dialog's event sink table), each handler given
// the one object the rows belong to:
//   new CEventSink(kEventIid, dialog, rows);
// or handlers as callables:
//   CEventSink* sink = new CEventSink(kEventIid, {
//       SinkHandler<VT_I4>(1, [this](LONG status) { OnPictureReady(status); }),
//   });
//   AdviseSink(control, kEventIid, sink, &cookie);
//   sink->Release();
//
// Arguments that arrive with the declared types reach the handler as the
// source passed them, uncopied; others are coerced once, into the sink.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "dispmap.h"

struct SinkEntry {
    DISPID dispid;
    VarTypeList params;  // declaration order
    // `args` last first, as DISPPARAMS carries them, each of its declared type.
    void (*handler)(void* object, VARIANT* args);
};

// A handler that is a callable rather than a row of a table.
struct SinkFunction {
    DISPID dispid;
    VarTypeList params;
    std::function<void(VARIANT* args)> call;  // args as for SinkEntry::handler
};

namespace dispatch_detail {
template <class F>
struct CallableTraits : CallableTraits<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) const> {
    using Args = std::tuple<A...>;
};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...)> {
    using Args = std::tuple<A...>;
};
}  // namespace dispatch_detail

// A handler for event `dispid` whose parameters have the types Params; `f`
// takes them as C++ values (the conversions of dispatch tables).
template <VARTYPE... Params, class F>
SinkFunction SinkHandler(DISPID dispid, F f) {
    using Args = typename dispatch_detail::CallableTraits<F>::Args;
    return {dispid, MakeVarTypeList<Params...>(), [f = std::move(f)](VARIANT* args) mutable {
                dispatch_detail::CallConvertedLastFirst<Args, Params...>(f, args);
            }};
}

// Answers QueryInterface for IUnknown, IDispatch and the event interface.
// Events without a handler give DISP_E_MEMBERNOTFOUND, which sources ignore.
// The sink holds itself while a handler runs, so a handler may unadvise and
// release it.
class CEventSink final : public CComObjectImpl<IDispatch> {
public:
    // `object` must outlive the sink's connection.
    CEventSink(REFIID eventIid, void* object, std::vector<SinkEntry> entries);
    CEventSink(REFIID eventIid, std::vector<SinkFunction> handlers);

    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

protected:
    void* QueryExtraInterface(REFIID riid) override;

private:
    struct Row {
        SinkEntry entry;
        void* object;
    };
    IID m_iid;
    std::vector<SinkFunction> m_functions;  // the objects of their rows
    std::vector<Row> m_rows;
};

// Finds the source's connection point for `eventIid` and advises `sink`.
HRESULT AdviseSink(IUnknown* source, REFIID eventIid, IUnknown* sink, DWORD* cookie);
HRESULT UnadviseSink(IUnknown* source, REFIID eventIid, DWORD cookie);
