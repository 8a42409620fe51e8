// The check-IP answer, over whatever one receive may hand it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "update/address.h"
#include "update/public_address.h"
#include "update/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char reply[1025];  // one receive: at most 1024 bytes, terminated after them
    if (size > 1024) size = 1024;
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
