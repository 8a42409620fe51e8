// The computer's own IPv4 interface addresses and the choice among them.
#pragma once

#include <cstdint>

#include "update/interfaces.h"

// Dotted-decimal form of an address in network byte order, into 16 bytes.
void FormatAddress(std::uint32_t address, char out[16]);

// Logs its verdict; refuses loopback (by flag) and the private ranges.
bool IsAcceptableAddress(const InterfaceEntry& entry);

// The (n+1)-th acceptable address, the last acceptable one when there are
// fewer, 0 when there is none.
std::uint32_t GetLocalAddress(int n);

// The acceptable addresses in list order (the choices of the "Interface"
// preference); gives their count.
int ListAcceptableAddresses(std::uint32_t out[MaxInterfaces]);
