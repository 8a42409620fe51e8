// The parts of update/sockets.h that read the same on both platforms: the
// addresses of a host of either family, their text, and the IPv4 connect.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "update/sockets.h"

namespace {
#ifdef _WIN32
constexpr int NoAddressFound = WSANO_DATA;
int LookUpFailure(int result) { return result; }
#else
constexpr int NoAddressFound = EAI_NONAME;
// The resolver's own failure says no more than "see errno".
int LookUpFailure(int result) { return result == EAI_SYSTEM && errno ? errno : result; }
#endif
}  // namespace

int ConnectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port, int timeoutMs) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    SocketAddress any{};
    std::memcpy(any.Bytes, &target, sizeof target);
    any.Length = sizeof target;
    return ConnectSocketTo(socket, any, timeoutMs);
}

int LookUpHostAddresses(const char* name, std::uint16_t port, std::vector<SocketAddress>& out, bool ipv6Only) {
    out.clear();
    addrinfo hints{};
    hints.ai_family = ipv6Only ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int result = getaddrinfo(name, nullptr, &hints, &found);
    if (result != 0) return LookUpFailure(result);
    for (addrinfo* a = found; a; a = a->ai_next) {
        SocketAddress address{};
        if (!a->ai_addr || a->ai_addrlen > sizeof address.Bytes) continue;
        std::memcpy(address.Bytes, a->ai_addr, a->ai_addrlen);
        address.Length = static_cast<int>(a->ai_addrlen);
        auto* v4 = reinterpret_cast<sockaddr_in*>(address.Bytes);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(address.Bytes);
        if (a->ai_family == AF_INET && v4->sin_addr.s_addr != 0 && v4->sin_addr.s_addr != 0xFFFFFFFFu)
            v4->sin_port = htons(port);
        else if (a->ai_family == AF_INET6 && !IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr))
            v6->sin6_port = htons(port);
        else
            continue;
        out.push_back(address);
    }
    freeaddrinfo(found);
    return out.empty() ? NoAddressFound : 0;
}

std::string AddressText(const SocketAddress& address) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address.Bytes);
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address.Bytes);
    char text[INET6_ADDRSTRLEN] = "";
    if (v4->sin_family == AF_INET6)
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    else
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return text;
}
