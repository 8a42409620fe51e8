// The computer's own IPv4 interface addresses and the choice among them.
#pragma once

#include <cstdint>

#include "update/interfaces.h"

// Dotted-decimal form of an address in network byte order, into 16 bytes.
void FormatAddress(std::uint32_t address, char out[16]);

// Logs its verdict; refuses loopback (by flag) and the ranges no host of the
// Internet reaches an address in: the private ranges, 0/8, 100.64/10 (a
// carrier's NAT), 169.254/16 (link-local), 198.18/15 (benchmarking), 224/4
// (multicast) and 240/4 (reserved, the broadcast address with them). The
// documentation nets count as public.
bool IsAcceptableAddress(const InterfaceEntry& entry);

// The (n+1)-th acceptable address, the last acceptable one when there are
// fewer, 0 when there is none.
std::uint32_t GetLocalAddress(int n);

// The acceptable addresses in list order (the choices of the "Interface"
// preference); gives their count.
int ListAcceptableAddresses(std::uint32_t out[MaxInterfaces]);
