// The computer's own IPv4 interface addresses and the choice among them.
#pragma once

#include <cstdint>

constexpr int MaxInterfaces = 10;
constexpr std::uint32_t InterfaceLoopback = 4;  // the loopback bit of the flags word

struct InterfaceEntry {
    std::uint32_t Flags;
    std::uint32_t Address;  // network byte order
};

// Platform seam: the system's IPv4 interfaces in system order; the count
// (0..10), 0 when listing fails or there are more than 10.
int GetInterfaceList(InterfaceEntry list[MaxInterfaces]);

// Where GetLocalAddress and the address list take their interfaces from;
// tests put a list of their own here.
extern int (*InterfaceListSource)(InterfaceEntry list[MaxInterfaces]);

// Logs its verdict; refuses loopback (by flag) and the private ranges.
bool IsAcceptableAddress(const InterfaceEntry& entry);

// The (n+1)-th acceptable address, the last acceptable one when there are
// fewer, 0 when there is none.
std::uint32_t GetLocalAddress(int n);

// The acceptable addresses in list order (the choices of the "Interface"
// preference); gives their count.
int ListAcceptableAddresses(std::uint32_t out[MaxInterfaces]);
