// POSIX implementation of update/interfaces.h: getifaddrs.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

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
