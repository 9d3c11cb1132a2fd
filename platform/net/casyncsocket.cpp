// Placeholder so that the library links while the implementation is written.
#include "casyncsocket.h"

namespace {
thread_local int t_lastError = 0;
}

int WSAStartup(WORD, WSADATA* data) {
    if (data) *data = WSADATA{MAKEWORD(1, 1), MAKEWORD(1, 1)};
    return 0;
}
int WSACleanup() { return 0; }
int WSAGetLastError() { return t_lastError; }
int WsaErrorFromErrno(int) { return WSAEINVAL; }

CAsyncSocket::CAsyncSocket() = default;
CAsyncSocket::~CAsyncSocket() { Close(); }
BOOL CAsyncSocket::Create(UINT, int, long, LPCTSTR) { t_lastError = WSAEINVAL; return FALSE; }
BOOL CAsyncSocket::Connect(LPCTSTR, UINT) { t_lastError = WSAEINVAL; return FALSE; }
int CAsyncSocket::Send(const void*, int, int) { t_lastError = WSAENOTCONN; return SOCKET_ERROR; }
int CAsyncSocket::Receive(void*, int, int) { t_lastError = WSAENOTCONN; return SOCKET_ERROR; }
void CAsyncSocket::Close() {}
int CAsyncSocket::GetLastError() { return t_lastError; }
void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
void CAsyncSocket::PostConnectFailure(int) {}
