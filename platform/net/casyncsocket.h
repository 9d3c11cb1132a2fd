// An asynchronous TCP client socket with the Windows Sockets surface the image
// control is written against, built on a non-blocking POSIX socket whose
// readiness reaches the creating thread's Qt event loop (QSocketNotifier).
// Notifications arrive one at a time on that thread; error codes use the
// WinSock numbering.
//
// As with WinSock, OnReceive is not repeated until the owner has called
// Receive: an owner that does not read hears nothing more (no OnReceive, and
// no OnClose, which comes only after every waiting byte was taken). OnSend
// follows a successful connect, and again once there is room after a Send
// failed with WSAEWOULDBLOCK. Out-of-band data and listening sockets are not
// supported: OnOutOfBandData and OnAccept are never called.
#pragma once

#include <memory>

#include "wintypes.h"

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

enum : long { FD_READ = 0x01, FD_WRITE = 0x02, FD_OOB = 0x04, FD_ACCEPT = 0x08, FD_CONNECT = 0x10, FD_CLOSE = 0x20 };

constexpr int SOCK_STREAM_TYPE = 1;  // the WinSock value of SOCK_STREAM

// WinSock error numbers.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
};

// Nothing needs starting on POSIX; fills in version 1.1 and returns 0.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();

inline WORD MAKEWORD(BYTE lo, BYTE hi) { return static_cast<WORD>(lo | (WORD(hi) << 8)); }

// Maps an errno value (or a getaddrinfo EAI_ code, see below) to the WinSock number.
int WsaErrorFromErrno(int err);

class CAsyncSocket {
public:
    CAsyncSocket();
    virtual ~CAsyncSocket();  // closes
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // A TCP stream socket with a local end the system picks: another socket
    // type fails with WSAESOCKTNOSUPPORT, a local port or address with WSAEOPNOTSUPP.
    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM_TYPE,
                long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                LPCTSTR lpszSocketAddress = nullptr);
    // FALSE with GetLastError() == WSAEWOULDBLOCK while the connection is pending;
    // its outcome arrives as OnConnect.
    virtual BOOL Connect(LPCTSTR lpszHostAddress, UINT nHostPort);
    virtual int Send(const void* lpBuf, int nBufLen, int nFlags = 0);
    virtual int Receive(void* lpBuf, int nBufLen, int nFlags = 0);
    virtual void Close();       // harmless when not open
    static int GetLastError();  // last error of this thread, WinSock numbering

    SOCKET m_hSocket = INVALID_SOCKET;

protected:
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnOutOfBandData(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);
    // Delivers OnConnect(nErrorCode) from the event loop later (used when a
    // connect fails at once, so the owner hears of it asynchronously like any
    // other connect failure). Dropped if the socket is closed or recreated first.
    void PostConnectFailure(int nErrorCode);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;  // Qt notifiers and state; never shared
    friend struct Impl;
};

// Starts the socket layer for a program (version 1.1): here it checks that
// the system gives the program a TCP socket at all. FALSE when it does not.
BOOL AfxSocketInit(WSADATA* lpwsaData = nullptr);
