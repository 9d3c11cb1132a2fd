// The image control's property page. It binds no field to any property, so
// applying it changes nothing.
#include "zivcontrolppg.h"

#include "zivcontrolres.h"

CZiVControlPropPage::CZiVControlPropPage()
    : COlePropertyPage(*FindDialogTemplate(IDD_PROPPAGE_ZIVCONTROL), LoadResourceString(IDS_ZIVCONTROL_PPG_CAPTION)) {}
