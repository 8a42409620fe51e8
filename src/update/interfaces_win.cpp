// Windows implementation of update/interfaces.h: Winsock's interface list
// for IPv4, the IP Helper's adapter addresses for IPv6.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "update/interfaces.h"

int GetInterfaceList(InterfaceEntry list[MaxInterfaces]) {
    WSADATA data;
    if (WSAStartup(0x0202, &data) != 0) return 0;
    SOCKET s = WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0);
    if (s == INVALID_SOCKET) {
        WSACleanup();
        return 0;
    }
    INTERFACE_INFO info[MaxInterfaces] = {};
    DWORD returned = 0;
    int failed = WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, info, sizeof info, &returned, nullptr, nullptr);
    closesocket(s);
    WSACleanup();
    if (failed != 0) return 0;
    int count = static_cast<int>(returned / sizeof(INTERFACE_INFO));
    if (count > MaxInterfaces) count = MaxInterfaces;
    for (int i = 0; i < count; ++i) {
        list[i].Flags = (info[i].iiFlags & IFF_LOOPBACK) ? InterfaceLoopback : 0;
        list[i].Address = info[i].iiAddress.AddressIn.sin_addr.s_addr;
    }
    return count;
}

namespace {
// The states of an address as the IP Helper reports them; a value it does
// not use counts as preferred and stable.
std::uint32_t AddressFlags(const IP_ADAPTER_UNICAST_ADDRESS& address) {
    std::uint32_t flags = address.SuffixOrigin == IpSuffixOriginRandom ? Interface6Temporary : 0;
    switch (address.DadState) {
    case IpDadStateInvalid:
    case IpDadStateTentative:
    case IpDadStateDuplicate:
        return flags | Interface6Unusable;
    case IpDadStateDeprecated:
        return flags | Interface6Deprecated;
    default:
        return flags;
    }
}
}  // namespace

int GetInterface6List(Interface6Entry list[MaxInterfaces6]) {
    const ULONG request =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    // The adapters may change between the size question and the answer: ask again.
    std::vector<unsigned char> buffer;
    ULONG size = 16 * 1024, result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size, 0);
        result = GetAdaptersAddresses(AF_UNSPEC, request, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return 0;
    int count = 0;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
        for (auto* address = adapter->FirstUnicastAddress; address; address = address->Next) {
            const sockaddr* socketAddress = address->Address.lpSockaddr;
            if (!socketAddress || socketAddress->sa_family != AF_INET6 ||
                address->Address.iSockaddrLength < static_cast<int>(sizeof(sockaddr_in6)))
                continue;
            if (count++ >= MaxInterfaces6) continue;  // counted, not kept
            Interface6Entry& entry = list[count - 1];
            std::memcpy(entry.Address.Bytes, &reinterpret_cast<const sockaddr_in6*>(socketAddress)->sin6_addr, 16);
            entry.Flags = AddressFlags(*address);
            entry.Adapter4Count = 0;
            for (auto* v4 = adapter->FirstUnicastAddress; v4 && entry.Adapter4Count < MaxInterfaces; v4 = v4->Next)
                if (v4->Address.lpSockaddr && v4->Address.lpSockaddr->sa_family == AF_INET &&
                    v4->Address.iSockaddrLength >= static_cast<int>(sizeof(sockaddr_in)))
                    entry.Adapter4[entry.Adapter4Count++] =
                        reinterpret_cast<const sockaddr_in*>(v4->Address.lpSockaddr)->sin_addr.s_addr;
        }
    }
    return count;
}
