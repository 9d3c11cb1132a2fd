// The drawing types and functions of the Windows GDI surface that the image
// control uses: the device-independent bitmap structures with their exact
// on-disk layouts, rectangles, stock objects, SetDIBits and GdiFlush.
#pragma once

#include <bit>
#include <cstdint>

#include "wintypes.h"

static_assert(std::endian::native == std::endian::little,
              "the bitmap structures are written to files as they lie in memory");

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: the first row in memory is the top row
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// The header followed by its colour table; the table is sized for 8-bit images
// (the only depth this platform converts).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(BITMAPINFO) == 1064);

// Bytes per row of a device-independent bitmap whose rows are `bits` bits
// wide: every row is padded to a whole number of 32-bit words.
constexpr std::int64_t WIDTHBYTES(std::int64_t bits) { return (bits + 31) / 32 * 4; }

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD SRCCOPY = 0x00CC0020;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

struct POINT {
    LONG x;
    LONG y;
};
using LPPOINT = POINT*;

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}  // NOLINT: converts like its Windows model
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    void OffsetRect(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    operator LPCRECT() const { return this; }
    friend bool operator==(const CRect& a, const CRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
};

class CDC;
class CBitmap;
class CBrush;

// Stock objects are identified by these numbers; GetStockObject hands out a
// process-wide object that is never deleted.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
using HGDIOBJ = const void*;
using HBRUSH = const CBrush*;
HGDIOBJ GetStockObject(int object);

// Converts `lines` rows of an 8-bit device-independent bitmap, starting at
// `startScan`, into the device-dependent `bitmap` through the colour table.
// Top-down (negative height) and bottom-up layouts are honoured; rows and
// columns beyond the bitmap are clipped. Returns the number of rows converted,
// 0 on a depth or usage it does not handle.
int SetDIBits(CDC* dc, CBitmap* bitmap, UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
              UINT colorUse);

// Drawing here is synchronous, so there is nothing pending to flush.
BOOL GdiFlush();
