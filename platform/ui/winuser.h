// The user-interface surface below the window classes: messages as a dialog's
// pre-filter sees them, the tick counter, message boxes, monitors, icons and
// menus. Message boxes and the tick counter can be replaced (tests answer the
// boxes and set the clock); everything else is Qt underneath.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "wingdi.h"

class QWidget;
using HWND = QWidget*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// The messages that reach a pre-filter; the rest of the window system's
// traffic stays inside Qt.
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_MBUTTONDOWN = 0x0207;

constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_MBUTTON = 0x0010;

struct MSG {
    HWND hwnd;  // the window the message is for
    UINT message;
    WPARAM wParam;
    LPARAM lParam;  // mouse messages: x in the low word, y in the high word (client coordinates)
};

constexpr LPARAM MAKELPARAM(int low, int high) {
    return static_cast<LPARAM>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
                               (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

// Milliseconds of a monotonic clock, in 32 bits: it wraps after 49.7 days,
// and differences taken in unsigned arithmetic stay right across the wrap.
DWORD GetTickCount();
// Tests set the counter; an empty function gives the clock back.
using TickCountSource = std::function<DWORD()>;
TickCountSource SetTickCountSource(TickCountSource source);

// Message boxes.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;

// Shows `text` with the application's name as caption and waits for the
// user; returns the button pressed (IDOK, IDCANCEL). Without a GUI the text
// goes to standard error and the answer is IDOK. A hook, when set, answers
// instead (tests).
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
using MessageBoxHook = std::function<int(const std::string& text, UINT type)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Monitors: the screens' work areas, in screen coordinates.
using HMONITOR = const void*;
constexpr DWORD MONITOR_DEFAULTTONULL = 0;
constexpr DWORD MONITOR_DEFAULTTOPRIMARY = 1;
constexpr DWORD MONITOR_DEFAULTTONEAREST = 2;
struct MONITORINFO {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
};
// The monitor the rectangle overlaps most; when it overlaps none, by
// dwFlags: none, the primary one, or the nearest one. Null without a GUI.
HMONITOR MonitorFromRect(LPCRECT lprc, DWORD dwFlags);
BOOL GetMonitorInfo(HMONITOR hMonitor, MONITORINFO* lpmi);

// System metrics: only the smallest size of a resizable top-level window;
// 0 for any other index.
constexpr int SM_CXMINTRACK = 34;
constexpr int SM_CYMINTRACK = 35;
int GetSystemMetrics(int nIndex);

// Icons, drawn from rows of characters (a picture as data): '#' black,
// 'o' dark grey, '+' light grey, '-' white, anything else transparent.
// The handle stays valid for the life of the program.
using HICON = const struct IconData*;
HICON CreateIconFromRows(std::span<const char* const> rows);
struct IconResource {
    UINT id;
    std::span<const char* const> rows;
};
// The program's icon resources; AfxLoadIcon finds them by number (null for
// an unknown number or without a GUI).
void AfxSetIconResources(std::span<const IconResource> icons);
HICON AfxLoadIcon(UINT nIDResource);

// Menus, as far as the system menu uses them.
constexpr UINT MF_STRING = 0x0;
constexpr UINT MF_SEPARATOR = 0x800;

// System commands (the low four bits are the window system's own).
constexpr UINT SC_SIZE = 0xF000;
constexpr UINT SC_MOVE = 0xF010;
constexpr UINT SC_MINIMIZE = 0xF020;
constexpr UINT SC_MAXIMIZE = 0xF030;
constexpr UINT SC_CLOSE = 0xF060;
constexpr UINT SC_RESTORE = 0xF120;

// The program's name: the caption of its message boxes.
void AfxSetAppName(const char* name);
