// The stored window rectangles in the registry.
#include "windowrect.h"

#include <algorithm>
#include <optional>
#include <cstring>

#include "winreg.h"

void PackRect(const RECT& rect, BYTE out[16]) {
    const LONG values[4] = {rect.left, rect.top, rect.right, rect.bottom};
    for (int i = 0; i < 4; ++i) {
        const auto v = static_cast<std::uint32_t>(values[i]);
        for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<BYTE>(v >> (8 * b));
    }
}

RECT UnpackRect(const BYTE in[16]) {
    LONG values[4];
    for (int i = 0; i < 4; ++i) {
        std::uint32_t v = 0;
        for (int b = 0; b < 4; ++b) v |= std::uint32_t(in[i * 4 + b]) << (8 * b);
        values[i] = static_cast<LONG>(v);
    }
    return RECT{values[0], values[1], values[2], values[3]};
}

RECT PlaceInside(const RECT& rect, const RECT& work) {
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    const long long left = std::max<long long>(work.left, std::min<long long>(rect.left, work.right - width));
    const long long top = std::max<long long>(work.top, std::min<long long>(rect.top, work.bottom - height));
    return RECT{LONG(left), LONG(top), LONG(left + width), LONG(top + height)};
}

std::optional<RECT> LimitRect(const RECT& rect, const RECT& work, LONG minWidth, LONG minHeight, bool place) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return std::nullopt;
    const auto limit = [](long long size, long long least, long long most) {
        return std::min(std::max(size, least), std::max(most, 1LL));
    };
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    const long long w = limit(width, minWidth, static_cast<long long>(work.right) - work.left);
    const long long h = limit(height, minHeight, static_cast<long long>(work.bottom) - work.top);
    if (w == width && h == height && !place) return rect;
    // Resized, it goes wholly onto the screen: a window cut down to the work
    // area's size may otherwise be left wholly off it.
    const long long left = std::clamp<long long>(rect.left, work.left, std::max<long long>(work.left, work.right - w));
    const long long top = std::clamp<long long>(rect.top, work.top, std::max<long long>(work.top, work.bottom - h));
    return RECT{LONG(left), LONG(top), LONG(left + w), LONG(top + h)};
}

BOOL SaveWindowRect(const CWnd* pWnd, LPCTSTR name) {
    if (!name || !*name || !pWnd) return FALSE;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kClientKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return FALSE;
    RECT rect{};
    WINDOWPLACEMENT placement{sizeof placement, 0, 0, {}, {}, {}};
    if (pWnd->GetWindowPlacement(&placement)) rect = placement.rcNormalPosition;
    else pWnd->GetWindowRect(&rect);
    BYTE bytes[16];
    PackRect(rect, bytes);
    const LONG result = RegSetValueEx(key, name, 0, REG_BINARY, bytes, sizeof bytes);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? TRUE : FALSE;
}

std::optional<RECT> LoadWindowRect(LPCTSTR name) {
    if (!name || !*name) return std::nullopt;
    BYTE bytes[16];
    DWORD size = sizeof bytes;
    if (RegGetValue(HKEY_CURRENT_USER, kClientKey, name, RRF_RT_REG_BINARY, nullptr, bytes, &size) != ERROR_SUCCESS ||
        size != sizeof bytes)
        return std::nullopt;
    return UnpackRect(bytes);
}

BOOL RestoreWindowRect(CWnd* pWnd, LPCTSTR name, BOOL bChild) {
    if (!name || !*name || !pWnd) return FALSE;
    const std::optional<RECT> loaded = LoadWindowRect(name);
    if (!loaded) return FALSE;
    const RECT stored = *loaded;
    MONITORINFO info{sizeof info, {}, {}, 0};
    if (!GetMonitorInfo(MonitorFromRect(&stored, MONITOR_DEFAULTTONEAREST), &info)) return FALSE;
    // A stored rectangle is bound by the screen: no larger than its work area, and a
    // window that lies wholly off every screen today is put on the nearest one.
    const LONG minWidth = bChild ? 1 : GetSystemMetrics(SM_CXMINTRACK);
    const LONG minHeight = bChild ? 1 : GetSystemMetrics(SM_CYMINTRACK);
    const bool offScreen = MonitorFromRect(&stored, MONITOR_DEFAULTTONULL) == nullptr;
    const std::optional<RECT> usable = LimitRect(stored, info.rcWork, minWidth, minHeight, offScreen);
    if (!usable) return FALSE;
    RECT rect = *usable;
    if (bChild) {
        CWnd parent;
        if (HWND owner = pWnd->GetParent()) {
            parent.Attach(owner);
            parent.ScreenToClient(&rect);
            parent.Detach();
        }
    }
    pWnd->MoveWindow(&rect, TRUE);
    return TRUE;
}
