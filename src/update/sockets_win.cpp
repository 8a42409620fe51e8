// Windows implementation of update/sockets.h: Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "update/sockets.h"

namespace {
SOCKET Native(SocketHandle socket) { return socket == InvalidSocket ? INVALID_SOCKET : static_cast<SOCKET>(socket); }

thread_local bool waitTimedOut = false;

// Waits until the socket is readable or writable; false (error set) on time-out or error.
bool WaitFor(SocketHandle socket, bool forWriting, int timeoutMs) {
    fd_set set, failed;
    FD_ZERO(&set);
    FD_ZERO(&failed);
    FD_SET(Native(socket), &set);
    FD_SET(Native(socket), &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int ready = select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, &failed, &limit);
    waitTimedOut = ready == 0;
    if (ready == 0) {
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    return ready > 0;
}
}  // namespace

int StartSockets(unsigned short version) {
    WSADATA data;
    return WSAStartup(version, &data);
}

void StopSockets() { WSACleanup(); }

SocketHandle CreateStreamSocket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? InvalidSocket : static_cast<SocketHandle>(s);
}

SocketHandle CreateStreamSocketFor(const SocketAddress& address) {
    SOCKET s = socket(reinterpret_cast<const sockaddr*>(address.Bytes)->sa_family, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? InvalidSocket : static_cast<SocketHandle>(s);
}

int ConnectSocketTo(SocketHandle socket, const SocketAddress& address, int timeoutMs) {
    waitTimedOut = false;  // a refusal may come without a wait
    if (socket == InvalidSocket) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    SOCKET s = Native(socket);
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return -1;
    int result = connect(s, reinterpret_cast<const sockaddr*>(address.Bytes), address.Length);
    if (result != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        int ready = select(0, nullptr, &writable, &failed, &limit);
        waitTimedOut = ready == 0;
        if (ready == 0) {
            WSASetLastError(WSAETIMEDOUT);
            return -1;
        }
        if (ready < 0) return -1;
        int error = 0;
        int length = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (FD_ISSET(s, &failed) || error != 0) {
            WSASetLastError(error ? error : WSAECONNREFUSED);
            return -1;
        }
        result = 0;
    }
    int saved = WSAGetLastError();
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    WSASetLastError(saved);
    return result == 0 ? 0 : -1;
}

int SendSome(SocketHandle socket, const char* data, int length, int timeoutMs) {
    if (!WaitFor(socket, true, timeoutMs)) return -1;
    int sent = send(Native(socket), data, length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int ReceiveSome(SocketHandle socket, char* buffer, int length, int timeoutMs) {
    if (!WaitFor(socket, false, timeoutMs)) return -1;
    int received = recv(Native(socket), buffer, length, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

void CloseSocket(SocketHandle socket) {
    if (socket != InvalidSocket) closesocket(Native(socket));
}

int LastSocketError() { return WSAGetLastError(); }
void SetAbortedError() { WSASetLastError(WSAECONNABORTED); }
void SetTimedOutError() { WSASetLastError(WSAETIMEDOUT); }
bool LastWaitTimedOut() { return waitTimedOut; }

std::uint32_t TextToAddress(const char* text) { return inet_addr(text); }

int LookUpHost(const char* name, std::uint32_t* address) {
    hostent* entry = gethostbyname(name);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
        return entry ? WSANO_DATA : WSAGetLastError();
    std::memcpy(address, entry->h_addr_list[0], 4);
    return 0;
}
