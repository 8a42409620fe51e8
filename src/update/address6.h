// The computer's own IPv6 address: its text forms, the ranges no host of the
// Internet has, and the choice among the interfaces' addresses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/interfaces.h"

// Room for the text form of an IPv6 address and its terminator.
constexpr std::size_t Address6TextSize = 46;

// The text form of RFC 5952: lower-case hex groups without leading zeros,
// the longest run of two or more zero groups (the first of equal runs) as
// "::", and an IPv4-mapped address as ::ffff:a.b.c.d.
void FormatAddress6(const Address6& address, char out[Address6TextSize]);

// Reads an IPv6 address written in any of its standard forms (hex groups of
// up to four digits in either case, at most one "::", the last 32 bits
// possibly dotted), from text up to its terminator or length bytes. False,
// with out untouched, for anything else: a blank, a zone ("%eth0"), a prefix
// length, brackets, a group too many or too few.
bool ParseAddress6(const char* text, Address6& out, std::size_t length = static_cast<std::size_t>(-1));

// Why no host of the Internet is reached at the address ("is link-local",
// "is a Teredo address", ...), or null for a global unicast address.
const char* Address6Refusal(const Address6& address);

// Where the choice takes its list from: GetInterface6List, or a list of the
// tests' own.
extern int (*Interface6ListSource)(Interface6Entry list[MaxInterfaces6]);

// The IPv6 address to register among count entries in system order, logging
// a verdict for each entry it judges. adapter4 is the IPv4 address (network
// byte order) the "Interface" preference names: only the addresses of its
// adapter count; 0 lets any adapter's count. Refuses the ranges of
// Address6Refusal and deprecated, tentative or duplicate addresses; prefers
// the first stable address to the first temporary one, since a server on
// this computer answers on the stable one. False, with why set to a text for
// the log, when there is none.
bool ChooseAddress6(const Interface6Entry* list, int count, std::uint32_t adapter4, Address6& chosen, const char*& why);

// ChooseAddress6 over the system's list (through Interface6ListSource).
bool GetLocalAddress6(std::uint32_t adapter4, Address6& chosen, const char*& why);
