// Answering a request: the dispatch by path, the modes that shape how an
// answer goes out, and the version file, check-IP and test endpoints.

#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "server.h"

namespace refserver {

namespace {

constexpr size_t kHugeFiller = 4 * 1024 * 1024;

const char* const kUpdatePath = "/nic/dyndns";
const char* const kVersionPath = "/Products/Vastrel/Version.html";
// The check-IP service: "/" on any host, answered in the common form.
const char* const kCheckIpPath = "/";
const char* const kPrivateCheckIpAddress = "192.168.1.20";

std::string filler_line(size_t width) {
    // "<!-- xxxx -->\n"; plain x's cannot spell any key phrase.
    return "<!-- " + std::string(width - 10, 'x') + " -->\n";
}

void deliver_slow(Peer& peer, const std::string& data, unsigned long total_ms) {
    long half = static_cast<long>(total_ms / 2);
    if (!nap(half)) return;
    const size_t pieces = std::min<size_t>(8, std::max<size_t>(1, data.size()));
    const size_t step = (data.size() + pieces - 1) / pieces;
    const long gap =
        pieces > 1 ? static_cast<long>(total_ms - static_cast<unsigned long>(half)) / static_cast<long>(pieces - 1) : 0;
    for (size_t off = 0, i = 0; off < data.size(); off += step, ++i) {
        if (i > 0 && !nap(gap)) return;
        if (!send_all(peer, data.data() + off, std::min(step, data.size() - off))) return;
    }
}

// Always a 200 so the status line itself cannot give the outcome away.
std::string render_late(const Answer& a) {
    Answer late = a;
    late.code = 200;
    late.reason = "OK";
    std::string pad_headers;
    for (int i = 0; i < 8; ++i) pad_headers += "X-Padding-" + std::to_string(i) + ": " + std::string(64, 'x') + "\r\n";
    std::string body;
    for (int i = 0; i < 10; ++i) body += filler_line(80);
    body += a.body;
    return render_head(late, body.size(), pad_headers) + body;
}

void deliver_huge(Peer& peer, const Answer& a) {
    std::string chunk;
    while (chunk.size() < 64 * 1024) chunk += filler_line(64);
    chunk.resize(64 * 1024 - 1);
    chunk += '\n';
    const size_t chunks = kHugeFiller / chunk.size();
    if (!send_all(peer, render_head(a, chunks * chunk.size() + a.body.size()))) return;
    for (size_t i = 0; i < chunks; ++i) {
        if (stopping() || !send_all(peer, chunk)) return;  // client hung up: fine
    }
    send_all(peer, a.body);
}

// Takes ownership of the peer.
void deliver(Peer& peer, const Answer& a, Mode mode) {
    switch (mode) {
    case Mode::Silent:
        hold_open(peer);
        peer_abort(peer);
        return;
    case Mode::Close:
        peer_abort(peer);
        return;
    case Mode::Slow:
        deliver_slow(peer, render(a), g_state.cfg().slow_ms);
        break;
    case Mode::Late:
        send_all(peer, render_late(a));
        break;
    case Mode::Huge:
        deliver_huge(peer, a);
        break;
    case Mode::Split: {
        const std::string whole = render(a);
        send_in_two(peer, whole, whole.find("\r\n\r\n") + 4);
        break;
    }
    case Mode::Normal:
    case Mode::Garbage:
    case Mode::Both:
        send_all(peer, render(a));
        break;
    }
    finish(peer);
}

void handle_update(Peer& peer, const Request& r, const std::string& raw) {
    Query q(r.query);
    const std::string* host = q.get("host_id");
    std::string host_lc = host ? lower(*host) : "";
    g_state.record(true, host_lc, raw);
    Mode mode = g_state.mode_for_host(host_lc);

    Answer a;
    if (mode == Mode::Garbage) {
        a = garbage_answer();
    } else if (mode == Mode::Both) {
        const std::string* ip = q.get("myip");
        a = html(200, "OK",
                 "NOERROR host " + html_escape(host ? *host : "") + " myip " + html_escape(ip ? *ip : "") +
                     "<br>Bad Client Input");
    } else if (mode != Mode::Silent && mode != Mode::Close) {
        a = update_answer(r, q);
    }
    if (g_verbose)
        log_line("update host_id=" + host_lc + " -> " + std::to_string(a.code) + " (mode " +
                 kModes[static_cast<int>(mode)].first + ")");
    deliver(peer, a, mode);
}

void handle_version(Peer& peer, const std::string& raw) {
    g_state.record(false, "", raw);
    Mode mode = g_state.global_mode();
    Answer a = mode == Mode::Garbage ? garbage_answer() : Answer{};
    if (mode != Mode::Garbage) a.body = g_state.version_body();
    if (g_verbose) log_line(std::string("version file (mode ") + kModes[static_cast<int>(mode)].first + ")");
    deliver(peer, a, mode);
}

Answer checkip_found(const std::string& address) {
    Answer a;
    a.body = "<html><head><title>Current IP Check</title></head><body>Current IP Address: " + html_escape(address) +
             "</body></html>";
    return a;
}

// The answer with its body in two chunks, cut at cut.
std::string render_in_two_chunks(const Answer& a, size_t cut) {
    std::string head = render_head(a, 0);
    head.replace(head.find("Content-Length: 0\r\n"), 19, "Transfer-Encoding: chunked\r\n");
    std::string body;
    for (const std::string& piece : {a.body.substr(0, cut), a.body.substr(cut)}) {
        if (piece.empty()) continue;  // an empty chunk would end the body
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        body += size + piece + "\r\n";
    }
    return head + body + "0\r\n\r\n";
}

// Takes ownership of the peer.
void handle_checkip(Peer& peer, const std::string& raw) {
    g_state.record(false, "", raw);
    g_state.count_checkip();
    std::pair<CheckIpMode, std::string> service = g_state.checkip();
    // Asked over IPv6, a page names the IPv6 address it sees.
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (service.second == kDefaultCheckIpAddress &&
        ::getsockname(peer.fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.ss_family == AF_INET6)
        service.second = kDefaultCheckIpAddress6;
    if (g_verbose)
        log_line(std::string("check-IP (mode ") + kCheckIpModes[static_cast<int>(service.first)].first + ")");
    switch (service.first) {
    case CheckIpMode::Normal:
        send_all(peer, render(checkip_found(service.second)));
        break;
    case CheckIpMode::Garbage:
        send_all(peer, render(garbage_answer()));
        break;
    case CheckIpMode::Private:
        send_all(peer, render(checkip_found(kPrivateCheckIpAddress)));
        break;
    case CheckIpMode::Silent:
        hold_open(peer);
        peer_abort(peer);
        return;
    case CheckIpMode::Slow:
        // The whole answer at once, late: a client waits for it within its limit.
        if (nap(static_cast<long>(g_state.cfg().slow_ms))) send_all(peer, render(checkip_found(service.second)));
        break;
    case CheckIpMode::Split: {
        // Cut two characters before the address ends; the rest comes later.
        const std::string whole = render(checkip_found(service.second));
        const size_t cut = whole.rfind("</body>") - 2;
        if (send_all(peer, whole.substr(0, cut)) && nap(static_cast<long>(g_state.cfg().slow_ms / 2)))
            send_all(peer, whole.substr(cut));
        break;
    }
    case CheckIpMode::Chunked: {
        // A chunk ends one character before the address does.
        const Answer a = checkip_found(service.second);
        send_all(peer, render_in_two_chunks(a, a.body.rfind("</body>") - 1));
        break;
    }
    case CheckIpMode::BareChunked: {
        // The address alone, as pages that answer only it do, cut in its middle.
        const Answer a = plain(200, "OK", service.second);
        send_all(peer, render_in_two_chunks(a, a.body.size() / 2));
        break;
    }
    case CheckIpMode::Portal: {
        Answer a = checkip_found(service.second);
        a.code = 302;
        a.reason = "Found";
        a.extra_headers = "Location: http://portal.example/login\r\n";
        send_all(peer, render(a));
        break;
    }
    }
    finish(peer);
}

Answer control_answer(const Request& r) {
    Query q(r.query);
    const std::string* host = q.get("host");
    std::string host_lc = host ? lower(*host) : "";
    if (r.path == "/__requests") {
        return plain(200, "OK", g_state.dump(host ? &host_lc : nullptr));
    }
    if (r.path == "/__count") {
        if (q.get("checkip")) return plain(200, "OK", std::to_string(g_state.checkip_count()));
        return plain(200, "OK", std::to_string(g_state.count(host ? &host_lc : nullptr)));
    }
    if (r.path == "/__last") {
        if (!host) return plain(400, "Bad Request", "host missing");
        return plain(200, "OK", g_state.last_ip(host_lc));
    }
    if (r.path == "/__control/version") {
        const std::string* reset = q.get("reset");
        const std::string* body = q.get("body");
        if (reset && *reset == "1")
            g_state.set_version_body(g_state.default_version_body());
        else if (body)
            g_state.set_version_body(*body);
        else
            return plain(400, "Bad Request", "expected body=TEXT or reset=1");
        return plain(200, "OK", "ok");
    }
    if (r.path == "/__control/mode") {
        const std::string* value = q.get("value");
        Mode m;
        if (!value || !parse_mode(*value, m)) return plain(400, "Bad Request", "unknown mode");
        if (host)
            g_state.set_host_mode(host_lc, m);
        else
            g_state.set_global_mode(m);
        return plain(200, "OK", "ok");
    }
    if (r.path == "/__control/checkip") {
        const std::string* reset = q.get("reset");
        const std::string* value = q.get("mode");
        const std::string* address = q.get("address");
        CheckIpMode m = CheckIpMode::Normal;
        if (reset && *reset == "1") {
            g_state.set_checkip(m, kDefaultCheckIpAddress);
            return plain(200, "OK", "ok");
        }
        if ((!value && !address) || (value && !parse_checkip_mode(*value, m)))
            return plain(400, "Bad Request", "expected mode=M, address=A or reset=1");
        g_state.set_checkip(m, address ? *address : kDefaultCheckIpAddress);
        return plain(200, "OK", "ok");
    }
    if (r.path == "/__control/service") {
        const std::string* value = q.get("mode");
        ServiceMode m;
        if (!host || !value || !parse_service_mode(*value, m)) return plain(400, "Bad Request", "expected host=H&mode=M");
        g_state.set_service_mode(host_lc, m);
        return plain(200, "OK", "ok");
    }
    if (r.path == "/__control/clear") {
        g_state.clear();
        return plain(200, "OK", "ok");
    }
    return bad_request("unknown path");
}

}  // namespace

void serve(Peer& peer) {
    std::string raw, body;
    ReadResult rr = read_request(peer, raw, &body);
    if (rr == ReadResult::Oversized || rr == ReadResult::NotHttp) {
        send_all(peer, render(bad_request(rr == ReadResult::NotHttp ? "not an HTTP request" : "request too large")));
        finish(peer);
        return;
    }
    if (rr != ReadResult::Complete) {
        peer_abort(peer);
        return;
    }
    g_state.append_record_file(raw);

    Request r;
    std::string why;
    if (!parse_request(raw, r, why)) {
        send_all(peer, render(bad_request(why)));
        finish(peer);
        return;
    }
    if (r.method == "CONNECT") {
        handle_connect(peer, r, raw);
        return;
    }
    if ((r.method == "PATCH" && r.path.rfind("/client/v4/", 0) != 0 && r.path.rfind("/v2/domains/", 0) != 0) ||
        (r.method == "POST" && r.path.rfind("/api/json/v3/", 0) != 0 && r.path.rfind("/v1/zones/", 0) != 0) ||
        (r.method == "PUT" && r.path.rfind("/v5/livedns/", 0) != 0)) {
        send_all(peer, render(bad_request("only GET is served here")));
        finish(peer);
        return;
    }
    if (r.path == kUpdatePath) {
        handle_update(peer, r, raw);
        return;
    }
    if (is_service_request(r)) {
        const std::string* length = r.header("Content-Length");
        unsigned long size = 0;
        if (length && !parse_uint(trim(*length), kMaxRequest, size)) size = kMaxRequest + 1;
        if (!read_body(peer, size, body)) {
            send_all(peer, render(bad_request("request body cut short or too large")));
            finish(peer);
            return;
        }
        handle_service(peer, r, raw, body);
        return;
    }
    if (r.path == kVersionPath) {
        handle_version(peer, raw);
        return;
    }
    if (r.path == kCheckIpPath) {
        handle_checkip(peer, raw);
        return;
    }
    if (r.path == "/__control/quit") {
        send_all(peer, render(plain(200, "OK", "ok")));
        g_stop = true;
        peer_shutdown_write(peer);
        peer_abort(peer);
        return;
    }
    if (r.path.rfind("/__", 0) == 0) {
        send_all(peer, render(control_answer(r)));
        finish(peer);
        return;
    }
    send_all(peer, render(bad_request("unknown path")));
    finish(peer);
}

}  // namespace refserver
