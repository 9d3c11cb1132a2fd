// Build tool: renders zivClient's own icon (the picture the program carries as
// data) as PNG files for the desktop's icon theme, one per size:
//   render_icon OUTDIR NAME SIZE...   -> OUTDIR/SIZExSIZE/apps/NAME.png
// Enlargements keep the pixels sharp; reductions are smoothed.
#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "iconimpl.h"
#include "zivclientres.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: render_icon OUTDIR NAME SIZE...\n", stderr);
        return 2;
    }
    // The icon is drawn into a pixmap, which needs a GUI application, but no screen.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    AfxSetIconResources(kClientIcons);
    const HICON icon = AfxLoadIcon(IDR_MAINFRAME);
    if (!icon) {
        std::fputs("render_icon: the program's icon cannot be drawn\n", stderr);
        return 1;
    }
    const QImage image = icon->pixmap.toImage();
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) {
            std::fprintf(stderr, "render_icon: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QString("%1/%2x%2/apps").arg(argv[1]).arg(size);
        const QString file = dir + "/" + argv[2] + ".png";
        const auto mode =
            size >= image.width() && size % image.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
        if (!QDir().mkpath(dir) || !image.scaled(size, size, Qt::IgnoreAspectRatio, mode).save(file, "PNG")) {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
