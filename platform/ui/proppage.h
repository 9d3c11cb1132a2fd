// Property pages and the frame that shows them: a control names its pages by
// class identifier; OleCreatePropertyFrame creates them, hands each the
// objects to edit and shows them in one modal dialog, a tab per page, titled
// by the first page's caption, with OK and Cancel (OK applies every page).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dialog.h"
#include "oleidl.h"

// A page whose face is a dialog template (a child-window template without
// caption) and whose title is its caption. Applying it changes nothing unless
// a derived page does more in Apply.
class COlePropertyPage : public CComObjectImpl<IPropertyPage> {
public:
    COlePropertyPage(const DialogTemplate& tmpl, const char* caption);

    HRESULT SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    HRESULT GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    HRESULT Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    HRESULT Deactivate() override;
    HRESULT IsPageDirty() override;
    HRESULT Apply() override;

    const DialogTemplate& GetTemplate() const { return m_template; }
    const std::string& GetCaption() const { return m_strCaption; }

protected:
    ~COlePropertyPage() override;

private:
    void ReleaseObjects();

    DialogTemplate m_template;
    std::string m_strCaption;
    std::vector<IUnknown*> m_objects;    // held while set
    std::unique_ptr<CDialog> m_pDialog;  // the page's window while active
};

// The modal frame OleCreatePropertyFrame shows (and a modal hook receives).
class CPropertyFrame final : public CDialog {
public:
    struct Page {
        IPropertyPage* page;  // held by the frame
        std::string title;
        SIZEL size;  // pixels
    };
    // Takes over one reference to each page.
    CPropertyFrame(QWidget* pParentWnd, std::vector<Page> pages);
    ~CPropertyFrame() override;

    ULONG GetPageCount() const { return ULONG(m_pages.size()); }
    const Page& GetPage(ULONG index) const { return m_pages.at(index); }

protected:
    void CreateItems(QWidget* window) override;
    void OnOK() override;

private:
    std::vector<Page> m_pages;
};

// Creates the pages (in-process classes, through the registry), gives each
// the objects, shows the frame modally and returns when it is closed.
// Failures: the creation's error (nothing shown), E_INVALIDARG without pages,
// E_FAIL when the frame cannot be shown. The caption, position and locale
// are not used: the frame is titled by its first page.
HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption, ULONG cObjects, IUnknown** ppUnk,
                               ULONG cPages, const CLSID* pPageClsID, LCID lcid, DWORD dwReserved, LPVOID pvReserved);
