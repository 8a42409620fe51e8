// The system's interface lists, the one platform service the address choices
// need: Winsock's interface list (IPv4) and GetAdaptersAddresses (IPv6) on
// Windows, getifaddrs (with /proc/net/if_inet6 for the IPv6 states) natively.
#pragma once

#include <cstdint>

constexpr int MaxInterfaces = 10;
constexpr std::uint32_t InterfaceLoopback = 4;  // the loopback bit of the flags word

struct InterfaceEntry {
    std::uint32_t Flags;
    std::uint32_t Address;  // network byte order
};

// The system's IPv4 interfaces in system order; the count (0..10), 0 when
// listing fails or there are more than 10.
int GetInterfaceList(InterfaceEntry list[MaxInterfaces]);

// Where the address choice takes its interfaces from: GetInterfaceList, or a
// list of the tests' own.
extern int (*InterfaceListSource)(InterfaceEntry list[MaxInterfaces]);

// An IPv6 address, its 16 bytes in network order.
struct Address6 {
    unsigned char Bytes[16];
};

constexpr int MaxInterfaces6 = 32;
// The bits of an IPv6 entry's flags. A state the system does not report
// counts as preferred and stable.
constexpr std::uint32_t Interface6Temporary = 1;   // a privacy address, replaced every day or so
constexpr std::uint32_t Interface6Deprecated = 2;  // its preferred lifetime is over
constexpr std::uint32_t Interface6Unusable = 4;    // tentative, duplicate or otherwise invalid

struct Interface6Entry {
    std::uint32_t Flags;
    Address6 Address;
    // The IPv4 addresses of the adapter it belongs to (network byte order),
    // the first MaxInterfaces of them; what pairs it with an IPv4 choice.
    int Adapter4Count;
    std::uint32_t Adapter4[MaxInterfaces];
};

// The system's IPv6 interface addresses in system order: fills at most
// MaxInterfaces6 entries and gives how many there are (more than it filled
// when the system has more); 0 when listing fails.
int GetInterface6List(Interface6Entry list[MaxInterfaces6]);
