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

thread_local int t_last_error = 0;

void set_last_error(int wsaError) { t_last_error = wsaError; }

int last_errno_as_wsa() { return WsaErrorFromErrno(errno); }

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

struct CAsyncSocket::Impl {
    explicit Impl(CAsyncSocket* socket) : owner(socket) {}

    ~Impl() {
        *alive = false;
        disable_all();
        // Deleting a notifier (or the context of a queued call) from inside
        // its own delivery is not safe; the loop that is delivering it runs on
        // and deletes it afterwards.
        QObject* objects[] = {read_notifier, write_notifier, context};
        for (QObject* o : objects) {
            if (!o) continue;
            if (depth > 0) o->deleteLater();
            else delete o;
        }
    }

    // The Qt objects are made on first use, on the thread that creates the
    // socket, which is where the notifications must arrive.
    void ensure_objects() {
        if (context) return;
        context = new QObject;
        read_notifier = new QSocketNotifier(QSocketNotifier::Read);
        write_notifier = new QSocketNotifier(QSocketNotifier::Write);
        read_notifier->setEnabled(false);
        write_notifier->setEnabled(false);
        QObject::connect(read_notifier, &QSocketNotifier::activated, context,
                         [this] { dispatch([this] { on_readable(); }); });
        QObject::connect(write_notifier, &QSocketNotifier::activated, context,
                         [this] { dispatch([this] { on_writable(); }); });
    }

    void attach(int fd) {
        ensure_objects();
        read_notifier->setSocket(fd);  // leaves it disabled
        write_notifier->setSocket(fd);
    }

    void disable_all() {
        if (read_notifier) read_notifier->setEnabled(false);
        if (write_notifier) write_notifier->setEnabled(false);
    }

    void set_read(bool on) {
        if (read_notifier && read_notifier->isEnabled() != on) read_notifier->setEnabled(on);
    }

    void set_write(bool on) {
        if (write_notifier && write_notifier->isEnabled() != on) write_notifier->setEnabled(on);
    }

    // Runs one notification; afterwards `this` may be gone.
    template <class F>
    void dispatch(F&& f) {
        std::shared_ptr<bool> still_alive = alive;
        ++depth;
        f();
        if (!*still_alive) return;
        --depth;
    }

    void on_writable() {
        set_write(false);
        const int fd = owner->m_hSocket;
        if (fd < 0) return;
        const std::uint64_t gen = generation;
        if (connecting) {
            connecting = false;
            int so_error = 0;
            socklen_t len = sizeof so_error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) so_error = errno;
            const int err = WsaErrorFromErrno(so_error);
            if (err == 0) {
                connected = true;
                read_armed = true;
                set_read((events & (FD_READ | FD_CLOSE)) != 0);
            }
            const std::shared_ptr<bool> still_alive = alive;
            if (events & FD_CONNECT) owner->OnConnect(err);
            // The handler may have closed, recreated or deleted the socket.
            if (!*still_alive || generation != gen) return;
            if (err == 0 && (events & FD_WRITE)) owner->OnSend(0);
            return;
        }
        if (connected && (events & FD_WRITE)) owner->OnSend(0);
    }

    void on_readable() {
        const int fd = owner->m_hSocket;
        if (fd < 0 || !connected || close_seen) {
            set_read(false);
            return;
        }
        char probe;
        const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            if (!(events & FD_READ) || !read_armed) {
                // Nobody has read since the last OnReceive: wait for Receive.
                set_read(false);
                return;
            }
            read_armed = false;
            owner->OnReceive(0);
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        // End of file or an error, after every waiting byte was taken.
        const int err = n == 0 ? 0 : last_errno_as_wsa();
        close_seen = true;
        set_read(false);
        if (events & FD_CLOSE) owner->OnClose(err);
    }

    void reset_state() {
        connecting = connected = close_seen = false;
        read_armed = true;
    }

    CAsyncSocket* owner;
    QObject* context = nullptr;  // receiver of notifier signals and posted calls
    QSocketNotifier* read_notifier = nullptr;
    QSocketNotifier* write_notifier = nullptr;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    std::uint64_t generation = 0;
    int depth = 0;
    long events = 0;
    bool connecting = false;
    bool connected = false;
    bool close_seen = false;
    bool read_armed = true;
};

CAsyncSocket::CAsyncSocket() : m_impl(std::make_unique<Impl>(this)) {}

CAsyncSocket::~CAsyncSocket() { CAsyncSocket::Close(); }

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, LPCTSTR lpszSocketAddress) {
    // A socket that is still open is replaced rather than leaked.
    if (m_hSocket != INVALID_SOCKET) CAsyncSocket::Close();
    ++m_impl->generation;

    if (nSocketType != SOCK_STREAM_TYPE) {
        set_last_error(WSAESOCKTNOSUPPORT);
        return FALSE;
    }
    if (nSocketPort != 0 || (lpszSocketAddress && *lpszSocketAddress)) {
        set_last_error(WSAEOPNOTSUPP);  // a client socket: the system picks the local end
        return FALSE;
    }

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        set_last_error(last_errno_as_wsa());
        return FALSE;
    }
    // Requests are small and answered at once; never hold them back.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_hSocket = fd;
    m_impl->reset_state();
    m_impl->events = lEvent;
    m_impl->attach(fd);
    set_last_error(0);
    return TRUE;
}

BOOL CAsyncSocket::Connect(LPCTSTR lpszHostAddress, UINT nHostPort) {
    if (m_hSocket == INVALID_SOCKET) {
        set_last_error(WSAENOTSOCK);
        return FALSE;
    }
    if (!lpszHostAddress || !*lpszHostAddress) {
        set_last_error(WSAEINVAL);
        return FALSE;
    }
    if (m_impl->connecting) {
        set_last_error(WSAEALREADY);
        return FALSE;
    }
    if (m_impl->connected) {
        set_last_error(WSAEISCONN);
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
            set_last_error(rc == EAI_AGAIN ? WSATRY_AGAIN : WSAHOST_NOT_FOUND);
            return FALSE;
        }
        peer.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }

    const int rc = ::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (rc != 0 && errno != EINPROGRESS) {
        set_last_error(last_errno_as_wsa());
        return FALSE;
    }
    // Even a connect that completed at once is reported through OnConnect,
    // from the event loop, like any other.
    m_impl->connecting = true;
    m_impl->set_write(true);
    if (rc == 0) {
        set_last_error(0);
        return TRUE;
    }
    set_last_error(WSAEWOULDBLOCK);
    return FALSE;
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET) {
        set_last_error(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (!m_impl->connected) {
        set_last_error(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (nBufLen < 0 || (nBufLen > 0 && !lpBuf)) {
        set_last_error(WSAEFAULT);
        return SOCKET_ERROR;
    }
    const ssize_t n = ::send(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), (nFlags & MSG_OOB) | MSG_NOSIGNAL);
    if (n < 0) {
        const int err = last_errno_as_wsa();
        // WinSock tells the owner with OnSend once it can send again.
        if (err == WSAEWOULDBLOCK) m_impl->set_write(true);
        set_last_error(err);
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET) {
        set_last_error(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (nBufLen < 0 || (nBufLen > 0 && !lpBuf)) {
        set_last_error(WSAEFAULT);
        return SOCKET_ERROR;
    }
    // Reading re-arms the read notification: if bytes stay behind, or the peer
    // closes, the next OnReceive or OnClose follows.
    m_impl->read_armed = true;
    if (m_impl->connected && !m_impl->close_seen && (m_impl->events & (FD_READ | FD_CLOSE))) m_impl->set_read(true);
    const ssize_t n =
        ::recv(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), (nFlags & (MSG_OOB | MSG_PEEK)) | MSG_DONTWAIT);
    if (n < 0) {
        set_last_error(last_errno_as_wsa());
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

void CAsyncSocket::Close() {
    ++m_impl->generation;
    if (m_hSocket == INVALID_SOCKET) return;
    m_impl->disable_all();
    m_impl->attach(-1);
    ::close(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    m_impl->reset_state();
}

int CAsyncSocket::GetLastError() { return t_last_error; }

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}

void CAsyncSocket::PostConnectFailure(int nErrorCode) {
    m_impl->ensure_objects();
    Impl* impl = m_impl.get();
    const std::uint64_t gen = impl->generation;
    // The call is queued on `context`, which a handler that deletes the socket
    // only schedules for deletion: the liveness token, not the context, tells
    // whether `impl` still exists.
    QMetaObject::invokeMethod(
        impl->context,
        [impl, alive = impl->alive, gen, nErrorCode] {
            // Dropped when the socket was deleted, closed or recreated meanwhile.
            if (!*alive || impl->generation != gen) return;
            impl->dispatch([impl, nErrorCode] { impl->owner->OnConnect(nErrorCode); });
        },
        Qt::QueuedConnection);
}

BOOL AfxSocketInit(WSADATA* lpwsaData) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return FALSE;
    ::close(probe);
    if (lpwsaData) *lpwsaData = WSADATA{0x0101, 0x0101};
    return TRUE;
}
