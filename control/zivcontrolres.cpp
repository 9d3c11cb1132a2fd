// The image control module's string table and dialog templates.
#include "zivcontrolres.h"

namespace {
constexpr StringResource kStrings[] = {
    {IDS_ZIVCONTROL, "ZiVControl Control"},
    {IDS_ZIVCONTROL_PPG, "ZiVControl Property Page"},
    {IDS_ZIVCONTROL_PPG_CAPTION, "General"},
};

constexpr DialogItemTemplate kAboutItems[] = {
    {IDC_STATIC, DialogItemKind::icon, "1", 10, 10, 20, 20},
    {IDC_STATIC, DialogItemKind::ltext, "ZiVControl Control, Version 1.0", 40, 10, 170, 8, SS_NOPREFIX},
    {IDC_STATIC, DialogItemKind::ltext, "Copyright (C) Quorvel", 40, 25, 170, 8},
    {IDOK, DialogItemKind::defPushButton, "OK", 221, 7, 32, 14, WS_GROUP},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_ABOUTBOX_ZIVCONTROL, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, "About ZiVControl Control", 34, 22,
     260, 55, "MS Sans Serif", 8, kAboutItems},
    {IDD_PROPPAGE_ZIVCONTROL, WS_CHILD, nullptr, 0, 0, 250, 62, "MS Sans Serif", 8},
};
}  // namespace

const std::span<const StringResource> kStringTable = kStrings;
const std::span<const DialogTemplate> kDialogTemplates = kTemplates;

const char* LoadResourceString(UINT id) {
    for (const StringResource& s : kStrings)
        if (s.id == id) return s.text;
    return "";
}

const DialogTemplate* FindDialogTemplate(UINT id) {
    for (const DialogTemplate& t : kTemplates)
        if (t.id == id) return &t;
    return nullptr;
}
