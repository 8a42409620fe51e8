// Namecheap: GET /update?host=&domain=&password=&ip=, answered in XML.
#include "update/services/shape.h"

namespace {

// The text of an XML element that stands in the body, or false.
bool ElementText(const std::string& body, const char* name, std::string& text) {
    std::string open = std::string("<") + name + ">", close = std::string("</") + name + ">";
    std::size_t start = body.find(open);
    if (start == std::string::npos) return false;
    start += open.size();
    std::size_t end = body.find(close, start);
    if (end == std::string::npos) return false;
    text = body.substr(start, end - start);
    return true;
}

}  // namespace

bool NamecheapHostPart(const char* hostName, const char* domain, std::string& part) {
    const std::string host = hostName;
    std::string zone = domain;
    if (zone.empty()) {
        // The last two labels: right for example.com, the common case.
        const std::size_t last = host.rfind('.');
        const std::size_t before = last == std::string::npos || last == 0 ? std::string::npos : host.rfind('.', last - 1);
        zone = before == std::string::npos ? host : host.substr(before + 1);
    }
    if (zone.empty()) return false;
    if (EqualsNoCase(host, zone.c_str())) {
        part = "@";
        return true;
    }
    if (host.size() <= zone.size() + 1 || !EndsWithNoCase(host, "." + zone)) return false;
    part = host.substr(0, host.size() - zone.size() - 1);
    return true;
}

std::string NamecheapQuery(const ServiceRequestInput& in, const char* v4) {
    // The host and its registered domain travel apart; the domain itself is "@".
    const std::string host = in.HostName;
    std::string sub = "@", domain = in.UserName;
    NamecheapHostPart(in.HostName, in.UserName, sub);
    if (domain.empty()) domain = sub == "@" ? host : host.substr(sub.size() + 1);
    return "?host=" + UrlEncoded(sub.c_str()) + "&domain=" + UrlEncoded(domain.c_str()) +
           "&password=" + UrlEncoded(in.Password) + "&ip=" + UrlEncoded(v4);
}

ReplyJudgement JudgeNamecheap(const ServiceEntry& service, int status, const std::string& body) {
    std::string count, error;
    if (!ElementText(body, "ErrCount", count) || count.empty() ||
        count.find_first_not_of("0123456789") != std::string::npos)
        return UnknownReply(service, status, body);
    if (count == "0") return Accepted();
    if (!ElementText(body, "Err1", error)) error = count + " errors";
    return RefusedSaying(service, status, error);
}
