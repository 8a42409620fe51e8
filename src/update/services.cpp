#include "update/services.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "build_version.h"
#include "common/text.h"
#include "log/log.h"
#include "model/server_table.h"
#include "update/address6.h"
#include "update/request.h"
#include "update/services/shape.h"

namespace {

constexpr std::int32_t Minutes = 60;
constexpr std::int32_t ThrottleWait = 5 * Minutes;  // a 429 without Retry-After

}  // namespace

std::string UrlEncoded(const char* text) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') ||
            std::strchr("-._~", *p)) {
            out += static_cast<char>(*p);
        } else {
            out += '%';
            out += Hex[*p >> 4];
            out += Hex[*p & 15];
        }
    }
    return out;
}

// The whole word, without regard to ASCII case; a NUL inside it never matches.
bool EqualsNoCase(const std::string& word, const char* code) {
    return word.size() == std::strlen(code) && EqualNoCase(word.c_str(), code);
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && EqualsNoCase(text.substr(text.size() - end.size()), end.c_str());
}

std::vector<std::string> Lines(const std::string& body) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at <= body.size()) {
        std::size_t end = body.find('\n', at);
        if (end == std::string::npos) end = body.size();
        std::string line = body.substr(at, end - at);
        while (!line.empty() && std::strchr(" \t\r", line.back())) line.pop_back();
        std::size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos) lines.push_back(line.substr(start));
        at = end + 1;
    }
    return lines;
}

std::string FirstWord(const std::string& line) { return line.substr(0, line.find_first_of(" \t")); }

ReplyJudgement Accepted(bool noChange) {
    ReplyJudgement j;
    j.Verdict = ReplyVerdict::Accepted;
    j.NoChange = noChange;
    return j;
}

std::string Quoted(const std::string& text) { return "\"" + ServerFirstLineForLog(text.c_str()) + "\""; }

std::string StatusText(int status) { return "HTTP " + std::to_string(status); }

ReplyJudgement UnknownReply(const ServiceEntry& service, int status, const std::string& body) {
    return TemporaryReply("Unknown reply from the service: " + Quoted(body), ServiceRetryWait,
                          std::string("Unknown reply from ") + service.Name + " (" + StatusText(status) + ")");
}

ReplyJudgement RefusedSaying(const ServiceEntry& service, int status, const std::string& said) {
    return RefusedReply(std::string(service.Name) + " refused the update: " + Quoted(said),
                        std::string(service.Name) + " refused the update (" + StatusText(status) + ")");
}

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The body in the shape's own words, whatever the status.
ReplyJudgement JudgeBody(const ServiceEntry& service, int status, const std::string& body) {
    switch (service.Shape) {
    case ServiceShape::Dyndns2:
        return JudgeDyndns2(service, status, body);
    case ServiceShape::DuckDns:
        return JudgeDuckDns(service, status, body);
    case ServiceShape::FreeDns:
        return JudgeFreeDns(service, status, body);
    case ServiceShape::Namecheap:
        return JudgeNamecheap(service, status, body);
    case ServiceShape::Dynv6:
        return JudgeDynv6(service, status, body);
    case ServiceShape::Porkbun:
        return JudgePorkbun(service, status, body);
    case ServiceShape::Gandi:  // {"code":..., "message":..., "object":..., "cause":...}
        return JudgeApiAnswer(service, status, body, nullptr, "object");
    case ServiceShape::DigitalOcean:  // {"id":"not_found","message":"..."}
        return JudgeApiAnswer(service, status, body, nullptr, "id");
    case ServiceShape::Hetzner:  // {"error":{"code":"not_found","message":"..."}}
        return JudgeApiAnswer(service, status, body, "error", nullptr);
    case ServiceShape::Cloudflare:
        break;
    }
    return JudgeCloudflare(service, status, body);
}

// A URL path as the request line takes it: what a path or query does not
// allow, percent-encoded; an escape kept. False for a "%" that starts none.
bool EncodePath(const std::string& typed, std::string& path) {
    static const char Hex[] = "0123456789ABCDEF";
    path.clear();
    for (std::size_t i = 0; i < typed.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(typed[i]);
        if (c == '%') {
            if (i + 2 >= typed.size() || !IsHex(typed[i + 1]) || !IsHex(typed[i + 2])) return false;
            path += typed.substr(i, 3);
            i += 2;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   std::strchr("-._~!$&'()*+,;=:@/?", c)) {
            path += static_cast<char>(c);
        } else {
            path += {'%', Hex[c >> 4], Hex[c & 15]};
        }
    }
    return true;
}

}  // namespace

const ServiceEntry Services[ServiceCount] = {
    {"No-IP", ServiceShape::Dyndns2, "dynupdate.no-ip.com", "/nic/update", TakesUserName | NeedsUserName, "User name",
     "Password", 30 * Minutes, IPv6Style::MyipList},
    {"DuckDNS", ServiceShape::DuckDns, "www.duckdns.org", "/update", 0, "User name", "Token", ServiceRetryWait,
     IPv6Style::DuckDns},
    {"Cloudflare", ServiceShape::Cloudflare, "api.cloudflare.com", "/client/v4", TakesUserName, "Zone", "API token",
     ServiceRetryWait, IPv6Style::Cloudflare},
    {"Dynu", ServiceShape::Dyndns2, "api.dynu.com", "/nic/update", TakesUserName | NeedsUserName, "User name",
     "Password", ServiceRetryWait, IPv6Style::MyipV6},
    {"FreeDNS", ServiceShape::FreeDns, "freedns.afraid.org", "/dynamic/update.php", 0, "User name", "Token",
     ServiceRetryWait, IPv6Style::OneFamily},
    {"Namecheap", ServiceShape::Namecheap, "dynamicdns.park-your-domain.com", "/update", TakesUserName | NeedsUserName,
     "Domain", "Password", ServiceRetryWait, IPv6Style::None},
    {"deSEC", ServiceShape::Dyndns2, "update.dedyn.io", "/nic/update", 0, "User name", "Token", ServiceRetryWait,
     IPv6Style::Desec, true},
    {"Hurricane Electric", ServiceShape::Dyndns2, "dyn.dns.he.net", "/nic/update", 0, "User name", "Update key",
     ServiceRetryWait, IPv6Style::PerFamily},
    {"Other dyndns2 server", ServiceShape::Dyndns2, nullptr, "/nic/update",
     TakesUserName | NeedsUserName | TakesWildcards | TakesMailExtender | TakesBackupMX | TakesUpdateServer,
     "User name", "Password", ServiceRetryWait, IPv6Style::MyipList},
    // Rows 10 and up: stored numbers never change, the Server list orders them (dialog_logic.cpp).
    {"DNS-O-Matic", ServiceShape::Dyndns2, "updates.dnsomatic.com", "/nic/update", TakesUserName | NeedsUserName,
     "User name", "Password", ServiceRetryWait},
    {"OVH DynHost", ServiceShape::Dyndns2, "www.ovh.com", "/nic/update?system=dyndns", TakesUserName | NeedsUserName,
     "DynHost login", "Password", ServiceRetryWait, IPv6Style::PerFamily},
    {"spDYN", ServiceShape::Dyndns2, "update.spdyn.de", "/nic/update", 0, "User name", "Update token", ServiceRetryWait,
     IPv6Style::PerFamily},
    {"nsupdate.info", ServiceShape::Dyndns2, "ipv4.nsupdate.info", "/nic/update", 0, "User name", "Secret",
     ServiceRetryWait, IPv6Style::PerFamily, false, "ipv6.nsupdate.info"},
    {"dynv6", ServiceShape::Dynv6, "dynv6.com", "/api/update", 0, "User name", "Token", ServiceRetryWait,
     IPv6Style::Dynv6},
    {"Porkbun", ServiceShape::Porkbun, "api.porkbun.com", "/api/json/v3",
     TakesUserName | NeedsUserName | TakesUpdateServer, "Domain", "Secret key", ServiceRetryWait, IPv6Style::PerFamily,
     false, nullptr, "API key"},
    {"Gandi LiveDNS", ServiceShape::Gandi, "api.gandi.net", "/v5/livedns", TakesUserName | NeedsUserName, "Domain",
     "Token", ServiceRetryWait, IPv6Style::PerFamily},
    {"DigitalOcean", ServiceShape::DigitalOcean, "api.digitalocean.com", "/v2", TakesUserName | NeedsUserName, "Domain",
     "API token", ServiceRetryWait, IPv6Style::Cloudflare},
    {"Hetzner DNS", ServiceShape::Hetzner, "api.hetzner.cloud", "/v1", TakesUserName | NeedsUserName, "Domain",
     "API token", ServiceRetryWait, IPv6Style::PerFamily},
};

const ServiceEntry* ServiceRow(std::int32_t service) {
    return service >= 1 && service <= ServiceCount ? &Services[service - 1] : nullptr;
}

int AddressChoices(const ServiceEntry& service) {
    return service.IPv6 == IPv6Style::None ? 1 : service.IPv6 == IPv6Style::OneFamily ? 2 : 3;
}

bool FindServiceTarget(const ServiceEntry& service, const char* updateServer, ServiceTarget& target, const char*& why,
                       bool ipv6) {
    target = ServiceTarget();
    target.Path = service.Path;
    if (service.UpdateHost) {
        target.Host = ipv6 && service.UpdateHost6 ? service.UpdateHost6 : service.UpdateHost;
        return true;
    }
    std::string text = updateServer ? updateServer : "";
    // Sent in the request line and the Host header: no blank or control character anywhere.
    for (unsigned char c : text)
        if (c <= ' ' || c == 127) {
            why = "has an update server with a blank or control character";
            return false;
        }
    if (text.compare(0, 7, "http://") == 0) {
        target.Secure = false;
        target.Port = 80;
        text.erase(0, 7);
    } else if (text.compare(0, 8, "https://") == 0) {
        text.erase(0, 8);
    }
    std::size_t slash = text.find('/');
    if (slash != std::string::npos) {
        if (!EncodePath(text.substr(slash), target.Path)) {
            why = "has an update server whose path holds a \"%\" that starts no escape";
            return false;
        }
        text.erase(slash);
    }
    // An IPv6 address stands in brackets, its colons not a port's.
    std::string literal;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        Address6 address;
        if (close == std::string::npos || !ParseAddress6(text.c_str() + 1, address, close - 1) ||
            (close + 1 < text.size() && text[close + 1] != ':')) {
            why = "has no usable update server";
            return false;
        }
        literal = text.substr(1, close - 1);
        text.erase(0, close + 1);
    }
    std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        std::string port = text.substr(colon + 1);
        text.erase(colon);
        long value = port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos
                         ? 0
                         : std::stol(port);
        if (value < 1 || value > 65535) {
            why = "has an update server with an invalid port";
            return false;
        }
        target.Port = static_cast<int>(value);
    }
    if (!literal.empty()) {
        target.Host = literal;
        return true;
    }
    if (text.empty() || text.find_first_of(" \t\r\n?#@") != std::string::npos) {
        why = "has no usable update server";
        return false;
    }
    target.Host = text;
    return true;
}

std::string BuildServiceRequest(const ServiceEntry& service, const ServiceTarget& target, const ServiceRequestInput& in,
                                bool absoluteForm) {
    const char* v4 = in.Address ? in.Address : "";
    const char* v6 = in.Address6 && service.IPv6 != IPv6Style::None ? in.Address6 : "";
    std::string query;
    bool basic = false;
    switch (service.Shape) {
    case ServiceShape::Dyndns2:
        query = Dyndns2Query(service, in, v4, v6);
        basic = true;
        break;
    case ServiceShape::DuckDns:
        query = DuckDnsQuery(in, v4, v6);
        break;
    case ServiceShape::FreeDns:
        query = FreeDnsQuery(in, v4, v6);
        break;
    case ServiceShape::Namecheap:
        query = NamecheapQuery(in, v4);
        break;
    case ServiceShape::Dynv6:
        query = Dynv6Query(in, v4, v6);
        break;
    case ServiceShape::Porkbun:
        return BuildPorkbunRequest(target, in, v4, v6);
    case ServiceShape::Gandi:
        return BuildGandiRequest(target, in, v4, v6);
    case ServiceShape::Hetzner:
        return BuildHetznerRequest(target, in, v4, v6);
    case ServiceShape::Cloudflare:
    case ServiceShape::DigitalOcean:
        return std::string();  // several requests: BuildCloudflareRequest, BuildDigitalOceanRequest
    }
    const std::string hostHeader = HostAndPort(target.Host, target.Port, target.Secure ? 443 : 80);
    std::string request = "GET ";
    if (absoluteForm) request += std::string(target.Secure ? "https://" : "http://") + hostHeader;
    // A path that brings a query of its own gets the update's parameters after it.
    if (target.Path.find('?') != std::string::npos && !query.empty()) query[0] = '&';
    request += target.Path + query + " HTTP/1.1\r\nHost: " + hostHeader + "\r\n";
    if (basic) {
        // Services that give a key per host take the host itself as the user.
        const char* user = service.Fields & TakesUserName ? in.UserName : in.HostName;
        std::string credentials = std::string(user) + ":" + in.Password;
        request += "Authorization: Basic " + Base64Text(credentials) + "\r\n";
    }
    request += std::string("User-Agent: ") + ServiceUserAgent() + "\r\nConnection: close\r\n\r\n";
    return request;
}

ReplyJudgement RefusedReply(std::string reason, std::string plain) {
    ReplyJudgement j;
    j.Verdict = ReplyVerdict::Refused;
    j.Reason = std::move(reason);
    j.Plain = std::move(plain);
    return j;
}

ReplyJudgement TemporaryReply(std::string reason, std::int32_t waitSeconds, std::string plain) {
    ReplyJudgement j;
    j.Reason = std::move(reason);
    j.WaitSeconds = waitSeconds;
    j.Plain = std::move(plain);
    return j;
}

ReplyJudgement JudgeServiceReply(const ServiceEntry& service, const HttpReply& reply) {
    const int status = reply.Status;
    const std::string http = StatusText(status);
    if (status == 429 || status == 503) {
        const std::int32_t wait = reply.RetryAfter >= 0 ? std::min(reply.RetryAfter, MaxServiceWait)
                                  : status == 429       ? ThrottleWait
                                                        : ServiceRetryWait;
        return TemporaryReply("The service asks to wait (" + http + ")", wait);
    }
    // Sent elsewhere, the request would carry its credentials to a host nobody chose: the user looks first.
    if (status / 100 == 3) {
        const std::string plain = "The service answered " + http + " and sends Vastrel elsewhere";
        return RefusedReply(plain + (reply.Location.empty() ? "" : " (" + Quoted(reply.Location) + ")") +
                                "; check the account's service or update server.",
                            plain);
    }
    if (service.Shape == ServiceShape::Cloudflare && status / 100 != 5)
        return JudgeCloudflare(service, status, reply.Body);
    if (status == 401) return RefusedReply(AuthorizationFailed);
    if (service.RefusesByStatus) {
        if (status == 404) return RefusedReply(HostNotOwned);
        if (status == 400 || status == 403) return RefusedReply("The service refused the update (" + http + ")");
    }
    if (status / 100 == 2) return JudgeBody(service, status, reply.Body);
    // A 403 or 404 page may come from a proxy or a CDN in the way: only the service's own code refuses.
    if (status / 100 == 4) {
        ReplyJudgement judged = JudgeBody(service, status, reply.Body);
        if (judged.Verdict == ReplyVerdict::Refused) return judged;
    }
    return TemporaryReply("The service answered " + http, ServiceRetryWait);
}

std::string MaskSecrets(const std::string& request) {
    static const char Mask[] = "********";
    std::string out;
    std::size_t at = 0;
    bool firstLine = true;
    while (at < request.size()) {
        std::size_t end = request.find('\n', at);
        std::size_t next = end == std::string::npos ? request.size() : end + 1;
        std::string line = request.substr(at, next - at);
        if (firstLine) {
            // Query values that carry a secret; FreeDNS's token stands alone, without a name.
            std::size_t query = line.find('?');
            std::size_t stop = query == std::string::npos ? query : line.find(' ', query);
            if (stop != std::string::npos) {
                std::string masked;
                std::size_t start = query + 1;
                while (start <= stop) {
                    std::size_t end = std::min(line.find('&', start), stop);
                    std::string param = line.substr(start, end - start);
                    std::size_t eq = param.find('=');
                    std::string name = param.substr(0, eq);
                    bool secret = eq == std::string::npos
                                      ? !param.empty()
                                      : EqualsNoCase(name, "token") || EqualsNoCase(name, "password") ||
                                            EqualsNoCase(name, "pass") || EqualsNoCase(name, "pwd");
                    masked += secret ? (eq == std::string::npos ? std::string(Mask) : name + "=" + Mask) : param;
                    if (end < stop) masked += '&';
                    start = end + 1;
                }
                line = line.substr(0, query + 1) + masked + line.substr(stop);
            }
            firstLine = false;
        } else if (line.size() > 14 && EqualsNoCase(line.substr(0, 14), "authorization:")) {
            std::size_t scheme = line.find_first_not_of(' ', 14);
            std::size_t value = scheme == std::string::npos ? std::string::npos : line.find(' ', scheme);
            std::size_t lineEnd = line.find_last_not_of("\r\n") + 1;
            if (value != std::string::npos && value < lineEnd) line.replace(value + 1, lineEnd - value - 1, Mask);
        }
        out += line;
        at = next;
    }
    // The keys a JSON body carries (Porkbun's).
    for (const char* key : {"\"apikey\":\"", "\"secretapikey\":\""}) {
        const std::size_t at = out.find(key);
        if (at == std::string::npos) continue;
        const std::size_t start = at + std::strlen(key);
        std::size_t end = start;
        while (end < out.size() && out[end] != '"') end += out[end] == '\\' ? 2 : 1;
        out.replace(start, std::min(end, out.size()) - start, Mask);
    }
    return out;
}

const char* ServiceUserAgent() {
    static const std::string agent = [] {
        std::string contact = MakerHost;
        if (contact.compare(0, 4, "www.") == 0) contact.erase(0, 4);
        return std::string("Brannock Vastrel/Windows-" VASTREL_VERSION_TEXT " vastrel@") + contact;
    }();
    return agent.c_str();
}
