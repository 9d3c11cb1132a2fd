// The identifiers of the image control's automation face and the type library
// that describes it (ZIVCONTROLLib 1.0), as constant data in the module.
#pragma once

#include "typelib.h"

constexpr GUID LIBID_ZIVCONTROLLib = MakeGuid("{AAED9179-8C9E-4ADE-997E-D9A7519DFE72}");
constexpr IID DIID__DZiVControl = MakeGuid("{1ABD8116-4A55-4E2D-9B92-F8F1D1ECA7BA}");
constexpr IID DIID__DZiVControlEvents = MakeGuid("{B93AB8B1-746F-4C2D-A1BA-C0F5549D0D48}");
constexpr CLSID CLSID_ZiVControl = MakeGuid("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");
constexpr CLSID CLSID_ZiVControlPropPage = MakeGuid("{C98C4835-25AC-4304-AB15-6D274FF02EB5}");

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;

// The dispatch identifiers of _DZiVControl and _DZiVControlEvents.
enum : DISPID {
    dispidServer = 1,
    dispidPort = 2,
    dispidBusy = 3,
    dispidLive = 4,
    dispidRequestImage = 5,
    dispidSetPosition = 6,
    dispidAbort = 7,
    dispidSaveToBmp = 8,
    dispidGetImgAttrib = 9,
    eventidPictureReady = 1,
};

extern const TypeLibData kZivControlTypeLib;
