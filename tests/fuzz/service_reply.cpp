// A catalogue service's reply, in whatever pieces it arrives: read as HTTP,
// judged for every service, and the request masker and Cloudflare's readers
// over the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "update/http_reply.h"
#include "update/services.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // Every prefix the receives may hand over must be readable, and the whole reply too.
    HttpReply reply;
    for (std::size_t cut = 0; cut < size; cut += 1 + size / 8) ParseHttpReply(text, cut, false, reply);
    if (ParseHttpReply(text, size, true, reply) == HttpReplyState::Complete) {
        if (reply.Body.size() > HttpReplyLimit || reply.Size > size) __builtin_trap();
        for (const ServiceEntry& service : Services) {
            ReplyJudgement j = JudgeServiceReply(service, reply);
            if (j.Verdict == ReplyVerdict::Temporary && (j.WaitSeconds < 0 || j.WaitSeconds > MaxServiceWait))
                __builtin_trap();
            if (j.Verdict != ReplyVerdict::Accepted && j.Reason.empty()) __builtin_trap();
        }
    }
    std::string masked = MaskSecrets(std::string(text, size));
    CloudflareResultIds(std::string(text, size), size % 2 == 0);
    CloudflareAnswerForLog(reply);
    return 0;
}
