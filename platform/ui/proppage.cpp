// Property pages from dialog templates, and the property frame.
#include "proppage.h"

#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>

#include "objbase.h"

namespace {
// The frame around its pages: dialog units of the frame's font.
constexpr DialogTemplate kFrameTemplate{
    0, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, nullptr, 0, 0, 0, 0, "MS Sans Serif", 8};
constexpr int kMarginDlu = 7;
constexpr int kButtonWidthDlu = 50;
constexpr int kButtonHeightDlu = 14;
}  // namespace

COlePropertyPage::COlePropertyPage(const DialogTemplate& tmpl, const char* caption)
    : m_template(tmpl), m_strCaption(caption ? caption : "") {}

COlePropertyPage::~COlePropertyPage() {
    m_pDialog.reset();
    ReleaseObjects();
}

void COlePropertyPage::ReleaseObjects() {
    std::vector<IUnknown*> objects;
    objects.swap(m_objects);
    for (IUnknown* object : objects) object->Release();
}

HRESULT COlePropertyPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
    if (cObjects && !ppUnk) return E_POINTER;
    for (ULONG i = 0; i < cObjects; ++i)
        if (!ppUnk[i]) return E_POINTER;
    ReleaseObjects();
    for (ULONG i = 0; i < cObjects; ++i) {
        ppUnk[i]->AddRef();
        m_objects.push_back(ppUnk[i]);
    }
    return S_OK;
}

HRESULT COlePropertyPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    if (!pPageInfo) return E_POINTER;
    RECT size{0, 0, m_template.cx, m_template.cy};
    size = DialogUnitsToPixels(size, GetDialogBaseUnits(m_template));
    *pPageInfo = PROPPAGEINFO{
        sizeof(PROPPAGEINFO), SysAllocStringUtf8(m_strCaption), SIZEL{size.right, size.bottom}, nullptr, nullptr, 0};
    return S_OK;
}

HRESULT COlePropertyPage::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
    if (m_pDialog) return E_UNEXPECTED;
    DialogTemplate child = m_template;
    child.style = (child.style & ~WS_POPUP) | WS_CHILD;
    m_pDialog = std::make_unique<CDialog>(child, hWndParent);
    if (!m_pDialog->Create(hWndParent)) {
        m_pDialog.reset();
        return E_FAIL;
    }
    if (pRect)
        m_pDialog->SetWindowPos(nullptr, pRect->left, pRect->top, pRect->right - pRect->left,
                                pRect->bottom - pRect->top, SWP_NOZORDER);
    return S_OK;
}

HRESULT COlePropertyPage::Deactivate() {
    m_pDialog.reset();
    return S_OK;
}

HRESULT COlePropertyPage::IsPageDirty() { return S_FALSE; }

HRESULT COlePropertyPage::Apply() { return S_OK; }

CPropertyFrame::CPropertyFrame(QWidget* pParentWnd, std::vector<Page> pages)
    : CDialog(kFrameTemplate, pParentWnd), m_pages(std::move(pages)) {
    if (!m_pages.empty()) SetCaption(m_pages.front().title);
}

CPropertyFrame::~CPropertyFrame() {
    // The pages' windows go before the frame's, which holds them.
    for (const Page& p : m_pages) p.page->Deactivate();
    DestroyWindow();
    for (const Page& p : m_pages) p.page->Release();
}

void CPropertyFrame::CreateItems(QWidget* window) {
    RECT units{kMarginDlu, kMarginDlu, kButtonWidthDlu, kButtonHeightDlu};
    MapDialogRect(&units);
    const int margin = units.left, buttonWidth = units.right, buttonHeight = units.bottom;

    LONG pageWidth = 0, pageHeight = 0;
    for (const Page& p : m_pages) {
        pageWidth = std::max(pageWidth, p.size.cx);
        pageHeight = std::max(pageHeight, p.size.cy);
    }
    auto* tabs = new QTabWidget(window);
    for (const Page& p : m_pages) {
        auto* holder = new QWidget;
        holder->setFixedSize(pageWidth, pageHeight);
        tabs->addTab(holder, QString::fromStdString(p.title));
        const RECT rect{0, 0, p.size.cx, p.size.cy};
        p.page->Activate(holder, &rect, TRUE);
    }
    tabs->move(margin, margin);
    // The pages have no layout to hint a size: their minimum is their size.
    tabs->resize(tabs->minimumSizeHint().expandedTo(tabs->sizeHint()));

    const int buttonsTop = margin + tabs->height() + margin;
    const int width = std::max(margin + tabs->width() + margin, 3 * margin + 2 * buttonWidth);
    const struct {
        const char* text;
        int id;
    } buttons[] = {{"OK", IDOK}, {"Cancel", IDCANCEL}};
    int left = width - margin - 2 * buttonWidth - margin / 2;
    for (const auto& b : buttons) {
        auto* button = new QPushButton(QString::fromUtf8(b.text), window);
        button->setGeometry(left, buttonsTop, buttonWidth, buttonHeight);
        button->setDefault(b.id == IDOK);
        const int id = b.id;
        QObject::connect(button, &QPushButton::clicked, window, [this, id] { id == IDOK ? OnOK() : OnCancel(); });
        left += buttonWidth + margin / 2;
    }
    window->resize(width, buttonsTop + buttonHeight + margin);
}

void CPropertyFrame::OnOK() {
    for (const Page& p : m_pages) p.page->Apply();
    CDialog::OnOK();
}

HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT, UINT, LPCOLESTR, ULONG cObjects, IUnknown** ppUnk, ULONG cPages,
                               const CLSID* pPageClsID, LCID, DWORD, LPVOID) {
    if (cPages == 0 || !pPageClsID) return E_INVALIDARG;
    if (cObjects && !ppUnk) return E_POINTER;
    std::vector<CPropertyFrame::Page> pages;
    auto releasePages = [&pages] {
        for (const CPropertyFrame::Page& p : pages) {
            p.page->SetObjects(0, nullptr);
            p.page->Release();
        }
    };
    for (ULONG i = 0; i < cPages; ++i) {
        IPropertyPage* page = nullptr;
        HRESULT hr = CoCreateInstance(pPageClsID[i], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                      reinterpret_cast<void**>(&page));
        PROPPAGEINFO info{};
        if (SUCCEEDED(hr)) hr = page->SetObjects(cObjects, ppUnk);
        if (SUCCEEDED(hr)) hr = page->GetPageInfo(&info);
        if (FAILED(hr)) {
            if (page) page->Release();
            releasePages();
            return hr;
        }
        pages.push_back({page, Utf8FromBstr(info.pszTitle), info.size});
        SysFreeString(info.pszTitle);
        SysFreeString(info.pszDocString);
        SysFreeString(info.pszHelpFile);
    }
    for (const CPropertyFrame::Page& p : pages) p.page->AddRef();  // the frame's own references
    INT_PTR result;
    {
        CPropertyFrame frame(hwndOwner, pages);
        result = frame.DoModal();
    }
    releasePages();
    return result == -1 ? E_FAIL : S_OK;
}
