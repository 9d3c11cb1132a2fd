// The PictureReady statuses with what each means to a user of zivgrab.
#pragma once

#include "zivcontrolids.h"

namespace ziv::grab {

struct StatusInfo {
    LONG code;
    const char* name;
    const char* failure;  // null: a stage of a good exchange; else what went wrong, in words
};

inline constexpr StatusInfo kStatuses[] = {
    {PR_IMAGE_READY, "PR_IMAGE_READY", nullptr},
    {PR_CONNECTION_CLOSED, "PR_CONNECTION_CLOSED", "the server closed the connection before the image was complete"},
    {PR_CONNECT_FAILED, "PR_CONNECT_FAILED", "the connection could not be made"},
    {PR_RECEIVE_FAILED, "PR_RECEIVE_FAILED", "reading from the server failed"},
    {PR_SEND_FAILED, "PR_SEND_FAILED", "the request could not be sent"},
    {PR_BAD_GEOMETRY, "PR_BAD_GEOMETRY", "the server announced an image that cannot be shown"},
    {PR_NO_MEMORY, "PR_NO_MEMORY", "there is no memory for the image the server announced"},
    {PR_IMAGE_STARTED, "PR_IMAGE_STARTED", nullptr},
    {PR_REQUEST_SENT, "PR_REQUEST_SENT", nullptr},
};

// The entry of `code`; null for a status the control never fires.
inline const StatusInfo* find_status(LONG code) {
    for (const StatusInfo& s : kStatuses)
        if (s.code == code) return &s;
    return nullptr;
}

}  // namespace ziv::grab
