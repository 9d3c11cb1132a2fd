// The stored window rectangles in the registry.
#include "windowrect.h"

#include <algorithm>
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

BOOL RestoreWindowRect(CWnd* pWnd, LPCTSTR name, BOOL bChild) {
    if (!name || !*name || !pWnd) return FALSE;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kClientKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return FALSE;
    BYTE bytes[16];
    DWORD type = 0, size = sizeof bytes;
    const LONG result = RegQueryValueEx(key, name, nullptr, &type, bytes, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_BINARY || size != sizeof bytes) return FALSE;
    RECT rect = UnpackRect(bytes);
    if (bChild) {
        CWnd parent;
        if (HWND owner = pWnd->GetParent()) {
            parent.Attach(owner);
            parent.ScreenToClient(&rect);
            parent.Detach();
        }
    } else if (MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) == nullptr) {
        // A monitor that held the window is gone: the nearest one shows it.
        MONITORINFO info{sizeof info, {}, {}, 0};
        if (GetMonitorInfo(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &info))
            rect = PlaceInside(rect, info.rcWork);
    }
    pWnd->MoveWindow(&rect, TRUE);
    return TRUE;
}
