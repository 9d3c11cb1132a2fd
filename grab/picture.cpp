// Output formats and the terminal preview.
#include "picture.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

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

bool OutputName::parse(const std::string& text) {
    std::string literal;
    std::string* part = &literal;
    OutputName parsed;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *part += text[i];
            continue;
        }
        if (++i < text.size() && text[i] == '%') {
            *part += '%';
            continue;
        }
        if (parsed.counter_) return false;  // a second counter
        parsed.zero_pad_ = i < text.size() && text[i] == '0';
        if (parsed.zero_pad_) ++i;
        std::size_t digits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
            if (digits < 2) parsed.width_ = parsed.width_ * 10 + (text[i] - '0');  // longer widths are refused below
        // Widths beyond 20 digits pad nothing a 64-bit counter needs.
        if (digits > 2 || parsed.width_ > 20 || i >= text.size() || !std::strchr("diu", text[i])) return false;
        parsed.counter_ = true;
        parsed.prefix_ = std::move(literal);
        literal.clear();
        part = &parsed.suffix_;
    }
    if (!parsed.counter_) parsed.prefix_ = std::move(literal);
    *this = std::move(parsed);
    return true;
}

std::string OutputName::name(std::uint64_t number) const {
    if (!counter_) return prefix_;
    std::string digits = std::to_string(number);
    if (digits.size() < std::size_t(width_))
        digits.insert(0, std::size_t(width_) - digits.size(), zero_pad_ ? '0' : ' ');
    return prefix_ + digits + suffix_;
}

const char* qt_format_for(const std::string& file_name) {
    for (const auto& f : kQtFormats) {
        const std::size_t n = std::strlen(f.suffix);
        if (file_name.size() > n && strcasecmp(file_name.c_str() + file_name.size() - n, f.suffix) == 0)
            return f.format;
    }
    return nullptr;
}

namespace {

// All of `bytes` to `device`, or false with the device's reason: a write that
// stops short is tried again for the rest, which then fails with the reason.
bool write_all(QIODevice& device, const QByteArray& bytes) {
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

}  // namespace

bool write_picture(const QImage& image, const std::string& file_name, const char* format, std::string& error) {
    if (!QImageWriter::supportedImageFormats().contains(format)) {
        error = std::string("this Qt has no writer for ") + format + " (on Debian: qt6-image-formats-plugins)";
        return false;
    }
    // Encoded in memory first: the image writers seek and may lose a
    // device's failure on the way, bytes written in one piece cannot.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image.convertToFormat(QImage::Format_Grayscale8))) {
        error = writer.errorString().toStdString();
        return false;
    }
    return write_bytes(encoded, file_name, error);
}

bool write_bytes(const QByteArray& bytes, const std::string& file_name, std::string& error) {
    const QString name = QString::fromStdString(file_name);
    const QFileInfo info(name);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        // A device or a pipe: nothing can be put in its place. QFile keeps a
        // buffer, so a full device may be found out only by the flush.
        QFile device(name);
        if (device.open(QIODevice::WriteOnly) && write_all(device, bytes) && device.flush()) return true;
        error = device.errorString().toStdString();
        return false;
    }
    QSaveFile file(name);
    if (file.open(QIODevice::WriteOnly) && write_all(file, bytes) && file.commit()) return true;
    error = file.errorString().toStdString();
    return false;  // the file beside is removed with `file`
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
