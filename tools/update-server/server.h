// vastrel-update-server: a loopback stand-in for a dynamic DNS member update
// server, so the client's tests and demo can run the real client against
// something that answers (and misbehaves) on demand.
//
// Linux only: POSIX sockets, one detached thread per connection; OpenSSL for
// the TLS listeners and their test certificates.
//
// What the server's files share. Each file keeps its own helpers in an
// anonymous namespace; what another file calls lives in refserver.

#ifndef VASTREL_UPDATE_SERVER_SERVER_H
#define VASTREL_UPDATE_SERVER_SERVER_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// OpenSSL's own name for a TLS channel; the request parser and the answers
// build without OpenSSL's headers.
typedef struct ssl_st SSL;

namespace refserver {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline constexpr size_t kMaxRequest = 16 * 1024;
inline constexpr int kReadLimitMs = 10000;
inline constexpr int kSendTimeoutS = 5;

inline constexpr const char* kDefaultVersion = "1.5.7";
inline constexpr const char* kDefaultCheckIpAddress = "203.0.113.7";
// What the check-IP page names by default when asked over IPv6.
inline constexpr const char* kDefaultCheckIpAddress6 = "2001:470:1f0b::7";
// The client's default check-IP page, answered here through a tunnel.
inline constexpr const char* kCheckIpPageHost = "api64.ipify.org";

// ---------------------------------------------------------------- lifetime (main.cpp)

extern std::atomic<bool> g_stop;
extern std::atomic<int> g_active;
bool stopping();

// ---------------------------------------------------------------- text (text.cpp)

extern bool g_verbose;

std::string lower(std::string s);
bool iequals(const std::string& a, const std::string& b);
bool istarts_with(const std::string& s, const std::string& prefix);
std::string trim(const std::string& s, const char* ws = " \t\r\n");
std::vector<std::string> split(const std::string& s, char sep);
std::vector<std::string> words(const std::string& s);
std::string percent_decode(const std::string& s);
std::string html_escape(const std::string& s);
bool base64_decode(const std::string& in, std::string& out);
bool is_dotted_quad(const std::string& s);
bool parse_uint(const std::string& s, unsigned long max, unsigned long& out);
void log_line(const std::string& msg);

// ---------------------------------------------------------------- config (config.cpp)

enum class Mode { Normal, Silent, Close, Slow, Late, Huge, Garbage, Both, Split };
// Indexed by Mode.
extern const std::pair<const char*, Mode> kModes[];
bool parse_mode(const std::string& s, Mode& m);

// The check-IP service's own modes, set apart from the update modes.
enum class CheckIpMode { Normal, Garbage, Private, Silent, Slow, Split, Portal, Chunked, BareChunked };
// Indexed by CheckIpMode.
extern const std::pair<const char*, CheckIpMode> kCheckIpModes[];
bool parse_checkip_mode(const std::string& s, CheckIpMode& m);

// How a catalogue service's host answers (services.cpp).
enum class ServiceMode {
    Normal, Trouble, Interval, DnsErr, Throttle, Unavailable, UnavailableUntil, StatusOnly, Chunked, Long, Split,
    Continue, Duplicate, AOnly
};
extern const std::pair<const char*, ServiceMode> kServiceModes[];
bool parse_service_mode(const std::string& s, ServiceMode& m);

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

// Returns 0 to run, 1 for --help, 2 on error (message already printed).
int parse_args(int argc, char** argv, Config& cfg);

// ---------------------------------------------------------------- state (state.cpp)

struct Record {
    bool update;
    std::string host;  // lower case host_id, update requests only
    std::string raw;
};

class State {
public:
    void init(const Config& cfg);

    const Config& cfg() const { return cfg_; }

    std::string default_version_body() const;

    // Accounts are fixed after start-up, so no lock.
    const Account* account(const std::string& user) const;

    Mode mode_for_host(const std::string& host_lc);
    Mode global_mode();
    void set_global_mode(Mode m);
    void set_host_mode(const std::string& host_lc, Mode m);

    std::string version_body();
    void set_version_body(std::string b);

    ServiceMode service_mode(const std::string& host_lc);
    void set_service_mode(const std::string& host_lc, ServiceMode m);

    void set_last_ip(const std::string& host_lc, const std::string& ip);
    std::string last_ip(const std::string& host_lc);

    void record(bool update, const std::string& host_lc, const std::string& raw);
    // host == nullptr: every recorded request.
    std::string dump(const std::string* host_lc);
    size_t count(const std::string* host_lc);

    // The check-IP service: its mode, the address it names, how often it was asked.
    void set_checkip(CheckIpMode m, const std::string& address);
    std::pair<CheckIpMode, std::string> checkip();
    void count_checkip();
    size_t checkip_count();

    void clear();

    bool open_record_file(std::string& err);
    void append_record_file(const std::string& raw);

private:
    Config cfg_;
    std::mutex m_;
    Mode global_mode_ = Mode::Normal;
    std::map<std::string, Mode> host_modes_;
    std::string version_body_;
    std::map<std::string, ServiceMode> service_modes_;
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

extern State g_state;

// ---------------------------------------------------------------- HTTP (request.cpp)

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

bool parse_headers(const std::vector<std::string>& lines, Request& r, std::string& why);
// raw ends with CRLF CRLF.
bool parse_request(const std::string& raw, Request& r, std::string& why);

class Query {
public:
    explicit Query(const std::string& q);
    // First occurrence wins.
    const std::string* get(const std::string& key) const;

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

// ---------------------------------------------------------------- answers (answers.cpp)

struct Answer {
    int code = 200;
    std::string reason = "OK";
    std::string extra_headers;  // each line ends with CRLF
    std::string body;
    std::string content_type = "text/html";
};

std::string render_head(const Answer& a, size_t content_length, const std::string& more_headers = "");
std::string render(const Answer& a);
Answer html(int code, const char* reason, const std::string& inner);
Answer plain(int code, const char* reason, const std::string& body);
Answer bad_request(const std::string& why);
Answer unauthorized();
Answer garbage_answer();

// ---------------------------------------------------------------- update service (update.cpp)

// The user and password of a Basic Authorization header.
bool basic_credentials(const Request& r, std::string& user, std::string& pass);
// The answer to an update request when its mode leaves the checks to run.
Answer update_answer(const Request& r, const Query& q);

// ---------------------------------------------------------------- socket I/O (peer.cpp)

// One client connection: a plain socket, or a TLS channel over it.
struct Peer {
    int fd;
    SSL* ssl = nullptr;
};

ssize_t peer_send(Peer& peer, const char* p, size_t len);
ssize_t peer_recv(Peer& peer, char* buf, size_t len);
int peer_poll(Peer& peer, int ms);
void peer_abort(Peer& peer);
void peer_shutdown_write(Peer& peer);
bool send_all(Peer& peer, const char* p, size_t len);
bool send_all(Peer& peer, const std::string& s);
// data in two sends (over TLS two records) split at cut, held back until
// both are written so that they leave together.
bool send_in_two(Peer& peer, const std::string& data, size_t cut);
bool nap(long ms);
void finish(Peer& peer);
void hold_open(Peer& peer);

enum class ReadResult { Complete, Oversized, NotHttp, Timeout, Closed, Stopped };
// out: the head, through its empty line; rest, when given: what came after it.
ReadResult read_request(Peer& peer, std::string& out, std::string* rest = nullptr);
// Completes a body of length bytes of which rest already came; false when cut short.
bool read_body(Peer& peer, size_t length, std::string& rest);

// ---------------------------------------------------------------- replies (replies.cpp)

// Reads one request and answers it; takes ownership of the peer.
void serve(Peer& peer);

// ---------------------------------------------------------------- services (services.cpp)

// A request on one of the catalogue services' paths.
// The services' own host names, which the valid certificate names too.
extern const std::vector<std::string> kServiceHosts;
// The valid TLS listener's port: where a tunnel to port 443 leads.
extern unsigned g_valid_tls_port;
bool is_service_request(const Request& r);
// Answers it (body: the request's body, for Cloudflare's PATCH); takes ownership of the peer.
void handle_service(Peer& peer, const Request& r, const std::string& raw, const std::string& body);

// ---------------------------------------------------------------- TLS and tunnels (tls.cpp)

inline constexpr int kTlsKinds = 5;
// The names in DIR/ports, by kind.
extern const char* const kTlsKindNames[kTlsKinds];
bool make_tls_contexts(const Config& cfg, std::string& err);
// kind: -1 for the plain listener, else the TLS listener's index.
void connection_main(int fd, int kind);
void handle_connect(Peer& peer, const Request& r, const std::string& raw);

}  // namespace refserver

#endif
