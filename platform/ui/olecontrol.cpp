// The control base: window and paint, dispatch, events, persistence, verbs.
#include "olecontrol.h"

#include <QCoreApplication>
#include <QPainter>
#include <QWidget>
#include <type_traits>

#include "objidl.h"
#include "proppage.h"

namespace {
constexpr int kPixelsPerInch = 96;
constexpr int kHimetricPerInch = 2540;
// A new control is 100 x 50 pixels unless its class says otherwise.
constexpr int kDefaultWidth = 100;
constexpr int kDefaultHeight = 50;

LONG PixelsToHimetric(LONG pixels) { return MulDiv(pixels, kHimetricPerInch, kPixelsPerInch); }
LONG HimetricToPixels(LONG himetric) { return MulDiv(himetric, kPixelsPerInch, kHimetricPerInch); }
}  // namespace

COleControl::COleControl() { SetInitialSize(kDefaultWidth, kDefaultHeight); }

COleControl::~COleControl() {
    if (m_pEventCP) m_pEventCP->Close();
    SafeRelease(m_pTypeLib);
}

LPDISPATCH COleControl::GetIDispatch(BOOL bAddRef) {
    IDispatch* dispatch = this;
    if (bAddRef) dispatch->AddRef();
    return dispatch;
}

void COleControl::InitializeIIDs(const IID* piidPrimary, const IID* piidEvents) {
    if (piidPrimary) {
        m_iidPrimary = *piidPrimary;
        m_bHaveIIDs = true;
    }
    if (piidEvents) {
        m_iidEvents = *piidEvents;
        m_pEventCP = std::make_unique<CConnectionPoint>(GetUnknown(), *piidEvents, GetEventMap());
    }
}

HRESULT COleControl::GetWindow(HWND* phwnd) {
    if (!phwnd) return E_POINTER;
    *phwnd = GetSafeHwnd();
    return *phwnd ? S_OK : E_FAIL;
}

HRESULT COleControl::GetClassInfo(ITypeInfo** ppTI) {
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    CLSID clsid{};
    if (FAILED(GetClassID(&clsid))) return E_NOTIMPL;
    ITypeLib* lib = TypeLib();
    return lib ? lib->GetTypeInfoOfGuid(clsid, ppTI) : E_NOTIMPL;
}

HRESULT COleControl::GetGUID(DWORD dwGuidKind, GUID* pGUID) {
    if (!pGUID) return E_POINTER;
    *pGUID = GUID{};
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    if (!m_pEventCP) return E_NOTIMPL;
    *pGUID = m_iidEvents;
    return S_OK;
}

void* COleControl::QueryExtraInterface(REFIID riid) {
    return m_bHaveIIDs && riid == m_iidPrimary ? static_cast<IDispatch*>(this) : nullptr;
}

void COleControl::OnFinalRelease() {
    if (m_bDeletePending) return;
    if (m_nFiring == 0) {
        delete this;
        return;
    }
    // A sink let go of the last reference inside an event. The code that
    // fired it still runs on this object (and the socket or window event
    // below it on its members), so the control goes later, from the event
    // loop; until then nobody hears from it.
    m_bDeletePending = true;
    if (m_pEventCP) m_pEventCP->Close();
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [this] { delete this; }, Qt::QueuedConnection);
    // Without an application there is no event loop, nor any event source
    // that could have got here: the object is kept rather than freed under
    // its own feet.
}

void COleControl::FireEventV(DISPID dispid, const VARIANT* args, UINT count) {
    if (!m_pEventCP || m_bDeletePending) return;
    ++m_nFiring;
    m_pEventCP->FireEventV(dispid, args, count);
    --m_nFiring;
}

// --- IDispatch -------------------------------------------------------------

std::span<const DispatchEntry> COleControl::GetDispatchMap() const { return {}; }
void* COleControl::GetDispatchTarget() { return this; }
std::span<const EventEntry> COleControl::GetEventMap() const { return {}; }
HRESULT COleControl::GetTypeLib(LCID, LPTYPELIB* ppTypeLib) {
    if (ppTypeLib) *ppTypeLib = nullptr;
    return E_NOTIMPL;
}

ITypeLib* COleControl::TypeLib() {
    if (!m_pTypeLib && FAILED(GetTypeLib(LOCALE_USER_DEFAULT, &m_pTypeLib))) m_pTypeLib = nullptr;
    return m_pTypeLib;
}

HRESULT COleControl::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = m_bHaveIIDs ? 1 : 0;
    return S_OK;
}

HRESULT COleControl::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0 || !m_bHaveIIDs) return DISP_E_BADINDEX;
    ITypeLib* lib = TypeLib();
    if (!lib) return TYPE_E_LIBNOTREGISTERED;
    return lib->GetTypeInfoOfGuid(m_iidPrimary, ppTInfo);
}

HRESULT COleControl::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispatchGetIDsOfNames(GetDispatchMap(), rgszNames, cNames, rgDispId);
}

HRESULT COleControl::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                            VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return DispatchInvoke(GetDispatchMap(), GetDispatchTarget(), dispIdMember, riid, wFlags, pDispParams, pVarResult,
                          pExcepInfo, puArgErr);
}

// --- Connection points -----------------------------------------------------

HRESULT COleControl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT COleControl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    CConnectionPoint* const points[] = {m_pEventCP.get()};
    return CConnectionPoint::Find(points, riid, ppCP);
}

// --- Persistence -----------------------------------------------------------

HRESULT COleControl::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_NULL;
    return E_NOTIMPL;
}

HRESULT COleControl::IsDirty() { return m_bModified ? S_OK : S_FALSE; }

template <class Exchange, class Medium>
HRESULT COleControl::LoadFrom(Medium* medium, IErrorLog* log) {
    if (!medium) return E_POINTER;
    HRESULT hr;
    if constexpr (std::is_same_v<Exchange, CPropbagPropExchange>) {
        Exchange px(medium, log, TRUE);
        DoPropExchange(&px);
        hr = px.GetResult();
    } else {
        Exchange px(medium, TRUE);
        DoPropExchange(&px);
        hr = px.GetResult();
    }
    // Half a state is no state: a load that fails leaves the defaults.
    if (FAILED(hr)) OnResetState();
    SetModifiedFlag(FALSE);
    return hr;
}

HRESULT COleControl::Load(LPSTREAM pStm) { return LoadFrom<CStreamPropExchange>(pStm, nullptr); }

HRESULT COleControl::Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) {
    return LoadFrom<CPropbagPropExchange>(pPropBag, pErrorLog);
}

HRESULT COleControl::Save(LPSTREAM pStm, BOOL fClearDirty) {
    if (!pStm) return E_POINTER;
    CStreamPropExchange px(pStm, FALSE);
    DoPropExchange(&px);
    if (FAILED(px.GetResult())) return px.GetResult();
    if (fClearDirty) SetModifiedFlag(FALSE);
    return S_OK;
}

HRESULT COleControl::Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL) {
    if (!pPropBag) return E_POINTER;
    CPropbagPropExchange px(pPropBag, nullptr, FALSE);
    DoPropExchange(&px);
    if (FAILED(px.GetResult())) return px.GetResult();
    if (fClearDirty) SetModifiedFlag(FALSE);
    return S_OK;
}

HRESULT COleControl::GetSizeMax(ULARGE_INTEGER* pCbSize) {
    if (!pCbSize) return E_POINTER;
    // What a save writes now: the stream layout has no values of varying size.
    IStream* stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(hr)) return hr;
    CStreamPropExchange px(stream, FALSE);
    DoPropExchange(&px);
    hr = px.GetResult();
    STATSTG stat{};
    if (SUCCEEDED(hr)) hr = stream->Stat(&stat, STATFLAG_NONAME);
    stream->Release();
    if (SUCCEEDED(hr)) *pCbSize = stat.cbSize;
    return hr;
}

HRESULT COleControl::InitNew() {
    OnResetState();
    SetModifiedFlag(FALSE);
    return S_OK;
}

void COleControl::DoPropExchange(CPropExchange* pPX) {
    ExchangeExtent(pPX);
    ExchangeStockProps(pPX);
}

void COleControl::OnResetState() {
    CResetPropExchange px;
    DoPropExchange(&px);
}

BOOL COleControl::ExchangeVersion(CPropExchange* pPX, DWORD dwVersionDefault, BOOL bConvert) {
    return pPX->ExchangeVersion(m_dwVersionLoaded, dwVersionDefault, bConvert);
}

BOOL COleControl::ExchangeExtent(CPropExchange* pPX) {
    SIZEL extent = m_extent;
    const BOOL ok = PX_Long(pPX, "_ExtentX", extent.cx, m_initialExtent.cx) &&
                    PX_Long(pPX, "_ExtentY", extent.cy, m_initialExtent.cy);
    if (ok && pPX->IsLoading() && extent.cx >= 0 && extent.cy >= 0) {
        m_extent = extent;
        ApplyExtentToWindow();
    }
    return ok;
}

void COleControl::ExchangeStockProps(CPropExchange* pPX) {
    // The mask of stock properties saved after it: none.
    LONG stockProps = 0;
    PX_Long(pPX, "_StockProps", stockProps, 0);
}

// --- Extent, verbs, status -------------------------------------------------

void COleControl::SetInitialSize(int cx, int cy) {
    m_initialExtent = SIZEL{PixelsToHimetric(cx), PixelsToHimetric(cy)};
    m_extent = m_initialExtent;
}

void COleControl::GetControlSize(int* pcx, int* pcy) const {
    if (pcx) *pcx = HimetricToPixels(m_extent.cx);
    if (pcy) *pcy = HimetricToPixels(m_extent.cy);
}

void COleControl::ApplyExtentToWindow() {
    if (!GetSafeHwnd()) return;
    int cx = 0, cy = 0;
    GetControlSize(&cx, &cy);
    SetWindowPos(nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
}

HRESULT COleControl::SetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT || psizel->cx < 0 || psizel->cy < 0) return E_INVALIDARG;
    if (psizel->cx != m_extent.cx || psizel->cy != m_extent.cy) {
        m_extent = *psizel;
        ApplyExtentToWindow();
        SetModifiedFlag();
    }
    return S_OK;
}

HRESULT COleControl::GetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT) return E_INVALIDARG;
    *psizel = m_extent;
    return S_OK;
}

DWORD COleControl::GetMiscStatus() { return 0; }

HRESULT COleControl::GetMiscStatus(DWORD, DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    *pdwStatus = GetMiscStatus();
    return S_OK;
}

HRESULT COleControl::GetUserClassID(CLSID* pClsid) { return GetClassID(pClsid); }

std::span<const CLSID> COleControl::GetPropPageIDs() const { return {}; }

HRESULT COleControl::DoVerb(LONG iVerb, HWND hwndParent, LPCRECT lprcPosRect) {
    switch (iVerb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE: return OnEdit(hwndParent, lprcPosRect) ? S_OK : E_FAIL;
    case OLEIVERB_PROPERTIES: return OnProperties(hwndParent) ? S_OK : E_FAIL;
    case OLEIVERB_HIDE: ShowWindow(SW_HIDE); return S_OK;
    default: return E_NOTIMPL;
    }
}

BOOL COleControl::OnEdit(HWND hWndParent, LPCRECT lpRect) {
    if (GetSafeHwnd()) {
        if (lpRect)
            SetWindowPos(nullptr, lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top,
                         SWP_NOZORDER);
        ShowWindow(SW_SHOW);
        return TRUE;
    }
    if (!hWndParent) return FALSE;
    int cx = 0, cy = 0;
    GetControlSize(&cx, &cy);
    return CreateControlWindow(hWndParent, lpRect ? CRect(*lpRect) : CRect(0, 0, cx, cy));
}

BOOL COleControl::OnProperties(HWND hWndParent) {
    const std::span<const CLSID> pages = GetPropPageIDs();
    if (pages.empty()) return FALSE;
    IUnknown* self = GetUnknown();
    return SUCCEEDED(
        OleCreatePropertyFrame(hWndParent, 0, 0, nullptr, 1, &self, ULONG(pages.size()), pages.data(), 0, 0, nullptr));
}

// --- Window ------------------------------------------------------------------

BOOL COleControl::CreateControlWindow(QWidget* parent, const CRect& rcPos) { return Create(parent, rcPos); }

DWORD COleControl::GetControlFlags() { return clipPaintDC; }

void COleControl::OnDraw(CDC*, const CRect&, const CRect&) {}

void COleControl::OnPaint(CDC* dc, const CRect& invalid) {
    CRect bounds;
    GetClientRect(&bounds);
    if ((GetControlFlags() & clipPaintDC) && dc->Painter())
        dc->Painter()->setClipRect(QRect(bounds.left, bounds.top, bounds.Width(), bounds.Height()), Qt::IntersectClip);
    OnDraw(dc, bounds, invalid);
}
