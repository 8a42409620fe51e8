// The member update service: credentials, the query's checks and the outcome
// of an update request.

#include <string>

#include "server.h"

namespace refserver {

namespace {

const char* query_problem(const Query& q) {
    const std::string* action = q.get("action");
    if (!action || *action != "edit") return "action must be edit";
    const std::string* host = q.get("host_id");
    if (!host) return "host_id is missing";
    if (host->empty()) return "host_id is empty";
    if (host->find('.') == std::string::npos) return "host_id has no dot";
    if ((*host)[0] == '.') return "host_id begins with a dot";
    const std::string* ip = q.get("myip");
    if (!ip) return "myip is missing";
    if (!is_dotted_quad(*ip)) return "myip is not a dotted quad";
    const std::string* wc = q.get("wildcard");
    if (!wc || (*wc != "ON" && *wc != "OFF")) return "wildcard must be ON or OFF";
    const std::string* bmx = q.get("backmx");
    if (!bmx || (*bmx != "ON" && *bmx != "OFF")) return "backmx must be ON or OFF";
    return nullptr;
}

}  // namespace

bool basic_credentials(const Request& r, std::string& user, std::string& pass) {
    const std::string* h = r.header("Authorization");
    if (!h) return false;
    std::string v = *h;
    if (!istarts_with(v, "Basic ") && !istarts_with(v, "Basic\t")) return false;
    std::string token = trim(v.substr(6), " \t");
    std::string decoded;
    if (!base64_decode(token, decoded)) return false;
    size_t c = decoded.find(':');
    if (c == std::string::npos) return false;
    user = decoded.substr(0, c);
    pass = decoded.substr(c + 1);
    return true;
}

Answer update_answer(const Request& r, const Query& q) {
    std::string user, pass;
    const Account* acct = nullptr;
    if (basic_credentials(r, user, pass)) acct = g_state.account(user);
    if (!acct || acct->password != pass) return unauthorized();

    if (const char* problem = query_problem(q))
        return html(200, "OK", std::string("Bad Client Input<!-- ") + problem + " -->");

    const std::string& host = *q.get("host_id");
    const std::string& ip = *q.get("myip");
    std::string host_lc = lower(host);
    if (acct->blocked.count(host_lc)) return html(200, "OK", "Hostname blocked due to abuse");
    if (!acct->hosts.count(host_lc)) return html(200, "OK", "Invalid Hostname");

    g_state.set_last_ip(host_lc, ip);
    return html(200, "OK", "NOERROR host " + html_escape(host) + " myip " + ip);
}

}  // namespace refserver
