// Output formats and the terminal preview.
#include "picture.h"

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <functional>
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
            parsed.width_ = parsed.width_ * 10 + (text[i] - '0');
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

// Runs `write` on the target `file_name`: a regular file through a file
// beside it that replaces the target only when everything went well, a device
// or pipe directly. `write` gives its own reason when the device has none.
bool write_to(const std::string& file_name, const std::function<bool(QIODevice&, std::string&)>& write,
              std::string& error) {
    const QString name = QString::fromStdString(file_name);
    auto reason = [&error](const QFileDevice& device, const std::string& own) {
        error = device.error() != QFileDevice::NoError || own.empty() ? device.errorString().toStdString() : own;
    };
    std::string own;
    const QFileInfo info(name);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        QFile device(name);
        if (!device.open(QIODevice::WriteOnly)) {
            error = device.errorString().toStdString();
            return false;
        }
        // QFile keeps a buffer: a full device is found out by the flush.
        if (!write(device, own) || !device.flush()) {
            reason(device, own);
            return false;
        }
        return true;
    }
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    if (!write(file, own)) {
        reason(file, own);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace

bool write_picture(const QImage& image, const std::string& file_name, const char* format, std::string& error) {
    if (!QImageWriter::supportedImageFormats().contains(format)) {
        error = std::string("this Qt has no writer for ") + format + " (on Debian: qt6-image-formats-plugins)";
        return false;
    }
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    return write_to(
        file_name,
        [&](QIODevice& device, std::string& own) {
            QImageWriter writer(&device, format);
            if (writer.write(grey)) return true;
            own = writer.errorString().toStdString();
            return false;
        },
        error);
}

bool write_bytes(const QByteArray& bytes, const std::string& file_name, std::string& error) {
    return write_to(
        file_name,
        [&](QIODevice& device, std::string& own) {
            if (device.write(bytes) == bytes.size()) return true;
            own = "not every byte could be written";
            return false;
        },
        error);
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
