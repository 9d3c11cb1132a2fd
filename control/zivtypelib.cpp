// The type library ZIVCONTROLLib: the dispatch interface, the event interface
// and the control class.
#include "zivtypelib.h"

namespace {
constexpr ParamData kRequestImageParams[] = {{"x", VT_I4},  {"y", VT_I4},     {"dx", VT_I4},
                                             {"dy", VT_I4}, {"incrx", VT_I4}, {"incry", VT_I4}};
constexpr ParamData kSetPositionParams[] = {{"x", VT_I4}, {"y", VT_I4}, {"dx", VT_I4}, {"dy", VT_I4}};
constexpr ParamData kSaveToBmpParams[] = {{"fileName", VT_BSTR}};
constexpr ParamData kGetImgAttribParams[] = {
    {"x", VT_BYREF | VT_I4}, {"y", VT_BYREF | VT_I4}, {"dx", VT_BYREF | VT_I4}, {"dy", VT_BYREF | VT_I4}};
constexpr ParamData kPictureReadyParams[] = {{"status", VT_I4}};

constexpr MemberData kControlMembers[] = {
    {"server", dispidServer, MemberKind::property, VT_BSTR},
    {"port", dispidPort, MemberKind::property, VT_I4},
    {"Busy", dispidBusy, MemberKind::property, VT_BOOL},
    {"live", dispidLive, MemberKind::property, VT_BOOL},
    {"RequestImage", dispidRequestImage, MemberKind::method, VT_EMPTY, kRequestImageParams},
    {"SetPosition", dispidSetPosition, MemberKind::method, VT_EMPTY, kSetPositionParams},
    {"Abort", dispidAbort, MemberKind::method, VT_EMPTY},
    {"SaveToBmp", dispidSaveToBmp, MemberKind::method, VT_BOOL, kSaveToBmpParams},
    {"GetImgAttrib", dispidGetImgAttrib, MemberKind::method, VT_EMPTY, kGetImgAttribParams},
    {"AboutBox", DISPID_ABOUTBOX, MemberKind::method, VT_EMPTY},
};

constexpr MemberData kEventMembers[] = {
    {"PictureReady", eventidPictureReady, MemberKind::method, VT_EMPTY, kPictureReadyParams},
};

constexpr ImplData kControlInterfaces[] = {
    {DIID__DZiVControl, IMPLTYPEFLAG_FDEFAULT},
    {DIID__DZiVControlEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};

constexpr TypeData kTypes[] = {
    {TKIND_DISPATCH, "_DZiVControl", DIID__DZiVControl, TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE,
     "Dispatch interface for ZiVControl Control", kControlMembers},
    {TKIND_DISPATCH, "_DZiVControlEvents", DIID__DZiVControlEvents, TYPEFLAG_FDISPATCHABLE,
     "Event interface for ZiVControl Control", kEventMembers},
    {TKIND_COCLASS,
     "ZiVControl",
     CLSID_ZiVControl,
     TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
     "ZiVControl Control",
     {},
     kControlInterfaces},
};
}  // namespace

const TypeLibData kZivControlTypeLib = {"ZIVCONTROLLib",
                                        LIBID_ZIVCONTROLLib,
                                        kTypeLibMajor,
                                        kTypeLibMinor,
                                        0,
                                        LIBFLAG_FCONTROL,
                                        "ziVControl ActiveX Control module",
                                        "ziVControl.hlp",
                                        kTypes};
