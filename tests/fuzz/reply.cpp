// The reply classification, over whatever one receive may hand it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "update/transaction.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char reply[1025];  // one receive: at most 1024 bytes, terminated after them
    if (size > 1024) size = 1024;
    std::memcpy(reply, data, size);
    reply[size] = '\0';
    Account account{};
    account.Update = 1;
    account.CurrentIP = 0x0a0200c0;
    int result = ClassifyReply(account, reply);
    if (result == 0 && account.LastIP != account.CurrentIP) __builtin_trap();
    if (result == -1 && account.LastIP != 0) __builtin_trap();
    return 0;
}
