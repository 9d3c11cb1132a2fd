// Output formats and the terminal preview.
#include "picture.h"

#include <QImageWriter>

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace ziv::grab {

namespace {
constexpr struct {
    const char* suffix;
    const char* format;
} kQtFormats[] = {
    {".png", "png"},
    {".tif", "tiff"},
    {".tiff", "tiff"},
};
}  // namespace

const char* qt_format_for(const std::string& file_name) {
    for (const auto& f : kQtFormats) {
        const std::size_t n = std::strlen(f.suffix);
        if (file_name.size() > n && strcasecmp(file_name.c_str() + file_name.size() - n, f.suffix) == 0)
            return f.format;
    }
    return nullptr;
}

bool write_picture(const QImage& image, const std::string& file_name, const char* format, std::string& error) {
    QImageWriter writer(QString::fromStdString(file_name), format);
    if (!writer.canWrite()) {
        error = writer.errorString().toStdString();
        if (!QImageWriter::supportedImageFormats().contains(format))
            error = std::string("this Qt has no writer for ") + format + " (on Debian: qt6-image-formats-plugins)";
        return false;
    }
    if (!writer.write(image.convertToFormat(QImage::Format_Grayscale8))) {
        error = writer.errorString().toStdString();
        return false;
    }
    return true;
}

std::vector<std::string> preview_lines(const QImage& image, int columns) {
    static constexpr char kShades[] = " .:-=+*#%@";
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const long width = grey.width(), height = grey.height();
    std::vector<std::string> lines;
    if (width <= 0 || height <= 0 || columns <= 0) return lines;
    const long cols = std::min<long>(columns, width);
    const long rows = std::clamp<long>(cols * height / width / 2, 1, height);
    for (long ly = 0; ly < rows; ++ly) {
        const uchar* row = grey.constScanLine(static_cast<int>(ly * height / rows));
        std::string line = "    ";
        for (long cx = 0; cx < cols; ++cx) line += kShades[row[cx * width / cols] * 10 / 256];
        lines.push_back(line);
    }
    return lines;
}

}  // namespace ziv::grab
