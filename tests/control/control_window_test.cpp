// The control in a real window (offscreen platform): what it paints, how it
// is moved, and what happens to its display when the window goes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cstring>

#include "harness.h"

namespace {

// Counts the paints that reach OnDraw.
struct CountingCtrl : CZiVControlCtrl {
    int draws = 0;
    using CZiVControlCtrl::CZiVControlCtrl;
    void OnDraw(CDC* dc, const CRect& bounds, const CRect& invalid) override {
        ++draws;
        CZiVControlCtrl::OnDraw(dc, bounds, invalid);
    }
};

struct Windowed {
    std::unique_ptr<QWidget> parent = std::make_unique<QWidget>();
    ScriptedSocket* sock;
    std::unique_ptr<CountingCtrl> ctrl;
    std::vector<LONG> statuses;
    explicit Windowed(const CRect& pos = CRect(0, 0, 100, 80)) {
        auto s = std::make_unique<ScriptedSocket>();
        sock = s.get();
        ctrl = std::make_unique<CountingCtrl>(std::move(s));
        FunctionSink::Advise(ctrl->GetControllingUnknown(), DIID__DZiVControlEvents,
                             [this](DISPID, LONG st) { statuses.push_back(st); });
        parent->resize(300, 200);
        parent->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
        EXPECT_TRUE(ctrl->CreateControlWindow(parent.get(), pos));
    }
    void Show(int dx, int dy, int seed) {
        ctrl->RequestImage(0, 0, dx, dy, 1, 1);
        sock->Connected();
        sock->Deliver(Reply(0, 0, dx, dy, 1, 1, seed));
    }
    QImage Grab() { return ctrl->GetSafeHwnd()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST(ControlWindow, WhiteBeforeAnyImage) {
    Windowed w;
    const QImage shot = w.Grab();
    ASSERT_EQ(shot.size(), QSize(100, 80));
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(shot.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
}

TEST(ControlWindow, ImageIsCopiedClippedNeverScaled) {
    Windowed w;
    const int before = w.ctrl->draws;
    w.Show(160, 120, 4);                                     // larger than the window
    QTRY_VERIFY_WITH_TIMEOUT(w.ctrl->draws > before, 2000);  // the completion scheduled a repaint
    const QImage shot = w.Grab();
    ASSERT_EQ(shot.size(), QSize(100, 80));
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) {
            const int v = PatternPixel(x, y, 4);
            ASSERT_EQ(shot.pixel(x, y), qRgb(v, v, v)) << x << "," << y;
        }
}

TEST(ControlWindow, SetPositionFitsTheWindowToTheImage) {
    Windowed w;
    w.Show(64, 48, 2);
    LONG x, y, dx, dy;
    w.ctrl->GetImgAttrib(&x, &y, &dx, &dy);
    w.ctrl->SetPosition(7, 9, dx, dy);
    EXPECT_EQ(w.ctrl->GetSafeHwnd()->geometry(), QRect(7, 9, 64, 48));
    const QImage shot = w.Grab();
    ASSERT_EQ(shot.size(), QSize(64, 48));
    EXPECT_EQ(qGray(shot.pixel(63, 47)), PatternPixel(63, 47, 2));
}

TEST(ControlWindow, DestroyingTheWindowReleasesTheDisplayButKeepsTheRows) {
    Windowed w;
    w.Show(30, 20, 1);  // rows with fill bytes: copied into the same rows every time
    const BYTE* rows = w.ctrl->GetPixelRows();
    ASSERT_TRUE(w.ctrl->HasMemoryDC());
    w.ctrl->DestroyWindow();
    EXPECT_FALSE(w.ctrl->HasMemoryDC());
    EXPECT_EQ(w.ctrl->GetDisplayBitmap(), nullptr);
    EXPECT_EQ(w.ctrl->GetPixelRows(), rows);
    w.Show(30, 20, 2);
    EXPECT_EQ(w.ctrl->GetPixelRows(), rows) << "same geometry: the rows are reused";
    EXPECT_TRUE(w.ctrl->HasMemoryDC());
    // The parent going away takes the control's new window with it.
    ASSERT_TRUE(w.ctrl->CreateControlWindow(w.parent.get(), CRect(0, 0, 30, 20)));
    w.parent.reset();
    EXPECT_EQ(w.ctrl->GetSafeHwnd(), nullptr);
    EXPECT_FALSE(w.ctrl->HasMemoryDC());
}

TEST(ControlWindow, TwoControlsInOneWindow) {
    Windowed a(CRect(0, 0, 50, 40));
    auto s = std::make_unique<ScriptedSocket>();
    ScriptedSocket* sock = s.get();
    CZiVControlCtrl b(std::move(s));
    ASSERT_TRUE(b.CreateControlWindow(a.parent.get(), CRect(60, 0, 110, 40)));
    a.Show(50, 40, 1);
    b.RequestImage(0, 0, 50, 40, 1, 1);
    sock->Connected();
    sock->Deliver(Reply(0, 0, 50, 40, 1, 1, 9));
    const QImage left = a.Grab();
    const QImage right = b.GetSafeHwnd()->grab().toImage();
    EXPECT_EQ(qGray(left.pixel(10, 10)), PatternPixel(10, 10, 1));
    EXPECT_EQ(qGray(right.pixel(10, 10)), PatternPixel(10, 10, 9));
}

TEST(ControlWindow, ReportsItsPaintFlags) {
    Windowed w;
    const DWORD flags = w.ctrl->GetControlFlags();
    EXPECT_TRUE(flags & COleControl::clipPaintDC);
    EXPECT_TRUE(flags & COleControl::noFlickerActivate);
}

}  // namespace
