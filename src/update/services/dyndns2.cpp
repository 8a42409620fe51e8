// dyndns2: GET /nic/update?hostname=&myip= with Basic authentication, a
// return code as the first word of the answer.
#include "update/services/shape.h"

namespace {

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

}  // namespace

std::string Dyndns2Query(const ServiceEntry& service, const ServiceRequestInput& in, const char* v4, const char* v6) {
    std::string query = "?hostname=" + UrlEncoded(in.HostName) + Dyndns2Addresses(service.IPv6, v4, v6);
    // Unchecked sends nothing: "OFF" would clear what the user set on the service's site.
    if ((service.Fields & TakesWildcards) && in.Wildcards) query += "&wildcard=ON";
    if ((service.Fields & TakesMailExtender) && in.MailExtender[0]) {
        query += "&mx=" + UrlEncoded(in.MailExtender);
        if (service.Fields & TakesBackupMX) query += std::string("&backmx=") + (in.BackupMX ? "YES" : "NO");
    }
    return query;
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
