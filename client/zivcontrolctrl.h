// The client's handle on the image control: a window attached to the
// dialog's control item, with one call per automation member the client
// uses, made by dispatch identifier only (nothing of the control is linked).
#pragma once

#include <string>

#include "cwnd.h"
#include "guiddef.h"

class CZivcontrolctrl : public CWnd {
public:
    // The control's class, by which the dialog template creates it.
    static constexpr CLSID kClsid = MakeGuid("{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}");
    // Its event PictureReady (one long: the status).
    static constexpr DISPID kDispidPictureReady = 1;

    void SetServer(const std::string& server);
    void SetPort(LONG port);
    void SetLive(BOOL live);
    void RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry);
    void SetPosition(LONG x, LONG y, LONG dx, LONG dy);
    void Abort();
    BOOL SaveToBmp(const std::string& fileName);
    void GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy);

private:
    // The members of the control's dispatch interface.
    enum : DISPID {
        dispidServer = 1,
        dispidPort = 2,
        dispidLive = 4,
        dispidRequestImage = 5,
        dispidSetPosition = 6,
        dispidAbort = 7,
        dispidSaveToBmp = 8,
        dispidGetImgAttrib = 9,
    };
};
