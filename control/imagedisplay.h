// What the image control shows: the pixel rows of the last complete image
// (also the pixel array of its BMP file), the display bitmap converted from
// them, and when that conversion is done. It answers with outcomes and fires
// nothing; the control turns the outcomes into statuses.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cdc.h"
#include "wingdi.h"

struct FreeBytes {
    void operator()(BYTE* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<BYTE[], FreeBytes>;

// A received image's pixel bytes (from malloc) and how many there are. The
// display may trade them for its pixel rows (see CImageDisplay::Show).
struct ReceivedImage {
    Bytes bytes;
    std::int64_t size = 0;
};

// The four header values the pixel rows and the display bitmap are built for.
struct ImageGeometry {
    LONG dx, dy, incrx, incry;
    friend bool operator==(const ImageGeometry&, const ImageGeometry&) = default;
};

// The display keeps its objects from image to image and rebuilds them only
// when the geometry changes: in live mode an image costs one copy (or none,
// when the rows can be traded) and one conversion.
//
// When the conversion is done (the draw cadence): a display that has no
// window and was never drawn shows nothing, so the pixel rows of a new image
// are converted into the bitmap on the first draw after it (or the first look
// at the bitmap), not when it is shown: a container that never draws does not
// pay for the conversion. Once drawn (or in a window), an image is converted
// ahead, while its rows arrive, into a second (back) bitmap that is traded
// with the front one when the image is shown; the front one shows the
// previous image until then. Converting ahead pays only when each image is
// drawn before the next one is complete, two images in a row: a window
// repaints at the screen's pace, far less often than a live stream delivers,
// and an image replaced before any draw is never converted. Otherwise the
// draw converts what it shows. Only images of the geometry on display whose
// rows arrive as the pixel rows lie (a width that is a multiple of 4, the
// exact length) are converted ahead.
class CImageDisplay {
public:
    // Images whose pixel rows (or BMP file) would not fit the 32-bit size
    // fields are refused.
    static constexpr std::int64_t kMaxPixelRowBytes = 0x7FFFFFFF - 1078;

    enum class Outcome { shown, badGeometry, noMemory };

    CImageDisplay();

    // An image of geometry `g` with `expected` pixel bytes starts to arrive;
    // `windowed`: the control has a window. Decides whether it is converted ahead.
    void BeginImage(const ImageGeometry& g, std::int64_t expected, bool windowed);
    // The first `received` bytes of the arriving image are in `image`.
    void ConvertArrived(const BYTE* image, std::int64_t received);
    // Ends converting ahead: the rows converted so far, or -1 when none was
    // under way.
    LONG StopConvertAhead();

    // Shows `image` with the header's geometry (rowsAhead: StopConvertAhead's
    // answer for it). Received bytes that already have the layout of the
    // pixel rows are traded with them instead of copied: `image` then holds
    // the previous rows, so both stay touched and reused. badGeometry: the
    // geometry cannot be shown or the image is short of it, the display is
    // unchanged; noMemory: the display and the rows are gone.
    Outcome Show(ReceivedImage& image, const ImageGeometry& g, LONG rowsAhead);

    // Copies the image to `bounds` at its own size (white without one).
    void Draw(CDC* dc, const CRect& bounds);
    // The pixel rows as a BMP file; false when they are gone or the file fails.
    bool SaveBmp(const char* fileName) const;

    // The bitmap, its memory context and the back bitmap (the rows stay).
    void ReleaseObjects();
    void ReleaseRows() { m_pRows.reset(); }

    const BITMAPINFO& BitmapInfo() const { return m_bmi; }
    const BYTE* PixelRows() const { return m_pRows.get(); }
    bool HasMemoryDC() const { return m_pMemDC != nullptr; }
    // The display bitmap, converted first when its conversion waits for a draw.
    const CBitmap* Bitmap();
    // Without converting: what a draw would find.
    const CBitmap* FrontBitmap() const { return m_pBitmap.get(); }
    bool ConversionPending() const { return m_bPending; }
    bool ConvertingAhead() const { return m_bConvertAhead; }

private:
    // Sizes of an image that passed CheckImage.
    struct RowLayout {
        std::int64_t width, rows, stride;
        std::int64_t SizeBytes() const { return stride * rows; }
    };
    static std::optional<RowLayout> CheckImage(const ReceivedImage& image, const ImageGeometry& g);
    bool Allocate(const RowLayout& layout, bool tradeRows);
    void FillPixelRows(ReceivedImage& image, const RowLayout& layout, bool tradeRows);
    void Convert(const RowLayout& layout, LONG rowsAhead);
    void ConvertPending();
    bool Wanted(bool windowed) const { return (windowed || m_bDrawn) && m_bShownDrawn && m_nDrawnInTurn >= 2; }

    CDC m_surface;  // the model of the memory context and the bitmaps
    BITMAPINFO m_bmi;
    Bytes m_pRows;  // stride x rows, top row first
    std::unique_ptr<CDC> m_pMemDC;
    std::unique_ptr<CBitmap> m_pBitmap;
    std::unique_ptr<CBitmap> m_pBackBitmap;
    std::optional<ImageGeometry> m_geometry;  // what the display was built for; none yet
    bool m_bConvertAhead = false;
    LONG m_nRowsAhead = 0;  // rows of the arriving image in m_pBackBitmap
    bool m_bPending = false;
    bool m_bDrawn = false;
    int m_nDrawnInTurn = 2;     // images in a row drawn before the next one was complete (counted up to 2)
    bool m_bShownDrawn = true;  // the last image shown has been drawn (or there is none yet)
};
