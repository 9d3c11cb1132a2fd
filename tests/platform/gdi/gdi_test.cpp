#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cdc.h"
#include "wingdi.h"

namespace {

BITMAPINFO GreyInfo(int width, int height) {
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof bmi);
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 8;
    for (int i = 0; i < 256; ++i) bmi.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    return bmi;
}

// Rows of `stride` bytes whose pixel (x, y) is x * 7 + y * 13 (mod 256).
std::vector<BYTE> Pattern(int width, int rows) {
    const int stride = (width + 3) / 4 * 4;
    std::vector<BYTE> bits(size_t(stride) * rows, 0xEE);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) bits[size_t(y) * stride + x] = BYTE(x * 7 + y * 13);
    return bits;
}

QRgb Grey(int v) { return qRgb(v & 255, v & 255, v & 255); }

TEST(GdiLayouts, FieldOffsetsMatchTheFileFormat) {
    EXPECT_EQ(offsetof(BITMAPFILEHEADER, bfSize), 2u);
    EXPECT_EQ(offsetof(BITMAPFILEHEADER, bfOffBits), 10u);
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biBitCount), 14u);
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biSizeImage), 20u);
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biClrImportant), 36u);
    EXPECT_EQ(offsetof(BITMAPINFO, bmiColors), 40u);
}

TEST(GdiBitmap, CompatibleBitmapHasTheScreenFormatAndRefusesEmptySizes) {
    CDC screen;
    CBitmap bitmap;
    EXPECT_FALSE(bitmap.CreateCompatibleBitmap(&screen, 0, 5));
    EXPECT_FALSE(bitmap.CreateCompatibleBitmap(&screen, 5, -1));
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 7, 3));
    EXPECT_EQ(bitmap.Image().format(), kScreenFormat);
    EXPECT_EQ(bitmap.Width(), 7);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_TRUE(bitmap.DeleteObject());
    EXPECT_FALSE(bitmap.IsCreated());
}

struct DibCase {
    const char* name;
    int width, rows;  // the DIB
    bool topDown;
    int bitmapW, bitmapH;  // the target bitmap
    UINT start, lines;
    int expectConverted;
};

TEST(GdiSetDIBits, ConvertsRowsWithOrientationAndClipping) {
    const DibCase cases[] = {
        {"top-down, exact", 13, 5, true, 13, 5, 0, 5, 5},
        {"bottom-up, exact", 13, 5, false, 13, 5, 0, 5, 5},
        {"bitmap narrower and shorter", 13, 5, true, 6, 3, 0, 5, 3},
        {"more lines asked than the DIB has", 8, 4, true, 8, 4, 0, 10, 4},
        {"start scan in the middle", 9, 6, true, 9, 6, 2, 3, 3},
        {"rows wider than one vector step", 53, 3, false, 53, 3, 0, 3, 3},
    };
    for (const DibCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<BYTE> bits = Pattern(c.width, c.rows);
        const int stride = (c.width + 3) / 4 * 4;
        BITMAPINFO bmi = GreyInfo(c.width, c.topDown ? -c.rows : c.rows);
        CDC screen;
        CBitmap bitmap;
        ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, c.bitmapW, c.bitmapH));
        bitmap.Image().fill(qRgb(1, 2, 3));
        EXPECT_EQ(
            SetDIBits(&screen, &bitmap, c.start, c.lines, bits.data() + size_t(c.start) * stride, &bmi, DIB_RGB_COLORS),
            c.expectConverted);
        for (int y = 0; y < c.bitmapH; ++y) {
            // Which DIB scan line landed on this bitmap row, if any.
            const int scan = c.topDown ? y : c.rows - 1 - y;
            const bool written = scan >= int(c.start) && scan < int(c.start + c.lines) && scan < c.rows;
            for (int x = 0; x < c.bitmapW; ++x) {
                const QRgb expected = (written && x < c.width) ? Grey(x * 7 + scan * 13) : qRgb(1, 2, 3);
                ASSERT_EQ(bitmap.Image().pixel(x, y), expected) << "at " << x << "," << y;
            }
        }
    }
}

TEST(GdiSetDIBits, LargeBitmapsGiveTheSamePixels) {
    // Large enough to bypass the cache; odd width so rows start unaligned.
    const int width = 2053, rows = 2050;
    const std::vector<BYTE> bits = Pattern(width, rows);
    BITMAPINFO bmi = GreyInfo(width, -rows);
    CDC screen;
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, width, rows));
    ASSERT_EQ(SetDIBits(&screen, &bitmap, 0, rows, bits.data(), &bmi, DIB_RGB_COLORS), rows);
    const int stride = (width + 3) / 4 * 4;
    for (int y = 0; y < rows; ++y) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(bitmap.Image().constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = bits[size_t(y) * stride + x];
            ASSERT_EQ(line[x], 0xFF000000u | v * 0x010101u) << x << "," << y;
        }
    }
}

TEST(GdiSetDIBits, UsesTheColourTableWhenItIsNotGrey) {
    BITMAPINFO bmi = GreyInfo(4, -1);
    bmi.bmiColors[10] = RGBQUAD{30, 20, 10, 0};  // blue, green, red
    bmi.bmiColors[200] = RGBQUAD{0, 0, 255, 0};
    const BYTE bits[4] = {10, 200, 0, 255};
    CDC screen;
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 4, 1));
    ASSERT_EQ(SetDIBits(&screen, &bitmap, 0, 1, bits, &bmi, DIB_RGB_COLORS), 1);
    EXPECT_EQ(bitmap.Image().pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(bitmap.Image().pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(bitmap.Image().pixel(2, 0), qRgb(0, 0, 0));
    EXPECT_EQ(bitmap.Image().pixel(3, 0), qRgb(255, 255, 255));
}

TEST(GdiSetDIBits, RefusesWhatItCannotConvert) {
    CDC screen;
    CBitmap bitmap, empty;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 4, 1));
    const BYTE bits[4] = {};
    BITMAPINFO bmi = GreyInfo(4, -1);
    EXPECT_EQ(SetDIBits(&screen, &empty, 0, 1, bits, &bmi, DIB_RGB_COLORS), 0);
    EXPECT_EQ(SetDIBits(&screen, &bitmap, 0, 1, bits, &bmi, 1 /* palette indices */), 0);
    bmi.bmiHeader.biBitCount = 24;
    EXPECT_EQ(SetDIBits(&screen, &bitmap, 0, 1, bits, &bmi, DIB_RGB_COLORS), 0);
}

TEST(GdiSetDIBits, ReusesTheBitmapPixels) {
    CDC screen;
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 64, 8));
    const uchar* before = bitmap.Image().constBits();
    const std::vector<BYTE> bits = Pattern(64, 8);
    BITMAPINFO bmi = GreyInfo(64, -8);
    SetDIBits(&screen, &bitmap, 0, 8, bits.data(), &bmi, DIB_RGB_COLORS);
    SetDIBits(&screen, &bitmap, 0, 8, bits.data(), &bmi, DIB_RGB_COLORS);
    EXPECT_EQ(bitmap.Image().constBits(), before);
}

// A memory context holding a 6 x 4 bitmap whose pixel (x, y) is grey x*10+y.
struct Source {
    CDC screen;
    CDC mem;
    CBitmap bitmap;
    Source() {
        mem.CreateCompatibleDC(&screen);
        bitmap.CreateCompatibleBitmap(&screen, 6, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) bitmap.Image().setPixel(x, y, Grey(x * 10 + y));
        EXPECT_EQ(mem.SelectObject(&bitmap), nullptr);
    }
};

struct BlitCase {
    const char* name;
    int x, y, w, h, xSrc, ySrc;
};

TEST(GdiBitBlt, CopiesPixelForPixelClippedNeverScaled) {
    const BlitCase cases[] = {
        {"whole source", 0, 0, 6, 4, 0, 0},
        {"block larger than the source", 1, 1, 50, 50, 0, 0},
        {"offset source", 0, 0, 3, 2, 2, 1},
        {"negative source origin", 0, 0, 6, 4, -2, -1},
        {"destination partly outside", -3, 5, 6, 4, 0, 0},
        {"source beyond its bitmap", 0, 0, 6, 4, 10, 0},
    };
    for (const BlitCase& c : cases) {
        SCOPED_TRACE(c.name);
        Source src;
        QImage target(8, 7, kScreenFormat);
        target.fill(qRgb(9, 9, 9));
        CDC dc(&target);
        EXPECT_TRUE(dc.BitBlt(c.x, c.y, c.w, c.h, &src.mem, c.xSrc, c.ySrc, SRCCOPY));
        for (int ty = 0; ty < 7; ++ty)
            for (int tx = 0; tx < 8; ++tx) {
                const int sx = tx - c.x + c.xSrc, sy = ty - c.y + c.ySrc;
                const bool inBlock = tx >= c.x && tx < c.x + c.w && ty >= c.y && ty < c.y + c.h;
                const bool inSource = sx >= 0 && sx < 6 && sy >= 0 && sy < 4;
                const QRgb expected = (inBlock && inSource) ? Grey(sx * 10 + sy) : qRgb(9, 9, 9);
                ASSERT_EQ(target.pixel(tx, ty), expected) << "at " << tx << "," << ty;
            }
    }
}

TEST(GdiBitBlt, MemoryContextToMemoryContextAndRefusals) {
    Source src;
    CDC screen, dst;
    CBitmap bitmap;
    dst.CreateCompatibleDC(&screen);
    bitmap.CreateCompatibleBitmap(&screen, 6, 4);
    EXPECT_FALSE(dst.BitBlt(0, 0, 6, 4, &src.mem, 0, 0, SRCCOPY)) << "no bitmap selected";
    dst.SelectObject(&bitmap);
    EXPECT_FALSE(dst.BitBlt(0, 0, 6, 4, &src.mem, 0, 0, 0x00EE0086 /* SRCPAINT */));
    EXPECT_FALSE(dst.BitBlt(0, 0, 6, 4, &screen, 0, 0, SRCCOPY)) << "a surface description has no pixels";
    ASSERT_TRUE(dst.BitBlt(0, 0, 6, 4, &src.mem, 0, 0, SRCCOPY));
    EXPECT_EQ(bitmap.Image(), src.bitmap.Image());
}

TEST(GdiFillRect, WhiteStockBrushFillsOnlyTheRectangle) {
    QImage target(5, 5, kScreenFormat);
    target.fill(qRgb(0, 0, 0));
    CDC dc(&target);
    const CRect r(1, 2, 4, 9);  // clipped at the bottom
    dc.FillRect(r, CBrush::FromHandle(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(target.pixel(x, y), (x >= 1 && x < 4 && y >= 2) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    EXPECT_TRUE(GdiFlush());
}

}  // namespace
