#include "cdc.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
    if (width <= 0 || height <= 0) return FALSE;
    m_image = QImage(width, height, dc ? dc->Format() : kScreenFormat);
    return m_image.isNull() ? FALSE : TRUE;  // null when Qt cannot have the memory
}

BOOL CBitmap::DeleteObject() {
    const bool had = !m_image.isNull();
    m_image = QImage();
    return had ? TRUE : FALSE;
}

CDC::CDC(QPainter* painter) : m_painter(painter) {
    if (painter && painter->device() && painter->device()->devType() == QInternal::Image)
        m_format = static_cast<QImage*>(painter->device())->format();
}

CDC::CDC(QImage* target) : m_target(target) {
    if (target) m_format = target->format();
}

BOOL CDC::CreateCompatibleDC(CDC* model) {
    m_painter = nullptr;
    m_target = nullptr;
    m_selected = nullptr;
    m_memory = true;
    m_format = model ? model->Format() : kScreenFormat;
    return TRUE;
}

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
    if (!m_memory) return nullptr;
    CBitmap* previous = m_selected;
    m_selected = bitmap;
    return previous;
}

QImage* CDC::DirectTarget() const {
    if (m_target) return m_target;
    if (m_memory && m_selected && m_selected->IsCreated()) return &m_selected->Image();
    return nullptr;
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* source, int xSrc, int ySrc, DWORD rop) {
    if (rop != SRCCOPY || !source) return FALSE;
    const QImage* src = source->DirectTarget();
    if (!src) return FALSE;

    // Clip the block to the source bitmap, moving the destination along.
    if (xSrc < 0) {
        x -= xSrc;
        width += xSrc;
        xSrc = 0;
    }
    if (ySrc < 0) {
        y -= ySrc;
        height += ySrc;
        ySrc = 0;
    }
    width = std::min(width, src->width() - xSrc);
    height = std::min(height, src->height() - ySrc);
    if (width <= 0 || height <= 0) return TRUE;

    if (m_painter) {
        // Same size source and target rectangle: QPainter copies, never scales;
        // the painter's own clip applies.
        m_painter->drawImage(QPoint(x, y), *src, QRect(xSrc, ySrc, width, height));
        return TRUE;
    }
    QImage* dst = DirectTarget();
    if (!dst) return FALSE;
    if (dst == src) return FALSE;  // overlapping copies are not needed by anyone

    if (x < 0) {
        xSrc -= x;
        width += x;
        x = 0;
    }
    if (y < 0) {
        ySrc -= y;
        height += y;
        y = 0;
    }
    width = std::min(width, dst->width() - x);
    height = std::min(height, dst->height() - y);
    if (width <= 0 || height <= 0) return TRUE;

    if (src->format() == dst->format() && src->depth() == 32) {
        uchar* dbase = dst->bits();
        const uchar* sbase = src->constBits();
        const qsizetype dstride = dst->bytesPerLine(), sstride = src->bytesPerLine();
        for (int row = 0; row < height; ++row)
            std::memcpy(dbase + (y + row) * dstride + qsizetype(x) * 4,
                        sbase + (ySrc + row) * sstride + qsizetype(xSrc) * 4, size_t(width) * 4);
        return TRUE;
    }
    // Differing formats: rare (a container's own image); let Qt convert the block.
    const QImage block = src->copy(xSrc, ySrc, width, height).convertToFormat(dst->format());
    const int bytes = int(block.bytesPerLine() < dst->bytesPerLine() ? block.bytesPerLine() : dst->bytesPerLine());
    const int pixelBytes = dst->depth() / 8;
    for (int row = 0; row < height; ++row)
        std::memcpy(dst->scanLine(y + row) + x * pixelBytes, block.constScanLine(row),
                    std::min(bytes, width * pixelBytes));
    return TRUE;
}

void CDC::FillRect(LPCRECT rect, CBrush* brush) {
    if (!rect || !brush) return;
    const int w = rect->right - rect->left, h = rect->bottom - rect->top;
    if (w <= 0 || h <= 0) return;
    if (m_painter) {
        m_painter->fillRect(QRect(rect->left, rect->top, w, h), QColor::fromRgb(brush->Color()));
        return;
    }
    QImage* dst = DirectTarget();
    if (!dst) return;
    const QRect area = QRect(rect->left, rect->top, w, h).intersected(dst->rect());
    if (area.isEmpty()) return;
    const QImage::Format f = dst->format();
    if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied) {
        const std::uint32_t pixel = 0xFF000000u | brush->Color();
        for (int row = area.top(); row <= area.bottom(); ++row) {
            auto* line = reinterpret_cast<std::uint32_t*>(dst->scanLine(row));
            std::fill(line + area.left(), line + area.left() + area.width(), pixel);
        }
        return;
    }
    const QColor color = QColor::fromRgb(brush->Color());
    for (int row = area.top(); row <= area.bottom(); ++row)
        for (int col = area.left(); col <= area.right(); ++col) dst->setPixelColor(col, row, color);
}
