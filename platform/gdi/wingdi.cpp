#include "wingdi.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>

#include "cdc.h"

HGDIOBJ GetStockObject(int object) {
    static const CBrush white(qRgb(255, 255, 255));
    static const CBrush ltgray(qRgb(192, 192, 192));
    static const CBrush gray(qRgb(128, 128, 128));
    static const CBrush dkgray(qRgb(64, 64, 64));
    static const CBrush black(qRgb(0, 0, 0));
    switch (object) {
    case WHITE_BRUSH: return &white;
    case LTGRAY_BRUSH: return &ltgray;
    case GRAY_BRUSH: return &gray;
    case DKGRAY_BRUSH: return &dkgray;
    case BLACK_BRUSH: return &black;
    default: return nullptr;
    }
}

BOOL GdiFlush() { return TRUE; }

namespace {

// A grey table maps v to (v, v, v): the pixel is made by interleaving the
// byte with itself and with 0xFF (blue, green, red, alpha), 16 pixels at a
// time, which beats a table look-up and even a shift-and-or loop.
// Streaming stores serve bitmaps too large to stay in the cache until they are
// painted: they skip reading the old pixels into the cache before overwriting
// them, which halves the memory traffic; for smaller bitmaps they would only
// push the pixels out of the cache.
template <bool Streaming>
void expand_grey_row(const BYTE* src, std::uint32_t* dst, int count) {
    int i = 0;
    const auto scalar = [&](int at) {
        const std::uint32_t v = src[at];
        dst[at] = 0xFF000000u | v | (v << 8) | (v << 16);
    };
    if constexpr (Streaming)
        for (; i < count && (reinterpret_cast<std::uintptr_t>(dst + i) & 15) != 0; ++i) scalar(i);
    const __m128i alpha = _mm_set1_epi8(char(0xFF));
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i lo = _mm_unpacklo_epi8(v, v), hi = _mm_unpackhi_epi8(v, v);            // v v
        const __m128i loA = _mm_unpacklo_epi8(v, alpha), hiA = _mm_unpackhi_epi8(v, alpha);  // v FF
        const __m128i p[4] = {_mm_unpacklo_epi16(lo, loA), _mm_unpackhi_epi16(lo, loA), _mm_unpacklo_epi16(hi, hiA),
                              _mm_unpackhi_epi16(hi, hiA)};
        auto* d = reinterpret_cast<__m128i*>(dst + i);
        for (int k = 0; k < 4; ++k) {
            if constexpr (Streaming) _mm_stream_si128(d + k, p[k]);
            else _mm_storeu_si128(d + k, p[k]);
        }
    }
    for (; i < count; ++i) scalar(i);
}

// Above this many bytes of 32-bit pixels a conversion streams past the cache.
constexpr std::int64_t kStreamingBytes = std::int64_t(16) << 20;

void expand_table_row(const BYTE* src, std::uint32_t* dst, int count, const std::uint32_t* table) {
    for (int i = 0; i < count; ++i) dst[i] = table[src[i]];
}

}  // namespace

int SetDIBits(CDC* /*dc*/, CBitmap* bitmap, UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
              UINT colorUse) {
    if (!bitmap || !bitmap->IsCreated() || !bits || !info || colorUse != DIB_RGB_COLORS) return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biBitCount != 8 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0) return 0;
    QImage& image = bitmap->Image();
    if (image.depth() != 32) return 0;

    const std::int64_t dibRows = std::llabs(std::int64_t(h.biHeight));
    const bool topDown = h.biHeight < 0;
    const std::int64_t srcStride = WIDTHBYTES(std::int64_t(h.biWidth) * h.biBitCount);
    const int width = int(std::min<std::int64_t>(h.biWidth, image.width()));

    const int colors = (h.biClrUsed == 0 || h.biClrUsed > 256) ? 256 : int(h.biClrUsed);
    std::uint32_t table[256];
    bool grey = true;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD q = i < colors ? info->bmiColors[i] : RGBQUAD{0, 0, 0, 0};
        table[i] = 0xFF000000u | (std::uint32_t(q.rgbRed) << 16) | (std::uint32_t(q.rgbGreen) << 8) | q.rgbBlue;
        grey = grey && table[i] == (0xFF000000u | std::uint32_t(i) * 0x010101u);
    }

    uchar* base = image.bits();
    const qsizetype dstStride = image.bytesPerLine();
    const auto* src = static_cast<const BYTE*>(bits);
    // Decided by the whole bitmap, so that converting it piecewise streams as well.
    const bool streaming = grey && std::int64_t(image.bytesPerLine()) * image.height() >= kStreamingBytes;
    int converted = 0;
    for (std::int64_t j = 0; j < lines; ++j) {
        const std::int64_t scan = std::int64_t(startScan) + j;
        if (scan >= dibRows) break;
        const std::int64_t row = topDown ? scan : dibRows - 1 - scan;
        if (row >= image.height()) continue;
        auto* dst = reinterpret_cast<std::uint32_t*>(base + row * dstStride);
        const BYTE* s = src + j * srcStride;
        if (streaming) expand_grey_row<true>(s, dst, width);
        else if (grey) expand_grey_row<false>(s, dst, width);
        else expand_table_row(s, dst, width, table);
        ++converted;
    }
    if (streaming) _mm_sfence();  // the streamed pixels are visible before anyone paints
    return converted;
}
