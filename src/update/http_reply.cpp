#include "update/http_reply.h"

#include <cstring>

#include "common/text.h"

namespace {

// Decimal digits alone, at most nine of them: anything else is no number.
bool ReadDecimal(const char* text, std::size_t size, std::int32_t& value) {
    while (size && (*text == ' ' || *text == '\t')) ++text, --size;
    while (size && (text[size - 1] == ' ' || text[size - 1] == '\t')) --size;
    if (size == 0 || size > 9) return false;
    std::int32_t v = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    value = v;
    return true;
}

// Decodes a chunked body; Incomplete until its last chunk has arrived.
// used: the bytes up to the end of the last chunk's line.
HttpReplyState DecodeChunked(const char* data, std::size_t size, std::string& body, std::size_t& used) {
    std::size_t at = 0;
    body.clear();
    for (;;) {
        const char* lineEnd = static_cast<const char*>(std::memchr(data + at, '\n', size - at));
        if (!lineEnd) return HttpReplyState::Incomplete;
        std::size_t chunk = 0, digits = 0;
        for (const char* p = data + at; p < lineEnd; ++p, ++digits) {
            int v = *p >= '0' && *p <= '9'   ? *p - '0'
                    : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                    : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10
                                             : -1;
            if (v < 0) break;  // a chunk extension or the CR
            chunk = chunk * 16 + static_cast<std::size_t>(v);
            if (chunk > HttpReplyLimit) return HttpReplyState::Malformed;
        }
        if (digits == 0) return HttpReplyState::Malformed;
        at = static_cast<std::size_t>(lineEnd - data) + 1;
        if (chunk == 0) {
            used = at;
            return HttpReplyState::Complete;  // trailers are not read
        }
        if (size - at < chunk + 1) return HttpReplyState::Incomplete;
        body.append(data + at, chunk);
        if (body.size() > HttpReplyLimit) return HttpReplyState::Malformed;
        at += chunk;
        if (data[at] == '\r') ++at;
        if (at >= size) return HttpReplyState::Incomplete;
        if (data[at] != '\n') return HttpReplyState::Malformed;
        ++at;
    }
}

}  // namespace

HttpReplyState ParseHttpReply(const char* data, std::size_t size, bool closed, HttpReply& reply) {
    reply = HttpReply();
    if (size > HttpReplyLimit) return HttpReplyState::Malformed;
    // The head ends at the first empty line (CR LF, or LF alone from careless servers).
    std::size_t headEnd = 0, bodyStart = 0;
    for (std::size_t i = 0; i + 1 < size && !bodyStart; ++i) {
        if (data[i] != '\n') continue;
        if (data[i + 1] == '\n') headEnd = i, bodyStart = i + 2;
        if (data[i + 1] == '\r' && i + 2 < size && data[i + 2] == '\n') headEnd = i, bodyStart = i + 3;
    }
    if (!bodyStart) return closed ? HttpReplyState::Malformed : HttpReplyState::Incomplete;

    if (!StartsWithNoCase(data, "http/1.", headEnd) || headEnd < 12 || data[8] != ' ') return HttpReplyState::Malformed;
    std::int32_t status = 0;
    if (!ReadDecimal(data + 9, 3, status) || status < 100) return HttpReplyState::Malformed;
    reply.Status = status;

    bool chunked = false, haveLength = false;
    std::int32_t length = 0;
    const char* end = data + headEnd;
    const char* statusEnd = static_cast<const char*>(std::memchr(data, '\n', headEnd));
    const char* line = statusEnd ? statusEnd + 1 : end;
    while (line < end) {
        const char* next = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        std::size_t lineSize = static_cast<std::size_t>((next ? next : end) - line);
        if (lineSize && line[lineSize - 1] == '\r') --lineSize;
        const char* colon = static_cast<const char*>(std::memchr(line, ':', lineSize));
        if (colon) {
            const char* value = colon + 1;
            std::size_t valueSize = lineSize - static_cast<std::size_t>(value - line);
            std::size_t nameSize = static_cast<std::size_t>(colon - line);
            if (nameSize == 14 && StartsWithNoCase(line, "content-length", nameSize)) {
                if (!ReadDecimal(value, valueSize, length)) return HttpReplyState::Malformed;
                haveLength = true;
            } else if (nameSize == 17 && StartsWithNoCase(line, "transfer-encoding", nameSize)) {
                while (valueSize && *value == ' ') ++value, --valueSize;
                chunked = StartsWithNoCase(value, "chunked", valueSize);
            } else if (nameSize == 11 && StartsWithNoCase(line, "retry-after", nameSize)) {
                std::int32_t seconds;
                if (ReadDecimal(value, valueSize, seconds)) reply.RetryAfter = seconds;
            }
        }
        line = next ? next + 1 : end;
    }

    const char* body = data + bodyStart;
    std::size_t bodySize = size - bodyStart;
    reply.Size = bodyStart;
    if (status < 200 || status == 204 || status == 304) return HttpReplyState::Complete;
    if (chunked) {
        std::size_t used = 0;
        HttpReplyState state = DecodeChunked(body, bodySize, reply.Body, used);
        reply.Size += used;
        return state == HttpReplyState::Incomplete && closed ? HttpReplyState::Malformed : state;
    }
    if (haveLength) {
        if (static_cast<std::size_t>(length) > HttpReplyLimit) return HttpReplyState::Malformed;
        if (bodySize < static_cast<std::size_t>(length))
            return closed ? HttpReplyState::Malformed : HttpReplyState::Incomplete;
        reply.Body.assign(body, static_cast<std::size_t>(length));
        reply.Size += static_cast<std::size_t>(length);
        return HttpReplyState::Complete;
    }
    if (!closed) return HttpReplyState::Incomplete;
    reply.Body.assign(body, bodySize);
    reply.Size = size;
    return HttpReplyState::Complete;
}
