// What the control looks like after each PictureReady status.
#pragma once

#include <algorithm>

#include "zivcontrolids.h"

struct PictureStatusInfo {
    constexpr PictureStatusInfo(LONG status, const char* stateLeft_)
        : code(status), name(PictureStatusNameOf(status)), stateLeft(stateLeft_) {}
    LONG code;
    const char* name;       // from the shared table
    const char* stateLeft;  // what the control looks like when the status is fired
};

inline constexpr PictureStatusInfo kPictureStatusTable[] = {
    {PR_IMAGE_READY, "Busy FALSE, counters 0; single image: closed; live: request sent again"},
    {PR_CONNECTION_CLOSED, "socket closed, Busy FALSE, partial image dropped, display kept"},
    {PR_CONNECT_FAILED, "nothing changed, Busy FALSE"},
    {PR_RECEIVE_FAILED, "socket closed, Busy FALSE, buffers and display released"},
    {PR_SEND_FAILED, "connection left as it was"},
    {PR_BAD_GEOMETRY, "display unchanged; status 0 follows"},
    {PR_NO_MEMORY, "socket closed, Busy FALSE, counters 0"},
    {PR_IMAGE_STARTED, "Busy TRUE, reception under way"},
    {PR_REQUEST_SENT, "request on the wire, waiting for the reply"},
};
static_assert(std::ranges::all_of(kPictureStatusTable, [](const auto& s) { return s.name != nullptr; }),
              "every status here has its name in the shared table");

// The table entry of `code`, or null for a code that is never fired.
inline const PictureStatusInfo* FindPictureStatus(LONG code) {
    for (const PictureStatusInfo& info : kPictureStatusTable)
        if (info.code == code) return &info;
    return nullptr;
}
