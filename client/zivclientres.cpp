// The resources as data: the main dialog's and the About box's templates (in
// dialog units, items in tab order), the strings and the program's icon.
#include "zivclientres.h"

#include "zivcontrolctrl.h"

namespace {

constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButton = BS_DEFPUSHBUTTON | WS_TABSTOP;

// The control's saved state as the template carries it: version 1.0 and the
// item's size in HIMETRIC units (0.01 mm).
constexpr DialogControlProperty kControlState[] = {{"_Version", 0x00010000}, {"_ExtentX", 6191}, {"_ExtentY", 9022}};
constexpr DialogControlData kControl{CLSID_ZiVControl, kControlState};

constexpr DialogItemTemplate kClientItems[] = {
    {IDC_SERVERIP, DialogItemKind::editText, nullptr, 47, 0, 62, 15, kEdit},
    {IDC_SERVERPORT, DialogItemKind::editText, nullptr, 47, 19, 62, 15, kEdit},
    {IDC_X, DialogItemKind::editText, nullptr, 47, 38, 62, 15, kEdit},
    {IDC_Y, DialogItemKind::editText, nullptr, 47, 56, 62, 15, kEdit},
    {IDC_DX, DialogItemKind::editText, nullptr, 47, 75, 62, 15, kEdit},
    {IDC_DY, DialogItemKind::editText, nullptr, 47, 94, 62, 15, kEdit},
    {IDC_INCX, DialogItemKind::editText, nullptr, 47, 113, 62, 15, kEdit},
    {IDC_INCY, DialogItemKind::editText, nullptr, 47, 132, 62, 15, kEdit},
    {IDC_LIVEMODE, DialogItemKind::autoCheckBox, "Live mode", 52, 150, 50, 14, BS_AUTOCHECKBOX | WS_TABSTOP},
    {IDC_GETIMAGE, DialogItemKind::pushButton, "Get Image", 0, 150, 50, 16, kButton},
    {IDC_ABORT, DialogItemKind::pushButton, "Abort", 0, 168, 50, 16, kButton},
    {IDC_STATIC, DialogItemKind::ltext, "Server IP", 0, 0, 36, 8},
    {IDC_STATIC, DialogItemKind::ltext, "Server Port", 0, 19, 42, 8},
    {IDC_STATIC, DialogItemKind::ltext, "DX", 0, 78, 28, 8},
    {IDC_STATIC, DialogItemKind::ltext, "DY", 0, 99, 28, 8},
    {IDC_STATIC, DialogItemKind::ltext, "X", 0, 40, 11, 8},
    {IDC_STATIC, DialogItemKind::ltext, "Y", 0, 59, 28, 8},
    {IDC_STATIC, DialogItemKind::ltext, "Inc X", 0, 115, 28, 8},
    {IDC_STATIC, DialogItemKind::ltext, "Inc Y", 0, 134, 28, 8},
    {IDC_STATUS1, DialogItemKind::ltext, nullptr, 0, 188, 110, 10},
    {IDC_ZIVCONTROL, DialogItemKind::control, nullptr, 112, 0, 156, 210, WS_TABSTOP, &kControl},
    {IDC_STATUS2, DialogItemKind::ltext, nullptr, 0, 202, 110, 10},
    {IDC_SAVEIMAGE, DialogItemKind::pushButton, "Save Image", 52, 168, 50, 16, kButton},
};

constexpr DialogItemTemplate kAboutItems[] = {
    {IDC_STATIC, DialogItemKind::icon, "128", 11, 17, 20, 20},
    {IDC_STATIC, DialogItemKind::ltext, "zivClient Version 1.0", 40, 10, 119, 8, SS_NOPREFIX},
    {IDC_STATIC, DialogItemKind::ltext, "Images from the camera, live", 40, 25, 119, 8},
    {IDOK, DialogItemKind::defPushButton, "OK", 178, 7, 50, 16, WS_GROUP},
};

// A camera seen from the front: body, lens, release button.
constexpr const char* kCameraIcon[] = {
    "                                ",  "                                ",  "                                ",
    "                                ",  "         ########               ",  "        #++++++++#              ",
    "  ###################### ####   ",  " #++++++++++++++++++++++#++++#  ",  " #+######++++++++++++++++####+# ",
    " #+#----#+++++######+++++++++++# ", " #+######+++###oooooo###+++++++# ", " #+++++++++##oo######oo##++++++# ",
    " #++++++++#oo##------##oo#+++++# ", " #+++++++#oo#---oooo---#oo#++++# ", " #+++++++#o#--oo####oo--#o#++++# ",
    " #++++++#oo#-oo######oo-#oo#+++# ", " #++++++#o#--o########o--#o#+++# ", " #++++++#o#-oo###--###oo-#o#+++# ",
    " #++++++#o#-oo##----##oo-#o#+++# ", " #++++++#o#--o###--###o--#o#+++# ", " #++++++#oo#-oo######oo-#oo#+++# ",
    " #+++++++#o#--oo####oo--#o#++++# ", " #+++++++#oo#---oooo---#oo#++++# ", " #++++++++#oo##------##oo#+++++# ",
    " #+++++++++##oo######oo##++++++# ", " #++++++++++++###oooo###+++++++# ", " #+++++++++++++++####++++++++++# ",
    "  #############################  ", "                                ",  "                                ",
    "                                ",  "                                ",
};
constexpr IconResource kIcons[] = {{IDR_MAINFRAME, kCameraIcon}};

constexpr struct {
    UINT id;
    const char* text;
} kStrings[] = {
    {IDS_ABOUTBOX, "&About zivClient..."},
    {IDP_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
};

}  // namespace

constexpr DWORD kClientStyle =
    DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

const DialogTemplate kClientDialog{IDD_ZIVCLIENT_DIALOG, kClientStyle,   "zivClient", 0, 0, 268, 212, "MS Shell Dlg", 8,
                                   kClientItems,         WS_EX_APPWINDOW};

const DialogTemplate kAboutDialog{IDD_ABOUTBOX,
                                  DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                  "About zivClient",
                                  0,
                                  0,
                                  235,
                                  55,
                                  "MS Shell Dlg",
                                  8,
                                  kAboutItems};

const std::span<const IconResource> kClientIcons = kIcons;

LPCTSTR LoadClientString(UINT id) {
    for (const auto& s : kStrings)
        if (s.id == id) return s.text;
    return "";
}
