// DuckDNS: GET /update?domains=&token=&ip=&ipv6=, answered "OK" or "KO".
#include "update/services/shape.h"

std::string DuckDnsQuery(const ServiceRequestInput& in, const char* v4, const char* v6) {
    // DuckDNS knows its domains by the label before its own name: sub.mine.duckdns.org is "mine".
    std::string host = in.HostName;
    const std::string suffix = ".duckdns.org";
    if (EndsWithNoCase(host, suffix)) {
        host.erase(host.size() - suffix.size());
        host.erase(0, host.rfind('.') + 1);
    }
    std::string query = "?domains=" + UrlEncoded(host.c_str()) + "&token=" + UrlEncoded(in.Password);
    if (v4[0]) query += "&ip=" + UrlEncoded(v4);
    if (v6[0]) query += "&ipv6=" + UrlEncoded(v6);
    return query;
}

ReplyJudgement JudgeDuckDns(const ServiceEntry& service, int status, const std::string& body) {
    std::vector<std::string> lines = Lines(body);
    std::string word = lines.empty() ? "" : FirstWord(lines[0]);
    if (word == "OK") return Accepted();
    if (word == "KO") return RefusedReply("DuckDNS refused the token or the domain (\"KO\")");
    return UnknownReply(service, status, body);
}
