// POSIX implementation of update/interfaces.h: getifaddrs, and on Linux
// /proc/net/if_inet6 for the states of the IPv6 addresses.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

#include "update/interfaces.h"

int GetInterfaceList(InterfaceEntry list[MaxInterfaces]) {
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return 0;
    int count = 0;
    bool tooMany = false;
    for (ifaddrs* it = all; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        if (count == MaxInterfaces) {  // as the system list call, no partial list
            tooMany = true;
            break;
        }
        list[count].Flags = (it->ifa_flags & IFF_LOOPBACK) ? InterfaceLoopback : 0;
        list[count].Address = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
        ++count;
    }
    freeifaddrs(all);
    return tooMany ? 0 : count;
}

namespace {
// The kernel's address flags (linux/if_addr.h), as /proc/net/if_inet6 shows them.
constexpr unsigned KernelTemporary = 0x01, KernelDadFailed = 0x08, KernelDeprecated = 0x20, KernelTentative = 0x40;

// The flags /proc/net/if_inet6 gives the address on the named interface;
// 0 (preferred, stable) when it has no such line or there is no such file.
std::uint32_t KernelFlags(std::FILE* table, const Address6& address, const char* name) {
    if (!table) return 0;
    std::rewind(table);
    char line[256];
    while (std::fgets(line, sizeof line, table)) {
        char hex[33], device[IF_NAMESIZE + 1];
        unsigned index, prefix, scope, flags;
        if (std::sscanf(line, "%32[0-9a-fA-F] %x %x %x %x %16s", hex, &index, &prefix, &scope, &flags, device) != 6 ||
            std::strlen(hex) != 32 || std::strcmp(device, name) != 0)
            continue;
        Address6 listed;
        for (int i = 0; i < 16; ++i) {
            unsigned byte;
            std::sscanf(hex + 2 * i, "%2x", &byte);
            listed.Bytes[i] = static_cast<unsigned char>(byte);
        }
        if (std::memcmp(listed.Bytes, address.Bytes, 16) != 0) continue;
        return ((flags & KernelTemporary) ? Interface6Temporary : 0) |
               ((flags & KernelDeprecated) ? Interface6Deprecated : 0) |
               ((flags & (KernelTentative | KernelDadFailed)) ? Interface6Unusable : 0);
    }
    return 0;
}

// Whether an IPv4 entry's name ("eth0", or a label such as "eth0:1") is of
// the interface named.
bool SameInterface(const char* label, const char* name) {
    std::size_t length = std::strcspn(label, ":");
    return std::strlen(name) == length && std::strncmp(label, name, length) == 0;
}
}  // namespace

int GetInterface6List(Interface6Entry list[MaxInterfaces6]) {
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return 0;
    std::FILE* table = std::fopen("/proc/net/if_inet6", "r");
    int count = 0;
    for (ifaddrs* it = all; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET6 || !it->ifa_name) continue;
        if (count++ >= MaxInterfaces6) continue;  // counted, not kept
        Interface6Entry& entry = list[count - 1];
        std::memcpy(entry.Address.Bytes, &reinterpret_cast<sockaddr_in6*>(it->ifa_addr)->sin6_addr, 16);
        entry.Flags = KernelFlags(table, entry.Address, it->ifa_name);
        entry.Adapter4Count = 0;
        for (ifaddrs* v4 = all; v4 && entry.Adapter4Count < MaxInterfaces; v4 = v4->ifa_next)
            if (v4->ifa_addr && v4->ifa_addr->sa_family == AF_INET && v4->ifa_name &&
                SameInterface(v4->ifa_name, it->ifa_name))
                entry.Adapter4[entry.Adapter4Count++] = reinterpret_cast<sockaddr_in*>(v4->ifa_addr)->sin_addr.s_addr;
    }
    if (table) std::fclose(table);
    freeifaddrs(all);
    return count;
}
