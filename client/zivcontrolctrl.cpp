// The wrapper's calls: property puts and methods through IDispatch.
#include "zivcontrolctrl.h"

#include "oleauto.h"

void CZivcontrolctrl::SetServer(const std::string& server) { SetProperty(dispidServer, COleVariant(server)); }

void CZivcontrolctrl::SetPort(LONG port) { SetProperty(dispidPort, COleVariant(port)); }

void CZivcontrolctrl::SetLive(BOOL live) { SetProperty(dispidLive, COleVariant(live != FALSE)); }

void CZivcontrolctrl::RequestImage(LONG x, LONG y, LONG dx, LONG dy, LONG incrx, LONG incry) {
    InvokeHelper(
        dispidRequestImage, DISPATCH_METHOD, VT_EMPTY, nullptr,
        {COleVariant(x), COleVariant(y), COleVariant(dx), COleVariant(dy), COleVariant(incrx), COleVariant(incry)});
}

void CZivcontrolctrl::SetPosition(LONG x, LONG y, LONG dx, LONG dy) {
    InvokeHelper(dispidSetPosition, DISPATCH_METHOD, VT_EMPTY, nullptr,
                 {COleVariant(x), COleVariant(y), COleVariant(dx), COleVariant(dy)});
}

void CZivcontrolctrl::Abort() { InvokeHelper(dispidAbort, DISPATCH_METHOD, VT_EMPTY, nullptr); }

BOOL CZivcontrolctrl::SaveToBmp(const std::string& fileName) {
    BOOL saved = FALSE;
    if (FAILED(InvokeHelper(dispidSaveToBmp, DISPATCH_METHOD, VT_BOOL, &saved, {COleVariant(fileName)}))) return FALSE;
    return saved;
}

void CZivcontrolctrl::GetImgAttrib(LONG* x, LONG* y, LONG* dx, LONG* dy) {
    LONG values[4] = {0, 0, 0, 0};
    InvokeHelper(
        dispidGetImgAttrib, DISPATCH_METHOD, VT_EMPTY, nullptr,
        {VariantByRef(&values[0]), VariantByRef(&values[1]), VariantByRef(&values[2]), VariantByRef(&values[3])});
    if (x) *x = values[0];
    if (y) *y = values[1];
    if (dx) *dx = values[2];
    if (dy) *dy = values[3];
}
