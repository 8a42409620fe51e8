// The command line and the accounts file.

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "server.h"

namespace refserver {

const std::pair<const char*, Mode> kModes[] = {
    {"normal", Mode::Normal},   {"silent", Mode::Silent}, {"close", Mode::Close},
    {"slow", Mode::Slow},       {"late", Mode::Late},     {"huge", Mode::Huge},
    {"garbage", Mode::Garbage}, {"both", Mode::Both},     {"split", Mode::Split},
};

const std::pair<const char*, CheckIpMode> kCheckIpModes[] = {
    {"normal", CheckIpMode::Normal}, {"garbage", CheckIpMode::Garbage}, {"private", CheckIpMode::Private},
    {"silent", CheckIpMode::Silent}, {"slow", CheckIpMode::Slow},       {"split", CheckIpMode::Split},
    {"portal", CheckIpMode::Portal}, {"chunked", CheckIpMode::Chunked}, {"bare-chunked", CheckIpMode::BareChunked},
};

namespace {

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
    "  --mode MODE         default mode: normal silent close slow late huge garbage both split\n"
    "  --version TEXT      version served in the version file (default 1.5.7)\n"
    "  --slow-ms N         total delay of the slow mode (default 2000)\n"
    "  --lifetime SECONDS  exit after this long (default 900)\n"
    "  --record FILE       append every received request to FILE\n"
    "  --tls-dir DIR       TLS listeners; write DIR/ca.pem and DIR/ports\n"
    "  --tls-name NAME     a name of the valid certificate (repeatable; default localhost)\n"
    "  --verbose           log one line per request\n";

}  // namespace

bool parse_mode(const std::string& s, Mode& m) { return parse_named(kModes, s, m); }

bool parse_checkip_mode(const std::string& s, CheckIpMode& m) { return parse_named(kCheckIpModes, s, m); }

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

}  // namespace refserver
