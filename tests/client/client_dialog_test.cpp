// The client dialog against a scripted control, with the registry in a
// temporary folder and the message boxes, the file dialog and the tick
// counter answered by the test.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "filedlg.h"
#include "scripted_control.h"
#include "windowrect.h"
#include "winreg.h"
#include "workdir.h"
#include "zivclient.h"
#include "zivclientdlg.h"
#include "zivclientres.h"

void PrintTo(const CRect& r, std::ostream* os) { *os << r.left << "," << r.top << "-" << r.right << "," << r.bottom; }

namespace {

using ziv::test::WorkDir;

// Opens the handlers the dialog keeps for its own tables.
class TestDlg : public CZivClientDlg {
public:
    using CZivClientDlg::OnAbort;
    using CZivClientDlg::OnGetImage;
    using CZivClientDlg::OnPictureReady;
    using CZivClientDlg::OnSysCommand;
};

std::vector<BYTE> ReadValue(const char* name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    std::vector<BYTE> bytes(64);
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kClientKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    DWORD size = DWORD(bytes.size()), t = 0;
    const LONG r = RegQueryValueEx(key, name, nullptr, &t, bytes.data(), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return {};
    if (type) *type = t;
    bytes.resize(size);
    return bytes;
}

void WriteValue(const char* name, DWORD type, const std::vector<BYTE>& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kClientKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueEx(key, name, 0, type, bytes.data(), DWORD(bytes.size()));
    RegCloseKey(key);
}

void WriteRect(const char* name, const RECT& rect) {
    std::vector<BYTE> bytes(16);
    PackRect(rect, bytes.data());
    WriteValue(name, REG_BINARY, bytes);
}

class ClientDialog : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZIV_REGISTRY_DIR", dir.file("registry").c_str(), 1);
        AfxEnableControlContainer();
        AfxSetIconResources(kClientIcons);
        SetMessageBoxHook([this](const std::string& text, UINT) {
            boxes.push_back(text);
            return IDOK;
        });
        SetTickCountSource([this] { return ticks; });
        g_tRequestSent = g_tImageStarted = 0;
    }
    void TearDown() override {
        dlg.reset();
        SetMessageBoxHook({});
        SetTickCountSource({});
        CFileDialog::SetModalHook({});
        CDialog::SetModalHook({});
    }

    // A new dialog, as the program makes it (without waiting in a modal loop).
    TestDlg& open() {
        dlg = std::make_unique<TestDlg>();
        EXPECT_TRUE(dlg->Create(nullptr)) << std::hex << dlg->GetControlCreateError();
        control = ScriptedControl::last();
        EXPECT_NE(control, nullptr);
        if (control) control->log.clear();
        return *dlg;
    }
    void close() { dlg.reset(); }

    QWidget* item(int id) const {
        HWND w = nullptr;
        dlg->GetDlgItem(id, &w);
        return w;
    }
    void type(int id, const char* text) const { static_cast<QLineEdit*>(item(id))->setText(text); }
    std::string text(int id) const { return dlg->GetDlgItemText(id); }
    void click(int id) const { QTest::mouseClick(item(id), Qt::LeftButton); }
    CRect window_rect(QWidget* w) const {
        CWnd wnd;
        wnd.Attach(w);
        CRect r;
        wnd.GetWindowRect(&r);
        wnd.Detach();
        return r;
    }

    WorkDir dir;
    std::unique_ptr<ScriptedControlClass> control_class = std::make_unique<ScriptedControlClass>();
    std::unique_ptr<TestDlg> dlg;
    ScriptedControl* control = nullptr;
    std::vector<std::string> boxes;
    DWORD ticks = 1000;
};

using Log = std::vector<std::string>;

TEST_F(ClientDialog, StartsWithTheDefaultsAndTheArgumentsOfTheCommandLine) {
    TestDlg& d = open();
    const struct {
        int id;
        const char* text;
    } fields[] = {{IDC_SERVERIP, ""}, {IDC_SERVERPORT, "2002"}, {IDC_X, "0"},    {IDC_Y, "0"},      {IDC_DX, "640"},
                  {IDC_DY, "480"},    {IDC_INCX, "1"},          {IDC_INCY, "1"}, {IDC_STATUS1, ""}, {IDC_STATUS2, ""}};
    for (const auto& f : fields) EXPECT_EQ(text(f.id), f.text) << f.id;
    EXPECT_FALSE(static_cast<QCheckBox*>(item(IDC_LIVEMODE))->isChecked());
    EXPECT_TRUE(d.m_btnSaveImage.IsWindowEnabled());
    EXPECT_EQ(d.GetCaption(), "zivClient");
    // The system menu ends with a separator and the About entry, which opens template 100.
    const std::vector<CMenu::Item>& menu = d.GetSystemMenu(FALSE)->GetItems();
    ASSERT_GE(menu.size(), 2u);
    EXPECT_EQ(menu[menu.size() - 2].flags, MF_SEPARATOR);
    EXPECT_EQ(menu.back().text, "&About zivClient...");
    EXPECT_EQ(menu.back().id, IDM_ABOUTBOX);
    std::string shown;
    CDialog::SetModalHook([&](CDialog& about) {
        shown = about.GetCaption();
        return INT_PTR(IDOK);
    });
    d.OnSysCommand(IDM_ABOUTBOX | 0x3, 0);
    EXPECT_EQ(shown, "About zivClient");
    // Escape, wherever the focus is, ends the dialog (a modeless one hides).
    d.GetSafeHwnd()->show();
    QTest::keyClick(item(IDC_DX), Qt::Key_Escape);
    EXPECT_FALSE(d.GetSafeHwnd()->isVisible());
    close();

    CZivClientApp app;
    char name[] = "zivClient", server[] = "--server", host[] = "10.1.2.3", port[] = "--port", number[] = "5002";
    char platform[] = "-platform", offscreen[] = "offscreen";  // the toolkit's, not refused
    char* argv[] = {name, platform, offscreen, server, host, port, number, nullptr};
    ASSERT_TRUE(ParseClientArguments(7, argv, app));
    EXPECT_EQ(app.m_strServer, "10.1.2.3");
    EXPECT_EQ(app.m_nPort, 5002);
}

TEST_F(ClientDialog, GetImageChecksTheWindowAfterPassingServerAndPort) {
    const struct {
        int id;
        const char* value;
        bool requested;
    } cases[] = {
        {IDC_X, "0", true},     {IDC_DX, "0", true},     {IDC_DY, "0", true},      {IDC_X, "-1", false},
        {IDC_Y, "-1", false},   {IDC_DX, "-1", false},   {IDC_DY, "-1", false},    {IDC_INCX, "0", false},
        {IDC_INCY, "0", false}, {IDC_INCX, "-2", false}, {IDC_INCY, " +3 ", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " = " + c.value);
        boxes.clear();
        open();
        type(IDC_SERVERIP, "127.0.0.1");
        type(IDC_SERVERPORT, "5000");
        type(c.id, c.value);
        click(IDC_GETIMAGE);
        ASSERT_GE(control->log.size(), 2u);
        EXPECT_EQ(control->log[0], "port=5000");
        EXPECT_EQ(control->log[1], "server=127.0.0.1");
        if (c.requested) {
            EXPECT_TRUE(boxes.empty());
            ASSERT_EQ(control->log.size(), 4u);
            EXPECT_EQ(control->log[2], "live=0");
            EXPECT_EQ(control->log[3].rfind("RequestImage ", 0), 0u);
            EXPECT_EQ(text(IDC_STATUS1), "Request for new image selected.");
        } else {
            EXPECT_EQ(boxes, std::vector<std::string>{"Invalid value!"});
            EXPECT_EQ(control->log.size(), 2u);
            EXPECT_EQ(text(IDC_STATUS1), "");
        }
    }
}

TEST_F(ClientDialog, AFieldThatIsNoIntegerKeepsItsValueAndThoseAfterIt) {
    TestDlg& d = open();
    type(IDC_X, "5");              // exchanged before DX: taken
    type(IDC_DX, "12a");           // refused
    type(IDC_DY, "100");           // after it: keeps 480
    type(IDC_SERVERPORT, "6000");  // after it as well
    d.OnGetImage();
    EXPECT_EQ(boxes, std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(control->log, (Log{"port=2002", "server=", "live=0", "RequestImage 5,0,640,480,1,1"}));
    EXPECT_EQ(text(IDC_DX), "640");
    EXPECT_EQ(text(IDC_DY), "480");
    EXPECT_EQ(text(IDC_X), "5");
}

TEST_F(ClientDialog, EveryStatusHasItsLineAndTypingIsOverwritten) {
    constexpr const char* kRequested = "Request for new image selected.";
    constexpr const char* kRendered = "Last image rendered for 0 ms.";
    constexpr const char* kReceived = "Last image received for 0 ms";
    const struct {
        std::vector<LONG> statuses;
        const char* line1;
        const char* line2;
        bool fitted;
    } cases[] = {
        {{1}, kRequested, "Connection with server lost.", false},
        {{2}, kRequested, "No server to connect to.", false},
        {{3}, kRequested, "Receive ERROR!", false},
        {{4}, kRequested, "Send ERROR!", false},
        {{7}, kRequested, "No memory for the image!", false},
        {{5}, kRequested, "", false},
        {{9, 8, 0}, kRendered, kReceived, true},
        {{9, 8, 6, 0}, kRequested, "Image cannot be shown!", false},  // refused: no timing, no fitting
        {{9, 8, 6, 0, 9, 8, 0}, kRendered, kReceived, true},          // the next image is good again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.statuses));
        TestDlg& d = open();
        d.OnGetImage();
        control->log.clear();
        type(IDC_X, "77");
        for (const LONG status : c.statuses) control->fire(status);
        EXPECT_EQ(text(IDC_STATUS1), c.line1);
        EXPECT_EQ(text(IDC_STATUS2), c.line2);
        EXPECT_EQ(text(IDC_X), "0");
        EXPECT_EQ(!control->log.empty() && control->log.back().starts_with("SetPosition"), c.fitted);
    }
}

TEST_F(ClientDialog, TimingLinesSurviveTheTickCounterWrap) {
    open();
    ticks = 0xFFFFFFF0u;
    control->fire(9);
    ticks = 0xFFFFFFF8u;
    control->fire(8);
    ticks = 0x10;
    control->fire(0);
    EXPECT_EQ(text(IDC_STATUS2), "Last image received for 32 ms");
    EXPECT_EQ(text(IDC_STATUS1), "Last image rendered for 24 ms.");
    EXPECT_EQ(ReceivedText(5, 2000000000u), "Last image received for -1999999995 ms");
}

TEST(FitToImage, GrowsShrinksAndKeepsTheFirstStartSizeWithinTheWorkArea) {
    const CRect initial(0, 0, 400, 350);
    const CRect inverted(400, 350, 0, 0);
    const CRect work(0, 0, 1920, 1040);
    const struct {
        LONG w, h;
        const CRect* minimum;
        CRect dialog, control;
    } cases[] = {
        {640, 480, &initial, CRect(100, 50, 910, 630), CRect(170, 0, 810, 480)},  // grows
        {214, 480, &initial, CRect(100, 50, 500, 630), CRect(170, 0, 384, 480)},  // first-start width
        {10, 10, &initial, CRect(100, 50, 500, 400), CRect(170, 0, 180, 10)},     // both minimums
        {10, 10, nullptr, CRect(100, 50, 280, 160), CRect(170, 0, 180, 10)},      // none known
        {10, 10, &inverted, CRect(100, 50, 280, 160), CRect(170, 0, 180, 10)},    // an unusable minimum
        // No wider or higher than the work area, moved back onto it: the image is cut.
        {307200, 1, &initial, CRect(0, 50, 1920, 400), CRect(170, 0, 1920, 1)},
        {1, 307200, &initial, CRect(100, 0, 500, 1040), CRect(170, 0, 171, 940)},
        {0x7FFFFFFF, 0x7FFFFFFF, nullptr, CRect(0, 0, 1920, 1040), CRect(170, 0, 1920, 940)},
        {-5, -5, nullptr, CRect(100, 50, 270, 150), CRect(170, 0, 170, 0)},
    };
    for (const auto& c : cases) {
        // The dialog at (100, 50), 400 x 350; the control at (170, 0) in it, 230 x 250.
        const FittedWindows f =
            FitToImage(CRect(100, 50, 500, 400), CRect(170, 0, 400, 250), c.w, c.h, c.minimum, work);
        EXPECT_EQ(f.dialog, c.dialog) << c.w << "x" << c.h;
        EXPECT_EQ(f.control, c.control) << c.w << "x" << c.h;
    }
}

// Whatever was stored, the dialog opens on the screen, no larger than its
// work area and no smaller than a window can be made; a rectangle of no use
// is ignored and the template's size taken, like a malformed value.
TEST_F(ClientDialog, StoredDialogRectanglesAreBoundByTheScreen) {
    constexpr LONG kMin = std::numeric_limits<LONG>::min(), kMax = std::numeric_limits<LONG>::max();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const CRect work(screen.left(), screen.top(), screen.left() + screen.width(), screen.top() + screen.height());
    const CRect ignored;  // the template's size wherever the platform puts it
    const struct {
        const char* what;
        RECT stored;
        CRect expected;
    } cases[] = {
        {"normal", {40, 30, 540, 430}, CRect(40, 30, 540, 430)},
        {"huge", {0, 0, 100000, 100000}, work},
        {"whole range", {kMin, kMin, kMax, kMax}, work},
        {"1 x 1", {100, 100, 101, 101}, CRect(100, 100, 100 + 136, 100 + 39)},
        {"far right",
         {kMax - 10, kMax - 10, kMax, kMax},
         CRect(work.right - 136, work.bottom - 39, work.right, work.bottom)},
        {"far left", {kMin, 20, kMin + 300, 220}, CRect(work.left, 20, work.left + 300, 220)},
        {"inverted", {540, 430, 40, 30}, ignored},
        {"empty", {40, 30, 40, 430}, ignored},
    };
    const CRect template_size = window_rect(open().GetSafeHwnd());
    close();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteRect("dialog", c.stored);
        const CRect got = window_rect(open().GetSafeHwnd());
        if (c.expected.IsRectEmpty()) {
            EXPECT_EQ(got.Width(), template_size.Width());
            EXPECT_EQ(got.Height(), template_size.Height());
        } else {
            // The size exactly; the place up to the frame the platform keeps on the screen.
            EXPECT_EQ(got.Width(), c.expected.Width());
            EXPECT_EQ(got.Height(), c.expected.Height());
            EXPECT_NEAR(got.left, c.expected.left, 4);
            EXPECT_NEAR(got.top, c.expected.top, 4);
        }
        close();
        EXPECT_EQ(CRect(UnpackRect(ReadValue("dialog").data())), got);  // what is stored back
    }
}

TEST_F(ClientDialog, AnImageFitsTheControlAndTheDialog) {
    TestDlg& d = open();
    // The template's dialog is wider than the test screen: start from a small one.
    d.MoveWindow(0, 0, 400, 300);
    d.m_ziv.MoveWindow(196, 0, 100, 100);
    d.m_rcInitial = CRect(0, 0, 350, 250);
    const CRect before = window_rect(d.GetSafeHwnd());
    control->width = 450;
    control->rows = 350;
    control->fire(0);
    HWND ziv = d.m_ziv.GetSafeHwnd();
    EXPECT_EQ(ziv->size(), QSize(450, 350));
    const CRect after = window_rect(d.GetSafeHwnd());
    EXPECT_EQ(after.Width(), 400 + 450 - 100);
    EXPECT_EQ(after.Height(), 300 + 350 - 100);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(control->log.back(), "SetPosition 196,0,450,350");
    // Smaller than at the first start: the dialog keeps its first-start size, the control shrinks.
    control->width = control->rows = 20;
    control->fire(0);
    EXPECT_EQ(ziv->size(), QSize(20, 20));
    EXPECT_EQ(window_rect(d.GetSafeHwnd()).Width(), d.m_rcInitial.Width());
    EXPECT_EQ(window_rect(d.GetSafeHwnd()).Height(), d.m_rcInitial.Height());
}

TEST_F(ClientDialog, WindowRectanglesComeBackAtTheNextStart) {
    TestDlg& first = open();
    const CRect template_size = window_rect(first.GetSafeHwnd());
    DWORD type = 0;
    EXPECT_EQ(ReadValue("inidialog", &type).size(), 16u);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(UnpackRect(ReadValue("inidialog").data()).right - UnpackRect(ReadValue("inidialog").data()).left,
              template_size.Width());
    first.MoveWindow(40, 30, template_size.Width() + 50, template_size.Height() + 20);
    first.m_ziv.MoveWindow(200, 5, 300, 200);
    close();
    ASSERT_EQ(ReadValue("dialog").size(), 16u);
    ASSERT_EQ(ReadValue("ziv").size(), 16u);
    const std::vector<BYTE> initial = ReadValue("inidialog");

    TestDlg& second = open();
    EXPECT_EQ(window_rect(second.GetSafeHwnd()),
              CRect(40, 30, 40 + template_size.Width() + 50, 30 + template_size.Height() + 20));
    EXPECT_EQ(second.m_ziv.GetSafeHwnd()->geometry(), QRect(200, 5, 300, 200));
    close();
    EXPECT_EQ(ReadValue("inidialog"), initial);  // never rewritten while "dialog" is usable

    // Malformed values are ignored: the windows keep the template's places.
    WriteValue("dialog", REG_BINARY, std::vector<BYTE>(15, 1));
    WriteValue("ziv", REG_SZ, {'1', '2', 0});
    TestDlg& third = open();
    EXPECT_EQ(window_rect(third.GetSafeHwnd()).Width(), template_size.Width());
    HWND ziv = nullptr;
    third.GetDlgItem(IDC_ZIVCONTROL, &ziv);
    EXPECT_NE(ziv->geometry(), QRect(200, 5, 300, 200));
    close();

    // A rectangle on a monitor that is gone comes back on the nearest screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    WriteRect("dialog", RECT{screen.right() + 5000, 100, screen.right() + 5400, 400});
    TestDlg& fourth = open();
    const CRect placed = window_rect(fourth.GetSafeHwnd());
    EXPECT_EQ(placed.Width(), 400);
    EXPECT_TRUE(screen.intersects(QRect(placed.left, placed.top, placed.Width(), placed.Height())));
}

TEST_F(ClientDialog, TheImageTakesNoLeftClicks) {
    TestDlg& d = open();
    int presses = 0;
    struct Counter : QObject {
        int& n;
        explicit Counter(int& count) : n(count) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::MouseButtonPress) ++n;
            return false;
        }
    } counter(presses);
    d.m_ziv.GetSafeHwnd()->installEventFilter(&counter);
    QTest::mouseClick(d.m_ziv.GetSafeHwnd(), Qt::LeftButton);
    EXPECT_EQ(presses, 0);
    QTest::mouseClick(d.m_ziv.GetSafeHwnd(), Qt::MiddleButton);
    EXPECT_EQ(presses, 1);
    d.m_ziv.GetSafeHwnd()->removeEventFilter(&counter);
}

TEST_F(ClientDialog, SaveImageAndLiveMode) {
    TestDlg& d = open();
    std::vector<std::string> asked;
    const char* answer = "/tmp/picture.bmp";
    CFileDialog::SetModalHook([&](CFileDialog& f) {
        asked.push_back(f.GetDefExt() + "|" + f.GetFilter() + "|" + std::to_string(f.GetFlags()) + "|" +
                        std::to_string(f.IsOpenDialog()));
        if (!answer) return INT_PTR(IDCANCEL);
        f.SetPathName(answer);
        return INT_PTR(IDOK);
    });
    click(IDC_SAVEIMAGE);
    answer = nullptr;
    click(IDC_SAVEIMAGE);  // cancelled: nothing saved
    control->save_result = FALSE;
    answer = "/no/such/folder/x.bmp";
    click(IDC_SAVEIMAGE);  // a failed save passes silently
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0], "bmp|Bitmap files(*.bmp)|*.bmp|All files(*.*)|*.*|||" +
                            std::to_string(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT) + "|0");
    EXPECT_EQ(control->log, (Log{"SaveToBmp /tmp/picture.bmp", "SaveToBmp /no/such/folder/x.bmp"}));
    EXPECT_TRUE(boxes.empty());

    // Live mode: the box disables Save Image; Abort stops the stream and changes no text.
    control->log.clear();
    click(IDC_LIVEMODE);
    EXPECT_EQ(control->log, Log{"live=1"});
    EXPECT_FALSE(d.m_btnSaveImage.IsWindowEnabled());
    click(IDC_SAVEIMAGE);  // a disabled button: no file dialog
    EXPECT_EQ(asked.size(), 3u);
    click(IDC_GETIMAGE);
    control->fire(9);
    control->fire(8);
    control->fire(0);
    const std::string line1 = text(IDC_STATUS1), line2 = text(IDC_STATUS2);
    control->log.clear();
    click(IDC_ABORT);
    EXPECT_EQ(control->log, Log{"Abort"});
    EXPECT_EQ(text(IDC_STATUS1), line1);
    EXPECT_EQ(text(IDC_STATUS2), line2);
    EXPECT_TRUE(static_cast<QCheckBox*>(item(IDC_LIVEMODE))->isChecked());
    click(IDC_LIVEMODE);
    EXPECT_TRUE(d.m_btnSaveImage.IsWindowEnabled());
}

// zivClient started as from a shell without arguments: its exit code.
int StartWithoutArguments() {
    CZivClientApp app;
    char name[] = "zivClient";
    char* argv[] = {name, nullptr};
    app.m_argc = 1;
    app.m_argv = argv;
    app.InitInstance();
    return app.m_nExitCode;
}

TEST_F(ClientDialog, AControlThatCannotBeCreatedIsExplained) {
    control_class.reset();  // nothing registered, in this process or the registry
    TestDlg bare;
    EXPECT_FALSE(bare.Create(nullptr));
    EXPECT_EQ(bare.GetControlCreateError(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(bare.GetSafeHwnd(), nullptr);

    EXPECT_EQ(StartWithoutArguments(), 3);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("not registered"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("regsvr"), std::string::npos) << boxes[0];
}

TEST_F(ClientDialog, AnUnusableRegistryIsNamedWithTheFile) {
    open();
    const std::string lock = dir.file("registry/HKEY_CURRENT_USER.reg.lock");
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);
    testing::internal::CaptureStderr();
    close();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(
        err.find("zivClient: the window rectangle \"ziv\" was not stored: registry: " + lock + ": Is a directory"),
        std::string::npos)
        << err;

    control_class.reset();
    std::filesystem::create_directory(dir.file("registry/HKEY_CLASSES_ROOT.reg"));
    EXPECT_EQ(StartWithoutArguments(), 3);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("HKEY_CLASSES_ROOT.reg is not a regular file"), std::string::npos) << boxes[0];
    EXPECT_EQ(boxes[0].find("not registered"), std::string::npos) << boxes[0];
}

}  // namespace
