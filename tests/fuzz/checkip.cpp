// The check-IP answer, over whatever the whole read may hand it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "update/address.h"
#include "update/public_address.h"
#include "update/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char reply[4097];  // a whole answer: at most 4096 bytes, terminated after them
    if (size > 4096) size = 4096;
    std::memcpy(reply, data, size);
    reply[size] = '\0';
    std::uint32_t address;
    if (!FindAnsweredAddress(reply, &address)) return 0;
    // An address found stands in the answer, written as the program writes it.
    char dotted[16];
    FormatAddress(address, dotted);
    if (!std::strstr(reply, dotted)) __builtin_trap();
    IsAcceptablePublicAddress(address);
    return 0;
}
