// CAsyncSocket on a non-blocking POSIX socket.
//
// Readiness comes from two QSocketNotifiers (read, write) owned for the whole
// life of the object and re-pointed at each new descriptor. QSocketNotifier is
// level-triggered, so each one is enabled only while its event is wanted:
//  - write: while a connect is pending, and after a Send that would block;
//  - read: from a successful connect until end of file or a reset was seen,
//    and paused after each OnReceive until the owner calls Receive again
//    (so an owner that does not read is not flooded).
// Notifiers are disabled before their descriptor is closed: a notifier left
// watching a closed descriptor number would watch whatever reuses it.
//
// Handlers may close, recreate or even delete the socket. A generation number,
// bumped on every Create and Close, tells a dispatch that its socket is gone;
// a shared flag tells it that the object itself is gone.

#include "casyncsocket.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

thread_local int t_lastError = 0;

void setLastError(int wsaError) { t_lastError = wsaError; }

int lastErrnoAsWsa() { return WsaErrorFromErrno(errno); }

}  // namespace

int WsaErrorFromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;  // a pending connect, as WinSock reports it
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

int WSAStartup(WORD, WSADATA* data) {
    if (data) *data = WSADATA{MAKEWORD(1, 1), MAKEWORD(1, 1)};
    return 0;
}

int WSACleanup() { return 0; }

int WSAGetLastError() { return t_lastError; }

struct CAsyncSocket::Impl {
    explicit Impl(CAsyncSocket* owner) : owner(owner) {}

    ~Impl() {
        *alive = false;
        disableAll();
        // Deleting a notifier (or the context of a queued call) from inside
        // its own delivery is not safe; the loop that is delivering it runs on
        // and deletes it afterwards.
        QObject* objects[] = {readNotifier, writeNotifier, context};
        for (QObject* o : objects) {
            if (!o) continue;
            if (depth > 0)
                o->deleteLater();
            else
                delete o;
        }
    }

    // The Qt objects are made on first use, on the thread that creates the
    // socket, which is where the notifications must arrive.
    void ensureObjects() {
        if (context) return;
        context = new QObject;
        readNotifier = new QSocketNotifier(QSocketNotifier::Read);
        writeNotifier = new QSocketNotifier(QSocketNotifier::Write);
        readNotifier->setEnabled(false);
        writeNotifier->setEnabled(false);
        QObject::connect(readNotifier, &QSocketNotifier::activated, context, [this] { dispatch([this] { onReadable(); }); });
        QObject::connect(writeNotifier, &QSocketNotifier::activated, context, [this] { dispatch([this] { onWritable(); }); });
    }

    void attach(int fd) {
        ensureObjects();
        readNotifier->setSocket(fd);   // leaves it disabled
        writeNotifier->setSocket(fd);
    }

    void disableAll() {
        if (readNotifier) readNotifier->setEnabled(false);
        if (writeNotifier) writeNotifier->setEnabled(false);
    }

    void setRead(bool on) {
        if (readNotifier && readNotifier->isEnabled() != on) readNotifier->setEnabled(on);
    }

    void setWrite(bool on) {
        if (writeNotifier && writeNotifier->isEnabled() != on) writeNotifier->setEnabled(on);
    }

    // Runs one notification; afterwards `this` may be gone.
    template <class F>
    void dispatch(F&& f) {
        std::shared_ptr<bool> stillAlive = alive;
        ++depth;
        f();
        if (!*stillAlive) return;
        --depth;
    }

    void onWritable() {
        setWrite(false);
        const int fd = owner->m_hSocket;
        if (fd < 0) return;
        const std::uint64_t gen = generation;
        if (connecting) {
            connecting = false;
            int soError = 0;
            socklen_t len = sizeof soError;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
            const int err = WsaErrorFromErrno(soError);
            if (err == 0) {
                connected = true;
                readArmed = true;
                setRead((events & (FD_READ | FD_CLOSE)) != 0);
            }
            const std::shared_ptr<bool> stillAlive = alive;
            if (events & FD_CONNECT) owner->OnConnect(err);
            // The handler may have closed, recreated or deleted the socket.
            if (!*stillAlive || generation != gen) return;
            if (err == 0 && (events & FD_WRITE)) owner->OnSend(0);
            return;
        }
        if (connected && (events & FD_WRITE)) owner->OnSend(0);
    }

    void onReadable() {
        const int fd = owner->m_hSocket;
        if (fd < 0 || !connected || closeSeen) {
            setRead(false);
            return;
        }
        char probe;
        const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            if (!(events & FD_READ) || !readArmed) {
                // Nobody has read since the last OnReceive: wait for Receive.
                setRead(false);
                return;
            }
            readArmed = false;
            owner->OnReceive(0);
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        // End of file or an error, after every waiting byte was taken.
        const int err = n == 0 ? 0 : lastErrnoAsWsa();
        closeSeen = true;
        setRead(false);
        if (events & FD_CLOSE) owner->OnClose(err);
    }

    void resetState() {
        connecting = connected = closeSeen = false;
        readArmed = true;
    }

    CAsyncSocket* owner;
    QObject* context = nullptr;  // receiver of notifier signals and posted calls
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    std::uint64_t generation = 0;
    int depth = 0;
    long events = 0;
    bool connecting = false;
    bool connected = false;
    bool closeSeen = false;
    bool readArmed = true;
};

CAsyncSocket::CAsyncSocket() : m_impl(new Impl(this)) {}

CAsyncSocket::~CAsyncSocket() {
    CAsyncSocket::Close();
    delete m_impl;
}

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, LPCTSTR lpszSocketAddress) {
    // A socket that is still open is replaced rather than leaked.
    if (m_hSocket != INVALID_SOCKET) CAsyncSocket::Close();
    ++m_impl->generation;

    int type;
    if (nSocketType == SOCK_STREAM_TYPE)
        type = SOCK_STREAM;
    else if (nSocketType == SOCK_DGRAM_TYPE)
        type = SOCK_DGRAM;
    else {
        setLastError(WSAESOCKTNOSUPPORT);
        return FALSE;
    }

    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setLastError(lastErrnoAsWsa());
        return FALSE;
    }
    if (type == SOCK_STREAM) {
        // Requests are small and answered at once; never hold them back.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    const bool haveAddress = lpszSocketAddress && *lpszSocketAddress;
    if (nSocketPort != 0 || haveAddress) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<std::uint16_t>(nSocketPort & 0xFFFF));
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (haveAddress && ::inet_pton(AF_INET, lpszSocketAddress, &local.sin_addr) != 1) {
            ::close(fd);
            setLastError(WSAEINVAL);
            return FALSE;
        }
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            const int err = lastErrnoAsWsa();
            ::close(fd);
            setLastError(err);
            return FALSE;
        }
    }
    m_hSocket = fd;
    m_impl->resetState();
    m_impl->events = lEvent;
    m_impl->attach(fd);
    setLastError(0);
    return TRUE;
}

BOOL CAsyncSocket::Connect(LPCTSTR lpszHostAddress, UINT nHostPort) {
    if (m_hSocket == INVALID_SOCKET) {
        setLastError(WSAENOTSOCK);
        return FALSE;
    }
    if (!lpszHostAddress || !*lpszHostAddress) {
        setLastError(WSAEINVAL);
        return FALSE;
    }
    if (m_impl->connecting) {
        setLastError(WSAEALREADY);
        return FALSE;
    }
    if (m_impl->connected) {
        setLastError(WSAEISCONN);
        return FALSE;
    }

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(nHostPort & 0xFFFF));
    if (::inet_pton(AF_INET, lpszHostAddress, &peer.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(lpszHostAddress, nullptr, &hints, &found);
        if (rc != 0 || !found) {
            if (found) ::freeaddrinfo(found);
            setLastError(rc == EAI_AGAIN ? WSATRY_AGAIN : WSAHOST_NOT_FOUND);
            return FALSE;
        }
        peer.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }

    const int rc = ::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (rc != 0 && errno != EINPROGRESS) {
        setLastError(lastErrnoAsWsa());
        return FALSE;
    }
    // Even a connect that completed at once is reported through OnConnect,
    // from the event loop, like any other.
    m_impl->connecting = true;
    m_impl->setWrite(true);
    if (rc == 0) {
        setLastError(0);
        return TRUE;
    }
    setLastError(WSAEWOULDBLOCK);
    return FALSE;
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET) {
        setLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (!m_impl->connected) {
        setLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (nBufLen < 0 || (nBufLen > 0 && !lpBuf)) {
        setLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    const ssize_t n = ::send(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), (nFlags & MSG_OOB) | MSG_NOSIGNAL);
    if (n < 0) {
        const int err = lastErrnoAsWsa();
        // WinSock tells the owner with OnSend once it can send again.
        if (err == WSAEWOULDBLOCK) m_impl->setWrite(true);
        setLastError(err);
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET) {
        setLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (nBufLen < 0 || (nBufLen > 0 && !lpBuf)) {
        setLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    // Reading re-arms the read notification: if bytes stay behind, or the peer
    // closes, the next OnReceive or OnClose follows.
    m_impl->readArmed = true;
    if (m_impl->connected && !m_impl->closeSeen && (m_impl->events & (FD_READ | FD_CLOSE)))
        m_impl->setRead(true);
    const ssize_t n = ::recv(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), (nFlags & (MSG_OOB | MSG_PEEK)) | MSG_DONTWAIT);
    if (n < 0) {
        setLastError(lastErrnoAsWsa());
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

void CAsyncSocket::Close() {
    ++m_impl->generation;
    if (m_hSocket == INVALID_SOCKET) return;
    m_impl->disableAll();
    m_impl->attach(-1);
    ::close(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    m_impl->resetState();
}

int CAsyncSocket::GetLastError() { return t_lastError; }

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}

void CAsyncSocket::PostConnectFailure(int nErrorCode) {
    m_impl->ensureObjects();
    Impl* impl = m_impl;
    const std::uint64_t gen = impl->generation;
    QMetaObject::invokeMethod(
        impl->context,
        [impl, gen, nErrorCode] {
            // Dropped when the socket was closed or recreated in the meantime.
            if (impl->generation != gen) return;
            impl->dispatch([impl, nErrorCode] { impl->owner->OnConnect(nErrorCode); });
        },
        Qt::QueuedConnection);
}
