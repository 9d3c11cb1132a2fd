// Tick counter, message boxes, monitors and icons on Qt.
#include "winuser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <utility>

#include "iconimpl.h"

namespace {
TickCountSource& TickSource() {
    static TickCountSource source;
    return source;
}

MessageBoxHook& BoxHook() {
    static MessageBoxHook hook;
    return hook;
}

std::string& AppName() {
    static std::string name;
    return name;
}

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// Stored rectangles come from outside: coordinates beyond any screen are cut
// to a range whose differences (and QRect's own arithmetic) cannot overflow.
QRect ToQRect(const RECT& r) {
    static constexpr LONG kFar = 1 << 29;
    const auto cut = [](LONG v) { return std::clamp(v, -kFar, kFar); };
    return QRect(QPoint(cut(r.left), cut(r.top)), QPoint(cut(r.right) - 1, cut(r.bottom) - 1));
}
RECT FromQRect(const QRect& r) { return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

// Distance between two rectangles (0 when they touch or overlap), squared.
long long Distance2(const QRect& a, const QRect& b) {
    const long long dx = std::max({0, a.left() - (b.left() + b.width()), b.left() - (a.left() + a.width())});
    const long long dy = std::max({0, a.top() - (b.top() + b.height()), b.top() - (a.top() + a.height())});
    return dx * dx + dy * dy;
}

std::span<const IconResource>& IconResources() {
    static std::span<const IconResource> icons;
    return icons;
}
}  // namespace

DWORD GetTickCount() {
    if (const TickCountSource& source = TickSource()) return source();
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    // Starts at an arbitrary point, like the system's counter; only differences mean anything.
    return static_cast<DWORD>(static_cast<std::uint64_t>(clock.elapsed()) + 1000);
}

TickCountSource SetTickCountSource(TickCountSource source) { return std::exchange(TickSource(), std::move(source)); }

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) { return std::exchange(BoxHook(), std::move(hook)); }

void AfxSetAppName(const char* name) { AppName() = name ? name : ""; }

int AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT) {
    const std::string text = lpszText ? lpszText : "";
    if (const MessageBoxHook hook = BoxHook()) return hook(text, nType);
    if (!HaveWidgets()) {
        std::fprintf(stderr, "%s%s%s\n", AppName().c_str(), AppName().empty() ? "" : ": ", text.c_str());
        return IDOK;
    }
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(AppName()));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    switch (nType & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::Warning); break;  // the look of a box without an icon flag
    }
    if ((nType & 0xF) == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

HMONITOR MonitorFromRect(LPCRECT lprc, DWORD dwFlags) {
    if (!lprc || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    const QRect rect = ToQRect(*lprc).normalized();
    QScreen* best = nullptr;
    long long bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect overlap = screen->geometry().intersected(rect);
        const long long area = overlap.isEmpty() ? 0 : static_cast<long long>(overlap.width()) * overlap.height();
        if (area > bestArea) bestArea = area, best = screen;
    }
    if (best) return best;
    if (dwFlags == MONITOR_DEFAULTTOPRIMARY) return QGuiApplication::primaryScreen();
    if (dwFlags != MONITOR_DEFAULTTONEAREST) return nullptr;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (QScreen* screen : QGuiApplication::screens())
        if (const long long d = Distance2(screen->geometry(), rect); d < bestDistance) bestDistance = d, best = screen;
    return best;
}

int GetSystemMetrics(int nIndex) {
    // The smallest a resizable top-level window may be made, as the classic desktop has it.
    switch (nIndex) {
    case SM_CXMINTRACK: return 136;
    case SM_CYMINTRACK: return 39;
    default: return 0;
    }
}

BOOL GetMonitorInfo(HMONITOR hMonitor, MONITORINFO* lpmi) {
    if (!hMonitor || !lpmi) return FALSE;
    const auto* screen = static_cast<const QScreen*>(hMonitor);
    if (!QGuiApplication::screens().contains(const_cast<QScreen*>(screen))) return FALSE;
    lpmi->rcMonitor = FromQRect(screen->geometry());
    lpmi->rcWork = FromQRect(screen->availableGeometry());
    lpmi->dwFlags = screen == QGuiApplication::primaryScreen() ? 1 : 0;
    return TRUE;
}

HICON CreateIconFromRows(std::span<const char* const> rows) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || rows.empty()) return nullptr;
    const int height = static_cast<int>(rows.size());
    int width = 0;
    for (const char* row : rows) width = std::max(width, static_cast<int>(std::strlen(row)));
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < height; ++y)
        for (int x = 0; rows[y][x]; ++x) {
            switch (rows[y][x]) {
            case '#': image.setPixel(x, y, qRgb(0, 0, 0)); break;
            case 'o': image.setPixel(x, y, qRgb(96, 96, 96)); break;
            case '+': image.setPixel(x, y, qRgb(176, 176, 176)); break;
            case '-': image.setPixel(x, y, qRgb(255, 255, 255)); break;
            default: break;
            }
        }
    // Handles live as long as the program, as loaded icon resources do.
    static std::deque<IconData> icons;
    icons.push_back(IconData{QPixmap::fromImage(image)});
    return &icons.back();
}

void AfxSetIconResources(std::span<const IconResource> icons) { IconResources() = icons; }

HICON AfxLoadIcon(UINT nIDResource) {
    static std::map<UINT, HICON> loaded;
    if (auto it = loaded.find(nIDResource); it != loaded.end()) return it->second;
    for (const IconResource& icon : IconResources())
        if (icon.id == nIDResource) {
            const HICON handle = CreateIconFromRows(icon.rows);
            if (handle) loaded[nIDResource] = handle;
            return handle;
        }
    return nullptr;
}
