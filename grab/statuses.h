// The PictureReady statuses with what each means to a user of zivgrab.
#pragma once

#include <algorithm>

#include "zivcontrolids.h"

namespace ziv::grab {

struct StatusInfo {
    constexpr StatusInfo(LONG status, const char* failure_)
        : code(status), name(PictureStatusNameOf(status)), failure(failure_) {}
    LONG code;
    const char* name;     // from the shared table
    const char* failure;  // null: a stage of a good exchange; else what went wrong, in words
};

inline constexpr StatusInfo kStatuses[] = {
    {PR_IMAGE_READY, nullptr},
    {PR_CONNECTION_CLOSED, "the server closed the connection before the image was complete"},
    {PR_CONNECT_FAILED, "the connection could not be made"},
    {PR_RECEIVE_FAILED, "reading from the server failed"},
    {PR_SEND_FAILED, "the request could not be sent"},
    {PR_BAD_GEOMETRY, "the server announced an image that cannot be shown"},
    // Fired as a reply's header is taken, alike for a total length below the
    // header's own 28 bytes (no pixel count at all) and for pixels that find
    // no memory; after PR_IMAGE_STARTED it is the display that found none.
    {PR_NO_MEMORY,
     "the server's reply cannot be taken: its header announces a total length below the header's 28 bytes, or "
     "more pixels than there is memory for"},
    {PR_IMAGE_STARTED, nullptr},
    {PR_REQUEST_SENT, nullptr},
};
static_assert(std::ranges::all_of(kStatuses, [](const auto& s) { return s.name != nullptr; }),
              "every status here has its name in the shared table");

// The entry of `code`; null for a status the control never fires.
inline const StatusInfo* find_status(LONG code) {
    for (const StatusInfo& s : kStatuses)
        if (s.code == code) return &s;
    return nullptr;
}

// What went wrong, in words, when `code` ended an exchange right after the
// status `before`; null for a stage of a good exchange or an unknown status.
inline const char* failure_text(LONG code, LONG before) {
    if (code == PR_NO_MEMORY && before == PR_IMAGE_STARTED)
        return "there is no memory to show the image the server sent";
    const StatusInfo* info = find_status(code);
    return info ? info->failure : nullptr;
}

}  // namespace ziv::grab
