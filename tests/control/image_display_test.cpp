// The display on its own (no control, no socket, no window): when it converts
// an image for display, ahead while the image arrives or on the next draw.
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <optional>
#include <string>

#include "imagedisplay.h"

namespace {

BYTE Pixel(int x, int y, int seed) { return BYTE(x * 5 + y * 3 + seed * 29); }

struct Shown {
    ImageGeometry g;
    int seed;
};

// What `display` draws into a surface the size of `shown`, compared with it.
::testing::AssertionResult DrawsImage(CImageDisplay& display, const Shown& shown) {
    const int width = shown.g.dx, rows = shown.g.dy;
    QImage target(width, rows, kScreenFormat);
    target.fill(qRgb(1, 2, 3));
    CDC dc(&target);
    display.Draw(&dc, CRect(0, 0, width, rows));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = Pixel(x, y, shown.seed);
            if (target.pixel(x, y) != qRgb(v, v, v))
                return ::testing::AssertionFailure() << "image " << shown.seed << " at " << x << "," << y;
        }
    return ::testing::AssertionSuccess();
}

TEST(ImageDisplayCadence, ConvertsAheadOnlyWhileEachImageIsDrawn) {
    // Script: 'i' an image of the row's width arrives (in two reads, the first
    // ending inside a row) and is shown, 'm' the same with a draw between the
    // reads, 'j' as 'i' with another geometry, 'd' a draw. Cadence, one letter per image: 'a' converted ahead (the back
    // bitmap traded in when shown), 'd' left for the next draw.
    struct Row {
        const char* name;
        bool windowed;
        int width;       // of 'i' images; 'j' images are 12 wide
        int extraBytes;  // announced beyond the geometry's pixels
        const char* script;
        const char* cadence;
    };
    const Row rows[] = {
        {"never drawn: every image waits for a draw", false, 8, 0, "iii", "ddd"},
        {"in a window but never drawn: the same", true, 8, 0, "iii", "ddd"},
        {"drawn after each image: ahead from the second on", false, 8, 0, "ididid", "daa"},
        {"in a window, drawn after each image", true, 16, 0, "ididid", "daa"},
        {"a missed draw: on draw until two in a row were drawn again", false, 8, 0, "idiidididi", "daddda"},
        {"drawn twice per image", false, 8, 0, "iddiddid", "daa"},
        {"drawn only while images arrive: too late", false, 8, 0, "mmmm", "dddd"},
        {"drawn while images arrive and after", false, 8, 0, "mdmdmd", "daa"},
        {"rows with fill bytes: always on draw", false, 6, 0, "ididid", "ddd"},
        {"a length other than the geometry's: on draw", false, 8, 1, "ididid", "ddd"},
        {"another geometry: on draw, then ahead again", false, 8, 0, "ididjdjdjd", "dadaa"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CImageDisplay display;
        std::string cadence;
        std::optional<Shown> shown;
        int seed = 0;
        for (const char* step = row.script; *step; ++step) {
            if (*step == 'd') {
                EXPECT_TRUE(DrawsImage(display, *shown)) << "step " << step - row.script;
                continue;
            }
            const ImageGeometry g{*step == 'j' ? 12 : row.width, 4, 1, 1};
            const std::int64_t exact = std::int64_t(g.dx) * g.dy, size = exact + row.extraBytes;
            ReceivedImage image{Bytes(static_cast<BYTE*>(std::calloc(size_t(size), 1))), size};
            ++seed;
            for (int y = 0; y < g.dy; ++y)
                for (int x = 0; x < g.dx; ++x) image.bytes[size_t(y * g.dx + x)] = Pixel(x, y, seed);

            display.BeginImage(g, size, row.windowed);
            const bool ahead = display.ConvertingAhead();
            display.ConvertArrived(image.bytes.get(), exact / 2 + 3);
            if (*step == 'm' && shown) {
                EXPECT_TRUE(DrawsImage(display, *shown)) << "image " << seed << " arriving";
            }
            display.ConvertArrived(image.bytes.get(), size);
            const CBitmap* front = display.FrontBitmap();
            EXPECT_EQ(display.StopConvertAhead(), ahead ? g.dy : -1);
            ASSERT_EQ(display.Show(image, g, ahead ? g.dy : -1), CImageDisplay::Outcome::shown);
            EXPECT_EQ(display.ConversionPending(), !ahead) << "image " << seed;
            if (ahead) {
                EXPECT_NE(display.FrontBitmap(), front) << "image " << seed << ": the back bitmap traded in";
            }
            cadence += ahead ? 'a' : 'd';
            shown = Shown{g, seed};
        }
        EXPECT_EQ(cadence, row.cadence);
    }
}

}  // namespace
