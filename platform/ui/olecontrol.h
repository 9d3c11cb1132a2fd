// The base of an embeddable control: its window and paint routine, and the
// automation a container reaches it through.
//
//  - IDispatch answered from the class's dispatch table (DECLARE_DISPATCH_MAP),
//    with the type information of its dispatch interface from the class's
//    type library (GetTypeLib), both named by InitializeIIDs.
//  - One connection point, for the event interface: FireEvent calls every
//    advised sink synchronously, with the types of the class's event table.
//  - Persistence through IPersistStreamInit and IPersistPropertyBag, both
//    driven by DoPropExchange (propexch.h): the version, the extent and the
//    stock properties (there are none here; their mask is saved as 0).
//  - IOleObject: the verbs (Edit activates the control in its container's
//    window, Properties opens the property frame with GetPropPageIDs), the
//    extent in HIMETRIC and the miscellaneous status.
//
// A control is a COM object that starts with one reference, its creator's. A
// container that drops the last reference from inside an event (the control's
// own code is still running below it) does not destroy it at once: the
// control stops firing events and goes from the event loop.
#pragma once

#include <memory>
#include <span>

#include "connpt.h"
#include "cwnd.h"
#include "dispmap.h"
#include "oleidl.h"
#include "propexch.h"

// In a control's class: declares its dispatch table, defined beside it as
//   std::span<const DispatchEntry> CThingCtrl::GetDispatchMap() const { return kDispatchMap; }
#define DECLARE_DISPATCH_MAP()                                      \
protected:                                                          \
    std::span<const DispatchEntry> GetDispatchMap() const override; \
    void* GetDispatchTarget() override { return this; }

// In a control's class: declares its event table.
#define DECLARE_EVENT_MAP() \
protected:                  \
    std::span<const EventEntry> GetEventMap() const override;

class COleControl
    : public CWnd,
      public CComObjectImpl<IDispatch, IConnectionPointContainer, IPersistStreamInit, IPersistPropertyBag, IOleObject,
                            IOleWindow, IProvideClassInfo2> {
public:
    // The flags a control reports from GetControlFlags.
    enum ControlFlags : DWORD {
        fastBeginPaint = 0x0001,
        clipPaintDC = 0x0002,
        pointerInactive = 0x0004,
        noFlickerActivate = 0x0008,
        windowlessActivate = 0x0010,
        canOptimizeDraw = 0x0020,
    };

    COleControl();
    ~COleControl() override;

    IUnknown* GetControllingUnknown() { return GetUnknown(); }
    LPDISPATCH GetIDispatch(BOOL bAddRef);

    // IDispatch
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    // IConnectionPointContainer (no enumeration)
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    // IPersist: the control's class overrides it; here E_NOTIMPL.
    HRESULT GetClassID(CLSID* pClassID) override;
    // IPersistStreamInit
    HRESULT IsDirty() override;
    HRESULT Load(LPSTREAM pStm) override;
    HRESULT Save(LPSTREAM pStm, BOOL fClearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* pCbSize) override;
    HRESULT InitNew() override;  // also IPersistPropertyBag's
    // IPersistPropertyBag
    HRESULT Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
    HRESULT Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) override;
    // IOleObject
    HRESULT DoVerb(LONG iVerb, HWND hwndParent, LPCRECT lprcPosRect) override;
    HRESULT GetUserClassID(CLSID* pClsid) override;
    HRESULT SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    HRESULT GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    HRESULT GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    // IOleWindow: the control's window once a verb made it (E_FAIL before).
    HRESULT GetWindow(HWND* phwnd) override;
    // IProvideClassInfo2: the class's entry of the type library, and the
    // event interface.
    HRESULT GetClassInfo(ITypeInfo** ppTI) override;
    HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

    // The container's request for the control's window, as a child of `parent`
    // at `rcPos` (parent coordinates).
    BOOL CreateControlWindow(QWidget* parent, const CRect& rcPos);

    void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified ? TRUE : FALSE; }
    BOOL IsModified() const { return m_bModified; }

    virtual DWORD GetControlFlags();
    // OLEMISC_ flags; none here.
    virtual DWORD GetMiscStatus();

    // The size a new control has (and a reset gives it), in pixels; the
    // extent is kept in HIMETRIC at 96 pixels per inch.
    void SetInitialSize(int cx, int cy);
    void GetControlSize(int* pcx, int* pcy) const;

    // Draws the control into any device context at `bounds` (a container
    // without a window for the control, e.g. one drawing into an image).
    void DrawContent(CDC* dc, const CRect& bounds) { OnDraw(dc, bounds, bounds); }

protected:
    // Names the dispatch interface (whose type information GetTypeInfo gives
    // and which QueryInterface answers as IDispatch) and the event interface
    // (the connection point's). Called in the control's constructor.
    void InitializeIIDs(const IID* piidPrimary, const IID* piidEvents);

    // Calls event `dispid` on every advised sink, arguments in declaration order.
    template <class... Args>
    void FireEvent(DISPID dispid, const Args&... args) {
        const COleVariant values[] = {COleVariant(), COleVariant(args)...};
        FireEventV(dispid, values + 1, sizeof...(Args));
    }
    void FireEventV(DISPID dispid, const VARIANT* args, UINT count);

    // The tables of the control's class (DECLARE_DISPATCH_MAP, DECLARE_EVENT_MAP);
    // GetDispatchTarget is the object the dispatch table's members belong to.
    virtual std::span<const DispatchEntry> GetDispatchMap() const;
    virtual void* GetDispatchTarget();
    virtual std::span<const EventEntry> GetEventMap() const;
    // The type library that describes the dispatch interface; asked once.
    virtual HRESULT GetTypeLib(LCID lcid, LPTYPELIB* ppTypeLib);
    // The class identifiers of the control's property pages.
    virtual std::span<const CLSID> GetPropPageIDs() const;

    // The control's saved state. The base exchanges the extent and the stock
    // properties; a control exchanges its version first (ExchangeVersion).
    virtual void DoPropExchange(CPropExchange* pPX);
    // Back to the defaults: DoPropExchange with a resetting exchange.
    virtual void OnResetState();
    BOOL ExchangeVersion(CPropExchange* pPX, DWORD dwVersionDefault, BOOL bConvert = TRUE);
    BOOL ExchangeExtent(CPropExchange* pPX);
    void ExchangeStockProps(CPropExchange* pPX);

    // The verbs. Edit: the window is shown, created first as a child of
    // hWndParent at lpRect (the extent's size at 0, 0 without one); FALSE
    // when there is no window and no parent. Properties: the property frame.
    virtual BOOL OnEdit(HWND hWndParent, LPCRECT lpRect);
    virtual BOOL OnProperties(HWND hWndParent);

    virtual void OnDraw(CDC* dc, const CRect& rcBounds, const CRect& rcInvalid);
    void OnPaint(CDC* dc, const CRect& invalid) override;

    void* QueryExtraInterface(REFIID riid) override;
    void OnFinalRelease() override;

private:
    ITypeLib* TypeLib();
    template <class Exchange, class Medium>
    HRESULT LoadFrom(Medium* medium, IErrorLog* log);
    void ApplyExtentToWindow();

    IID m_iidPrimary{};
    IID m_iidEvents{};
    bool m_bHaveIIDs = false;
    std::unique_ptr<CConnectionPoint> m_pEventCP;
    ITypeLib* m_pTypeLib = nullptr;
    int m_nFiring = 0;  // FireEvent calls under way
    bool m_bDeletePending = false;
    BOOL m_bModified = FALSE;
    DWORD m_dwVersionLoaded = 0;
    SIZEL m_extent{};
    SIZEL m_initialExtent{};
};
