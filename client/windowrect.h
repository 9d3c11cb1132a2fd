// Window rectangles kept between runs: 16-byte REG_BINARY values (left, top,
// right, bottom, each a signed 32-bit little-endian integer, screen
// coordinates) under HKEY_CURRENT_USER\Software\Quorvel\zivCClient.
#pragma once

#include <optional>

#include "cwnd.h"

inline constexpr const char* kClientKey = "Software\\Quorvel\\zivCClient";

// Writes the window's rectangle as value `name`. FALSE for an empty name,
// when the key cannot be opened for writing (it is not created here) or the
// write fails. A minimized or maximized top-level window stores the
// rectangle it has when restored.
BOOL SaveWindowRect(const CWnd* pWnd, LPCTSTR name);
// Moves the window to the rectangle stored as `name` (with repainting) and
// returns TRUE, only when the value is REG_BINARY, exactly 16 bytes and a
// rectangle that is neither empty nor inverted; with bChild the rectangle is
// taken into the client coordinates of the window's parent. The rectangle is
// bound by the nearest screen (LimitRect): a stored rectangle that lies wholly
// off every screen today is put on the nearest one. FALSE otherwise, the
// window left alone.
BOOL RestoreWindowRect(CWnd* pWnd, LPCTSTR name, BOOL bChild);
// The rectangle stored as `name`, as it is: none when the value is missing, not
// REG_BINARY or not exactly 16 bytes.
std::optional<RECT> LoadWindowRect(LPCTSTR name);

// A stored rectangle's bytes, and back.
void PackRect(const RECT& rect, BYTE out[16]);
RECT UnpackRect(const BYTE in[16]);
// The rectangle moved (not resized, as far as it fits) into the work area.
RECT PlaceInside(const RECT& rect, const RECT& work);
// A stored rectangle made fit for a window: none when it is empty or
// inverted; else its width and height at least the minimum and at most the work
// area's, and, when that changed its size or `place` asks, moved into the work
// area. Overflow-free for any values.
std::optional<RECT> LimitRect(const RECT& rect, const RECT& work, LONG minWidth, LONG minHeight, bool place);
