// A service's reply read as HTTP: the whole response (status line, headers,
// a Content-Length, chunked or until-close body), bounded, however the bytes
// arrive. The maker's rows keep their one receive; the catalogue's services
// and their waits need the status and the headers. ReceiveWholeAnswer
// (update/connection.h) gathers the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most a whole reply may take; a longer one is refused, not cut.
constexpr std::size_t HttpReplyLimit = 16384;

struct HttpReply {
    int Status = 0;
    // Seconds from a "Retry-After" header, in seconds or as a date (0 for a
    // date past); -1 when absent or unreadable.
    std::int32_t RetryAfter = -1;
    // Where a redirect sends the client, as the server wrote it.
    std::string Location;
    std::string Body;
    // The bytes the response takes from the start of the data (its head and
    // its body as framed); whatever follows belongs to no response.
    std::size_t Size = 0;
};

enum class HttpReplyState { Complete, Incomplete, Malformed };

// Reads the response from the bytes received so far; closed says the server
// closed the connection after them. Interim (1xx) heads before it are passed
// over. Incomplete: more bytes may complete it. Malformed: no HTTP response,
// a body cut short, or past HttpReplyLimit.
HttpReplyState ParseHttpReply(const char* data, std::size_t size, bool closed, HttpReply& reply);
