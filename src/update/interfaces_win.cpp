// Windows implementation of update/interfaces.h: Winsock's interface list.
#include <winsock2.h>
#include <ws2tcpip.h>

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
