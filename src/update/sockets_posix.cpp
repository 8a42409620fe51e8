// POSIX implementation of update/sockets.h: BSD sockets.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "update/sockets.h"

namespace {
thread_local bool waitTimedOut = false;

// Waits until the socket is ready for events; false (errno set) on time-out or error.
bool WaitFor(SocketHandle socket, short events, int timeoutMs) {
    pollfd entry{static_cast<int>(socket), events, 0};
    waitTimedOut = false;
    for (;;) {
        int ready = poll(&entry, 1, timeoutMs);
        if (ready > 0) return true;
        if (ready == 0) {
            errno = ETIMEDOUT;
            waitTimedOut = true;
            return false;
        }
        if (errno != EINTR) return false;
    }
}
}  // namespace

int StartSockets(unsigned short) { return 0; }
void StopSockets() {}

SocketHandle CreateStreamSocket() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    return fd < 0 ? InvalidSocket : fd;
}

SocketHandle CreateStreamSocketFor(const SocketAddress& address) {
    int fd = socket(reinterpret_cast<const sockaddr*>(address.Bytes)->sa_family, SOCK_STREAM, 0);
    return fd < 0 ? InvalidSocket : fd;
}

int ConnectSocketTo(SocketHandle socket, const SocketAddress& address, int timeoutMs) {
    waitTimedOut = false;  // a refusal may come without a wait
    if (socket == InvalidSocket) {
        errno = EBADF;
        return -1;
    }
    int fd = static_cast<int>(socket);
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    int result = connect(fd, reinterpret_cast<const sockaddr*>(address.Bytes), static_cast<socklen_t>(address.Length));
    if (result < 0 && errno == EINPROGRESS) {
        if (!WaitFor(socket, POLLOUT, timeoutMs)) return -1;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return -1;
        if (error != 0) {
            errno = error;
            return -1;
        }
        result = 0;
    }
    int saved = errno;
    fcntl(fd, F_SETFL, flags);
    errno = saved;
    return result < 0 ? -1 : 0;
}

int SendSome(SocketHandle socket, const char* data, int length, int timeoutMs) {
    if (!WaitFor(socket, POLLOUT, timeoutMs)) return -1;
    ssize_t sent = send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int ReceiveSome(SocketHandle socket, char* buffer, int length, int timeoutMs) {
    if (!WaitFor(socket, POLLIN, timeoutMs)) return -1;
    ssize_t received = recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), 0);
    return received < 0 ? -1 : static_cast<int>(received);
}

void CloseSocket(SocketHandle socket) {
    if (socket != InvalidSocket) close(static_cast<int>(socket));
}

int LastSocketError() { return errno; }
void SetAbortedError() { errno = ECONNABORTED; }
void SetTimedOutError() { errno = ETIMEDOUT; }
bool LastWaitTimedOut() { return waitTimedOut; }

std::uint32_t TextToAddress(const char* text) { return inet_addr(text); }

int LookUpHost(const char* name, std::uint32_t* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int result = getaddrinfo(name, nullptr, &hints, &found);
    if (result != 0) return result == EAI_SYSTEM && errno ? errno : result;
    if (!found) return EAI_NONAME;
    *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}
