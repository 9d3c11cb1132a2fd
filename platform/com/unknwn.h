// The root interfaces: IUnknown (identity and reference counting) and
// IClassFactory (creation of a class's objects). Interfaces are abstract
// classes of pure virtual functions, so that a module and its container meet
// only through virtual function tables.
#pragma once

#include "oleauto.h"

// Declares `uuidof<I>()` for an interface: the identifier a QueryInterface for
// it passes.
#define ZIV_DECLARE_IID(Interface, iidConstant) \
    constexpr IID InterfaceIdOf(const Interface*) { return iidConstant; }

template <class I>
constexpr IID uuidof() {
    return InterfaceIdOf(static_cast<const I*>(nullptr));
}

constexpr IID IID_IUnknown = MakeGuid("{00000000-0000-0000-C000-000000000046}");
constexpr IID IID_IClassFactory = MakeGuid("{00000001-0000-0000-C000-000000000046}");

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
using LPUNKNOWN = IUnknown*;
ZIV_DECLARE_IID(IUnknown, IID_IUnknown)

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};
using LPCLASSFACTORY = IClassFactory*;
ZIV_DECLARE_IID(IClassFactory, IID_IClassFactory)

template <class I>
inline void SafeRelease(I*& p) {
    if (I* q = p) {
        p = nullptr;
        q->Release();
    }
}
