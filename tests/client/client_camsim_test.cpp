// zivClient end to end: the control module registered by regsvr in a
// temporary registry, the simulated camera on loopback, the dialog showing
// what the camera sent, once and in live mode.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "server.h"
#include "workdir.h"
#include "zivclientdlg.h"
#include "zivclientres.h"

namespace {

using ziv::test::WorkDir;

class CountingDlg : public CZivClientDlg {
public:
    int ready = 0;
    int failures = 0;

protected:
    void OnPictureReady(LONG status) override {
        if (status == 0) ++ready;
        if (status != 0 && status != 8 && status != 9) ++failures;
        CZivClientDlg::OnPictureReady(status);
    }
};

class ClientCamsim : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZIV_REGISTRY_DIR", dir.file("registry").c_str(), 1);
        const ziv::test::RunResult r = dir.run("regsvr", {ZIV_CONTROL_MODULE});
        ASSERT_EQ(r.status, 0) << r.err;
        ziv::camsim::Options options;
        options.port = 0;
        options.sensor_width = 320;
        options.sensor_height = 240;
        camera = std::make_unique<ziv::camsim::Server>(options);
        std::string error;
        ASSERT_TRUE(camera->start(error)) << error;
        AfxEnableControlContainer();
        dlg = std::make_unique<CountingDlg>();
        ASSERT_TRUE(dlg->Create(nullptr)) << std::hex << dlg->GetControlCreateError();
        set(IDC_SERVERIP, "127.0.0.1");
        set(IDC_SERVERPORT, std::to_string(camera->port()));
    }
    void TearDown() override {
        dlg.reset();
        if (camera) camera->stop();
    }

    QWidget* item(int id) const {
        HWND w = nullptr;
        dlg->GetDlgItem(id, &w);
        return w;
    }
    void set(int id, const std::string& text) const {
        static_cast<QLineEdit*>(item(id))->setText(QString::fromStdString(text));
    }
    bool wait_for(const std::function<bool()>& done, int ms = 10000) const {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms) QTest::qWait(5);
        return done();
    }
    // The control's part of the dialog as the screen would show it equals camera frame `frame`.
    void expect_shown(std::uint64_t frame, int width, int rows, int incrx, int incry) const {
        QWidget* ziv = dlg->m_ziv.GetSafeHwnd();
        ASSERT_EQ(ziv->size(), QSize(width, rows));
        const QImage shown = dlg->GetSafeHwnd()->grab(ziv->geometry()).toImage().convertToFormat(
            QImage::Format_Grayscale8);
        ASSERT_EQ(shown.size(), QSize(width, rows));
        int wrong = 0;
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t* sent = camera->source().row(frame, r * incry);
            for (int c = 0; c < width; ++c) wrong += shown.constScanLine(r)[c] != sent[c * incrx];
        }
        EXPECT_EQ(wrong, 0) << "pixels the dialog shows that differ from what the camera sent";
    }

    WorkDir dir;
    std::unique_ptr<ziv::camsim::Server> camera;
    std::unique_ptr<CountingDlg> dlg;
};

TEST_F(ClientCamsim, ShowsASingleImageAndALiveStream) {
    set(IDC_DX, "320");
    set(IDC_DY, "240");
    set(IDC_INCX, "2");
    QTest::mouseClick(item(IDC_GETIMAGE), Qt::LeftButton);
    ASSERT_TRUE(wait_for([&] { return dlg->ready == 1; })) << dlg->GetDlgItemText(IDC_STATUS2);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_STATUS1).rfind("Last image rendered for ", 0), 0u);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_STATUS2).rfind("Last image received for ", 0), 0u);
    expect_shown(0, 160, 240, 2, 1);

    // Live: images keep coming until the box is cleared; Save Image is off meanwhile.
    QTest::mouseClick(item(IDC_LIVEMODE), Qt::LeftButton);
    set(IDC_INCX, "1");
    QTest::mouseClick(item(IDC_GETIMAGE), Qt::LeftButton);
    EXPECT_FALSE(item(IDC_SAVEIMAGE)->isEnabled());
    ASSERT_TRUE(wait_for([&] { return dlg->ready >= 5; }));
    QTest::mouseClick(item(IDC_LIVEMODE), Qt::LeftButton);
    const int after_clear = dlg->ready;
    QTest::qWait(300);
    EXPECT_LE(dlg->ready, after_clear + 1) << "the stream ends after the image in reception";
    EXPECT_TRUE(item(IDC_SAVEIMAGE)->isEnabled());
    EXPECT_EQ(dlg->failures, 0);
    expect_shown(std::uint64_t(dlg->ready - 1), 320, 240, 1, 1);

    // An unreachable server: line 2 says so, line 1 keeps the request text.
    camera->stop();
    QTest::mouseClick(item(IDC_GETIMAGE), Qt::LeftButton);
    ASSERT_TRUE(wait_for([&] { return dlg->failures > 0; }));
    EXPECT_EQ(dlg->GetDlgItemText(IDC_STATUS2), "No server to connect to.");
    EXPECT_EQ(dlg->GetDlgItemText(IDC_STATUS1), "Request for new image selected.");
}

}  // namespace
