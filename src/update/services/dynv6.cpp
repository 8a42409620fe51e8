// dynv6: GET /api/update?hostname=&token=&ipv4=&ipv6=, the zone's own
// addresses; a family left out stays as it is. Answered in words.
#include "update/services/shape.h"

std::string Dynv6Query(const ServiceRequestInput& in, const char* v4, const char* v6) {
    std::string query = "?hostname=" + UrlEncoded(in.HostName) + "&token=" + UrlEncoded(in.Password);
    if (v4[0]) query += "&ipv4=" + UrlEncoded(v4);
    if (v6[0]) query += "&ipv6=" + UrlEncoded(v6);
    return query;
}

ReplyJudgement JudgeDynv6(const ServiceEntry& service, int status, const std::string& body) {
    const std::vector<std::string> lines = Lines(body);
    const std::string line = lines.empty() ? "" : lines[0];
    if (status / 100 == 2 && line == "addresses updated") return Accepted();
    if (status / 100 == 2 && line == "addresses unchanged") return Accepted(true);
    return UnknownReply(service, status, body);
}
