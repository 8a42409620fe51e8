// The catalogue's services as they answer: dyndns2 (No-IP, Dynu, deSEC,
// Hurricane Electric, DNS-O-Matic, OVH DynHost, spDYN, nsupdate.info and any
// other), dynv6's update API, DuckDNS, FreeDNS, Namecheap, and the JSON APIs
// of Cloudflare, Porkbun, Gandi LiveDNS, DigitalOcean and Hetzner DNS. Their
// accounts are the server's own: an account's user name and password, or its
// password alone as a token. A host's service mode
// (/__control/service?host=H&mode=M) makes it answer as a service in trouble;
// the delivery modes (slow, huge, silent...) apply as for the maker's path.

#include <arpa/inet.h>

#include <cstdio>
#include <string>

#include "server.h"

namespace refserver {

const std::pair<const char*, ServiceMode> kServiceModes[] = {
    {"normal", ServiceMode::Normal},
    {"911", ServiceMode::Trouble},
    {"interval", ServiceMode::Interval},
    {"dnserr", ServiceMode::DnsErr},
    {"throttle", ServiceMode::Throttle},
    {"unavailable", ServiceMode::Unavailable},
    {"unavailable-until", ServiceMode::UnavailableUntil},
    {"status-only", ServiceMode::StatusOnly},
    {"chunked", ServiceMode::Chunked},
    {"long", ServiceMode::Long},
    {"split", ServiceMode::Split},
    {"continue", ServiceMode::Continue},
    {"duplicate", ServiceMode::Duplicate},
    {"a-only", ServiceMode::AOnly},
};

const std::vector<std::string> kServiceHosts = {
    "dynupdate.no-ip.com",   "www.duckdns.org",
    "api.cloudflare.com",    "api.dynu.com",
    "freedns.afraid.org",    "dynamicdns.park-your-domain.com",
    "update.dedyn.io",       "dyn.dns.he.net",
    "updates.dnsomatic.com", "www.ovh.com",
    "update.spdyn.de",       "ipv4.nsupdate.info",
    "ipv6.nsupdate.info",    "dynv6.com",
    "api.porkbun.com",       "api.gandi.net",
    "api.digitalocean.com",  "api.hetzner.cloud",
};

bool parse_service_mode(const std::string& s, ServiceMode& m) {
    for (const auto& entry : kServiceModes)
        if (s == entry.first) return (m = entry.second), true;
    return false;
}

namespace {

// The account whose password is secret and which holds the host; host empty: any.
const Account* account_by_secret(const std::string& secret, const std::string& host_lc, std::string* first_host) {
    for (const auto& entry : g_state.cfg().accounts) {
        const Account& a = entry.second;
        if (a.password != secret || secret.empty()) continue;
        if (!host_lc.empty() && !a.hosts.count(host_lc)) continue;
        if (first_host && !a.hosts.empty()) *first_host = *a.hosts.begin();
        return &a;
    }
    return nullptr;
}

std::string bearer(const Request& r) {
    const std::string* h = r.header("Authorization");
    return h && istarts_with(*h, "Bearer ") ? trim(h->substr(7)) : "";
}

// A stable id for a name, as Cloudflare's 32 hex digits.
std::string hex_id(const std::string& name) {
    unsigned long long a = 1469598103934665603ull, b = 1099511628211ull;
    for (unsigned char c : name) a = (a ^ c) * 1099511628211ull, b = (b ^ c) * 14695981039346656037ull;
    char out[33];
    std::snprintf(out, sizeof out, "%016llx%016llx", a, b);
    return out;
}

// The address an update names, and "good"/"nochg" as the last one compares;
// an IPv6 address is kept apart, as the AAAA record is.
bool is_ipv6(const std::string& s) {
    unsigned char bytes[16];
    return s.find(':') != std::string::npos && inet_pton(AF_INET6, s.c_str(), bytes) == 1;
}
bool changed(const std::string& host_lc, const std::string& ip) {
    const std::string key = is_ipv6(ip) ? host_lc + "|AAAA" : host_lc;
    bool same = g_state.last_ip(key) == ip;
    g_state.set_last_ip(key, ip);
    return !same;
}

// The addresses of a dyndns2 update: myip (one or "v4,v6"), or deSEC's
// myipv4 and myipv6 ("preserve" keeps a record); empty when one is malformed.
std::vector<std::string> update_addresses(const Query& q) {
    std::vector<std::string> all;
    for (const char* name : {"myip", "myipv4", "myipv6"}) {
        const std::string* value = q.get(name);
        if (!value) continue;
        for (const std::string& a : split(*value, ','))
            if (a != "preserve" && a != "no") all.push_back(a);
    }
    for (const std::string& a : all)
        if (!is_dotted_quad(a) && !is_ipv6(a)) return {};
    return all;
}

Answer dyndns2(const Request& r, const Query& q, const std::string& host_lc, ServiceMode mode) {
    std::string user, pass;
    const Account* acct = nullptr;
    if (basic_credentials(r, user, pass)) acct = g_state.account(user);
    // deSEC and Hurricane Electric take the host name as the user: the key decides.
    if (!acct && !pass.empty()) acct = account_by_secret(pass, "", nullptr);
    bool status_only = mode == ServiceMode::StatusOnly;  // deSEC answers with the status alone
    if (!acct || acct->password != pass)
        return status_only ? plain(401, "Unauthorized", "") : plain(200, "OK", "badauth");
    if (host_lc.empty() || host_lc.find('.') == std::string::npos) return plain(200, "OK", "notfqdn");
    if (acct->blocked.count(host_lc)) return plain(200, "OK", "abuse");
    if (!acct->hosts.count(host_lc)) return status_only ? plain(404, "Not Found", "") : plain(200, "OK", "nohost");
    const std::vector<std::string> ips = update_addresses(q);
    if (ips.empty()) return plain(200, "OK", "dnserr");
    bool any = false;
    std::string named;
    for (const std::string& ip : ips) {
        any = changed(host_lc, ip) || any;
        named += (named.empty() ? "" : ",") + ip;
    }
    return plain(200, "OK", (any ? "good " : "nochg ") + named);
}

Answer duckdns(const Query& q, const std::string& host_lc) {
    const std::string* token = q.get("token");
    const std::string* ip = q.get("ip");
    const std::string* ip6 = q.get("ipv6");
    if (!token || (!ip && !ip6) || !account_by_secret(*token, host_lc, nullptr)) return plain(200, "OK", "KO");
    if (ip) changed(host_lc, *ip);
    if (ip6) changed(host_lc, *ip6);
    return plain(200, "OK", "OK");
}

// dynv6: the zone's token, ipv4 and ipv6 each optional; its answers are words.
Answer dynv6(const Query& q, const std::string& host_lc) {
    const std::string* token = q.get("token");
    if (!token || !account_by_secret(*token, host_lc, nullptr))
        return plain(401, "Unauthorized", "invalid authentication token");
    bool any = false;
    for (const char* family : {"ipv4", "ipv6"})
        if (const std::string* ip = q.get(family)) any = changed(host_lc, *ip) || any;
    return plain(200, "OK", any ? "addresses updated" : "addresses unchanged");
}

// Porkbun: the account's name is the API key, its password the secret API key; the record is the host.
Answer porkbun(const Request& r, const std::string& body, const std::string& host_lc) {
    const auto field = [&](const std::string& name) {
        const size_t at = body.find("\"" + name + "\":\"");
        return at == std::string::npos
                   ? ""
                   : body.substr(at + name.size() + 4, body.find('"', at + name.size() + 4) - at - name.size() - 4);
    };
    const Account* acct = account_by_secret(field("secretapikey"), host_lc, nullptr);
    const std::string ip = field("content");
    const bool aaaa = r.path.find("/AAAA") != std::string::npos;
    Answer a;
    if (!acct || g_state.account(field("apikey")) != acct)
        a = plain(400, "Bad Request", "{\"status\":\"ERROR\",\"message\":\"Invalid API key. (002)\"}");
    else if (aaaa ? !is_ipv6(ip) : !is_dotted_quad(ip))
        a = plain(400, "Bad Request", "{\"status\":\"ERROR\",\"message\":\"Invalid content.\"}");
    else
        a = plain(200, "OK", (changed(host_lc, ip), "{\"status\":\"SUCCESS\"}"));
    a.content_type = "application/json";
    return a;
}

// Hetzner DNS: the bearer token is the account's password; the record set is the host; an action answers.
Answer hetzner(const Request& r, const std::string& body, const std::string& host_lc) {
    const size_t at = body.find("\"value\":\"");
    const std::string ip = at == std::string::npos ? "" : body.substr(at + 9, body.find('"', at + 9) - at - 9);
    const bool aaaa = r.path.find("/AAAA/actions/") != std::string::npos;
    Answer a;
    if (!account_by_secret(bearer(r), host_lc, nullptr))
        a = plain(401, "Unauthorized",
                  "{\"error\":{\"code\":\"unauthorized\",\"message\":\"unable to authenticate\"}}");
    else if (aaaa ? !is_ipv6(ip) : !is_dotted_quad(ip))
        a = plain(422, "Unprocessable Entity",
                  "{\"error\":{\"code\":\"invalid_input\",\"message\":\"invalid input\"}}");
    else
        a = plain(201, "Created",
                  (changed(host_lc, ip), "{\"action\":{\"command\":\"set_rrset_records\",\"status\":\"running\"}}"));
    a.content_type = "application/json";
    return a;
}

// Gandi LiveDNS: the bearer token is the account's password; the record is the host; answers by status.
Answer gandi(const Request& r, const std::string& body, const std::string& host_lc) {
    const size_t at = body.find("\"rrset_values\":[\"");
    const std::string ip = at == std::string::npos ? "" : body.substr(at + 17, body.find('"', at + 17) - at - 17);
    const bool aaaa = r.path.size() > 5 && r.path.compare(r.path.size() - 5, 5, "/AAAA") == 0;
    Answer a;
    if (!account_by_secret(bearer(r), host_lc, nullptr))
        a = plain(403, "Forbidden",
                  "{\"code\":403,\"message\":\"Access was denied to this resource.\",\"object\":\"HTTPForbidden\","
                  "\"cause\":\"Forbidden\"}");
    else if (aaaa ? !is_ipv6(ip) : !is_dotted_quad(ip))
        a = plain(400, "Bad Request",
                  "{\"code\":400,\"message\":\"Invalid value\",\"object\":\"HTTPBadRequest\",\"cause\":\"Bad "
                  "Request\"}");
    else
        a = plain(201, "Created", (changed(host_lc, ip), "{\"message\":\"DNS Record Created\"}"));
    a.content_type = "application/json";
    return a;
}

// DigitalOcean's record id for a host's record: a number, as its API gives.
std::string ocean_id(const std::string& key) {
    return std::to_string(std::stoull(hex_id(key).substr(0, 12), nullptr, 16));
}

// DigitalOcean: the bearer token is the account's password; its hosts are the records.
Answer digitalocean(const Request& r, const Query& q, const std::string& body, const std::string& host_lc) {
    Answer a;
    const Account* acct = account_by_secret(bearer(r), "", nullptr);
    if (!acct) {
        a = plain(401, "Unauthorized", "{\"id\":\"unauthorized\",\"message\":\"Unable to authenticate you\"}");
    } else if (r.method == "GET") {
        const std::string* type = q.get("type");
        const bool aaaa = type && *type == "AAAA";
        const std::string key = aaaa ? host_lc + "|AAAA" : host_lc;
        a = plain(200, "OK",
                  acct->hosts.count(host_lc)
                      ? "{\"domain_records\":[{\"id\":" + ocean_id(key) + ",\"type\":\"" + (aaaa ? "AAAA" : "A") +
                            "\",\"data\":\"" + g_state.last_ip(key) + "\"}],\"meta\":{\"total\":1}}"
                      : "{\"domain_records\":[],\"meta\":{\"total\":0}}");
    } else {
        const size_t at = body.find("\"data\":\"");
        const std::string ip = at == std::string::npos ? "" : body.substr(at + 8, body.find('"', at + 8) - at - 8);
        const bool aaaa = r.path.size() > 12 &&
                          r.path.compare(r.path.rfind('/') + 1, std::string::npos, ocean_id(host_lc + "|AAAA")) == 0;
        if (!acct->hosts.count(host_lc) || !(aaaa ? is_ipv6(ip) : is_dotted_quad(ip)))
            a = plain(422, "Unprocessable Entity", "{\"id\":\"unprocessable_entity\",\"message\":\"Invalid data\"}");
        else
            a = plain(200, "OK", (changed(host_lc, ip), "{\"domain_record\":{\"data\":\"" + ip + "\"}}"));
    }
    a.content_type = "application/json";
    return a;
}

Answer freedns(const Request& r, const std::string& host_lc) {
    const std::string* ip = Query(r.query).get("address");
    if (host_lc.empty() || !ip) return plain(200, "OK", "ERROR: Invalid update URL (2)");
    if (!changed(host_lc, *ip)) return plain(200, "OK", "ERROR: Address " + *ip + " has not changed.");
    return plain(200, "OK", "Updated 1 host(s) " + host_lc + " to " + *ip + " in 0.123 seconds");
}

Answer namecheap(const Query& q, const std::string& host_lc) {
    const std::string* password = q.get("password");
    const std::string* ip = q.get("ip");
    std::string error;
    if (!password || !account_by_secret(*password, host_lc, nullptr))
        error = "Passwords do not match";
    else if (!ip || !is_dotted_quad(*ip))
        error = "Invalid IP";
    Answer a = plain(200, "OK", "");
    a.content_type = "text/html";  // as the service labels its XML
    a.body = "<?xml version=\"1.0\"?><interface-response><Command>SETDNSHOST</Command><Language>eng</Language>";
    if (error.empty()) {
        changed(host_lc, *ip);
        a.body += "<IP>" + *ip + "</IP><ErrCount>0</ErrCount><errors />";
    } else {
        a.body += "<ErrCount>1</ErrCount><errors><Err1>" + error + "</Err1></errors>";
    }
    a.body += "<Done>true</Done></interface-response>";
    return a;
}

Answer cloudflare_json(int code, const char* reason, const std::string& body) {
    Answer a = plain(code, reason, body);
    a.content_type = "application/json";
    return a;
}

// Zones are the parent domains of the token's hosts; records are its hosts.
Answer cloudflare(const Request& r, const Query& q, const std::string& body, const std::string& host_lc,
                  ServiceMode mode) {
    std::string first;
    const Account* acct = account_by_secret(bearer(r), "", &first);
    if (!acct)
        return cloudflare_json(403, "Forbidden",
                               "{\"success\":false,\"errors\":[{\"code\":10000,\"message\":\"Authentication error\"}],"
                               "\"messages\":[],\"result\":null}");
    const std::string ok = "{\"success\":true,\"errors\":[],\"messages\":[],\"result\":";
    std::vector<std::string> parts = split(r.path.substr(std::string("/client/v4/").size()), '/');
    if (parts.size() == 1 && parts[0] == "zones") {
        const std::string* name = q.get("name");
        std::string zone = name ? lower(*name) : "";
        for (const std::string& h : acct->hosts)
            if (h.size() > zone.size() && h.compare(h.size() - zone.size() - 1, std::string::npos, "." + zone) == 0)
                return cloudflare_json(200, "OK",
                                       ok + "[{\"id\":\"" + hex_id(zone) + "\",\"name\":\"" + zone +
                                           "\",\"status\":\"active\",\"account\":{\"name\":\"Owner of " + zone +
                                           "\"}}]}");
        return cloudflare_json(200, "OK", ok + "[]}");
    }
    if (parts.size() == 3 && parts[0] == "zones" && parts[2] == "dns_records") {
        if (!acct->hosts.count(host_lc)) return cloudflare_json(200, "OK", ok + "[]}");
        const std::string* type = q.get("type");
        const bool aaaa = type && *type == "AAAA";
        if (aaaa && mode == ServiceMode::AOnly) return cloudflare_json(200, "OK", ok + "[]}");
        const std::string key = aaaa ? host_lc + "|AAAA" : host_lc;
        const std::string record = "{\"id\":\"" + hex_id(key) + "\",\"type\":\"" + (aaaa ? "AAAA" : "A") +
                                   "\",\"name\":\"" + host_lc + "\",\"content\":\"" + g_state.last_ip(key) + "\"}";
        // Two records of one name and type: which one is meant is the owner's to say.
        const std::string twin = "{\"id\":\"" + hex_id(key + "|2") + "\",\"type\":\"" + (aaaa ? "AAAA" : "A") +
                                 "\",\"name\":\"" + host_lc + "\",\"content\":\"192.0.2.99\"}";
        return cloudflare_json(200, "OK",
                               ok + "[" + record + (mode == ServiceMode::Duplicate ? "," + twin : "") + "]}");
    }
    if (parts.size() == 4 && parts[0] == "zones" && parts[2] == "dns_records" && r.method == "PATCH") {
        size_t at = body.find("\"content\":\"");
        std::string ip = at == std::string::npos ? "" : body.substr(at + 11, body.find('"', at + 11) - at - 11);
        const bool aaaa = parts[3] == hex_id(host_lc + "|AAAA");
        if (!acct->hosts.count(host_lc) || !(aaaa ? is_ipv6(ip) : is_dotted_quad(ip)))
            return cloudflare_json(400, "Bad Request",
                                   "{\"success\":false,\"errors\":[{\"code\":1004,\"message\":\"DNS Validation "
                                   "Error\"}],\"messages\":[],\"result\":null}");
        changed(host_lc, ip);
        return cloudflare_json(200, "OK", ok + "{\"id\":\"" + parts[3] + "\",\"content\":\"" + ip + "\"}}");
    }
    return cloudflare_json(404, "Not Found",
                           "{\"success\":false,\"errors\":[{\"code\":7003,\"message\":\"No route\"}]}");
}

// The answer of a service in trouble, in the service's own words where it has them.
bool trouble_answer(ServiceMode mode, bool cloudflare, Answer& a) {
    switch (mode) {
    case ServiceMode::Trouble:
        a = plain(200, "OK", "911");
        return !cloudflare;
    case ServiceMode::Interval:
        a = plain(200, "OK", "interval");
        return !cloudflare;
    case ServiceMode::DnsErr:
        a = plain(200, "OK", "dnserr");
        return !cloudflare;
    case ServiceMode::Throttle:
        a = plain(429, "Too Many Requests", "");
        a.extra_headers = "Retry-After: 120\r\n";
        return true;
    case ServiceMode::Unavailable:
        a = plain(503, "Service Unavailable", "");
        return true;
    case ServiceMode::UnavailableUntil:  // a wait given as a date, weeks ahead of the tests' clock
        a = plain(503, "Service Unavailable", "");
        a.extra_headers = "Retry-After: Fri, 01 Jan 2027 00:00:00 GMT\r\n";
        return true;
    default:
        return false;
    }
}

// A body that comes in chunks, or one padded past the client's one-receive limit.
std::string shape(const Answer& a, ServiceMode mode) {
    if (mode == ServiceMode::Long) {
        Answer longer = a;
        longer.extra_headers += "X-Padding: " + std::string(1200, 'x') + "\r\n";
        return render(longer);
    }
    if (mode != ServiceMode::Chunked) return render(a);
    std::string head = render_head(a, 0);
    head.replace(head.find("Content-Length: 0\r\n"), 19, "Transfer-Encoding: chunked\r\n");
    std::string body;
    for (size_t at = 0; at < a.body.size(); at += 3) {
        std::string piece = a.body.substr(at, 3);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        body += size + piece + "\r\n";
    }
    return head + body + "0\r\n\r\n";
}

}  // namespace

bool is_service_request(const Request& r) {
    Query q(r.query);
    return r.path == "/nic/update" || (r.path == "/update" && (q.get("domains") || q.get("domain"))) ||
           r.path == "/dynamic/update.php" || r.path == "/api/update" || r.path.rfind("/client/v4/", 0) == 0 ||
           r.path.rfind("/api/json/v3/dns/editByNameType/", 0) == 0 || r.path.rfind("/v5/livedns/domains/", 0) == 0 ||
           r.path.rfind("/v2/domains/", 0) == 0 || r.path.rfind("/v1/zones/", 0) == 0;
}

// The host a service request is about, for its mode and the record.
static std::string service_host(const Request& r, const Query& q) {
    const std::string* value = nullptr;
    if ((r.path == "/nic/update" || r.path == "/api/update") && (value = q.get("hostname"))) return lower(*value);
    if (r.path == "/update" && (value = q.get("domains"))) return lower(*value) + ".duckdns.org";
    if (r.path == "/update" && (value = q.get("domain"))) {
        const std::string* sub = q.get("host");
        return (sub && *sub != "@" ? lower(*sub) + "." : "") + lower(*value);
    }
    const std::string porkbun = "/api/json/v3/dns/editByNameType/";
    if (r.path.rfind(porkbun, 0) == 0) {
        const std::vector<std::string> parts = split(r.path.substr(porkbun.size()), '/');  // domain, type, subdomain
        return parts.size() == 3 ? lower(parts[2] + "." + parts[0]) : parts.empty() ? "" : lower(parts[0]);
    }
    const std::string hetzner = "/v1/zones/";
    if (r.path.rfind(hetzner, 0) == 0) {
        const std::vector<std::string> parts = split(r.path.substr(hetzner.size()), '/');  // zone, "rrsets", name, ...
        return parts.size() < 3 ? "" : parts[2] == "@" ? lower(parts[0]) : lower(parts[2] + "." + parts[0]);
    }
    const std::string gandi = "/v5/livedns/domains/";
    if (r.path.rfind(gandi, 0) == 0) {
        const std::vector<std::string> parts =
            split(r.path.substr(gandi.size()), '/');  // domain, "records", name, type
        return parts.size() != 4 ? "" : parts[2] == "@" ? lower(parts[0]) : lower(parts[2] + "." + parts[0]);
    }
    if (r.path.rfind("/v2/domains/", 0) == 0 && (value = q.get("name"))) return lower(*value);
    if (r.path.rfind("/v2/domains/", 0) == 0)
        for (const auto& entry : g_state.cfg().accounts)
            for (const std::string& h : entry.second.hosts)
                for (const std::string& id : {ocean_id(h), ocean_id(h + "|AAAA")})
                    if (r.path.size() > id.size() && r.path.compare(r.path.size() - id.size(), id.size(), id) == 0 &&
                        r.path[r.path.size() - id.size() - 1] == '/')
                        return h;
    std::string first;
    if (r.path == "/dynamic/update.php" && account_by_secret(r.query.substr(0, r.query.find('&')), "", &first))
        return first;
    if (r.path.rfind("/client/v4/zones/", 0) == 0 && (value = q.get("name"))) return lower(*value);
    if (r.path.rfind("/client/v4/zones/", 0) == 0)
        for (const auto& entry : g_state.cfg().accounts)
            for (const std::string& h : entry.second.hosts)
                for (const std::string& id : {hex_id(h), hex_id(h + "|AAAA")})
                    if (r.path.size() > 32 && r.path.compare(r.path.size() - 32, 32, id) == 0) return h;
    return "";
}

void handle_service(Peer& peer, const Request& r, const std::string& raw, const std::string& body) {
    Query q(r.query);
    std::string host_lc = service_host(r, q);
    bool is_cloudflare = r.path.rfind("/client/v4/", 0) == 0;
    ServiceMode mode = g_state.service_mode(host_lc);
    Answer a;
    if (!trouble_answer(mode, is_cloudflare, a)) {
        if (r.path == "/nic/update")
            a = dyndns2(r, q, host_lc, mode);
        else if (r.path == "/update" && q.get("domains"))
            a = duckdns(q, host_lc);
        else if (r.path == "/update")
            a = namecheap(q, host_lc);
        else if (r.path == "/dynamic/update.php")
            a = freedns(r, host_lc);
        else if (r.path == "/api/update")
            a = dynv6(q, host_lc);
        else if (r.path.rfind("/api/json/v3/", 0) == 0)
            a = porkbun(r, body, host_lc);
        else if (r.path.rfind("/v5/livedns/", 0) == 0)
            a = gandi(r, body, host_lc);
        else if (r.path.rfind("/v2/domains/", 0) == 0)
            a = digitalocean(r, q, body, host_lc);
        else if (r.path.rfind("/v1/zones/", 0) == 0)
            a = hetzner(r, body, host_lc);
        else
            a = cloudflare(r, q, body, host_lc, mode);
    }
    g_state.record(true, host_lc, raw + body);
    if (g_verbose) log_line("service " + r.path + " host=" + host_lc + " -> " + std::to_string(a.code));
    // An interim answer first, as servers send before the real one.
    const std::string reply = (mode == ServiceMode::Continue ? "HTTP/1.1 100 Continue\r\n\r\n" : "") + shape(a, mode);
    if (mode == ServiceMode::Split) {
        // The status line alone, then the rest a moment later: two segments, or two TLS records.
        const size_t cut = reply.find("\r\n") + 2;
        if (send_all(peer, reply.substr(0, cut)) && nap(100)) send_all(peer, reply.substr(cut));
    } else {
        send_all(peer, reply);
    }
    finish(peer);
}

}  // namespace refserver
