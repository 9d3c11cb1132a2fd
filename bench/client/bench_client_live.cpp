// zivClient's dialog in live mode against a running camsim, under whatever Qt
// platform is set (offscreen when none): the control created by class
// identifier through the registry, the Live mode box checked and Get Image
// clicked as a user would, every image through the dialog's PictureReady
// handler (timing lines, fitting, all items rewritten) and painted at the
// screen's pace. Prints images/s like the other live clients.
//
// usage: bench_client_live --port P [--host 127.0.0.1] --size WxH [--images N]
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench_common.h"
#include "zivclientdlg.h"
#include "zivclientres.h"

namespace {
class BenchDlg : public CZivClientDlg {
public:
    int wanted = 0;
    int ready = 0;
    LONG failure = -1;
    std::chrono::steady_clock::time_point start;
    static constexpr int kWarmup = 3;

protected:
    void OnPictureReady(LONG status) override {
        CZivClientDlg::OnPictureReady(status);
        if (status == 0) {
            if (++ready == kWarmup) start = std::chrono::steady_clock::now();
            if (ready == kWarmup + wanted) {
                m_ziv.SetLive(FALSE);  // no further request
                QCoreApplication::exit(0);
            }
        } else if (status != 8 && status != 9) {
            failure = status;
            QCoreApplication::exit(1);
        }
    }
};

// Counts the paint events of every widget, to show the pace of repainting.
class PaintCounter : public QObject {
public:
    long control = 0, other = 0;
    QWidget* control_window = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++(watched == control_window ? control : other);
        return false;
    }
};

QWidget* Item(const CDialog& dlg, int id) {
    HWND w = nullptr;
    dlg.GetDlgItem(id, &w);
    return w;
}
}  // namespace

int main(int argc, char** argv) {
    ziv::bench::ClientArgs args;
    if (const auto status = ziv::bench::parse_client_args("bench_client_live", argc, argv, args)) return *status;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    AfxEnableControlContainer();
    AfxSetIconResources(kClientIcons);

    BenchDlg dlg;
    dlg.wanted = args.images;
    if (!dlg.Create(nullptr)) {
        std::fprintf(stderr, "bench_client_live: the dialog cannot be made (control not registered? 0x%08X)\n",
                     unsigned(dlg.GetControlCreateError()));
        return 1;
    }
    const struct {
        int id;
        std::string text;
    } fields[] = {{IDC_SERVERIP, args.host}, {IDC_SERVERPORT, std::to_string(args.port)},
                  {IDC_DX, std::to_string(args.width)}, {IDC_DY, std::to_string(args.height)}};
    for (const auto& f : fields) static_cast<QLineEdit*>(Item(dlg, f.id))->setText(QString::fromStdString(f.text));
    PaintCounter paints;
    paints.control_window = dlg.m_ziv.GetSafeHwnd();
    app.installEventFilter(&paints);
    QTest::mouseClick(Item(dlg, IDC_LIVEMODE), Qt::LeftButton);
    QTest::mouseClick(Item(dlg, IDC_GETIMAGE), Qt::LeftButton);
    QTimer::singleShot(120000, [] { QCoreApplication::exit(3); });
    const int rc = app.exec();
    const double s = ziv::bench::seconds_since(dlg.start);
    dlg.m_ziv.Abort();
    if (rc != 0) {
        std::fprintf(stderr, "bench_client_live: %s (status %ld after %d images)\n",
                     rc == 3 ? "timed out" : "exchange failed", long(dlg.failure), dlg.ready);
        return 1;
    }
    const double payload = double(args.images) * args.width * args.height;
    std::printf("client %dx%d images/s %.1f GB/s %.3f ms/image %.4f images %d paints/s %.1f other-paints/s %.1f\n",
                args.width, args.height, args.images / s, payload / s / 1e9, s * 1e3 / args.images, args.images,
                paints.control / s, paints.other / s);
    return 0;
}
