// vastrel-update-server: a loopback stand-in for a dynamic DNS member update
// server, so the client's tests and demo can run the real client against
// something that answers (and misbehaves) on demand.
//
// Linux only: POSIX sockets, one detached thread per connection; OpenSSL for
// the TLS listeners and their test certificates.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kMaxRequest = 16 * 1024;
constexpr int kReadLimitMs = 10000;
constexpr int kGraceMs = 1000;
constexpr int kSendTimeoutS = 5;
constexpr int kMaxConnections = 64;
constexpr size_t kHugeFiller = 4 * 1024 * 1024;
// Keeps the in-memory record bounded on long runs; counts stay exact.
constexpr size_t kMaxRecordedBytes = 8 * 1024 * 1024;

const char* const kUpdatePath = "/nic/dyndns";
const char* const kVersionPath = "/Products/Vastrel/Version.html";
const char* const kDefaultVersion = "1.5.7";
// The check-IP service: "/" on any host, answered in the common form.
const char* const kCheckIpPath = "/";
const char* const kDefaultCheckIpAddress = "203.0.113.7";
const char* const kPrivateCheckIpAddress = "192.168.1.20";

std::atomic<bool> g_stop{false};
// Set from the signal handler and read by every thread, so a lock-free atomic
// rather than a plain sig_atomic_t.
std::atomic<bool> g_signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handler needs a lock-free flag");
std::atomic<int> g_active{0};
bool g_verbose = false;

bool stopping() { return g_stop.load() || g_signalled.load(); }

void on_signal(int) { g_signalled = true; }

// ---------------------------------------------------------------- helpers

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool iequals(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

bool istarts_with(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string trim(const std::string& s, const char* ws = " \t\r\n") {
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

int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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

// ---------------------------------------------------------------- config

enum class Mode { Normal, Silent, Close, Slow, Late, Huge, Garbage, Both };

const std::pair<const char*, Mode> kModes[] = {
    {"normal", Mode::Normal}, {"silent", Mode::Silent}, {"close", Mode::Close},     {"slow", Mode::Slow},
    {"late", Mode::Late},     {"huge", Mode::Huge},     {"garbage", Mode::Garbage}, {"both", Mode::Both},
};

// A mode by its name in one of the mode tables.
template <typename M, size_t N>
bool parse_named(const std::pair<const char*, M> (&table)[N], const std::string& s, M& m) {
    for (const auto& e : table)
        if (s == e.first) {
            m = e.second;
            return true;
        }
    return false;
}

bool parse_mode(const std::string& s, Mode& m) { return parse_named(kModes, s, m); }

// The check-IP service's own modes, set apart from the update modes.
enum class CheckIpMode { Normal, Garbage, Private, Silent, Slow };

const std::pair<const char*, CheckIpMode> kCheckIpModes[] = {
    {"normal", CheckIpMode::Normal}, {"garbage", CheckIpMode::Garbage}, {"private", CheckIpMode::Private},
    {"silent", CheckIpMode::Silent}, {"slow", CheckIpMode::Slow},
};

bool parse_checkip_mode(const std::string& s, CheckIpMode& m) { return parse_named(kCheckIpModes, s, m); }

struct Account {
    std::string password;
    std::set<std::string> hosts;    // lower case
    std::set<std::string> blocked;  // lower case
};

struct Config {
    unsigned long port = 0;
    std::string port_file;
    std::map<std::string, Account> accounts;
    std::map<std::string, Mode> host_modes;  // key lower case
    Mode global_mode = Mode::Normal;
    std::string version = kDefaultVersion;
    unsigned long slow_ms = 2000;
    unsigned long lifetime_s = 900;
    std::string record_file;
    std::string tls_dir;                 // empty: no TLS listeners
    std::vector<std::string> tls_names;  // names of the valid certificate
};

bool parse_host_list(const std::string& s, std::set<std::string>& out, std::string& err) {
    for (const std::string& h : split(s, ',')) {
        if (h.empty()) {
            err = "empty host name in list '" + s + "'";
            return false;
        }
        out.insert(lower(h));
    }
    return true;
}

bool add_account(Config& cfg, const std::string& user, const std::string& pass, const std::string& hosts,
                 const std::string* blocked, std::string& err) {
    if (user.empty() || user.find(':') != std::string::npos) {
        err = "user name must be non-empty and contain no ':'";
        return false;
    }
    if (cfg.accounts.count(user)) {
        err = "duplicate account '" + user + "'";
        return false;
    }
    Account a;
    a.password = pass;
    if (!parse_host_list(hosts, a.hosts, err)) return false;
    if (blocked && !parse_host_list(*blocked, a.blocked, err)) return false;
    // A blocked host is by definition one of the user's own.
    a.hosts.insert(a.blocked.begin(), a.blocked.end());
    cfg.accounts[user] = std::move(a);
    return true;
}

bool load_accounts(Config& cfg, const std::string& path, std::string& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err = "cannot open accounts file '" + path + "'";
        return false;
    }
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
        ++lineno;
        std::string where = path + ":" + std::to_string(lineno) + ": ";
        if (line.size() > 4096) {
            err = where + "line too long";
            return false;
        }
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        std::vector<std::string> w = words(t);
        std::string e;
        if (w[0] == "account") {
            if (w.size() != 4 && w.size() != 5) {
                err = where + "expected 'account USER PASSWORD HOST[,HOST...] [BLOCKED[,...]]'";
                return false;
            }
            if (!add_account(cfg, w[1], w[2], w[3], w.size() == 5 ? &w[4] : nullptr, e)) {
                err = where + e;
                return false;
            }
        } else if (w[0] == "mode") {
            Mode m;
            if (w.size() != 3) {
                err = where + "expected 'mode HOST MODE'";
                return false;
            }
            if (!parse_mode(w[2], m)) {
                err = where + "unknown mode '" + w[2] + "'";
                return false;
            }
            cfg.host_modes[lower(w[1])] = m;
        } else if (w[0] == "version") {
            std::string text = trim(t.substr(7));
            if (text.empty()) {
                err = where + "expected 'version TEXT'";
                return false;
            }
            cfg.version = text;
        } else {
            err = where + "unknown directive '" + w[0] + "'";
            return false;
        }
    }
    return true;
}

const char* const kUsage =
    "usage: vastrel-update-server [options]\n"
    "  --port N            listen on 127.0.0.1:N (0 = ephemeral, default)\n"
    "  --port-file PATH    write the chosen port to PATH once listening\n"
    "  --accounts FILE     account/mode/version directives, one per line\n"
    "  --account U:P:HOSTS[:BLOCKED]   add an account (repeatable)\n"
    "  --mode MODE         default mode: normal silent close slow late huge garbage both\n"
    "  --version TEXT      version served in the version file (default 1.5.7)\n"
    "  --slow-ms N         total delay of the slow mode (default 2000)\n"
    "  --lifetime SECONDS  exit after this long (default 900)\n"
    "  --record FILE       append every received request to FILE\n"
    "  --tls-dir DIR       TLS listeners; write DIR/ca.pem and DIR/ports\n"
    "  --tls-name NAME     a name of the valid certificate (repeatable; default localhost)\n"
    "  --verbose           log one line per request\n";

// Returns 0 to run, 1 for --help, 2 on error (message already printed).
int parse_args(int argc, char** argv, Config& cfg) {
    std::vector<std::string> account_files;
    std::vector<std::string> account_args;
    bool have_mode = false, have_version = false;
    Mode mode = Mode::Normal;
    std::string version;

    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        std::string val;
        bool has_val = false;
        size_t eq = opt.find('=');
        if (opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            val = opt.substr(eq + 1);
            opt = opt.substr(0, eq);
            has_val = true;
        }
        auto need = [&]() -> bool {
            if (has_val) return true;
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vastrel-update-server: %s needs a value\n", opt.c_str());
                return false;
            }
            val = argv[++i];
            return true;
        };
        auto bad = [&](const char* what) {
            std::fprintf(stderr, "vastrel-update-server: bad value '%s' for %s: %s\n", val.c_str(), opt.c_str(), what);
            return 2;
        };
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 1;
        } else if (opt == "--verbose") {
            g_verbose = true;
        } else if (opt == "--port") {
            if (!need()) return 2;
            if (!parse_uint(val, 65535, cfg.port)) return bad("expected 0..65535");
        } else if (opt == "--port-file") {
            if (!need()) return 2;
            if (val.empty()) return bad("empty path");
            cfg.port_file = val;
        } else if (opt == "--accounts") {
            if (!need()) return 2;
            account_files.push_back(val);
        } else if (opt == "--account") {
            if (!need()) return 2;
            account_args.push_back(val);
        } else if (opt == "--mode") {
            if (!need()) return 2;
            if (!parse_mode(val, mode)) return bad("unknown mode");
            have_mode = true;
        } else if (opt == "--version") {
            if (!need()) return 2;
            if (val.empty()) return bad("empty version");
            version = val;
            have_version = true;
        } else if (opt == "--slow-ms") {
            if (!need()) return 2;
            if (!parse_uint(val, 600000, cfg.slow_ms)) return bad("expected 0..600000");
        } else if (opt == "--lifetime") {
            if (!need()) return 2;
            if (!parse_uint(val, 86400, cfg.lifetime_s) || cfg.lifetime_s == 0) return bad("expected 1..86400");
        } else if (opt == "--record") {
            if (!need()) return 2;
            if (val.empty()) return bad("empty path");
            cfg.record_file = val;
        } else if (opt == "--tls-dir") {
            if (!need()) return 2;
            if (val.empty()) return bad("empty path");
            cfg.tls_dir = val;
        } else if (opt == "--tls-name") {
            if (!need()) return 2;
            if (val.empty() || val.find_first_of(", ") != std::string::npos) return bad("expected one host name");
            cfg.tls_names.push_back(val);
        } else {
            std::fprintf(stderr, "vastrel-update-server: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }

    std::string err;
    for (const std::string& f : account_files)
        if (!load_accounts(cfg, f, err)) {
            std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
            return 2;
        }
    for (const std::string& a : account_args) {
        std::vector<std::string> f = split(a, ':');
        if (f.size() != 3 && f.size() != 4) {
            std::fprintf(stderr,
                         "vastrel-update-server: bad --account '%s': expected "
                         "USER:PASSWORD:HOST[,HOST...][:BLOCKED[,...]]\n",
                         a.c_str());
            return 2;
        }
        if (!add_account(cfg, f[0], f[1], f[2], f.size() == 4 ? &f[3] : nullptr, err)) {
            std::fprintf(stderr, "vastrel-update-server: bad --account '%s': %s\n", a.c_str(), err.c_str());
            return 2;
        }
    }
    if (cfg.tls_names.empty()) cfg.tls_names.push_back("localhost");
    // The command line wins over the file.
    if (have_mode) cfg.global_mode = mode;
    if (have_version) cfg.version = version;
    return 0;
}

// ---------------------------------------------------------------- state

struct Record {
    bool update;
    std::string host;  // lower case host_id, update requests only
    std::string raw;
};

class State {
public:
    void init(const Config& cfg) {
        cfg_ = cfg;
        global_mode_ = cfg.global_mode;
        host_modes_ = cfg.host_modes;
        version_body_ = default_version_body();
    }

    const Config& cfg() const { return cfg_; }

    std::string default_version_body() const { return "<html><body>VERSION:" + cfg_.version + " </body></html>"; }

    // Accounts are fixed after start-up, so no lock.
    const Account* account(const std::string& user) const {
        auto it = cfg_.accounts.find(user);
        return it == cfg_.accounts.end() ? nullptr : &it->second;
    }

    Mode mode_for_host(const std::string& host_lc) {
        std::lock_guard<std::mutex> l(m_);
        auto it = host_modes_.find(host_lc);
        return it != host_modes_.end() ? it->second : global_mode_;
    }
    Mode global_mode() {
        std::lock_guard<std::mutex> l(m_);
        return global_mode_;
    }
    void set_global_mode(Mode m) {
        std::lock_guard<std::mutex> l(m_);
        global_mode_ = m;
    }
    void set_host_mode(const std::string& host_lc, Mode m) {
        std::lock_guard<std::mutex> l(m_);
        host_modes_[host_lc] = m;
    }

    std::string version_body() {
        std::lock_guard<std::mutex> l(m_);
        return version_body_;
    }
    void set_version_body(std::string b) {
        std::lock_guard<std::mutex> l(m_);
        version_body_ = std::move(b);
    }

    void set_last_ip(const std::string& host_lc, const std::string& ip) {
        std::lock_guard<std::mutex> l(m_);
        last_ip_[host_lc] = ip;
    }
    std::string last_ip(const std::string& host_lc) {
        std::lock_guard<std::mutex> l(m_);
        auto it = last_ip_.find(host_lc);
        return it == last_ip_.end() ? "" : it->second;
    }

    void record(bool update, const std::string& host_lc, const std::string& raw) {
        std::lock_guard<std::mutex> l(m_);
        ++total_count_;
        if (update) ++update_count_[host_lc];
        if (recorded_bytes_ + raw.size() > kMaxRecordedBytes) {
            dropped_ = true;
            return;
        }
        recorded_bytes_ += raw.size();
        records_.push_back(Record{update, host_lc, raw});
    }

    // host == nullptr: every recorded request.
    std::string dump(const std::string* host_lc) {
        std::lock_guard<std::mutex> l(m_);
        std::string out;
        for (const Record& r : records_) {
            if (host_lc && (!r.update || r.host != *host_lc)) continue;
            out += "=== " + std::to_string(r.raw.size()) + " bytes\r\n";
            out += r.raw;
            out += "\r\n";
        }
        return out;
    }

    size_t count(const std::string* host_lc) {
        std::lock_guard<std::mutex> l(m_);
        if (!host_lc) return total_count_;
        auto it = update_count_.find(*host_lc);
        return it == update_count_.end() ? 0 : it->second;
    }

    // The check-IP service: its mode, the address it names, how often it was asked.
    void set_checkip(CheckIpMode m, const std::string& address) {
        std::lock_guard<std::mutex> l(m_);
        checkip_mode_ = m;
        checkip_address_ = address;
    }
    std::pair<CheckIpMode, std::string> checkip() {
        std::lock_guard<std::mutex> l(m_);
        return {checkip_mode_, checkip_address_};
    }
    void count_checkip() {
        std::lock_guard<std::mutex> l(m_);
        ++checkip_count_;
    }
    size_t checkip_count() {
        std::lock_guard<std::mutex> l(m_);
        return checkip_count_;
    }

    void clear() {
        std::lock_guard<std::mutex> l(m_);
        records_.clear();
        update_count_.clear();
        checkip_count_ = 0;
        total_count_ = 0;
        recorded_bytes_ = 0;
        dropped_ = false;
    }

    bool open_record_file(std::string& err) {
        if (cfg_.record_file.empty()) return true;
        record_fd_ = ::open(cfg_.record_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (record_fd_ < 0) {
            err = "cannot open record file '" + cfg_.record_file + "': " + std::strerror(errno);
            return false;
        }
        return true;
    }

    void append_record_file(const std::string& raw) {
        if (record_fd_ < 0) return;
        std::string entry = "=== " + std::to_string(raw.size()) + " bytes from 127.0.0.1\n" + raw + "\n";
        std::lock_guard<std::mutex> l(file_m_);
        const char* p = entry.data();
        size_t left = entry.size();
        while (left > 0) {
            ssize_t n = ::write(record_fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }

private:
    Config cfg_;
    std::mutex m_;
    Mode global_mode_ = Mode::Normal;
    std::map<std::string, Mode> host_modes_;
    std::string version_body_;
    std::map<std::string, std::string> last_ip_;
    std::vector<Record> records_;
    std::map<std::string, size_t> update_count_;
    size_t total_count_ = 0;
    CheckIpMode checkip_mode_ = CheckIpMode::Normal;
    std::string checkip_address_ = kDefaultCheckIpAddress;
    size_t checkip_count_ = 0;
    size_t recorded_bytes_ = 0;
    bool dropped_ = false;
    std::mutex file_m_;
    int record_fd_ = -1;
};

State g_state;

// ---------------------------------------------------------------- HTTP

struct Request {
    std::string method, target, version;
    std::string path, query;
    std::vector<std::pair<std::string, std::string>> headers;

    const std::string* header(const std::string& name) const {
        for (const auto& h : headers)
            if (iequals(h.first, name)) return &h.second;
        return nullptr;
    }
};

bool has_ctl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

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

// raw ends with CRLF CRLF.
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
    if (r.method != "GET") {
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

class Query {
public:
    explicit Query(const std::string& q) {
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
    // First occurrence wins.
    const std::string* get(const std::string& key) const {
        for (const auto& kv : items_)
            if (kv.first == key) return &kv.second;
        return nullptr;
    }

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

struct Answer {
    int code = 200;
    std::string reason = "OK";
    std::string extra_headers;  // each line ends with CRLF
    std::string body;
    std::string content_type = "text/html";
};

std::string render_head(const Answer& a, size_t content_length, const std::string& more_headers = "") {
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

// ---------------------------------------------------------------- socket I/O

// One client connection: a plain socket, or a TLS channel over it.
struct Peer {
    int fd;
    SSL* ssl = nullptr;
};

ssize_t peer_send(Peer& peer, const char* p, size_t len) {
    if (!peer.ssl) return ::send(peer.fd, p, len, MSG_NOSIGNAL);
    int n = SSL_write(peer.ssl, p, static_cast<int>(std::min<size_t>(len, 1 << 20)));
    return n > 0 ? n : -1;
}

// recv's answers: > 0 bytes, 0 closed, -1 with errno (EAGAIN: try again).
ssize_t peer_recv(Peer& peer, char* buf, size_t len) {
    if (!peer.ssl) return ::recv(peer.fd, buf, len, 0);
    int n = SSL_read(peer.ssl, buf, static_cast<int>(len));
    if (n > 0) return n;
    int e = SSL_get_error(peer.ssl, n);
    ERR_clear_error();
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    if (e == SSL_ERROR_SYSCALL && errno == 0) return 0;  // closed without close_notify
    errno = ECONNRESET;
    return -1;
}

// poll for input, counting what the TLS channel already holds.
int peer_poll(Peer& peer, int ms) {
    if (peer.ssl && SSL_pending(peer.ssl) > 0) return 1;
    pollfd p{peer.fd, POLLIN, 0};
    return ::poll(&p, 1, ms);
}

// Closes at once: no TLS close_notify, as a dropped connection.
void peer_abort(Peer& peer) {
    if (peer.ssl) SSL_free(peer.ssl);
    peer.ssl = nullptr;
    ::close(peer.fd);
}

void peer_shutdown_write(Peer& peer) {
    if (peer.ssl) SSL_shutdown(peer.ssl);
    ::shutdown(peer.fd, SHUT_WR);
}

bool send_all(Peer& peer, const char* p, size_t len) {
    while (len > 0) {
        ssize_t n = peer_send(peer, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // peer gone or send timeout
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool send_all(Peer& peer, const std::string& s) { return send_all(peer, s.data(), s.size()); }

// Sleeps in small slices so a stop request is noticed quickly.
bool nap(long ms) {
    auto end = Clock::now() + milliseconds(ms);
    while (!stopping()) {
        auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        if (left <= 0) return true;
        std::this_thread::sleep_for(milliseconds(std::min<long>(left, 50)));
    }
    return false;
}

// Waits for the peer to close (or the grace/stop to run out), discarding input.
void drain(Peer& peer, long limit_ms) {
    auto end = Clock::now() + milliseconds(limit_ms);
    char buf[4096];
    while (!stopping()) {
        auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        if (left <= 0) return;
        int r = peer_poll(peer, static_cast<int>(std::min<long>(left, 100)));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return;
        if (r == 0) continue;
        ssize_t n = peer_recv(peer, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
    }
}

void finish(Peer& peer) {
    peer_shutdown_write(peer);
    drain(peer, kGraceMs);
    peer_abort(peer);
}

enum class ReadResult { Complete, Oversized, NotHttp, Timeout, Closed, Stopped };

ReadResult read_request(Peer& peer, std::string& out) {
    auto deadline = Clock::now() + milliseconds(kReadLimitMs);
    std::string buf;
    char chunk[4096];
    size_t scan_from = 0;
    for (;;) {
        size_t end = buf.find("\r\n\r\n", scan_from);
        if (end != std::string::npos) {
            if (end + 4 > kMaxRequest) return ReadResult::Oversized;
            out = buf.substr(0, end + 4);
            return ReadResult::Complete;
        }
        if (buf.size() >= kMaxRequest) return ReadResult::Oversized;
        // A request line starts with a method; anything else (a TLS hello on
        // the plain port, say) is answered at once, as real servers do.
        if (!buf.empty() && (buf[0] < 'A' || buf[0] > 'Z')) return ReadResult::NotHttp;
        scan_from = buf.size() >= 3 ? buf.size() - 3 : 0;
        if (stopping()) return ReadResult::Stopped;
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ReadResult::Timeout;
        int r = peer_poll(peer, static_cast<int>(std::min<long>(left, 100)));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return ReadResult::Closed;
        if (r == 0) continue;
        ssize_t n = peer_recv(peer, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return ReadResult::Closed;
        buf.append(chunk, static_cast<size_t>(n));
    }
}

// ---------------------------------------------------------------- delivery

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

void hold_open(Peer& peer) {
    char buf[4096];
    while (!stopping()) {
        int r = peer_poll(peer, 100);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return;
        if (r == 0) continue;
        ssize_t n = peer_recv(peer, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
    }
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
    case Mode::Normal:
    case Mode::Garbage:
    case Mode::Both:
        send_all(peer, render(a));
        break;
    }
    finish(peer);
}

// ---------------------------------------------------------------- handlers

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

// Takes ownership of the peer.
void handle_checkip(Peer& peer, const std::string& raw) {
    g_state.record(false, "", raw);
    g_state.count_checkip();
    std::pair<CheckIpMode, std::string> service = g_state.checkip();
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
    if (r.path == "/__control/clear") {
        g_state.clear();
        return plain(200, "OK", "ok");
    }
    return bad_request("unknown path");
}

// CONNECT host:port: a tunnel for HTTPS through the proxy. Whatever the host
// name, the tunnel leads to 127.0.0.1:port, as the proxy form accepts any
// authority: this server never reaches past loopback.
void handle_connect(Peer& peer, const Request& r, const std::string& raw) {
    g_state.record(false, "", raw);
    size_t colon = r.target.rfind(':');
    unsigned long port = 0;
    if (peer.ssl || colon == std::string::npos || !parse_uint(r.target.substr(colon + 1), 65535, port) || port == 0) {
        send_all(peer, render(bad_request("CONNECT needs host:port")));
        finish(peer);
        return;
    }
    int up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (up < 0 || ::connect(up, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (up >= 0) ::close(up);
        if (g_verbose) log_line("tunnel to port " + std::to_string(port) + " refused");
        send_all(peer, render(html(502, "Bad Gateway", "<h1>Bad Gateway</h1>")));
        finish(peer);
        return;
    }
    if (g_verbose) log_line("tunnel to port " + std::to_string(port));
    timeval tv{kSendTimeoutS, 0};
    ::setsockopt(up, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (!send_all(peer, "HTTP/1.1 200 Connection established\r\n\r\n")) {
        ::close(up);
        peer_abort(peer);
        return;
    }
    // Both ways until both ends have closed, or nothing moved for a while;
    // a side that ends its sending has that passed on to the other.
    int fds[2] = {peer.fd, up};
    bool open[2] = {true, true};
    auto idle_since = Clock::now();
    char buf[16384];
    while ((open[0] || open[1]) && !stopping() && Clock::now() - idle_since < milliseconds(3 * kReadLimitMs)) {
        pollfd p[2] = {{fds[0], static_cast<short>(open[0] ? POLLIN : 0), 0},
                       {fds[1], static_cast<short>(open[1] ? POLLIN : 0), 0}};
        int ready = ::poll(p, 2, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::recv(fds[i], buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            Peer other{fds[1 - i]};
            if (n <= 0 || !send_all(other, buf, static_cast<size_t>(n))) {
                open[i] = false;
                ::shutdown(fds[1 - i], SHUT_WR);
                continue;
            }
            idle_since = Clock::now();
        }
    }
    ::close(up);
    peer_abort(peer);
}

void serve(Peer& peer) {
    std::string raw;
    ReadResult rr = read_request(peer, raw);
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
    if (r.path == kUpdatePath) {
        handle_update(peer, r, raw);
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

// ---------------------------------------------------------------- TLS

// The listeners of --tls-dir, each presenting one certificate (or, "stall",
// taking the client's hello and never answering).
enum class TlsKind { Valid, WrongName, Expired, UnknownAuthority, Stall };
const char* const kTlsKindNames[] = {"valid", "wrong-name", "expired", "unknown-authority", "stall"};
constexpr int kTlsKinds = 5;
SSL_CTX* g_tls[kTlsKinds] = {};

void connection_main(int fd, int kind) {
    Peer peer{fd};
    try {
        timeval tv{kSendTimeoutS, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (kind == static_cast<int>(TlsKind::Stall)) {
            hold_open(peer);
            peer_abort(peer);
        } else if (kind >= 0) {
            // The handshake gets the same bound as a request.
            timeval limit{kReadLimitMs / 1000, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            peer.ssl = SSL_new(g_tls[kind]);
            if (!peer.ssl || SSL_set_fd(peer.ssl, fd) != 1 || SSL_accept(peer.ssl) != 1) {
                ERR_clear_error();
                peer_abort(peer);
            } else {
                serve(peer);
            }
        } else {
            serve(peer);
        }
    } catch (...) {
        // Out of memory or similar: drop this connection, keep the server.
        peer_abort(peer);
    }
    --g_active;
}

EVP_PKEY* new_key() { return EVP_RSA_gen(2048); }

bool add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A certificate for key, valid from..to seconds from now, signed by issuer
// (itself when null): an authority when names is empty, else a server
// certificate for those names.
X509* make_certificate(EVP_PKEY* key, const std::string& cn, const std::vector<std::string>& names, long from, long to,
                       X509* issuer, EVP_PKEY* issuer_key) {
    static std::atomic<long> serial{1};
    X509* cert = X509_new();
    bool ok = cert && X509_set_version(cert, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(cert), from) && X509_gmtime_adj(X509_getm_notAfter(cert), to) &&
              X509_set_pubkey(cert, key) == 1 &&
              X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0) == 1;
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    X509* signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    std::string alt;
    for (const std::string& n : names)
        alt += (alt.empty() ? "" : ",") + std::string(is_dotted_quad(n) ? "IP:" : "DNS:") + n;
    ok = add_extension(cert, signer, NID_subject_key_identifier, "hash") &&
         add_extension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (names.empty()) {
        ok = ok && add_extension(cert, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             add_extension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && add_extension(cert, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             add_extension(cert, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             add_extension(cert, signer, NID_ext_key_usage, "serverAuth") &&
             add_extension(cert, signer, NID_subject_alt_name, alt);
    }
    if (!ok || X509_sign(cert, issuer_key ? issuer_key : key, EVP_sha256()) <= 0) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

SSL_CTX* server_context(X509* cert, EVP_PKEY* key) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 || SSL_CTX_use_certificate(ctx, cert) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

// The test authority (written to DIR/ca.pem for the clients to trust) and the
// certificates of the listeners; another authority, never written, signs the
// "unknown-authority" one.
bool make_tls_contexts(const Config& cfg, std::string& err) {
    const long day = 86400;
    EVP_PKEY* ca_key = new_key();
    EVP_PKEY* other_key = new_key();
    EVP_PKEY* key = new_key();
    X509* ca =
        ca_key ? make_certificate(ca_key, "Vastrel Test Authority", {}, -day, 365 * day, nullptr, nullptr) : nullptr;
    X509* other = other_key
                      ? make_certificate(other_key, "Unknown Test Authority", {}, -day, 365 * day, nullptr, nullptr)
                      : nullptr;
    X509* certs[4] = {};
    if (ca && other && key) {
        certs[0] = make_certificate(key, cfg.tls_names[0], cfg.tls_names, -day, 30 * day, ca, ca_key);
        certs[1] = make_certificate(key, "wrong-name.example", {"wrong-name.example"}, -day, 30 * day, ca, ca_key);
        certs[2] = make_certificate(key, cfg.tls_names[0], cfg.tls_names, -60 * day, -30 * day, ca, ca_key);
        certs[3] = make_certificate(key, cfg.tls_names[0], cfg.tls_names, -day, 30 * day, other, other_key);
    }
    bool ok = certs[0] && certs[1] && certs[2] && certs[3];
    for (int i = 0; ok && i < 4; ++i) ok = (g_tls[i] = server_context(certs[i], key)) != nullptr;
    if (ok) {
        std::string path = cfg.tls_dir + "/ca.pem";
        FILE* out = std::fopen(path.c_str(), "w");
        ok = out && PEM_write_X509(out, ca) == 1;
        if (out && std::fclose(out) != 0) ok = false;
        if (!ok) err = "cannot write '" + path + "'";
    } else {
        err = "cannot make the test certificates";
    }
    for (X509* c : certs) X509_free(c);
    X509_free(ca);
    X509_free(other);
    EVP_PKEY_free(ca_key);
    EVP_PKEY_free(other_key);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return ok;
}

// A listening socket on 127.0.0.1:port (0 = any free one); -1 on failure.
int listen_on(unsigned long port, unsigned& chosen) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t alen = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &alen) != 0) {
        ::close(fd);
        return -1;
    }
    chosen = ntohs(addr.sin_port);
    return fd;
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& err) {
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            err = "cannot write '" + tmp + "'";
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        err = "cannot rename '" + tmp + "' to '" + path + "': " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

#ifdef VASTREL_FUZZ_REQUEST_PARSER
// A request as the reader hands it over (cut after its first empty line),
// through the parser and the update checks that read its result.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string raw(reinterpret_cast<const char*>(data), size);
    size_t end = raw.find("\r\n\r\n");
    raw = (end == std::string::npos ? raw : raw.substr(0, end)) + "\r\n\r\n";
    if (raw.size() > kMaxRequest) return 0;
    Request r;
    std::string why;
    if (!parse_request(raw, r, why)) return 0;
    Query q(r.query);
    update_answer(r, q);
    return 0;
}
#else
int main(int argc, char** argv) {
    Config cfg;
    int rc = parse_args(argc, argv, cfg);
    if (rc == 1) return 0;
    if (rc != 0) return rc;
    g_state.init(cfg);

    std::string err;
    if (!g_state.open_record_file(err)) {
        std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
        return 2;
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // Listener 0 is the plain one; with --tls-dir one more per TLS kind.
    std::vector<int> listeners;
    unsigned port = 0;
    int lfd = listen_on(cfg.port, port);
    if (lfd < 0) {
        std::fprintf(stderr, "vastrel-update-server: cannot listen on 127.0.0.1:%lu: %s\n", cfg.port,
                     std::strerror(errno));
        return 1;
    }
    listeners.push_back(lfd);
    if (!cfg.tls_dir.empty()) {
        if (!make_tls_contexts(cfg, err)) {
            std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
            return 1;
        }
        std::string ports;
        for (int kind = 0; kind < kTlsKinds; ++kind) {
            unsigned tls_port = 0;
            int fd = listen_on(0, tls_port);
            if (fd < 0) {
                std::perror("vastrel-update-server: TLS listener");
                return 1;
            }
            listeners.push_back(fd);
            ports += std::string(kTlsKindNames[kind]) + " " + std::to_string(tls_port) + "\n";
        }
        // Written before the port file, which tells that everything is ready.
        if (!write_file_atomically(cfg.tls_dir + "/ports", ports, err)) {
            std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
            return 1;
        }
    }

    if (!cfg.port_file.empty() && !write_file_atomically(cfg.port_file, std::to_string(port) + "\n", err)) {
        std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
        return 1;
    }
    log_line("listening on 127.0.0.1:" + std::to_string(port));

    const auto deadline = Clock::now() + std::chrono::seconds(cfg.lifetime_s);
    const char* why = "stopped";
    std::vector<pollfd> polled;
    for (int fd : listeners) polled.push_back(pollfd{fd, POLLIN, 0});
    while (!stopping()) {
        if (Clock::now() >= deadline) {
            why = "lifetime over";
            break;
        }
        int r = ::poll(polled.data(), polled.size(), 100);
        if (r <= 0) continue;
        for (size_t i = 0; i < polled.size(); ++i) {
            if (!(polled[i].revents & POLLIN)) continue;
            int c = ::accept4(polled[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            if (g_active.load() >= kMaxConnections) {
                ::close(c);
                continue;
            }
            ++g_active;
            try {
                std::thread(connection_main, c, static_cast<int>(i) - 1).detach();
            } catch (...) {
                --g_active;
                ::close(c);
            }
        }
    }
    if (g_signalled.load()) why = "signal";
    g_stop = true;
    for (int fd : listeners) ::close(fd);

    // Give connection threads a moment to notice; then leave regardless, so
    // the lifetime bound holds even with a stuck peer.
    auto give_up = Clock::now() + milliseconds(1500);
    while (g_active.load() > 0 && Clock::now() < give_up) std::this_thread::sleep_for(milliseconds(20));
    log_line(std::string("exiting: ") + why);
    std::fflush(stdout);
    _exit(0);
}
#endif
