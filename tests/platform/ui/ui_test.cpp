// The window and control base on real widgets (offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "controlsite.h"
#include "ddx.h"
#include "filedlg.h"
#include "function_sink.h"
#include "objbase.h"
#include "olecontrol.h"
#include "proppage.h"
#include "winreg.h"

namespace {

constexpr IID kProbeEvents = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000E1}");

struct Probe : COleControl {
    Probe() { InitializeIIDs(nullptr, &kProbeEvents); }
    std::vector<std::string> log;
    BOOL eraseAnswer = TRUE;
    CRect lastBounds;
    ~Probe() override { DestroyWindow(); }
    using COleControl::FireEvent;

protected:
    void OnNcPaint() override { log.push_back("nc"); }
    BOOL OnEraseBkgnd(CDC*) override {
        log.push_back("erase");
        return eraseAnswer;
    }
    void OnDestroy() override { log.push_back("destroy"); }
    void OnDraw(CDC* dc, const CRect& bounds, const CRect&) override {
        log.push_back("draw");
        lastBounds = bounds;
        // Larger than the window on purpose: the paint is clipped to it.
        dc->FillRect(CRect(-50, -50, 500, 500), CBrush::FromHandle(static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))));
    }
};

// Repaints come from the event loop a little later: wait for the next draw.
void WaitForDraw(const Probe& p) {
    QTRY_VERIFY_WITH_TIMEOUT(std::find(p.log.begin(), p.log.end(), "draw") != p.log.end(), 2000);
}

struct Window {
    std::unique_ptr<QWidget> parent = std::make_unique<QWidget>();
    Window() {
        parent->resize(200, 150);
        parent->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    }
};

TEST(Wnd, PaintRunsNonClientEraseAndDrawInOrder) {
    Window w;
    Probe p;
    ASSERT_TRUE(p.CreateControlWindow(w.parent.get(), CRect(10, 20, 70, 60)));
    EXPECT_FALSE(p.CreateControlWindow(w.parent.get(), CRect(0, 0, 1, 1))) << "one window per object";
    WaitForDraw(p);
    EXPECT_EQ(p.log, (std::vector<std::string>{"nc", "erase", "draw"}));
    EXPECT_EQ(p.lastBounds, CRect(0, 0, 60, 40));

    const struct {
        const char* name;
        BOOL erase;
        std::vector<std::string> expected;
    } cases[] = {{"invalidate with erase", TRUE, {"erase", "draw"}}, {"invalidate without", FALSE, {"draw"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        p.log.clear();
        EXPECT_TRUE(p.InvalidateRect(nullptr, c.erase));
        EXPECT_TRUE(p.log.empty()) << "only scheduled";
        WaitForDraw(p);
        EXPECT_EQ(p.log, c.expected);
    }
    p.log.clear();
    p.SetWindowPos(nullptr, 0, 0, 80, 50, SWP_NOZORDER);
    p.UpdateWindow();
    EXPECT_EQ(p.log, (std::vector<std::string>{"nc", "erase", "draw"})) << "a resize paints the frame again";

    const QImage shot = p.GetSafeHwnd()->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(80, 50));
    EXPECT_EQ(shot.pixel(79, 49), qRgb(128, 128, 128));
}

TEST(Wnd, SetWindowPosMovesSizesAndKeepsOrWakesTheZOrder) {
    Window w;
    Probe a, b;
    a.CreateControlWindow(w.parent.get(), CRect(0, 0, 10, 10));
    b.CreateControlWindow(w.parent.get(), CRect(0, 0, 10, 10));
    const auto order = [&] {
        return w.parent->children().indexOf(a.GetSafeHwnd()) < w.parent->children().indexOf(b.GetSafeHwnd());
    };
    ASSERT_TRUE(order()) << "a below b";
    EXPECT_TRUE(a.SetWindowPos(nullptr, 5, 6, 70, 80, SWP_NOZORDER));
    EXPECT_EQ(a.GetSafeHwnd()->geometry(), QRect(5, 6, 70, 80));
    EXPECT_TRUE(order()) << "SWP_NOZORDER keeps the order";
    a.SetWindowPos(nullptr, 1, 1, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    EXPECT_EQ(a.GetSafeHwnd()->geometry(), QRect(1, 1, 70, 80));
    a.SetWindowPos(nullptr, 0, 0, 30, 40, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(a.GetSafeHwnd()->geometry(), QRect(1, 1, 30, 40));
    a.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_FALSE(order()) << "without SWP_NOZORDER the window comes to the top";
    RECT r;
    a.GetClientRect(&r);
    EXPECT_EQ(CRect(r), CRect(0, 0, 30, 40));
}

TEST(Wnd, DestroyedByItselfOrByItsParent) {
    {
        Window w;
        Probe p;
        p.CreateControlWindow(w.parent.get(), CRect(0, 0, 10, 10));
        EXPECT_TRUE(p.DestroyWindow());
        EXPECT_EQ(p.GetSafeHwnd(), nullptr);
        EXPECT_FALSE(p.DestroyWindow());
        EXPECT_FALSE(p.InvalidateRect());
        EXPECT_FALSE(p.SetWindowPos(nullptr, 0, 0, 1, 1, SWP_NOZORDER));
        EXPECT_EQ(p.log, std::vector<std::string>{"destroy"});
    }
    {
        Probe p;
        {
            Window w;
            p.CreateControlWindow(w.parent.get(), CRect(0, 0, 10, 10));
        }  // the parent takes its children with it
        EXPECT_EQ(p.GetSafeHwnd(), nullptr);
        EXPECT_EQ(p.log, std::vector<std::string>{"destroy"});
    }
}

TEST(Wnd, DeviceContextWithoutAWindow) {
    Probe p;
    CDC* dc = p.GetDC();
    ASSERT_NE(dc, nullptr);
    CBitmap bitmap;
    EXPECT_TRUE(bitmap.CreateCompatibleBitmap(dc, 4, 4));
    EXPECT_EQ(bitmap.Image().format(), kScreenFormat);
    EXPECT_EQ(p.ReleaseDC(dc), 1);
    RECT r{1, 1, 1, 1};
    p.GetClientRect(&r);
    EXPECT_EQ(CRect(r), CRect(0, 0, 0, 0));
}

TEST(OleControl, EventsGoToTheSinkWhichMayChangeWhileFiring) {
    Probe p;
    p.FireEvent(1, 5);  // no sink: nothing happens
    std::vector<std::pair<DISPID, LONG>> first, second;
    IUnknown* source = p.GetControllingUnknown();
    DWORD firstCookie = 0;
    firstCookie = FunctionSink::Advise(source, kProbeEvents, [&](DISPID id, LONG v) {
        first.emplace_back(id, v);
        UnadviseSink(source, kProbeEvents, firstCookie);
        FunctionSink::Advise(source, kProbeEvents, [&](DISPID id2, LONG v2) { second.emplace_back(id2, v2); });
    });
    p.FireEvent(1, 9);
    p.FireEvent(1, 8);
    EXPECT_EQ(first, (std::vector<std::pair<DISPID, LONG>>{{1, 9}}));
    EXPECT_EQ(second, (std::vector<std::pair<DISPID, LONG>>{{1, 8}}));
    EXPECT_EQ(p.IsModified(), FALSE);
    p.SetModifiedFlag();
    EXPECT_EQ(p.IsModified(), TRUE);
    EXPECT_TRUE(p.GetControlFlags() & COleControl::clipPaintDC);
}

TEST(OleControl, VerbsExtentAndState) {
    Window w;
    Probe p;
    IOleObject* object = &p;
    EXPECT_EQ(object->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr), E_FAIL) << "no window, no parent to make one in";
    // Edit: the window is made in the container's window, at the place given or as large as the extent.
    SIZEL extent{2540, 1270};  // 96 x 48 pixels
    EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(p.IsModified(), TRUE);
    EXPECT_EQ(object->DoVerb(OLEIVERB_PRIMARY, w.parent.get(), nullptr), S_OK);
    ASSERT_NE(p.GetSafeHwnd(), nullptr);
    EXPECT_EQ(p.GetSafeHwnd()->geometry(), QRect(0, 0, 96, 48));
    EXPECT_EQ(object->DoVerb(OLEIVERB_HIDE, nullptr, nullptr), S_OK);
    EXPECT_FALSE(p.GetSafeHwnd()->isVisible());
    const CRect place(5, 6, 25, 16);
    EXPECT_EQ(object->DoVerb(OLEIVERB_SHOW, nullptr, place), S_OK);
    EXPECT_TRUE(p.GetSafeHwnd()->isVisible());
    EXPECT_EQ(p.GetSafeHwnd()->geometry(), QRect(5, 6, 20, 10));
    EXPECT_EQ(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr), E_FAIL) << "no pages";
    EXPECT_EQ(object->DoVerb(OLEIVERB_OPEN, nullptr, nullptr), E_NOTIMPL);

    // A new state: the default extent again, and clean.
    EXPECT_EQ(static_cast<IPersistStreamInit*>(&p)->InitNew(), S_OK);
    EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 2646);
    EXPECT_EQ(extent.cy, 1323);
    EXPECT_EQ(p.IsModified(), FALSE);
    EXPECT_EQ(object->GetExtent(DVASPECT_ICON, &extent), E_INVALIDARG);
}

// A class registered in this process: its factory fails with `fails`, or
// makes controls with or without an event interface.
class HostedClass {
public:
    struct Control : COleControl {
        explicit Control(bool events) {
            InitializeIIDs(nullptr, events ? &kProbeEvents : nullptr);
            ++alive;
        }
        ~Control() override { --alive; }
        using COleControl::FireEvent;
        static inline int alive = 0;
        static inline Control* last = nullptr;
    };
    HostedClass(REFCLSID clsid, HRESULT fails, bool events) {
        auto* factory = new Factory(fails, events);
        CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
        factory->Release();
    }
    ~HostedClass() { CoRevokeClassObject(cookie_); }

private:
    class Factory final : public CComObjectImpl<IClassFactory> {
    public:
        Factory(HRESULT fails, bool events) : fails_(fails), events_(events) {}
        HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
            if (FAILED(fails_)) return fails_;
            Control::last = new Control(events_);
            const HRESULT hr = Control::last->GetUnknown()->QueryInterface(riid, ppv);
            Control::last->GetUnknown()->Release();
            return hr;
        }
        HRESULT LockServer(BOOL) override { return S_OK; }

    private:
        HRESULT fails_;
        bool events_;
    };
    DWORD cookie_ = 0;
};

void OnHostedEvent(void* seen, VARIANT* args) { static_cast<std::vector<LONG>*>(seen)->push_back(args[0].lVal); }

TEST(ControlSite, HostsAControlOrSaysWhyNot) {
    QTemporaryDir registry;
    setenv("ZIV_REGISTRY_DIR", registry.path().toUtf8().constData(), 1);
    constexpr CLSID kUnregistered = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000C1}");
    constexpr CLSID kNoModule = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000C2}");
    constexpr CLSID kHosted = MakeGuid("{7E57C0DE-0000-4000-8000-0000000000C3}");
    HKEY key = nullptr;
    const std::string name = "CLSID\\" + StringFromGUID(kNoModule) + "\\InprocServer32";
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char missing[] = "/nonexistent/libmissing.so";
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(missing), sizeof missing);
    RegCloseKey(key);

    AfxEnableControlContainer();
    Window w;
    std::vector<LONG> seen;
    const SinkEntry events[] = {{1, MakeVarTypeList<VT_I4>(), &OnHostedEvent}};
    const struct {
        const char* what;
        CLSID clsid;
        HRESULT factoryFails;  // S_OK: the factory makes a control
        bool eventInterface;
        HRESULT hr;
    } rows[] = {
        {"not registered", kUnregistered, S_OK, true, REGDB_E_CLASSNOTREG},
        {"module missing", kNoModule, S_OK, true, CO_E_DLLNOTFOUND},
        {"factory fails", kHosted, E_OUTOFMEMORY, true, E_OUTOFMEMORY},
        {"no event interface", kHosted, S_OK, false, E_NOTIMPL},
        {"hosted", kHosted, S_OK, true, S_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        HostedClass hosted(kHosted, row.factoryFails, row.eventInterface);
        std::unique_ptr<CControlSite> site;
        const DialogControlData data{row.clsid, {}};
        EXPECT_EQ(CControlSite::Create(data, w.parent.get(), RECT{1, 2, 31, 22}, events, &seen, &site), row.hr);
        EXPECT_EQ(site != nullptr, SUCCEEDED(row.hr));
        if (!site) {
            EXPECT_EQ(HostedClass::Control::alive, 0) << "a control made on the way is released";
            continue;
        }
        EXPECT_EQ(site->GetWindow()->geometry(), QRect(1, 2, 30, 20));
        EXPECT_NE(site->GetDispatch(), nullptr);
        HostedClass::Control::last->FireEvent(1, SHORT(7));  // coerced on the way to the handler's type
        HostedClass::Control::last->FireEvent(1, 8);
        EXPECT_EQ(seen, (std::vector<LONG>{7, 8}));
        IUnknown* control = HostedClass::Control::last->GetUnknown();
        control->AddRef();
        site.reset();
        HostedClass::Control::last->FireEvent(1, 9);  // disconnected: the handler hears nothing more
        EXPECT_EQ(seen.size(), 2u);
        control->Release();
    }
    unsetenv("ZIV_REGISTRY_DIR");
}

TEST(Dialog, DialogUnitsRoundToNearestPixel) {
    const struct {
        DialogBaseUnits base;
        RECT units, pixels;
    } rows[] = {
        {{6, 13}, {10, 10, 20, 20}, {15, 16, 30, 33}},     // 16.25 and 32.5
        {{7, 16}, {221, 7, 253, 21}, {387, 14, 443, 42}},  // 386.75 and 442.75
        {{8, 16}, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {{6, 13}, {-3, -4, 0, 0}, {-5, -7, 0, 0}},  // -4.5 and -6.5: halves away from zero
    };
    for (const auto& row : rows) EXPECT_EQ(CRect(DialogUnitsToPixels(row.units, row.base)), CRect(row.pixels));
}

constexpr DialogItemTemplate kItems[] = {
    {IDC_STATIC, DialogItemKind::ltext, "A line & more", 7, 7, 100, 8},
    {10, DialogItemKind::editText, "text", 7, 20, 100, 12},
    {IDOK, DialogItemKind::defPushButton, "OK", 120, 7, 40, 14},
};
constexpr DialogTemplate kDialog{
    5, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, "Probe dialog", 0, 0, 170, 40, "Sans Serif", 9, kItems};

TEST(Dialog, ItemsFromTheTemplateInDialogUnits) {
    CDialog dialog(kDialog);
    ASSERT_TRUE(dialog.Create(nullptr));
    QWidget* window = dialog.GetSafeHwnd();
    EXPECT_EQ(window->windowTitle(), "Probe dialog");
    const DialogBaseUnits base = GetDialogBaseUnits(kDialog);
    EXPECT_GT(base.cx, 0);
    RECT size{0, 0, 170, 40};
    dialog.MapDialogRect(&size);
    EXPECT_EQ(window->size(), QSize(size.right, size.bottom));
    const struct {
        int id;
        const char* type;
        QString text;
    } items[] = {{int(IDC_STATIC), "QLabel", "A line & more"}, {10, "QLineEdit", "text"}, {IDOK, "QPushButton", "OK"}};
    for (std::size_t i = 0; i < std::size(items); ++i) {
        HWND item = nullptr;
        dialog.GetDlgItem(items[i].id, &item);
        ASSERT_NE(item, nullptr) << items[i].id;
        EXPECT_STREQ(item->metaObject()->className(), items[i].type);
        RECT rect{kItems[i].x, kItems[i].y, kItems[i].x + kItems[i].cx, kItems[i].y + kItems[i].cy};
        dialog.MapDialogRect(&rect);
        EXPECT_EQ(item->geometry(), QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top));
        EXPECT_EQ(item->property("text").toString(), items[i].text);
    }
    // OK ends the dialog; a modeless one hides.
    HWND ok = nullptr;
    dialog.GetDlgItem(IDOK, &ok);
    window->show();
    static_cast<QPushButton*>(ok)->click();
    EXPECT_FALSE(window->isVisible());
}

TEST(Dialog, TheModalHookAnswersInsteadOfAWindow) {
    CDialog dialog(kDialog);
    int calls = 0;
    const CDialog::ModalHook previous = CDialog::SetModalHook([&](CDialog& d) -> INT_PTR {
        ++calls;
        EXPECT_EQ(&d, &dialog);
        EXPECT_EQ(d.GetCaption(), "Probe dialog");
        return 42;
    });
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    CDialog::SetModalHook(previous);
}

TEST(PropertyFrame, OneTabPerPageTitledByTheFirst) {
    constexpr DialogTemplate kPage{200, WS_CHILD, nullptr, 0, 0, 250, 62, "MS Sans Serif", 8};
    auto* page = new COlePropertyPage(kPage, "General");
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    std::vector<CPropertyFrame::Page> pages = {{page, Utf8FromBstr(info.pszTitle), info.size}};
    SysFreeString(info.pszTitle);
    CPropertyFrame frame(nullptr, pages);  // takes over our reference
    EXPECT_EQ(frame.GetCaption(), "General");
    ASSERT_TRUE(frame.Create(nullptr));
    auto* tabs = frame.GetSafeHwnd()->findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 1);
    EXPECT_EQ(tabs->tabText(0), "General");
    EXPECT_GT(tabs->height(), info.size.cy) << "room for the page below the tab";
    EXPECT_GT(tabs->width(), info.size.cx);
    // The page's window inside its tab, as large as the page, without fields.
    const QList<QWidget*> inside = tabs->widget(0)->findChildren<QWidget*>();
    ASSERT_EQ(inside.size(), 1);
    EXPECT_EQ(inside[0]->size(), QSize(info.size.cx, info.size.cy));
    EXPECT_TRUE(inside[0]->findChildren<QWidget*>().isEmpty());
}

TEST(Wnd, InvalidatedManyTimesWithinAFramePaintsOnce) {
    Window w;
    Probe p;
    ASSERT_TRUE(p.CreateControlWindow(w.parent.get(), CRect(0, 0, 40, 30)));
    WaitForDraw(p);
    p.log.clear();
    for (int i = 0; i < 50; ++i) p.InvalidateRect(nullptr, FALSE);
    QTest::qWait(100);
    EXPECT_EQ(p.log, std::vector<std::string>{"draw"}) << "one repaint at the next frame";
}

TEST(DataExchange, IntegersAsAFieldHoldsThem) {
    const struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"0", true, 0},
        {"-1", true, -1},
        {" +12\t", true, 12},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"", false, 0},
        {"-", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"2147483648", false, 0},
        {"0x10", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        int value = 0;
        EXPECT_EQ(ParseDialogInteger(c.text, &value), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(FileDialog, FiltersInTheFormOfQtsDialog) {
    const struct {
        const char* filter;
        const char* qt;
    } cases[] = {
        {"Bitmap files(*.bmp)|*.bmp|All files(*.*)|*.*||", "Bitmap files (*.bmp);;All files (*)"},
        {"Logs|*.txt; *.log||", "Logs (*.txt *.log)"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(QtNameFilters(c.filter), c.qt) << c.filter;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
