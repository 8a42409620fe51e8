// Reading an HTTP request: its request line, headers and query.

#include <string>
#include <vector>

#include "server.h"

namespace refserver {

namespace {

bool has_ctl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

}  // namespace

bool parse_headers(const std::vector<std::string>& lines, Request& r, std::string& why) {
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        size_t c = l.find(':');
        if (c == std::string::npos || c == 0 || l.find_first_of(" \t") < c || has_ctl(l.substr(0, c))) {
            why = "malformed header line";
            return false;
        }
        r.headers.emplace_back(l.substr(0, c), trim(l.substr(c + 1), " \t"));
    }
    return true;
}

bool parse_request(const std::string& raw, Request& r, std::string& why) {
    std::string head = raw.substr(0, raw.size() - 4);
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t p = head.find("\r\n", start);
        lines.push_back(head.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) break;
        start = p + 2;
    }
    const std::string& rl = lines[0];
    if (rl.empty() || has_ctl(rl)) {
        why = "malformed request line";
        return false;
    }
    std::vector<std::string> parts = split(rl, ' ');
    if (parts.size() != 3 || parts[0].empty() || parts[1].empty()) {
        why = "malformed request line";
        return false;
    }
    r.method = parts[0];
    r.target = parts[1];
    r.version = parts[2];
    if (r.version != "HTTP/1.0" && r.version != "HTTP/1.1") {
        why = "not an HTTP/1.x request";
        return false;
    }
    if (r.method == "CONNECT") return parse_headers(lines, r, why);  // target is host:port
    // PATCH: Cloudflare's record update, POST: Porkbun's, PUT: Gandi's; serve() takes each on its API alone.
    if (r.method != "GET" && r.method != "PATCH" && r.method != "POST" && r.method != "PUT") {
        why = "only GET is served here";
        return false;
    }

    std::string t = r.target;
    if (istarts_with(t, "http://")) {
        // Proxy form: any authority is accepted.
        std::string rest = t.substr(7);
        size_t p = rest.find_first_of("/?");
        if (p == 0) {
            why = "absolute URL without a host";
            return false;
        }
        if (p == std::string::npos)
            t = "/";
        else if (rest[p] == '?')
            t = "/" + rest.substr(p);
        else
            t = rest.substr(p);
    } else if (t[0] != '/') {
        why = "request target is neither a path nor an http URL";
        return false;
    }
    size_t hash = t.find('#');
    if (hash != std::string::npos) t.resize(hash);
    size_t q = t.find('?');
    r.path = t.substr(0, q);
    r.query = q == std::string::npos ? "" : t.substr(q + 1);
    return parse_headers(lines, r, why);
}

Query::Query(const std::string& q) {
    if (q.empty()) return;
    for (const std::string& item : split(q, '&')) {
        if (item.empty()) continue;
        size_t eq = item.find('=');
        if (eq == std::string::npos)
            items_.emplace_back(percent_decode(item), "");
        else
            items_.emplace_back(percent_decode(item.substr(0, eq)), percent_decode(item.substr(eq + 1)));
    }
}

const std::string* Query::get(const std::string& key) const {
    for (const auto& kv : items_)
        if (kv.first == key) return &kv.second;
    return nullptr;
}

}  // namespace refserver
