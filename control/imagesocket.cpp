#include "imagesocket.h"

void CImageSocket::Publish(LONG code, int nErrorCode) {
    SocketNotification notification{&nErrorCode, code};
    // Restored afterwards, so that nobody is left holding a record that is gone.
    SocketNotification* outer = GetNotification();
    SetNotification(&notification);
    Notify();
    SetNotification(outer);
}

void CImageSocket::OnReceive(int nErrorCode) {
    Publish(SN_RECEIVE, nErrorCode);
    CAsyncSocket::OnReceive(nErrorCode);
}

void CImageSocket::OnSend(int nErrorCode) {
    Publish(SN_SEND, nErrorCode);
    CAsyncSocket::OnSend(nErrorCode);
}

void CImageSocket::OnConnect(int nErrorCode) {
    Publish(SN_CONNECT, nErrorCode);
    CAsyncSocket::OnConnect(nErrorCode);
}

void CImageSocket::OnClose(int nErrorCode) {
    Publish(SN_CLOSE, nErrorCode);
    CAsyncSocket::OnClose(nErrorCode);
}
