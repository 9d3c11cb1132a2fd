// The image control's automation face, described once: the members of
// _DZiVControl and _DZiVControlEvents (names, dispatch identifiers, kinds,
// parameter and result types). The type library ZIVCONTROLLib 1.0 lists
// them as they stand here, and the control's dispatch and event tables are
// built from them (zivcontrolctrl.cpp), so the two cannot disagree.
#pragma once

#include "typelib.h"
#include "zivcontrolids.h"

constexpr CLSID CLSID_ZiVControlPropPage = MakeGuid("{C98C4835-25AC-4304-AB15-6D274FF02EB5}");

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;

namespace zivparams {
inline constexpr ParamData kRequestImage[] = {{"x", VT_I4},  {"y", VT_I4},     {"dx", VT_I4},
                                              {"dy", VT_I4}, {"incrx", VT_I4}, {"incry", VT_I4}};
inline constexpr ParamData kSetPosition[] = {{"x", VT_I4}, {"y", VT_I4}, {"dx", VT_I4}, {"dy", VT_I4}};
inline constexpr ParamData kSaveToBmp[] = {{"fileName", VT_BSTR}};
inline constexpr ParamData kGetImgAttrib[] = {
    {"x", VT_BYREF | VT_I4}, {"y", VT_BYREF | VT_I4}, {"dx", VT_BYREF | VT_I4}, {"dy", VT_BYREF | VT_I4}};
inline constexpr ParamData kPictureReady[] = {{"status", VT_I4}};
}  // namespace zivparams

// In the order of the dispatch identifiers 1 to 9; AboutBox has its reserved one.
inline constexpr MemberData kZivControlMembers[] = {
    {"server", dispidServer, MemberKind::property, VT_BSTR},
    {"port", dispidPort, MemberKind::property, VT_I4},
    {"Busy", dispidBusy, MemberKind::property, VT_BOOL},  // a write is accepted and ignored
    {"live", dispidLive, MemberKind::property, VT_BOOL},
    {"RequestImage", dispidRequestImage, MemberKind::method, VT_EMPTY, zivparams::kRequestImage},
    {"SetPosition", dispidSetPosition, MemberKind::method, VT_EMPTY, zivparams::kSetPosition},
    {"Abort", dispidAbort, MemberKind::method, VT_EMPTY},
    {"SaveToBmp", dispidSaveToBmp, MemberKind::method, VT_BOOL, zivparams::kSaveToBmp},
    {"GetImgAttrib", dispidGetImgAttrib, MemberKind::method, VT_EMPTY, zivparams::kGetImgAttrib},
    {"AboutBox", DISPID_ABOUTBOX, MemberKind::method, VT_EMPTY},
};

inline constexpr MemberData kZivControlEvents[] = {
    {"PictureReady", eventidPictureReady, MemberKind::method, VT_EMPTY, zivparams::kPictureReady},
};

extern const TypeLibData kZivControlTypeLib;
