// The catalogue of dynamic DNS services besides the maker's rows: one row per
// service, and one small piece of code per request shape. A service that
// speaks dyndns2 is one more row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/http_reply.h"

enum class ServiceShape {
    Dyndns2,       // GET /nic/update?hostname=&myip= with Basic authentication
    DuckDns,       // GET /update?domains=&token=&ip=
    FreeDns,       // GET /dynamic/update.php?<record token>&address=
    Namecheap,     // GET /update?host=&domain=&password=&ip=, XML reply
    Cloudflare,    // API v4 with a bearer token: zone, record, PATCH
    Dynv6,         // GET /api/update?hostname=&token=&ipv4=&ipv6=
    Porkbun,       // POST /dns/editByNameType/<domain>/<type>/<sub>, keys and address in a JSON body
    Gandi,         // LiveDNS: PUT /domains/<domain>/records/<name>/<type> with a bearer token
    DigitalOcean,  // /v2/domains/<domain>/records with a bearer token: record, PATCH
    Hetzner,       // Cloud API: POST /zones/<domain>/rrsets/<name>/<type>/actions/set_records, bearer token
};

// Which fields of the Accounts form a service takes besides host and password.
enum ServiceField : unsigned {
    TakesUserName = 1,  // without it, a dyndns2 service takes the host name as the user
    TakesWildcards = 2,
    TakesMailExtender = 4,
    TakesBackupMX = 8,
    TakesUpdateServer = 16,
    NeedsUserName = 32,  // the user name must be typed (Cloudflare's zone may stay empty)
};

// How a service takes an IPv6 address beside (or instead of) the IPv4 one.
enum class IPv6Style {
    None,        // IPv4 only: the choice is not offered (Namecheap)
    MyipList,    // myip=v4,v6 in one request (No-IP, dyndns2 servers)
    MyipV6,      // myip=v4&myipv6=v6, myip=no when IPv4 is not sent (Dynu)
    DuckDns,     // ip=v4&ipv6=v6
    Desec,       // myipv4= and myipv6=, "preserve" for a family not sent: an omitted one is deleted
    PerFamily,   // one request per family, the address where IPv4's goes (Hurricane Electric)
    OneFamily,   // one family an account: each record has a token of its own (FreeDNS)
    Cloudflare,  // the AAAA record beside the A record
    Dynv6,       // ipv4=v4&ipv6=v6; a family left out is kept as it is
};

struct ServiceEntry {
    const char* Name;  // as the Server drop-down lists it
    ServiceShape Shape;
    const char* UpdateHost;  // null: the account's own "Update server"
    const char* Path;
    unsigned Fields;
    const char* UserLabel;
    const char* PasswordLabel;
    std::int32_t TroubleWait;  // seconds before a retry after the service's own trouble code
    IPv6Style IPv6 = IPv6Style::None;
    // The service answers by status alone and documents 400, 403 and 404 as
    // refusals (deSEC); elsewhere such a page may come from a proxy in the way.
    bool RefusesByStatus = false;
    // IPv6 goes to a host of its own, the IPv4 one to UpdateHost (nsupdate.info).
    const char* UpdateHost6 = nullptr;
    // What the "Update server" field holds for a service that takes it for something else (Porkbun's API key).
    const char* ServerLabel = nullptr;
};

// How many rows of the "Addresses" choice a service offers: 1 (IPv4 alone),
// 2 (IPv4 or IPv6) or 3 (both too).
int AddressChoices(const ServiceEntry& service);

constexpr int ServiceCount = 18;
extern const ServiceEntry Services[ServiceCount];

// The row of an account's stored "Service" value: 1 to ServiceCount; 0 (or
// anything else) is no catalogue service, so the maker's rows apply.
const ServiceEntry* ServiceRow(std::int32_t service);

// Where a request goes: host, port and path, and whether over TLS.
struct ServiceTarget {
    std::string Host;
    int Port = 443;
    std::string Path;
    bool Secure = true;
};
// The service's own host (for ipv6, its IPv6 host where it has one), or for
// "Other dyndns2 server" the one the user gave ("http://" in front for plain HTTP, an optional ":port" and path; what
// a URL path does not allow is percent-encoded). False, with why set, when
// the text names no usable host or a "%" starts no escape.
bool FindServiceTarget(const ServiceEntry& service, const char* updateServer, ServiceTarget& target, const char*& why,
                       bool ipv6 = false);

// What one update request carries.
struct ServiceRequestInput {
    const char* HostName;  // the full host name as the service knows it
    const char* UserName;
    const char* Password;  // password, key or token
    const char* Address;   // dotted IPv4 address; null or empty: IPv4 is not sent
    bool Wildcards;
    const char* MailExtender;
    bool BackupMX;
    const char* Address6 = nullptr;  // IPv6 address to send beside it; null or empty: none
    const char* UpdateServer = "";   // the "Update server" field (Porkbun's API key)
};

// The update request of a service whose shape needs one request (every shape
// but Cloudflare's). absoluteForm: sent to a plain HTTP proxy. A service of
// IPv6Style::PerFamily takes one family a request: the caller sends twice.
std::string BuildServiceRequest(const ServiceEntry& service, const ServiceTarget& target,
                                const ServiceRequestInput& input, bool absoluteForm);

// One request of Cloudflare's API: method and path below /client/v4, the
// bearer token, and a JSON body or none.
std::string BuildCloudflareRequest(const char* method, const std::string& path, const char* token,
                                   const std::string& body);
// Text as a URL's query or path takes it: unreserved characters as they
// are, every other byte as %XX.
std::string UrlEncoded(const char* text);
// The PATCH body that sets a record's content to the address.
std::string CloudflareAddressBody(const char* address);
// The "id" of each entry of a list answer's "result" (with activeOnly, of
// each whose "status" is "active", as zones have it); an entry without a
// usable id is left out. None when the answer is no such list.
std::vector<std::string> CloudflareResultIds(const std::string& body, bool activeOnly = false);
// A Cloudflare answer as the detailed log shows it: its status, "success"
// and "errors"; the rest (zone and account details) stays out.
std::string CloudflareAnswerForLog(const HttpReply& reply);

// One request of DigitalOcean's API below /v2, its record id of a list
// answer, and the PATCH body that sets a record's data to the address.
std::string BuildDigitalOceanRequest(const ServiceEntry& service, const char* method, const std::string& path,
                                     const char* token, const std::string& body);
std::vector<std::string> DigitalOceanRecordIds(const std::string& body);
std::string DigitalOceanAddressBody(const char* address);

// Namecheap's "host" (Porkbun's subdomain): what stands before the
// registered domain in the host name, "@" for the domain itself. An empty domain (an account stored before
// the domain was asked for) is taken as the host's last two labels. False
// when the host is not within the domain.
bool NamecheapHostPart(const char* hostName, const char* domain, std::string& part);
// The services whose "Domain" is the registered domain the host must stand within.
inline bool TakesRegisteredDomain(const ServiceEntry& service) {
    return service.Shape == ServiceShape::Namecheap || service.Shape == ServiceShape::Porkbun ||
           service.Shape == ServiceShape::Gandi || service.Shape == ServiceShape::DigitalOcean ||
           service.Shape == ServiceShape::Hetzner;
}

// The refusals every service may answer, in the maker's words: the log line
// of each, whichever service answered it.
inline constexpr const char* AuthorizationFailed = "Authorization failed! Wrong or missing user credentials?";
inline constexpr const char* HostNotOwned = "Host not owned by you!";
inline constexpr const char* BlockedForAbuse = "Account is blocked due to abuse!";
inline constexpr const char* BadHostName = "Bad or unknown host name!";

enum class ReplyVerdict { Accepted, Refused, Temporary };

struct ReplyJudgement {
    ReplyVerdict Verdict = ReplyVerdict::Temporary;
    bool NoChange = false;         // accepted, but services block hosts that repeat it
    std::string Reason;            // the log line
    std::int32_t WaitSeconds = 0;  // Temporary: not sent again before this has passed
    // The reason in the program's own words and the status code, for a
    // notice, when the log line quotes the server; empty: Reason is ours.
    std::string Plain;
};

// How long a service in trouble that names no wait of its own is left alone.
constexpr std::int32_t ServiceRetryWait = 10 * 60;
// The longest a service's wait may keep an account from being sent: a
// Retry-After of years is taken as a day.
constexpr std::int32_t MaxServiceWait = 24 * 60 * 60;

// A refusal, or trouble with its wait, as a judgement of what the service
// answered (a missing Cloudflare record, a reply that could not be read).
ReplyJudgement RefusedReply(std::string reason, std::string plain = std::string());
ReplyJudgement TemporaryReply(std::string reason, std::int32_t waitSeconds, std::string plain = std::string());

// Judges a whole reply: by the HTTP status first, then by the service's own
// codes, matched exactly as the first word of the first line that is not
// empty (never a phrase anywhere in the text). A redirect, and what cannot
// get better by waiting, refuses; a 403 or 404 page that carries none of the
// service's codes is trouble, unless the service answers by status alone.
ReplyJudgement JudgeServiceReply(const ServiceEntry& service, const HttpReply& reply);

// The request as the detailed log shows it: the Authorization value and the
// tokens and passwords in the URL become "********".
std::string MaskSecrets(const std::string& request);

// "Brannock Vastrel/Windows-<version> <contact>", the form services ask of clients.
const char* ServiceUserAgent();
