// The answers every path shares: rendering, errors and refusals.

#include <string>

#include "server.h"

namespace refserver {

std::string render_head(const Answer& a, size_t content_length, const std::string& more_headers) {
    std::string out = "HTTP/1.1 " + std::to_string(a.code) + " " + a.reason + "\r\n";
    out += "Server: vastrel-update-server\r\n";
    out += "Content-Type: " + a.content_type + "\r\n";
    out += "Content-Length: " + std::to_string(content_length) + "\r\n";
    out += "Connection: close\r\n";
    out += a.extra_headers;
    out += more_headers;
    out += "\r\n";
    return out;
}

std::string render(const Answer& a) { return render_head(a, a.body.size()) + a.body; }

Answer html(int code, const char* reason, const std::string& inner) {
    Answer a;
    a.code = code;
    a.reason = reason;
    a.body = "<html><body>" + inner + "</body></html>";
    return a;
}

Answer plain(int code, const char* reason, const std::string& body) {
    Answer a;
    a.code = code;
    a.reason = reason;
    a.body = body;
    a.content_type = "text/plain";
    return a;
}

// The why text is fixed by this file and never echoes the request, so a 400
// cannot carry any of the update answers' key phrases.
Answer bad_request(const std::string& why) {
    return html(400, "Bad Request", "<h1>Bad Request</h1><p>" + html_escape(why) + "</p>");
}

Answer unauthorized() {
    Answer a;
    a.code = 401;
    a.reason = "Authorization Required";
    a.extra_headers = "WWW-Authenticate: Basic realm=\"Vastrel Members\"\r\n";
    a.body =
        "<html><head><title>401 Authorization Required</title></head><body>"
        "<h1>401 Authorization Required</h1>"
        "<p>This server could not verify that you are authorized to use the update service.</p>"
        "</body></html>";
    return a;
}

Answer garbage_answer() {
    return html(500, "Internal Server Error",
                "<h1>Internal Server Error</h1><p>The server hit an unexpected condition.</p>");
}

}  // namespace refserver
