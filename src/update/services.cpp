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

// A reply in none of the service's forms: it may be a page in its way, so it is asked again later.
ReplyJudgement UnknownReply(const std::string& body) {
    return TemporaryReply("Unknown reply from the service: " + Quoted(body), ServiceRetryWait);
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
        // "no" keeps the service from taking the connection's IPv4 address.
        return "&myip=" + (v4[0] ? a4 : std::string("no")) + (v6[0] ? "&myipv6=" + a6 : "");
    case IPv6Style::Desec:
        return "&myipv4=" + (v4[0] ? a4 : std::string("preserve")) +
               "&myipv6=" + (v6[0] ? a6 : std::string("preserve"));
    default:
        return "&myip=" + a4 + (v4[0] && v6[0] ? "," : "") + a6;
    }
}

ReplyJudgement JudgeDyndns2(const ServiceEntry& service, const std::string& body) {
    for (const std::string& line : Lines(body)) {
        std::string word = FirstWord(line);
        for (const CodeMeaning& c : Dyndns2Codes) {
            if (!EqualsNoCase(word, c.Code)) continue;
            if (c.Verdict == ReplyVerdict::Accepted) {
                // "good 127.0.0.1" is how services say they ignored a client they do not accept.
                if (line.find("127.0.0.1") != std::string::npos)
                    return RefusedReply("The service ignored the update and answered " + Quoted(line));
                return Accepted(EqualsNoCase(word, "nochg"));
            }
            if (c.Verdict == ReplyVerdict::Refused)
                return RefusedReply(c.Line ? c.Line : "The service refused the update: " + Quoted(line));
            std::int32_t wait = EqualsNoCase(word, "911") ? service.TroubleWait : ServiceRetryWait;
            return TemporaryReply("The service asks to retry later: " + Quoted(line), wait);
        }
    }
    return UnknownReply(body);
}

ReplyJudgement JudgeDuckDns(const std::string& body) {
    std::vector<std::string> lines = Lines(body);
    std::string word = lines.empty() ? "" : FirstWord(lines[0]);
    if (EqualsNoCase(word, "OK")) return Accepted();
    if (EqualsNoCase(word, "KO")) return RefusedReply("DuckDNS refused the token or the domain (\"KO\")");
    return UnknownReply(body);
}

ReplyJudgement JudgeFreeDns(const std::string& body) {
    for (const std::string& line : Lines(body)) {
        if (line.find("has not changed") != std::string::npos || line.rfind("No IP change detected", 0) == 0)
            return Accepted(true);
        if (FirstWord(line) == "Updated") return Accepted();
        if (FirstWord(line) == "ERROR:") return RefusedReply("FreeDNS refused the update: " + Quoted(line));
    }
    return UnknownReply(body);
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

ReplyJudgement JudgeNamecheap(const std::string& body) {
    std::string count, error;
    if (!ElementText(body, "ErrCount", count) || count.empty() ||
        count.find_first_not_of("0123456789") != std::string::npos)
        return UnknownReply(body);
    if (count == "0") return Accepted();
    if (!ElementText(body, "Err1", error)) error = count + " errors";
    return RefusedReply("Namecheap refused the update: " + Quoted(error));
}

ReplyJudgement JudgeCloudflare(int status, const std::string& body) {
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return UnknownReply(body);
    auto success = answer.find("success");
    if (status / 100 == 2 && success != answer.end() && success->is_boolean() && success->get<bool>())
        return Accepted();
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
    return RefusedReply("Cloudflare refused the update: " + Quoted(message) + " (" + std::to_string(code) + ")");
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
     ServiceRetryWait, IPv6Style::PerFamily},
    {"Namecheap", ServiceShape::Namecheap, "dynamicdns.park-your-domain.com", "/update", 0, "User name", "Password",
     ServiceRetryWait, IPv6Style::None},
    {"deSEC", ServiceShape::Dyndns2, "update.dedyn.io", "/nic/update", 0, "User name", "Token", ServiceRetryWait,
     IPv6Style::Desec},
    {"Hurricane Electric", ServiceShape::Dyndns2, "dyn.dns.he.net", "/nic/update", 0, "User name", "Update key",
     ServiceRetryWait, IPv6Style::PerFamily},
    {"Other dyndns2 server", ServiceShape::Dyndns2, nullptr, "/nic/update",
     TakesUserName | NeedsUserName | TakesWildcards | TakesMailExtender | TakesBackupMX | TakesUpdateServer,
     "User name", "Password", ServiceRetryWait, IPv6Style::MyipList},
};

const ServiceEntry* ServiceRow(std::int32_t service) {
    return service >= 1 && service <= ServiceCount ? &Services[service - 1] : nullptr;
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
        target.Path = text.substr(slash);
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
        if (service.Fields & TakesWildcards) query += std::string("&wildcard=") + (in.Wildcards ? "ON" : "OFF");
        if ((service.Fields & TakesMailExtender) && in.MailExtender[0]) {
            query += "&mx=" + UrlEncoded(in.MailExtender);
            if (service.Fields & TakesBackupMX) query += std::string("&backmx=") + (in.BackupMX ? "YES" : "NO");
        }
        basic = true;
        break;
    case ServiceShape::DuckDns: {
        // DuckDNS knows its sub-names without its own domain.
        const char* suffix = ".duckdns.org";
        std::size_t cut = host.size() >= std::strlen(suffix) ? host.size() - std::strlen(suffix) : std::string::npos;
        if (cut != std::string::npos && EqualsNoCase(host.substr(cut), suffix)) host.erase(cut);
        query = "?domains=" + UrlEncoded(host.c_str()) + "&token=" + UrlEncoded(in.Password);
        if (v4[0]) query += "&ip=" + UrlEncoded(v4);
        if (v6[0]) query += "&ipv6=" + UrlEncoded(v6);
        break;
    }
    case ServiceShape::FreeDns:
        query = "?" + UrlEncoded(in.Password) + "&address=" + UrlEncoded(v4[0] ? v4 : v6);
        break;
    case ServiceShape::Namecheap: {
        // The host and its domain travel apart; the domain itself is "@".
        std::size_t dots = 0;
        for (char c : host) dots += c == '.';
        std::string sub = "@", domain = host;
        if (dots >= 2) {
            std::size_t split = host.find('.');
            sub = host.substr(0, split);
            domain = host.substr(split + 1);
        }
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

bool FirstCloudflareResultId(const std::string& body, std::string& id) {
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return false;
    auto result = answer.find("result");
    if (result == answer.end() || !result->is_array() || result->empty() || !(*result)[0].is_object()) return false;
    auto found = (*result)[0].find("id");
    if (found == (*result)[0].end() || !found->is_string()) return false;
    id = found->get<std::string>();
    return !id.empty() && id.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

ReplyJudgement RefusedReply(std::string reason) {
    ReplyJudgement j;
    j.Verdict = ReplyVerdict::Refused;
    j.Reason = std::move(reason);
    return j;
}

ReplyJudgement TemporaryReply(std::string reason, std::int32_t waitSeconds) {
    ReplyJudgement j;
    j.Reason = std::move(reason);
    j.WaitSeconds = waitSeconds;
    return j;
}

ReplyJudgement JudgeServiceReply(const ServiceEntry& service, const HttpReply& reply) {
    int status = reply.Status;
    if (service.Shape == ServiceShape::Cloudflare && status != 429 && status / 100 != 5)
        return JudgeCloudflare(status, reply.Body);
    if (status == 401) return RefusedReply(AuthorizationFailed);
    if (status == 404) return RefusedReply(HostNotOwned);
    if (status == 403) return RefusedReply("The service refused the update (HTTP 403 Forbidden)");
    if (status == 429)
        return TemporaryReply("The service asks to wait (HTTP 429)",
                              reply.RetryAfter >= 0 ? reply.RetryAfter : ThrottleWait);
    if (status / 100 != 2)
        return TemporaryReply("The service answered HTTP " + std::to_string(status), ServiceRetryWait);
    switch (service.Shape) {
    case ServiceShape::Dyndns2:
        return JudgeDyndns2(service, reply.Body);
    case ServiceShape::DuckDns:
        return JudgeDuckDns(reply.Body);
    case ServiceShape::FreeDns:
        return JudgeFreeDns(reply.Body);
    case ServiceShape::Namecheap:
        return JudgeNamecheap(reply.Body);
    case ServiceShape::Cloudflare:
        break;  // judged above
    }
    return JudgeCloudflare(status, reply.Body);
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
