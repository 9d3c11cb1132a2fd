// What a container may know of the image control without linking it: its
// class, its two interfaces and its type library, the dispatch identifiers of
// its members and its event, and the statuses that event carries. The control
// builds its tables on these values and its containers call by them, so they
// stand here once.
#pragma once

#include "guiddef.h"
#include "oleauto.h"

constexpr GUID LIBID_ZIVCONTROLLib = MakeGuid("{AAED9179-8C9E-4ADE-997E-D9A7519DFE72}");
constexpr IID DIID__DZiVControl = MakeGuid("{1ABD8116-4A55-4E2D-9B92-F8F1D1ECA7BA}");
constexpr IID DIID__DZiVControlEvents = MakeGuid("{B93AB8B1-746F-4C2D-A1BA-C0F5549D0D48}");
constexpr CLSID CLSID_ZiVControl = MakeGuid("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");
constexpr const char* kZivControlProgID = "ZIVCONTROL.ZiVControlCtrl.1";

// The dispatch identifiers of _DZiVControl and _DZiVControlEvents.
enum : DISPID {
    dispidServer = 1,         // BSTR
    dispidPort = 2,           // long
    dispidBusy = 3,           // VARIANT_BOOL, read only
    dispidLive = 4,           // VARIANT_BOOL
    dispidRequestImage = 5,   // (x, y, dx, dy, incrx, incry)
    dispidSetPosition = 6,    // (x, y, dx, dy)
    dispidAbort = 7,          // ()
    dispidSaveToBmp = 8,      // (fileName) -> VARIANT_BOOL
    dispidGetImgAttrib = 9,   // (long* x, long* y, long* dx, long* dy)
    eventidPictureReady = 1,  // (long status)
};

// The statuses PictureReady carries: the contract between the control and
// its container about every stage and failure of an image exchange.
enum PictureStatus : LONG {
    PR_IMAGE_READY = 0,        // the image is complete and the display step has run
    PR_CONNECTION_CLOSED = 1,  // the server closed the connection
    PR_CONNECT_FAILED = 2,     // the connection could not be made
    PR_RECEIVE_FAILED = 3,     // a read notification came with an error
    PR_SEND_FAILED = 4,        // the request could not be handed to the socket
    // 5 is never fired
    PR_BAD_GEOMETRY = 6,   // the header's geometry cannot be displayed
    PR_NO_MEMORY = 7,      // no memory for the announced image
    PR_IMAGE_STARTED = 8,  // a reply's header arrived and its buffer is ready
    PR_REQUEST_SENT = 9,   // the 24-byte request was handed to the socket
};

// The name of every status that is fired, as messages and logs print it; the
// control's and the containers' own tables per status take theirs from here.
struct PictureStatusName {
    LONG code;
    const char* name;
};
inline constexpr PictureStatusName kPictureStatusNames[] = {
    {PR_IMAGE_READY, "PR_IMAGE_READY"},       {PR_CONNECTION_CLOSED, "PR_CONNECTION_CLOSED"},
    {PR_CONNECT_FAILED, "PR_CONNECT_FAILED"}, {PR_RECEIVE_FAILED, "PR_RECEIVE_FAILED"},
    {PR_SEND_FAILED, "PR_SEND_FAILED"},       {PR_BAD_GEOMETRY, "PR_BAD_GEOMETRY"},
    {PR_NO_MEMORY, "PR_NO_MEMORY"},           {PR_IMAGE_STARTED, "PR_IMAGE_STARTED"},
    {PR_REQUEST_SENT, "PR_REQUEST_SENT"},
};

// The name of `code`; null for a status that is never fired.
constexpr const char* PictureStatusNameOf(LONG code) {
    for (const PictureStatusName& status : kPictureStatusNames)
        if (status.code == code) return status.name;
    return nullptr;
}
