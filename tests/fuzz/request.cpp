// The request builder over stored account records as the registry may hold
// them: any bytes in every field, texts not terminated, any server number.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/preferences.h"
#include "update/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A shorter input fills the record's front (the maker's fields come
    // first) and leaves the rest zero, so the record may grow at its end
    // without the corpus falling short of it.
    Account account{};
    const std::size_t taken = size < sizeof account ? size : sizeof account;
    std::memcpy(&account, data, taken);
    // The rest: the proxy settings the request is shaped by.
    const std::uint8_t flags = size > taken ? data[taken] : 0;
    Preferences.UseProxy = flags & 1;
    Preferences.UseBasicAuthentication = (flags >> 1) & 1;
    std::size_t rest = size > taken ? size - taken - 1 : 0;
    std::size_t half = rest / 2;
    std::memset(Preferences.ProxyUser, 0, sizeof Preferences.ProxyUser);
    std::memset(Preferences.ProxyPassword, 0, sizeof Preferences.ProxyPassword);
    if (rest > 0) {
        std::memcpy(Preferences.ProxyUser, data + taken + 1, half < 32 ? half : 32);
        std::memcpy(Preferences.ProxyPassword, data + taken + 1 + half, rest - half < 32 ? rest - half : 32);
    }
    char request[TransferBufferSize];
    BuildUpdateRequest(account, request, sizeof request);
    if (std::memchr(request, '\0', sizeof request) == nullptr) __builtin_trap();
    // A record that passes the framing check gives a request whose only line
    // ends are its own.
    if (request[0] && !UnsafeAccountField(account)) {
        const char* end = std::strstr(request, "\r\n\r\n");
        if (!end) __builtin_trap();
        for (const char* c = request; c < end; ++c)
            if ((*c == '\r' && c[1] != '\n') || (*c == '\n' && (c == request || c[-1] != '\r'))) __builtin_trap();
    }
    char name[200];
    FullHostName(account, name, sizeof name);
    return 0;
}
