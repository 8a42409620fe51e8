#include "update/services.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <nlohmann/json.hpp>

#include "build_version.h"
#include "common/text.h"
#include "log/log.h"
#include "model/server_table.h"
#include "update/address6.h"
#include "update/request.h"

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

namespace {

// The whole word, without regard to ASCII case; a NUL inside it never matches.
bool EqualsNoCase(const std::string& word, const char* code) {
    return word.size() == std::strlen(code) && EqualNoCase(word.c_str(), code);
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && EqualsNoCase(text.substr(text.size() - end.size()), end.c_str());
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The body's lines, each cut at its end (CR LF or LF), blanks at the ends dropped.
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

ReplyJudgement Accepted(bool noChange = false) {
    ReplyJudgement j;
    j.Verdict = ReplyVerdict::Accepted;
    j.NoChange = noChange;
    return j;
}

// The code as a log line names it, with whatever the service said after it.
std::string Quoted(const std::string& text) { return "\"" + ServerFirstLineForLog(text.c_str()) + "\""; }

std::string StatusText(int status) { return "HTTP " + std::to_string(status); }

// A reply in none of the service's forms: it may be a page in its way, so it is asked again later.
ReplyJudgement UnknownReply(const ServiceEntry& service, int status, const std::string& body) {
    return TemporaryReply("Unknown reply from the service: " + Quoted(body), ServiceRetryWait,
                          std::string("Unknown reply from ") + service.Name + " (" + StatusText(status) + ")");
}

// A refusal in the service's own words: the log quotes them, a notice does not.
ReplyJudgement RefusedSaying(const ServiceEntry& service, int status, const std::string& said) {
    return RefusedReply(std::string(service.Name) + " refused the update: " + Quoted(said),
                        std::string(service.Name) + " refused the update (" + StatusText(status) + ")");
}

struct CodeMeaning {
    const char* Code;
    ReplyVerdict Verdict;
    const char* Line;  // null: a line that names the code
};

// The dyndns2 return codes; any other first word is an unknown reply.
const CodeMeaning Dyndns2Codes[] = {
    {"good", ReplyVerdict::Accepted, nullptr},
    {"nochg", ReplyVerdict::Accepted, nullptr},
    {"badauth", ReplyVerdict::Refused, AuthorizationFailed},
    {"nohost", ReplyVerdict::Refused, HostNotOwned},
    {"!yours", ReplyVerdict::Refused, HostNotOwned},
    {"abuse", ReplyVerdict::Refused, BlockedForAbuse},
    {"notfqdn", ReplyVerdict::Refused, BadHostName},
    {"!donator", ReplyVerdict::Refused, nullptr},
    {"numhost", ReplyVerdict::Refused, nullptr},
    {"badagent", ReplyVerdict::Refused, nullptr},
    {"badsys", ReplyVerdict::Refused, nullptr},
    {"badip", ReplyVerdict::Refused, nullptr},
    {"911", ReplyVerdict::Temporary, nullptr},
    {"dnserr", ReplyVerdict::Temporary, nullptr},
    {"servererror", ReplyVerdict::Temporary, nullptr},
    {"interval", ReplyVerdict::Temporary, nullptr},
};

// A dyndns2 update's addresses, in the service's own way.
std::string Dyndns2Addresses(IPv6Style style, const char* v4, const char* v6) {
    const std::string a4 = UrlEncoded(v4), a6 = UrlEncoded(v6);
    switch (style) {
    case IPv6Style::MyipV6:
        // "no" keeps the service from filling a family from the connection's address.
        return "&myip=" + (v4[0] ? a4 : std::string("no")) + "&myipv6=" + (v6[0] ? a6 : std::string("no"));
    case IPv6Style::Desec:
        return "&myipv4=" + (v4[0] ? a4 : std::string("preserve")) +
               "&myipv6=" + (v6[0] ? a6 : std::string("preserve"));
    default:
        return "&myip=" + a4 + (v4[0] && v6[0] ? "," : "") + a6;
    }
}

// One host a request: the first line that is not empty holds its code, exactly as the service writes it.
ReplyJudgement JudgeDyndns2(const ServiceEntry& service, int status, const std::string& body) {
    const std::vector<std::string> lines = Lines(body);
    const std::string line = lines.empty() ? "" : lines[0], word = FirstWord(line);
    for (const CodeMeaning& c : Dyndns2Codes) {
        if (word != c.Code) continue;
        const std::string plain = std::string(service.Name) + " answered \"" + c.Code + "\"";
        if (c.Verdict == ReplyVerdict::Accepted) {
            // "good 127.0.0.1" is how services say they ignored a client they do not accept.
            if (line.find("127.0.0.1") != std::string::npos)
                return RefusedReply("The service ignored the update and answered " + Quoted(line),
                                    std::string(service.Name) + " ignored the update");
            return Accepted(word == "nochg");
        }
        if (c.Verdict == ReplyVerdict::Refused)
            return c.Line ? RefusedReply(c.Line)
                          : RefusedReply("The service refused the update: " + Quoted(line), plain);
        const std::int32_t wait = word == "911" ? service.TroubleWait : ServiceRetryWait;
        return TemporaryReply("The service asks to retry later: " + Quoted(line), wait, plain);
    }
    return UnknownReply(service, status, body);
}

ReplyJudgement JudgeDuckDns(const ServiceEntry& service, int status, const std::string& body) {
    std::vector<std::string> lines = Lines(body);
    std::string word = lines.empty() ? "" : FirstWord(lines[0]);
    if (word == "OK") return Accepted();
    if (word == "KO") return RefusedReply("DuckDNS refused the token or the domain (\"KO\")");
    return UnknownReply(service, status, body);
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

ReplyJudgement JudgeNamecheap(const ServiceEntry& service, int status, const std::string& body) {
    std::string count, error;
    if (!ElementText(body, "ErrCount", count) || count.empty() ||
        count.find_first_not_of("0123456789") != std::string::npos)
        return UnknownReply(service, status, body);
    if (count == "0") return Accepted();
    if (!ElementText(body, "Err1", error)) error = count + " errors";
    return RefusedSaying(service, status, error);
}

ReplyJudgement JudgeCloudflare(const ServiceEntry& service, int status, const std::string& body) {
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return UnknownReply(service, status, body);
    // Without its "success" field the JSON is no answer of Cloudflare's API (a proxy's page, say).
    auto success = answer.find("success");
    if (success == answer.end() || !success->is_boolean()) return UnknownReply(service, status, body);
    if (status / 100 == 2 && success->get<bool>()) return Accepted();
    long code = 0;
    std::string message;
    auto errors = answer.find("errors");
    if (errors != answer.end() && errors->is_array() && !errors->empty() && (*errors)[0].is_object()) {
        const nlohmann::json& first = (*errors)[0];
        if (first.contains("code") && first["code"].is_number_integer()) code = first["code"].get<long>();
        if (first.contains("message") && first["message"].is_string()) message = first["message"].get<std::string>();
    }
    // 10000: the token may not do this; 6003 and 6111: no usable Authorization header.
    if (status == 401 || status == 403 || code == 10000 || code == 6003 || code == 6111 || code == 9109)
        return RefusedReply(AuthorizationFailed);
    return RefusedReply("Cloudflare refused the update: " + Quoted(message) + " (" + std::to_string(code) + ")",
                        "Cloudflare refused the update (error " + std::to_string(code) + ", " + StatusText(status) +
                            ")");
}

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
};

const ServiceEntry* ServiceRow(std::int32_t service) {
    return service >= 1 && service <= ServiceCount ? &Services[service - 1] : nullptr;
}

int AddressChoices(const ServiceEntry& service) {
    return service.IPv6 == IPv6Style::None ? 1 : service.IPv6 == IPv6Style::OneFamily ? 2 : 3;
}

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

bool FindServiceTarget(const ServiceEntry& service, const char* updateServer, ServiceTarget& target, const char*& why) {
    target = ServiceTarget();
    target.Path = service.Path;
    if (service.UpdateHost) {
        target.Host = service.UpdateHost;
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
    std::string host = in.HostName;
    switch (service.Shape) {
    case ServiceShape::Dyndns2:
        query = "?hostname=" + UrlEncoded(in.HostName) + Dyndns2Addresses(service.IPv6, v4, v6);
        // Unchecked sends nothing: "OFF" would clear what the user set on the service's site.
        if ((service.Fields & TakesWildcards) && in.Wildcards) query += "&wildcard=ON";
        if ((service.Fields & TakesMailExtender) && in.MailExtender[0]) {
            query += "&mx=" + UrlEncoded(in.MailExtender);
            if (service.Fields & TakesBackupMX) query += std::string("&backmx=") + (in.BackupMX ? "YES" : "NO");
        }
        basic = true;
        break;
    case ServiceShape::DuckDns: {
        // DuckDNS knows its domains by the label before its own name: sub.mine.duckdns.org is "mine".
        const std::string suffix = ".duckdns.org";
        if (EndsWithNoCase(host, suffix)) {
            host.erase(host.size() - suffix.size());
            host.erase(0, host.rfind('.') + 1);
        }
        query = "?domains=" + UrlEncoded(host.c_str()) + "&token=" + UrlEncoded(in.Password);
        if (v4[0]) query += "&ip=" + UrlEncoded(v4);
        if (v6[0]) query += "&ipv6=" + UrlEncoded(v6);
        break;
    }
    case ServiceShape::FreeDns:
        query = "?" + UrlEncoded(in.Password) + "&address=" + UrlEncoded(v4[0] ? v4 : v6);
        break;
    case ServiceShape::Namecheap: {
        // The host and its registered domain travel apart; the domain itself is "@".
        std::string sub = "@", domain = in.UserName;
        NamecheapHostPart(in.HostName, in.UserName, sub);
        if (domain.empty()) domain = sub == "@" ? host : host.substr(sub.size() + 1);
        query = "?host=" + UrlEncoded(sub.c_str()) + "&domain=" + UrlEncoded(domain.c_str()) +
                "&password=" + UrlEncoded(in.Password) + "&ip=" + UrlEncoded(v4);
        break;
    }
    case ServiceShape::Cloudflare:
        return std::string();  // several requests: BuildCloudflareRequest
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

std::string BuildCloudflareRequest(const char* method, const std::string& path, const char* token,
                                   const std::string& body) {
    const ServiceEntry& cloudflare = Services[2];
    std::string request = std::string(method) + " " + cloudflare.Path + path +
                          " HTTP/1.1\r\nHost: " + cloudflare.UpdateHost + "\r\nAuthorization: Bearer " + token + "\r\n";
    if (!body.empty())
        request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    request += std::string("User-Agent: ") + ServiceUserAgent() + "\r\nConnection: close\r\n\r\n" + body;
    return request;
}

std::string CloudflareAddressBody(const char* address) { return nlohmann::json{{"content", address}}.dump(); }

std::vector<std::string> CloudflareResultIds(const std::string& body, bool activeOnly) {
    std::vector<std::string> ids;
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return ids;
    auto result = answer.find("result");
    if (result == answer.end() || !result->is_array()) return ids;
    for (const nlohmann::json& entry : *result) {
        if (!entry.is_object()) continue;
        auto id = entry.find("id"), status = entry.find("status");
        if (id == entry.end() || !id->is_string()) continue;
        if (activeOnly && (status == entry.end() || !status->is_string() || *status != "active")) continue;
        const std::string text = id->get<std::string>();
        if (!text.empty() && text.size() <= 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            ids.push_back(text);
    }
    return ids;
}

std::string CloudflareAnswerForLog(const HttpReply& reply) {
    const std::string status = StatusText(reply.Status);
    nlohmann::json answer = nlohmann::json::parse(reply.Body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object())
        return status + ", no JSON answer (" + std::to_string(reply.Body.size()) + " bytes)";
    nlohmann::json shown = nlohmann::json::object();
    for (const char* field : {"success", "errors"})
        if (answer.contains(field)) shown[field] = answer[field];
    return status + " " + shown.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
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
