// Pixel rows, display bitmap, drawing and BMP output, without any window
// (only a QCoreApplication exists in this program).
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstring>

#include "harness.h"

using namespace imageproto;

namespace {

using Statuses = std::vector<LONG>;

std::string ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = f.readAll();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

std::uint32_t Le32(const std::string& s, size_t at) {
    return std::uint32_t(BYTE(s[at])) | std::uint32_t(BYTE(s[at + 1])) << 8 | std::uint32_t(BYTE(s[at + 2])) << 16 |
           std::uint32_t(BYTE(s[at + 3])) << 24;
}
std::uint16_t Le16(const std::string& s, size_t at) { return std::uint16_t(BYTE(s[at]) | BYTE(s[at + 1]) << 8); }

// Completes one image with the given header geometry on a fresh connection.
void ShowImage(Harness& h, int dx, int dy, int incrx, int incry, int seed) {
    h.ctrl->RequestImage(0, 0, dx, dy, incrx, incry);
    h.sock->Connected();
    h.sock->Deliver(Reply(3, 4, dx, dy, incrx, incry, seed));
}

QImage Draw(CZiVControlCtrl& ctrl, int w, int h) {
    QImage target(w, h, kScreenFormat);
    target.fill(qRgb(1, 2, 3));
    CDC dc(&target);
    ctrl.DrawContent(&dc, CRect(0, 0, w, h));
    return target;
}

TEST(ControlDisplay, StridePaddingAndTheSavedFile) {
    struct Case {
        int dx, dy, incrx, incry;
        int width, rows, stride;
    };
    const Case cases[] = {
        {101, 5, 1, 1, 101, 5, 104},
        {10, 7, 3, 2, 4, 4, 4},
        {640, 480, 3, 1, 214, 480, 216},
        {1, 1, 1, 1, 1, 1, 4},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dx << "x" << c.dy << " step " << c.incrx << "," << c.incry);
        Harness h;
        ShowImage(h, c.dx, c.dy, c.incrx, c.incry, 7);
        ASSERT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
        LONG x, y, w, r;
        h.ctrl->GetImgAttrib(&x, &y, &w, &r);
        EXPECT_EQ((std::vector<LONG>{x, y, w, r}), (std::vector<LONG>{3, 4, c.width, c.rows}));

        const QString path = dir.filePath("image.bmp");
        ASSERT_TRUE(h.ctrl->SaveToBmp(path.toLocal8Bit().constData()));
        const std::string file = ReadFile(path);
        const size_t pixelBytes = size_t(c.stride) * c.rows;
        ASSERT_EQ(file.size(), 1078 + pixelBytes);
        EXPECT_EQ(file.substr(0, 2), "BM");
        EXPECT_EQ(Le32(file, 2), 1078 + pixelBytes);
        EXPECT_EQ(Le32(file, 6), 0u) << "both reserved words";
        EXPECT_EQ(Le32(file, 10), 1078u);
        EXPECT_EQ(Le32(file, 14), 40u);
        EXPECT_EQ(std::int32_t(Le32(file, 18)), c.width);
        EXPECT_EQ(std::int32_t(Le32(file, 22)), -c.rows);
        EXPECT_EQ(Le16(file, 26), 1);
        EXPECT_EQ(Le16(file, 28), 8);
        EXPECT_EQ(Le32(file, 30), 0u);
        EXPECT_EQ(Le32(file, 34), pixelBytes);
        for (size_t at = 38; at < 54; at += 4) EXPECT_EQ(Le32(file, at), 0u) << "field at " << at;
        for (int i = 0; i < 256; ++i) ASSERT_EQ(Le32(file, 54 + 4 * size_t(i)), std::uint32_t(i) * 0x010101u);
        for (int row = 0; row < c.rows; ++row)
            for (int col = c.width; col < c.stride; ++col)
                ASSERT_EQ(file[1078 + size_t(row) * c.stride + col], 0) << "fill byte of row " << row;

        // Qt's own reader sees what was sent, pixel for pixel.
        QImage decoded;
        ASSERT_TRUE(decoded.load(path, "BMP"));
        ASSERT_EQ(decoded.width(), c.width);
        ASSERT_EQ(decoded.height(), c.rows);
        for (int row = 0; row < c.rows; ++row)
            for (int col = 0; col < c.width; ++col)
                ASSERT_EQ(qGray(decoded.pixel(col, row)), PatternPixel(col, row, 7)) << col << "," << row;

        // The display shows the same grey levels.
        const QImage shown = Draw(*h.ctrl, c.width, c.rows);
        for (int row = 0; row < c.rows; ++row)
            for (int col = 0; col < c.width; ++col) {
                const int v = PatternPixel(col, row, 7);
                ASSERT_EQ(shown.pixel(col, row), qRgb(v, v, v));
            }
    }
}

TEST(ControlDisplay, SameGeometryReusesAndOtherGeometryReplaces) {
    struct Step {
        int dx, dy, incrx, incry;
        bool reused;  // display bitmap and pixel rows of the previous image
    };
    // 30 wide: rows with fill bytes, so the rows are copied, not traded.
    const Step steps[] = {
        {30, 20, 1, 1, false}, {30, 20, 1, 1, true}, {30, 20, 2, 1, false},
        {30, 20, 2, 2, false}, {30, 20, 2, 2, true}, {12, 5, 1, 1, false},
    };
    Harness h;
    const CBitmap* bitmap = nullptr;
    const BYTE* rows = nullptr;
    int seed = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.dx << "x" << s.dy << " step " << s.incrx << "," << s.incry);
        ShowImage(h, s.dx, s.dy, s.incrx, s.incry, ++seed);
        if (s.reused) {
            EXPECT_EQ(h.ctrl->GetDisplayBitmap(), bitmap);
            EXPECT_EQ(h.ctrl->GetPixelRows(), rows);
        }
        bitmap = h.ctrl->GetDisplayBitmap();
        rows = h.ctrl->GetPixelRows();
        const int w = int(image_width(s.dx, s.incrx)), r = int(image_rows(s.dy, s.incry));
        ASSERT_EQ(bitmap->Width(), w);
        ASSERT_EQ(bitmap->Height(), r);
        // Nothing of an earlier image shows through.
        const QImage shown = Draw(*h.ctrl, 40, 30);
        for (int y = 0; y < r; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = PatternPixel(x, y, seed);
                ASSERT_EQ(shown.pixel(x, y), qRgb(v, v, v)) << x << "," << y;
            }
    }
}

TEST(ControlDisplay, LiveImagesShowOnlyWhenComplete) {
    // Same geometry again and again: the incoming image is converted while it
    // arrives, in reads that end in the middle of rows.
    for (const auto& [dx, dy] : {std::pair{64, 40}, std::pair{62, 40}}) {
        SCOPED_TRACE(testing::Message() << dx << " wide");
        Harness h;
        h.ctrl->SetLive(TRUE);
        h.Start(dx, dy);
        for (int seed = 1; seed <= 4; ++seed) {
            const std::vector<BYTE> reply = Reply(0, 0, dx, dy, 1, 1, seed);
            h.sock->Deliver({reply.begin(), reply.end() - 300}, {1000, 77});
            const QImage during = Draw(*h.ctrl, dx, dy);
            h.sock->Deliver({reply.end() - 300, reply.end()});
            const QImage after = Draw(*h.ctrl, dx, dy);
            for (int y = 0; y < dy; ++y)
                for (int x = 0; x < dx; ++x) {
                    const int was = PatternPixel(x, y, seed - 1), now = PatternPixel(x, y, seed);
                    ASSERT_EQ(during.pixel(x, y), seed == 1 ? qRgb(255, 255, 255) : qRgb(was, was, was))
                        << "image " << seed << " at " << x << "," << y;
                    ASSERT_EQ(after.pixel(x, y), qRgb(now, now, now)) << "image " << seed << " at " << x << "," << y;
                }
        }
        // An abandoned image leaves the last complete one on display.
        const std::vector<BYTE> reply = Reply(0, 0, dx, dy, 1, 1, 9);
        h.sock->Deliver({reply.begin(), reply.begin() + 2000});
        h.ctrl->Abort();
        EXPECT_EQ(qGray(Draw(*h.ctrl, dx, dy).pixel(1, 1)), PatternPixel(1, 1, 4));
    }
}

TEST(ControlDisplay, RefusedGeometryKeepsThePreviousImage) {
    Harness h;
    ShowImage(h, 16, 8, 1, 1, 1);
    const QImage before = Draw(*h.ctrl, 16, 8);
    h.Take();
    h.ctrl->RequestImage(0, 0, 16, 8, 1, 1);
    h.sock->Connected();
    h.sock->Deliver(Reply(ImageHeader{0, 0, 0, 16, 8, 0, 1}, Pixels(16, 8, 2)));
    EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY}));
    EXPECT_EQ(Draw(*h.ctrl, 16, 8), before);
    LONG x, y, w, r;
    h.ctrl->GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ(w, 0) << "a zero step reports no width";
    EXPECT_EQ(r, 8);
}

TEST(ControlDisplay, DrawsWhiteWithoutAnImageAndClipsWithoutScaling) {
    Harness h;
    const QImage blank = Draw(*h.ctrl, 20, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(blank.pixel(x, y), qRgb(255, 255, 255));
    ShowImage(h, 64, 48, 1, 1, 3);
    // Bounds smaller than the image: the top-left part, at its own size.
    const QImage part = Draw(*h.ctrl, 20, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const int v = PatternPixel(x, y, 3);
            ASSERT_EQ(part.pixel(x, y), qRgb(v, v, v));
        }
    // Drawn at an offset inside a larger surface.
    QImage target(100, 100, kScreenFormat);
    target.fill(qRgb(1, 2, 3));
    CDC dc(&target);
    h.ctrl->DrawContent(&dc, CRect(10, 20, 30, 25));
    EXPECT_EQ(target.pixel(10, 20), qRgb(PatternPixel(0, 0, 3), PatternPixel(0, 0, 3), PatternPixel(0, 0, 3)));
    EXPECT_EQ(target.pixel(29, 24), qRgb(PatternPixel(19, 4, 3), PatternPixel(19, 4, 3), PatternPixel(19, 4, 3)));
    EXPECT_EQ(target.pixel(30, 24), qRgb(1, 2, 3));
    EXPECT_EQ(target.pixel(9, 20), qRgb(1, 2, 3));
}

TEST(ControlSave, WhenItSavesAndWhenItRefuses) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("out.bmp").toStdString();
    {
        SCOPED_TRACE("before any image: the headers alone");
        Harness h;
        EXPECT_TRUE(h.ctrl->SaveToBmp(path.c_str()));
        const std::string file = ReadFile(QString::fromStdString(path));
        ASSERT_EQ(file.size(), 1078u);
        EXPECT_EQ(Le32(file, 2), 1078u);
        EXPECT_EQ(Le32(file, 18), 0u);
        EXPECT_EQ(Le32(file, 22), 0u);
    }
    {
        SCOPED_TRACE("live mode: refused, file untouched");
        Harness h;
        ShowImage(h, 8, 8, 1, 1, 1);
        h.ctrl->SetLive(TRUE);
        EXPECT_FALSE(h.ctrl->SaveToBmp(path.c_str()));
        EXPECT_EQ(ReadFile(QString::fromStdString(path)).size(), 1078u);
    }
    {
        SCOPED_TRACE("while a single image arrives: the one on display");
        Harness h;
        ShowImage(h, 8, 8, 1, 1, 1);
        h.ctrl->RequestImage(0, 0, 8, 8, 1, 1);
        h.sock->Connected();
        const std::vector<BYTE> next = Reply(0, 0, 8, 8, 1, 1, 2);
        h.sock->Deliver({next.begin(), next.begin() + 50});
        ASSERT_TRUE(h.ctrl->SaveToBmp(path.c_str()));
        QImage decoded(QString::fromStdString(path), "BMP");
        ASSERT_EQ(decoded.width(), 8);
        EXPECT_EQ(qGray(decoded.pixel(5, 6)), PatternPixel(5, 6, 1));
    }
    {
        SCOPED_TRACE("after a read error: the rows are gone");
        Harness h;
        ShowImage(h, 8, 8, 1, 1, 1);
        h.ctrl->RequestImage(0, 0, 8, 8, 1, 1);
        h.sock->Connected();
        h.sock->ReceiveError(WSAECONNRESET);
        EXPECT_FALSE(h.ctrl->SaveToBmp(dir.filePath("after-error.bmp").toLocal8Bit().constData()));
        EXPECT_FALSE(QFile::exists(dir.filePath("after-error.bmp")));
        const QImage white = Draw(*h.ctrl, 8, 8);
        EXPECT_EQ(white.pixel(3, 3), qRgb(255, 255, 255));
    }
    {
        SCOPED_TRACE("the file cannot be opened or written");
        Harness h;
        ShowImage(h, 8, 8, 1, 1, 1);
        EXPECT_FALSE(h.ctrl->SaveToBmp(dir.filePath("no/such/folder.bmp").toLocal8Bit().constData()));
        EXPECT_FALSE(h.ctrl->SaveToBmp(nullptr));
        if (QFile::exists("/dev/full")) {
            EXPECT_FALSE(h.ctrl->SaveToBmp("/dev/full"));
        }
    }
}

TEST(ControlDisplay, TwoControlsKeepTheirOwnImages) {
    Harness a, b;
    ShowImage(a, 16, 8, 1, 1, 1);
    ShowImage(b, 30, 20, 2, 2, 2);
    ShowImage(a, 16, 8, 1, 1, 3);
    LONG x, y, w, r;
    b.ctrl->GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ(w, 15);
    EXPECT_EQ(r, 10);
    EXPECT_NE(a.ctrl->GetPixelRows(), b.ctrl->GetPixelRows());
    EXPECT_EQ(std::memcmp(a.ctrl->GetPixelRows(), Pixels(16, 8, 3).data(), 128), 0);
    const QImage shown = Draw(*b.ctrl, 15, 10);
    EXPECT_EQ(qGray(shown.pixel(14, 9)), PatternPixel(14, 9, 2));
}

TEST(ControlDisplay, ControlWithoutAWindowIgnoresSetPosition) {
    Harness h;
    ShowImage(h, 16, 8, 1, 1, 1);
    h.ctrl->SetPosition(1, 2, 3, 4);
    EXPECT_EQ(h.ctrl->GetSafeHwnd(), nullptr);
    EXPECT_TRUE(h.ctrl->HasMemoryDC());
}

}  // namespace
