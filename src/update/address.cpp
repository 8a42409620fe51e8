#include "update/address.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"

int (*InterfaceListSource)(InterfaceEntry list[MaxInterfaces]) = GetInterfaceList;

void FormatAddress(std::uint32_t address, char out[16]) {
    unsigned char b[4];
    std::memcpy(b, &address, 4);  // network order: first octet first
    std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

namespace {
int ReadInterfaces(InterfaceEntry list[MaxInterfaces]) {
    std::memset(list, 0, sizeof(InterfaceEntry) * MaxInterfaces);
    int count = InterfaceListSource(list);
    if (count < 0) return 0;
    return count > MaxInterfaces ? MaxInterfaces : count;
}

// Ranges no host of the Internet reaches at an address, with the verdict logged.
struct RefusedRange {
    std::uint32_t First;  // host order
    int PrefixBits;
    const char* Verdict;
};
const RefusedRange RefusedRanges[] = {
    {0x0A000000u, 8, "is in a private range and will be ignored"},       // 10/8
    {0xAC100000u, 12, "is in a private range and will be ignored"},      // 172.16/12
    {0xC0A80000u, 16, "is in a private range and will be ignored"},      // 192.168/16
    {0x00000000u, 8, "is no host's address and will be ignored"},        // 0/8 (this network)
    {0xF0000000u, 4, "is no host's address and will be ignored"},        // 240/4 (reserved, with the broadcast address)
    {0xE0000000u, 4, "is a multicast address and will be ignored"},      // 224/4
    {0xA9FE0000u, 16, "is a link-local address and will be ignored"},    // 169.254/16
    {0x64400000u, 10, "is behind a carrier's NAT and will be ignored"},  // 100.64/10
    {0xC6120000u, 15, "is a benchmarking address and will be ignored"},  // 198.18/15
};
}  // namespace

bool IsAcceptableAddress(const InterfaceEntry& entry) {
    char dotted[16];
    FormatAddress(entry.Address, dotted);
    if (entry.Flags & InterfaceLoopback) {
        WriteLog(LogTrace, "IP number", dotted, "is the local loopback and will be ignored");
        return false;
    }
    unsigned char b[4];
    std::memcpy(b, &entry.Address, 4);
    const std::uint32_t value = static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    for (const RefusedRange& range : RefusedRanges) {
        if ((value ^ range.First) >> (32 - range.PrefixBits) != 0) continue;
        WriteLog(LogTrace, "IP number", dotted, range.Verdict);
        return false;
    }
    WriteLog(LogTrace, "IP number", dotted, "is OK");
    return true;
}

std::uint32_t GetLocalAddress(int n) {
    InterfaceEntry list[MaxInterfaces];
    int count = ReadInterfaces(list);
    std::uint32_t result = 0;
    for (int i = 0; i < count; ++i) {
        if (!IsAcceptableAddress(list[i])) continue;
        result = list[i].Address;
        if (n == 0) break;
        --n;
    }
    return result;
}

int ListAcceptableAddresses(std::uint32_t out[MaxInterfaces]) {
    InterfaceEntry list[MaxInterfaces];
    int count = ReadInterfaces(list), found = 0;
    for (int i = 0; i < count; ++i)
        if (IsAcceptableAddress(list[i])) out[found++] = list[i].Address;
    return found;
}
