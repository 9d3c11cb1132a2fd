// The image control's property page: one page, "General", without fields.
#pragma once

#include "proppage.h"

class CZiVControlPropPage : public COlePropertyPage {
public:
    CZiVControlPropPage();
};
