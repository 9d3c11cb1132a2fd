// The interfaces through which a container embeds a control and shows its
// property pages, as far as the control and its property frame use them:
// IOleObject (verbs, extent, miscellaneous status) and IPropertyPage.
#pragma once

#include "comobject.h"
#include "cwnd.h"

constexpr IID IID_IOleObject = MakeGuid("{00000112-0000-0000-C000-000000000046}");
constexpr IID IID_IPropertyPage = MakeGuid("{B196B28D-BAB4-101A-B69C-00AA00341D07}");

// A size; an extent is given in HIMETRIC units (0.01 mm).
struct SIZEL {
    LONG cx;
    LONG cy;
};

enum DVASPECT : DWORD { DVASPECT_CONTENT = 1, DVASPECT_THUMBNAIL = 2, DVASPECT_ICON = 4, DVASPECT_DOCPRINT = 8 };

// The standard verbs.
enum : LONG {
    OLEIVERB_PRIMARY = 0,
    OLEIVERB_SHOW = -1,
    OLEIVERB_OPEN = -2,
    OLEIVERB_HIDE = -3,
    OLEIVERB_UIACTIVATE = -4,
    OLEIVERB_INPLACEACTIVATE = -5,
    OLEIVERB_DISCARDUNDOSTATE = -6,
    OLEIVERB_PROPERTIES = -7,
};

// What a control tells its container about itself (GetMiscStatus).
enum : DWORD {
    OLEMISC_RECOMPOSEONRESIZE = 0x1,
    OLEMISC_ONLYICONIC = 0x2,
    OLEMISC_INSERTNOTREPLACE = 0x4,
    OLEMISC_STATIC = 0x8,
    OLEMISC_CANTLINKINSIDE = 0x10,
    OLEMISC_CANLINKBYOLE1 = 0x20,
    OLEMISC_ISLINKOBJECT = 0x40,
    OLEMISC_INSIDEOUT = 0x80,
    OLEMISC_ACTIVATEWHENVISIBLE = 0x100,
    OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200,
    OLEMISC_INVISIBLEATRUNTIME = 0x400,
    OLEMISC_ALWAYSRUN = 0x800,
    OLEMISC_ACTSLIKEBUTTON = 0x1000,
    OLEMISC_ACTSLIKELABEL = 0x2000,
    OLEMISC_NOUIACTIVATE = 0x4000,
    OLEMISC_ALIGNABLE = 0x8000,
    OLEMISC_SIMPLEFRAME = 0x10000,
    OLEMISC_SETCLIENTSITEFIRST = 0x20000,
};

struct IOleObject : IUnknown {
    // Runs a verb. The container's window and the control's place in it
    // (hwndParent, lprcPosRect) are what in-place activation needs.
    virtual HRESULT DoVerb(LONG iVerb, HWND hwndParent, LPCRECT lprcPosRect) = 0;
    virtual HRESULT GetUserClassID(CLSID* pClsid) = 0;
    virtual HRESULT SetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    virtual HRESULT GetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    virtual HRESULT GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) = 0;
};
using LPOLEOBJECT = IOleObject*;
ZIV_DECLARE_IID(IOleObject, IID_IOleObject)
ZIV_INTERFACE_BASE(IOleObject, IUnknown)

struct PROPPAGEINFO {
    ULONG cb;
    BSTR pszTitle;  // the caller frees it with SysFreeString
    SIZEL size;     // in pixels
    BSTR pszDocString;
    BSTR pszHelpFile;
    DWORD dwHelpContext;
};

struct IPropertyPage : IUnknown {
    // The objects whose properties the page shows (cObjects 0: none any more).
    virtual HRESULT SetObjects(ULONG cObjects, IUnknown** ppUnk) = 0;
    virtual HRESULT GetPageInfo(PROPPAGEINFO* pPageInfo) = 0;
    // Creates the page's window as a child of hWndParent at pRect.
    virtual HRESULT Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) = 0;
    virtual HRESULT Deactivate() = 0;
    // S_OK when the page has changes that Apply would store, else S_FALSE.
    virtual HRESULT IsPageDirty() = 0;
    virtual HRESULT Apply() = 0;
};
using LPPROPERTYPAGE = IPropertyPage*;
ZIV_DECLARE_IID(IPropertyPage, IID_IPropertyPage)
ZIV_INTERFACE_BASE(IPropertyPage, IUnknown)

constexpr IID IID_IOleWindow = MakeGuid("{00000114-0000-0000-C000-000000000046}");
constexpr IID IID_IProvideClassInfo = MakeGuid("{B196B283-BAB4-101A-B69C-00AA00341D07}");
constexpr IID IID_IProvideClassInfo2 = MakeGuid("{A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851}");

// The window an active object shows itself in; a container finds an embedded
// control's window through it.
struct IOleWindow : IUnknown {
    virtual HRESULT GetWindow(HWND* phwnd) = 0;
};
ZIV_DECLARE_IID(IOleWindow, IID_IOleWindow)
ZIV_INTERFACE_BASE(IOleWindow, IUnknown)

// What an object tells of its class: its type information and, for a
// container that wants its events, the identifier of its default event
// interface.
constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;
struct IProvideClassInfo : IUnknown {
    virtual HRESULT GetClassInfo(ITypeInfo** ppTI) = 0;
};
struct IProvideClassInfo2 : IProvideClassInfo {
    virtual HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) = 0;
};
ZIV_DECLARE_IID(IProvideClassInfo, IID_IProvideClassInfo)
ZIV_DECLARE_IID(IProvideClassInfo2, IID_IProvideClassInfo2)
ZIV_INTERFACE_BASE(IProvideClassInfo, IUnknown)
ZIV_INTERFACE_BASE(IProvideClassInfo2, IProvideClassInfo)

constexpr HRESULT OLEOBJ_S_INVALIDVERB = 0x00040180;
