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
}  // namespace

bool IsAcceptableAddress(const InterfaceEntry& entry) {
    char dotted[16];
    FormatAddress(entry.Address, dotted);
    unsigned char b[4];
    std::memcpy(b, &entry.Address, 4);
    if (entry.Flags & InterfaceLoopback) {
        WriteLog(LogTrace, "IP number", dotted, "is the local loopback and will be ignored");
        return false;
    }
    bool isPrivate = b[0] == 10 || (b[0] == 172 && b[1] >= 16 && b[1] <= 31) || (b[0] == 192 && b[1] == 168);
    if (isPrivate) {
        WriteLog(LogTrace, "IP number", dotted, "is in a private range and will be ignored");
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
