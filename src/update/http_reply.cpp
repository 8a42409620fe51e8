#include "update/http_reply.h"

#include <cstring>

#include "common/text.h"
#include "log/clock.h"

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

// A Retry-After date in the one form servers must send ("Wed, 21 Oct 2026
// 07:28:00 GMT") as seconds since 1970; false for any other text.
bool ReadHttpDate(const char* text, std::size_t size, std::int64_t& time) {
    while (size && (*text == ' ' || *text == '\t')) ++text, --size;
    while (size && (text[size - 1] == ' ' || text[size - 1] == '\t')) --size;
    static const char Months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (size != 29 || text[3] != ',' || std::memcmp(text + 25, " GMT", 4) != 0) return false;
    std::int32_t day, year, hour, minute, second;
    if (!ReadDecimal(text + 5, 2, day) || !ReadDecimal(text + 12, 4, year) || !ReadDecimal(text + 17, 2, hour) ||
        !ReadDecimal(text + 20, 2, minute) || !ReadDecimal(text + 23, 2, second) || text[19] != ':' ||
        text[22] != ':')
        return false;
    int month = 0;
    while (month < 12 && std::memcmp(Months + 3 * month, text + 8, 3) != 0) ++month;
    if (month == 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    // Days from 1970-01-01 to the date, on the proleptic Gregorian calendar.
    const std::int64_t y = year - (month < 2), era = y / 400, yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month < 2 ? month + 10 : month - 2) + 2) / 5 + day - 1;
    const std::int64_t days = era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
    time = days * 86400 + hour * 3600 + minute * 60 + second;
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

namespace {

// One response, or the interim head before it (a 1xx head is Complete with its Size).
HttpReplyState ParseOneReply(const char* data, std::size_t size, bool closed, HttpReply& reply) {
    reply = HttpReply();
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
                std::int64_t date;
                if (ReadDecimal(value, valueSize, seconds)) {
                    reply.RetryAfter = seconds;
                } else if (ReadHttpDate(value, valueSize, date)) {
                    const std::int64_t left = date - CurrentTime();
                    reply.RetryAfter = static_cast<std::int32_t>(left < 0 ? 0 : left > INT32_MAX ? INT32_MAX : left);
                }
            } else if (nameSize == 8 && StartsWithNoCase(line, "location", nameSize)) {
                while (valueSize && *value == ' ') ++value, --valueSize;
                reply.Location.assign(value, valueSize < 200 ? valueSize : 200);
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

}  // namespace

HttpReplyState ParseHttpReply(const char* data, std::size_t size, bool closed, HttpReply& reply) {
    if (size > HttpReplyLimit) return HttpReplyState::Malformed;
    // "100 Continue" and other interim heads come before the answer itself.
    std::size_t skipped = 0;
    for (;;) {
        const HttpReplyState state = ParseOneReply(data + skipped, size - skipped, closed, reply);
        if (state == HttpReplyState::Complete && reply.Status < 200) {
            skipped += reply.Size;
            continue;
        }
        reply.Size += skipped;
        return state;
    }
}
