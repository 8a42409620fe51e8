// String helpers and the log line.

#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "server.h"

namespace refserver {

bool g_verbose = false;

namespace {

int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool iequals(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

bool istarts_with(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string trim(const std::string& s, const char* ws) {
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        if (p == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, p - start));
        start = p + 1;
    }
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// The client does not encode, so a stray '%' that is not %XX stays literal.
std::string percent_decode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexval(s[i + 1]) >= 0 && hexval(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexval(s[i + 1]) * 16 + hexval(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string html_escape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "&#%u;", c);
                out += buf;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out;
}

bool base64_decode(const std::string& in, std::string& out) {
    out.clear();
    size_t len = in.size();
    size_t pad = 0;
    while (len > 0 && in[len - 1] == '=' && pad < 2) {
        --len;
        ++pad;
    }
    if (len == 0 || (len + pad) % 4 == 1 || (pad > 0 && (len + pad) % 4 != 0)) return false;
    unsigned buf = 0;
    int bits = 0;
    for (size_t i = 0; i < len; ++i) {
        char c = in[i];
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            return false;
        buf = (buf << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buf >> bits) & 0xff));
        }
    }
    return true;
}

bool is_dotted_quad(const std::string& s) {
    std::vector<std::string> parts = split(s, '.');
    if (parts.size() != 4) return false;
    for (const std::string& p : parts) {
        if (p.empty() || p.size() > 3) return false;
        for (char c : p)
            if (c < '0' || c > '9') return false;
        if (std::stoi(p) > 255) return false;
    }
    return true;
}

bool parse_uint(const std::string& s, unsigned long max, unsigned long& out) {
    if (s.empty() || s.size() > 10) return false;
    unsigned long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    if (v > max) return false;
    out = v;
    return true;
}

void log_line(const std::string& msg) {
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    std::fprintf(stdout, "%s\n", msg.c_str());
    std::fflush(stdout);
}

}  // namespace refserver
