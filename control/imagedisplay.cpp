#include "imagedisplay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imageproto.h"

namespace {

constexpr DWORD kBmpHeadersSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFO);  // 1078
static_assert(kBmpHeadersSize == 1078);
static_assert(CImageDisplay::kMaxPixelRowBytes + kBmpHeadersSize == 0x7FFFFFFF);

// The pixel rows go to SetDIBits as an 8-bit device-independent bitmap, and
// rows received without fill bytes (a width that is a multiple of 4) go there
// as they lie: the protocol's stride and the bitmap's row rule must agree.
constexpr bool StrideRulesAgree() {
    for (std::int64_t width = 0; width <= 64; ++width)
        if (WIDTHBYTES(8 * width) != imageproto::image_stride(width)) return false;
    return true;
}
static_assert(StrideRulesAgree());

}  // namespace

CImageDisplay::CImageDisplay() {
    std::memset(&m_bmi, 0, sizeof m_bmi);
    m_bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    m_bmi.bmiHeader.biPlanes = 1;
    m_bmi.bmiHeader.biBitCount = 8;
    m_bmi.bmiHeader.biCompression = BI_RGB;
    for (int i = 0; i < 256; ++i) m_bmi.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
}

void CImageDisplay::ReleaseObjects() {
    m_bConvertAhead = false;
    m_pBackBitmap.reset();
    if (!m_pMemDC) return;
    if (m_pBitmap) {
        m_pMemDC->SelectObject(nullptr);
        m_pBitmap.reset();
    }
    m_pMemDC.reset();
}

void CImageDisplay::BeginImage(const ImageGeometry& g, std::int64_t expected, bool windowed) {
    m_bConvertAhead = false;
    m_nRowsAhead = 0;
    if (!Wanted(windowed) || m_geometry != g || !m_pMemDC || !m_pBitmap) return;
    // The geometry is the one on display, so the bitmap header describes it.
    const std::int64_t width = m_bmi.bmiHeader.biWidth, rows = -std::int64_t(m_bmi.bmiHeader.biHeight);
    if (width % 4 != 0 || expected != width * rows) return;  // rows must arrive as the pixel rows lie
    if (!m_pBackBitmap) {
        m_pBackBitmap = std::make_unique<CBitmap>();
        if (!m_pBackBitmap->CreateCompatibleBitmap(&m_surface, int(width), int(rows))) {
            m_pBackBitmap.reset();  // no memory to spare: convert when shown
            return;
        }
    }
    m_bConvertAhead = true;
}

void CImageDisplay::ConvertArrived(const BYTE* image, std::int64_t received) {
    if (!m_bConvertAhead) return;
    // Rows of the image buffer have no fill bytes; with a width that is a
    // multiple of 4 that is the bitmap's own row layout (see StrideRulesAgree).
    const LONG width = m_bmi.bmiHeader.biWidth;
    const LONG ready = LONG(received / width);
    if (ready <= m_nRowsAhead) return;
    SetDIBits(&m_surface, m_pBackBitmap.get(), UINT(m_nRowsAhead), UINT(ready - m_nRowsAhead),
              image + std::size_t(m_nRowsAhead) * std::size_t(width), &m_bmi, DIB_RGB_COLORS);
    m_nRowsAhead = ready;
}

LONG CImageDisplay::StopConvertAhead() {
    const LONG rows = m_bConvertAhead ? m_nRowsAhead : -1;
    m_bConvertAhead = false;
    return rows;
}

CImageDisplay::Outcome CImageDisplay::Show(ReceivedImage& image, const ImageGeometry& g, LONG rowsAhead) {
    const std::optional<RowLayout> layout = CheckImage(image, g);
    if (!layout) return Outcome::badGeometry;
    if (m_geometry != g) {
        ReleaseObjects();
        ReleaseRows();
        m_geometry.reset();
    }
    // The next reply of this size is received into the old rows.
    const bool tradeRows = layout->stride == layout->width && image.size == layout->SizeBytes();
    if (!Allocate(*layout, tradeRows)) {
        ReleaseObjects();
        ReleaseRows();
        return Outcome::noMemory;
    }
    FillPixelRows(image, *layout, tradeRows);
    Convert(*layout, rowsAhead);
    m_geometry = g;
    return Outcome::shown;
}

std::optional<CImageDisplay::RowLayout> CImageDisplay::CheckImage(const ReceivedImage& image, const ImageGeometry& g) {
    if (!imageproto::geometry_valid(g.dx, g.dy, g.incrx, g.incry)) return std::nullopt;
    const std::int64_t width = imageproto::image_width(g.dx, g.incrx);
    const RowLayout layout{width, imageproto::image_rows(g.dy, g.incry), imageproto::image_stride(width)};
    // stride x rows < 2^63 for any 32-bit header. Too large for the size
    // fields, or fewer pixels than the geometry needs (nothing would be shown
    // for the missing part but stale or invented data): refused.
    if (layout.SizeBytes() > kMaxPixelRowBytes || layout.width * layout.rows > image.size || !image.bytes)
        return std::nullopt;
    return layout;
}

bool CImageDisplay::Allocate(const RowLayout& layout, bool tradeRows) {
    if (!m_pMemDC) {
        m_pMemDC = std::make_unique<CDC>();
        m_pMemDC->CreateCompatibleDC(&m_surface);
    }
    if (!m_pBitmap) {
        m_pBitmap = std::make_unique<CBitmap>();
        if (!m_pBitmap->CreateCompatibleBitmap(&m_surface, int(layout.width), int(layout.rows))) return false;
    }
    if (!tradeRows && !m_pRows) {
        // Zeroed once: the fill bytes after each row are never written.
        m_pRows.reset(static_cast<BYTE*>(std::calloc(size_t(layout.SizeBytes()), 1)));
        if (!m_pRows) return false;
    }
    return true;
}

void CImageDisplay::FillPixelRows(ReceivedImage& image, const RowLayout& layout, bool tradeRows) {
    if (tradeRows) {
        std::swap(m_pRows, image.bytes);
        image.size = image.bytes ? layout.SizeBytes() : 0;  // the old rows: this geometry's size
        return;
    }
    const BYTE* src = image.bytes.get();
    BYTE* dst = m_pRows.get();
    for (std::int64_t r = 0; r < layout.rows; ++r, src += layout.width, dst += layout.stride)
        std::memcpy(dst, src, size_t(layout.width));
}

void CImageDisplay::Convert(const RowLayout& layout, LONG rowsAhead) {
    m_bmi.bmiHeader.biBitCount = 8;
    m_bmi.bmiHeader.biSizeImage = DWORD(layout.SizeBytes());
    m_bmi.bmiHeader.biWidth = LONG(layout.width);
    m_bmi.bmiHeader.biHeight = -LONG(layout.rows);
    // Whether the image before this one was drawn before this one was complete.
    m_nDrawnInTurn = m_bShownDrawn ? std::min(m_nDrawnInTurn + 1, 2) : 0;
    m_bShownDrawn = false;
    m_bPending = false;
    if (rowsAhead >= 0 && m_pBackBitmap && m_pBackBitmap->Width() == layout.width &&
        m_pBackBitmap->Height() == layout.rows) {
        // Begun ahead: the first rowsAhead rows are in the back bitmap already.
        SetDIBits(&m_surface, m_pBackBitmap.get(), UINT(rowsAhead), UINT(layout.rows - rowsAhead),
                  m_pRows.get() + std::size_t(rowsAhead) * std::size_t(layout.stride), &m_bmi, DIB_RGB_COLORS);
        std::swap(m_pBitmap, m_pBackBitmap);
    } else {
        // Converted when next drawn (or looked at): an image replaced before
        // that costs nothing.
        m_bPending = true;
    }
    m_pMemDC->SelectObject(m_pBitmap.get());
}

void CImageDisplay::ConvertPending() {
    if (!m_bPending) return;
    m_bPending = false;
    if (!m_pBitmap || !m_pRows) return;
    SetDIBits(&m_surface, m_pBitmap.get(), 0, UINT(-m_bmi.bmiHeader.biHeight), m_pRows.get(), &m_bmi, DIB_RGB_COLORS);
}

const CBitmap* CImageDisplay::Bitmap() {
    ConvertPending();
    return m_pBitmap.get();
}

void CImageDisplay::Draw(CDC* dc, const CRect& bounds) {
    m_bDrawn = true;
    ConvertPending();
    m_bShownDrawn = true;
    if (m_pMemDC && m_pBitmap)
        dc->BitBlt(bounds.left, bounds.top, bounds.Width(), bounds.Height(), m_pMemDC.get(), 0, 0, SRCCOPY);
    else dc->FillRect(bounds, CBrush::FromHandle(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
}

bool CImageDisplay::SaveBmp(const char* fileName) const {
    const BITMAPINFOHEADER& h = m_bmi.bmiHeader;
    const std::int64_t width = h.biWidth;
    const std::int64_t rows = -std::int64_t(h.biHeight);
    const std::int64_t bytes = (width > 0 && rows > 0) ? imageproto::image_stride(width) * rows : 0;
    if (bytes > 0 && !m_pRows) return false;  // the rows went with a read error

    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) return false;
    const BITMAPFILEHEADER fh{0x4D42 /* "BM" */, DWORD(kBmpHeadersSize + bytes), 0, 0, kBmpHeadersSize};
    bool ok = std::fwrite(&fh, sizeof fh, 1, file) == 1 && std::fwrite(&m_bmi, sizeof m_bmi, 1, file) == 1 &&
              (bytes == 0 || std::fwrite(m_pRows.get(), size_t(bytes), 1, file) == 1);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}
