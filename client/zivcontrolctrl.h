// The client's handle on the image control: a window attached to the
// dialog's control item, with one call per automation member the client
// uses, made by dispatch identifier only (nothing of the control is linked).
#pragma once

#include <string>

#include "cwnd.h"
#include "zivcontrolids.h"

class CZivcontrolctrl : public CWnd {
public:
    void SetServer(const std::string& server);
    void SetPort(LONG port);
    void SetLive(BOOL live);
    void RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry);
    void SetPosition(LONG x, LONG y, LONG dx, LONG dy);
    void Abort();
    BOOL SaveToBmp(const std::string& fileName);
    void GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy);
};
