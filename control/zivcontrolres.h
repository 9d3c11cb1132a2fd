// The image control module's resources as data: its string table and its
// dialog templates (the About box and the property page).
#pragma once

#include "dialog.h"

enum : UINT {
    IDS_ZIVCONTROL = 1,                // the control's type name
    IDS_ZIVCONTROL_PPG = 2,            // the property page's type name
    IDS_ZIVCONTROL_PPG_CAPTION = 200,  // the property page's caption
    IDD_ABOUTBOX_ZIVCONTROL = 1,
    IDD_PROPPAGE_ZIVCONTROL = 200,
    IDB_ZIVCONTROL = 1,  // the toolbox picture
    IDI_ABOUTDLL = 1,    // the About box's icon
};

struct StringResource {
    UINT id;
    const char* text;
};
extern const std::span<const StringResource> kStringTable;
extern const std::span<const DialogTemplate> kDialogTemplates;

// The string with that number, "" when there is none.
const char* LoadResourceString(UINT id);
// The dialog template with that number, null when there is none.
const DialogTemplate* FindDialogTemplate(UINT id);
