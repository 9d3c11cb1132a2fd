// zivClient's resources: dialog templates, item identifiers, strings, icon.
#pragma once

#include <span>

#include "dialog.h"
#include "winuser.h"

enum : UINT {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_ZIVCLIENT_DIALOG = 102,
    IDP_SOCKETS_INIT_FAILED = 103,
    IDR_MAINFRAME = 128,
    IDC_GETIMAGE = 1000,
    IDC_ABORT = 1001,
    IDC_SERVERPORT = 1002,
    IDC_SERVERIP = 1003,
    IDC_ZIVCONTROL = 1004,
    IDC_SAVEIMAGE = 1005,
    IDC_LIVEMODE = 1008,
    IDC_DX = 1009,
    IDC_DY = 1010,
    IDC_INCX = 1011,
    IDC_INCY = 1012,
    IDC_X = 1013,
    IDC_Y = 1014,
    IDC_STATUS1 = 1019,
    IDC_STATUS2 = 1020,
};
// The system menu's About entry.
constexpr UINT IDM_ABOUTBOX = 0x0010;

extern const DialogTemplate kClientDialog;  // 102
extern const DialogTemplate kAboutDialog;   // 100
extern const std::span<const IconResource> kClientIcons;

// The string table.
LPCTSTR LoadClientString(UINT id);
