// Device contexts, bitmaps and brushes with the surface of their Windows models,
// on QImage and QPainter.
//
// A device context is one of:
//  - a surface description only (default constructed; what GetDC of a window or
//    of a windowless control gives): it can serve as the model for compatible
//    memory contexts and bitmaps but cannot be drawn on;
//  - a painter someone else owns (a widget's paint event), drawn through QPainter;
//  - an image (a windowless container drawing the control into a QImage);
//  - a memory context (CreateCompatibleDC) whose target is the selected bitmap.
// Image targets are written directly, without QPainter, so that everything
// except the painter case works under a bare QCoreApplication.
#pragma once

#include <QColor>
#include <QImage>

#include "wingdi.h"

class QPainter;

// The format of screen-compatible bitmaps: the raster engine's native 32-bit
// format, so that painting one into a widget is a plain copy.
constexpr QImage::Format kScreenFormat = QImage::Format_RGB32;

class CBrush {
public:
    explicit CBrush(QRgb color) : m_color(color) {}
    QRgb Color() const { return m_color; }
    static CBrush* FromHandle(HBRUSH brush) { return const_cast<CBrush*>(brush); }

private:
    QRgb m_color;
};

class CBitmap {
public:
    CBitmap() = default;
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // A bitmap of width x height pixels in the format of `dc`'s surface. The
    // pixels are not initialised. FALSE when the size is not positive or the
    // memory cannot be had.
    BOOL CreateCompatibleBitmap(CDC* dc, int width, int height);
    BOOL DeleteObject();
    bool IsCreated() const { return !m_image.isNull(); }

    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }
    // The pixels; writing through this never copies (the image is never shared).
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }

private:
    QImage m_image;
};

class CDC {
public:
    CDC() = default;                  // a surface description only
    explicit CDC(QPainter* painter);  // borrowed; must outlive the context
    explicit CDC(QImage* target);     // borrowed; must outlive the context
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Makes this a memory context for surfaces like `model`'s (null: the screen).
    BOOL CreateCompatibleDC(CDC* model);

    // Selects a bitmap into a memory context; returns the one selected before.
    CBitmap* SelectObject(CBitmap* bitmap);

    // Copies a width x height block of `source` at (xSrc, ySrc) to (x, y) here,
    // pixel for pixel, never scaled. The block is clipped to the source's
    // bitmap (what lies outside it is left untouched here) and to this
    // surface. Only SRCCOPY is supported.
    BOOL BitBlt(int x, int y, int width, int height, CDC* source, int xSrc, int ySrc, DWORD rop);

    void FillRect(LPCRECT rect, CBrush* brush);

    QImage::Format Format() const { return m_format; }
    // Null for a surface description and for a memory context without a bitmap.
    QPainter* Painter() const { return m_painter; }

private:
    // The image that drawing goes to directly, if any (image target or the
    // bitmap selected into a memory context).
    QImage* DirectTarget() const;

    QPainter* m_painter = nullptr;
    QImage* m_target = nullptr;
    CBitmap* m_selected = nullptr;
    bool m_memory = false;
    QImage::Format m_format = kScreenFormat;
};
