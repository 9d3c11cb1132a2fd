// The control's TCP connection: an asynchronous socket that publishes its
// connect, close, read and write events to observers.
#pragma once

#include "casyncsocket.h"
#include "subject.h"

class CImageSocket : public CAsyncSocket, public CSubject {
public:
    CImageSocket() = default;
    ~CImageSocket() override = default;

    // Virtual here (it is not in CAsyncSocket) so that a scripted socket can
    // stand in for the whole connection in tests; the control calls it through
    // a CImageSocket pointer.
    virtual BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM_TYPE,
                        long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                        LPCTSTR lpszSocketAddress = nullptr) {
        return CAsyncSocket::Create(nSocketPort, nSocketType, lEvent, lpszSocketAddress);
    }
    // The error of the last failed call on this thread.
    virtual int LastError() const { return CAsyncSocket::GetLastError(); }
    // Reports a connect that failed at once as an SN_CONNECT with `nErrorCode`,
    // later, from the event loop (dropped if the socket is closed first).
    virtual void ReportConnectFailure(int nErrorCode) { PostConnectFailure(nErrorCode); }

protected:
    void OnReceive(int nErrorCode) override;
    void OnSend(int nErrorCode) override;
    void OnConnect(int nErrorCode) override;
    void OnClose(int nErrorCode) override;

private:
    void Publish(LONG code, int nErrorCode);
};
