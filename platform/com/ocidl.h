// Control interfaces: connection points (how a container sinks a component's
// events) and persistence through streams and property bags.
#pragma once

#include "oaidl.h"
#include "objidl.h"

constexpr IID IID_IConnectionPointContainer = MakeGuid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
constexpr IID IID_IEnumConnectionPoints = MakeGuid("{B196B285-BAB4-101A-B69C-00AA00341D07}");
constexpr IID IID_IConnectionPoint = MakeGuid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
constexpr IID IID_IEnumConnections = MakeGuid("{B196B287-BAB4-101A-B69C-00AA00341D07}");
constexpr IID IID_IPersist = MakeGuid("{0000010C-0000-0000-C000-000000000046}");
constexpr IID IID_IPersistStreamInit = MakeGuid("{7FD52380-4E07-101B-AE2D-08002B2EC713}");
constexpr IID IID_IPersistPropertyBag = MakeGuid("{37D84F60-42CB-11CE-8135-00AA004BB851}");
constexpr IID IID_IPropertyBag = MakeGuid("{55272A00-42CB-11CE-8135-00AA004BB851}");
constexpr IID IID_IErrorLog = MakeGuid("{3127CA40-446E-11CE-8135-00AA004BB851}");

struct IConnectionPoint;
struct IConnectionPointContainer;
// Enumerations are not offered (E_NOTIMPL); the types exist for the signatures.
struct IEnumConnections;
struct IEnumConnectionPoints;

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};
using LPCONNECTIONPOINT = IConnectionPoint*;
ZIV_DECLARE_IID(IConnectionPoint, IID_IConnectionPoint)

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};
using LPCONNECTIONPOINTCONTAINER = IConnectionPointContainer*;
ZIV_DECLARE_IID(IConnectionPointContainer, IID_IConnectionPointContainer)

struct IErrorLog : IUnknown {
    virtual HRESULT AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;
};
ZIV_DECLARE_IID(IErrorLog, IID_IErrorLog)

struct IPropertyBag : IUnknown {
    // pVar->vt on entry: the wanted type (VT_EMPTY: as stored). E_INVALIDARG
    // when there is no such property.
    virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};
ZIV_DECLARE_IID(IPropertyBag, IID_IPropertyBag)

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
};
ZIV_DECLARE_IID(IPersist, IID_IPersist)

struct IPersistStreamInit : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(LPSTREAM pStm) = 0;
    virtual HRESULT Save(LPSTREAM pStm, BOOL fClearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* pCbSize) = 0;
    virtual HRESULT InitNew() = 0;
};
ZIV_DECLARE_IID(IPersistStreamInit, IID_IPersistStreamInit)

struct IPersistPropertyBag : IPersist {
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) = 0;
};
ZIV_DECLARE_IID(IPersistPropertyBag, IID_IPersistPropertyBag)
