// The identifiers of the image control's automation face and the type library
// that describes it (ZIVCONTROLLib 1.0), as constant data in the module.
#pragma once

#include "typelib.h"
#include "zivcontrolids.h"

constexpr CLSID CLSID_ZiVControlPropPage = MakeGuid("{C98C4835-25AC-4304-AB15-6D274FF02EB5}");

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;

extern const TypeLibData kZivControlTypeLib;
