// FreeDNS: GET /dynamic/update.php?<record token>&address=, one family an
// account, answered in a sentence.
#include "update/services/shape.h"

std::string FreeDnsQuery(const ServiceRequestInput& in, const char* v4, const char* v6) {
    return "?" + UrlEncoded(in.Password) + "&address=" + UrlEncoded(v4[0] ? v4 : v6);
}

ReplyJudgement JudgeFreeDns(const ServiceEntry& service, int status, const std::string& body) {
    const std::vector<std::string> lines = Lines(body);
    const std::string line = lines.empty() ? "" : lines[0];
    if (line.find("has not changed") != std::string::npos || line.rfind("No IP change detected", 0) == 0)
        return Accepted(true);
    if (FirstWord(line) == "Updated") return Accepted();
    if (FirstWord(line) == "ERROR:") return RefusedSaying(service, status, line);
    return UnknownReply(service, status, body);
}
