// The check-IP answer, over whatever the whole read may hand it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/text.h"
#include "update/address.h"
#include "update/http_reply.h"
#include "update/public_address.h"
#include "update/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char reply[4097];  // a whole answer: at most 4096 bytes, terminated after them
    if (size > 4096) size = 4096;
    std::memcpy(reply, data, size);
    reply[size] = '\0';
    ServiceTarget page;  // the text as a stored "CheckIPAddress": a page taken has a host the connection takes whole
    const char* why = nullptr;
    if (FindCheckIpPage(reply, page, why) && (page.Host.empty() || page.Host.size() > MaxHostNameLength)) __builtin_trap();
    // Read as the whole-answer reading reads it: chunks joined, the head apart.
    HttpReply answer;
    if (ParseHttpReply(reply, size, true, answer) != HttpReplyState::Complete) return 0;
    Address6 address6, again;
    char text6[Address6TextSize];
    if (FindAnsweredAddress6(answer, address6)) {  // its text form reads back as the same address
        FormatAddress6(address6, text6);
        if (!ParseAddress6(text6, again) || std::memcmp(&again, &address6, sizeof again) != 0) __builtin_trap();
        Address6Refusal(address6);
    }
    std::uint32_t address;
    if (!FindAnsweredAddress(answer, &address)) return 0;
    // An address found stands in the body, written as the program writes it.
    char dotted[16];
    FormatAddress(address, dotted);
    if (answer.Body.find(dotted) == std::string::npos) __builtin_trap();
    IsAcceptablePublicAddress(address);
    return 0;
}
