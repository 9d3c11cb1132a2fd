// What a container knows of the image control without linking it: its class
// and interface identifiers, the dispatch identifiers of its members and its
// event, and the PictureReady statuses with what each means to a user.
#pragma once

#include "oaidl.h"

namespace ziv::grab {

constexpr CLSID kControlClsid = MakeGuid("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");
constexpr const char* kControlProgId = "ZIVCONTROL.ZiVControlCtrl.1";
constexpr IID kControlIid = MakeGuid("{1ABD8116-4A55-4E2D-9B92-F8F1D1ECA7BA}");        // _DZiVControl
constexpr IID kControlEventsIid = MakeGuid("{B93AB8B1-746F-4C2D-A1BA-C0F5549D0D48}");  // _DZiVControlEvents

// Members of _DZiVControl.
constexpr DISPID kDispidServer = 1;        // BSTR
constexpr DISPID kDispidPort = 2;          // long
constexpr DISPID kDispidBusy = 3;          // VARIANT_BOOL
constexpr DISPID kDispidLive = 4;          // VARIANT_BOOL
constexpr DISPID kDispidRequestImage = 5;  // (x, y, dx, dy, incrx, incry)
constexpr DISPID kDispidSetPosition = 6;
constexpr DISPID kDispidAbort = 7;
constexpr DISPID kDispidSaveToBmp = 8;     // (fileName) -> VARIANT_BOOL
constexpr DISPID kDispidGetImgAttrib = 9;  // (long* x, long* y, long* dx, long* dy)
// Events of _DZiVControlEvents.
constexpr DISPID kEventPictureReady = 1;  // (long status)

struct StatusInfo {
    LONG code;
    const char* name;
    const char* failure;  // null: a stage of a good exchange; else what went wrong, in words
};

inline constexpr StatusInfo kStatuses[] = {
    {0, "PR_IMAGE_READY", nullptr},
    {1, "PR_CONNECTION_CLOSED", "the server closed the connection before the image was complete"},
    {2, "PR_CONNECT_FAILED", "the connection could not be made"},
    {3, "PR_RECEIVE_FAILED", "reading from the server failed"},
    {4, "PR_SEND_FAILED", "the request could not be sent"},
    {6, "PR_BAD_GEOMETRY", "the server announced an image that cannot be shown"},
    {7, "PR_NO_MEMORY", "there is no memory for the image the server announced"},
    {8, "PR_IMAGE_STARTED", nullptr},
    {9, "PR_REQUEST_SENT", nullptr},
};

// The entry of `code`; null for a status the control never fires.
inline const StatusInfo* find_status(LONG code) {
    for (const StatusInfo& s : kStatuses)
        if (s.code == code) return &s;
    return nullptr;
}

}  // namespace ziv::grab
