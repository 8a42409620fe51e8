// libFuzzer entry for the request parser (tests/fuzz builds it); the server
// itself does not link this file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "server.h"

using namespace refserver;

// A request as the reader hands it over (cut after its first empty line),
// through the parser and the update checks that read its result.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string raw(reinterpret_cast<const char*>(data), size);
    size_t end = raw.find("\r\n\r\n");
    raw = (end == std::string::npos ? raw : raw.substr(0, end)) + "\r\n\r\n";
    if (raw.size() > kMaxRequest) return 0;
    Request r;
    std::string why;
    if (!parse_request(raw, r, why)) return 0;
    Query q(r.query);
    update_answer(r, q);
    return 0;
}
