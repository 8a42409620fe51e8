// The version token of a reply and the dotted comparison of two versions.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char reply[1025];
    if (size > 1024) size = 1024;
    std::memcpy(reply, data, size);
    reply[size] = '\0';
    char token[16];
    if (FindVersionToken(reply, token)) {
        if (std::strlen(token) > 15) __builtin_trap();
        // Either order gives the opposite answer; a version equals itself.
        const char* own = "1.5.7";
        if (CompareVersions(token, own) != -CompareVersions(own, token)) __builtin_trap();
        if (CompareVersions(token, token) != 0) __builtin_trap();
    }
    return 0;
}
