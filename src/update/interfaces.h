// The system's IPv4 interface list, the one platform service the address
// choice needs: Winsock's interface list on Windows, getifaddrs natively.
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
