// Reference counting and QueryInterface for objects that implement one or
// more interfaces: class CThing final : public CComObjectImpl<IDispatch, IPersist>.
// A new object starts with one reference, owned by whoever created it.
#pragma once

#include <atomic>

#include "ocidl.h"

// Which identifiers an interface answers: its own and those of its bases.
constexpr bool InterfaceMatches(const IUnknown*, REFIID riid) { return riid == IID_IUnknown; }
#define ZIV_INTERFACE_BASE(Interface, Base)                                                              \
    constexpr bool InterfaceMatches(const Interface*, REFIID riid) {                                     \
        return riid == uuidof<Interface>() || InterfaceMatches(static_cast<const Base*>(nullptr), riid); \
    }
ZIV_INTERFACE_BASE(IClassFactory, IUnknown)
ZIV_INTERFACE_BASE(IDispatch, IUnknown)
ZIV_INTERFACE_BASE(ITypeInfo, IUnknown)
ZIV_INTERFACE_BASE(ITypeLib, IUnknown)
ZIV_INTERFACE_BASE(ISequentialStream, IUnknown)
ZIV_INTERFACE_BASE(IStream, ISequentialStream)
ZIV_INTERFACE_BASE(IConnectionPoint, IUnknown)
ZIV_INTERFACE_BASE(IConnectionPointContainer, IUnknown)
ZIV_INTERFACE_BASE(IErrorLog, IUnknown)
ZIV_INTERFACE_BASE(IPropertyBag, IUnknown)
ZIV_INTERFACE_BASE(IPersist, IUnknown)
ZIV_INTERFACE_BASE(IPersistStreamInit, IPersist)
ZIV_INTERFACE_BASE(IPersistPropertyBag, IPersist)

template <class First, class... Rest>
class CComObjectImpl : public First, public Rest... {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = FindInterface(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG left = --m_cRef;
        if (left == 0) OnFinalRelease();
        return left;
    }

    // The object's identity, for code that holds it as several interfaces.
    IUnknown* GetUnknown() { return static_cast<First*>(this); }

protected:
    CComObjectImpl() = default;
    virtual ~CComObjectImpl() = default;
    CComObjectImpl(const CComObjectImpl&) = delete;
    CComObjectImpl& operator=(const CComObjectImpl&) = delete;

    // Identifiers the object answers besides those of its interfaces (say,
    // the event interface of a sink that is an IDispatch).
    virtual void* QueryExtraInterface(REFIID) { return nullptr; }
    // Runs when the last reference goes. An object that may lose it while
    // its own code is still on the stack defers the deletion here.
    virtual void OnFinalRelease() { delete this; }

private:
    void* FindInterface(REFIID riid) {
        if (riid == IID_IUnknown) return GetUnknown();
        void* found = Match<First>(riid);
        ((found = found ? found : Match<Rest>(riid)), ...);
        return found ? found : QueryExtraInterface(riid);
    }
    template <class I>
    void* Match(REFIID riid) {
        return InterfaceMatches(static_cast<const I*>(nullptr), riid) ? static_cast<I*>(this) : nullptr;
    }

    std::atomic<ULONG> m_cRef{1};
};
