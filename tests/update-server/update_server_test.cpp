// Drives the vastrel-update-server binary over loopback with raw sockets.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef UPDATE_SERVER_BINARY
#error "UPDATE_SERVER_BINARY must name the server executable"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kSlowMs = 400;

const char* const kMarkers[] = {"NOERROR", "401 Authorization Required", "Invalid Hostname",
                                "Hostname blocked due to abuse", "Bad Client Input"};

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

std::string Base64(const std::string& in) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buf = 0;
    int bits = 0;
    for (unsigned char c : in) {
        buf = (buf << 8) | c;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.push_back(abc[(buf >> bits) & 63]);
        }
    }
    if (bits > 0) out.push_back(abc[(buf << (6 - bits)) & 63]);
    while (out.size() % 4) out.push_back('=');
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// ------------------------------------------------------------ processes

pid_t Spawn(const std::vector<std::string>& args, const std::string& out_path, const std::string& err_path) {
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o >= 0) dup2(o, 1);
        if (e >= 0) dup2(e, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(UPDATE_SERVER_BINARY));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(UPDATE_SERVER_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

// Returns the wait status, or -1 if the child is still running after timeout_ms.
int WaitFor(pid_t pid, int timeout_ms) {
    auto start = Clock::now();
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 || ElapsedMs(start) > timeout_ms) return -1;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

int WaitForPortFile(const std::string& path, pid_t pid, int timeout_ms) {
    auto start = Clock::now();
    while (ElapsedMs(start) < timeout_ms) {
        std::string text = ReadFile(path);
        if (!text.empty() && text.back() == '\n') return std::atoi(text.c_str());
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) return -1;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return -1;
}

void KillAndReap(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (WaitFor(pid, 5000) == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// ------------------------------------------------------------ sockets

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

struct ReadResult {
    std::string data;
    bool eof = false;  // peer closed (or reset) within the time limit
};

// Reads until EOF, timeout_ms, or max_bytes.
ReadResult ReadSome(int fd, int timeout_ms, size_t max_bytes = 16 * 1024 * 1024) {
    ReadResult r;
    auto start = Clock::now();
    char buf[65536];
    while (r.data.size() < max_bytes) {
        long left = timeout_ms - ElapsedMs(start);
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(left));
        if (n <= 0) continue;
        ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got <= 0) {
            r.eof = true;
            break;
        }
        r.data.append(buf, static_cast<size_t>(got));
    }
    return r;
}

struct Reply {
    std::string raw;
    int status = -1;
    std::string head;
    std::string body;
};

Reply ParseReply(const std::string& raw) {
    Reply r;
    r.raw = raw;
    if (raw.rfind("HTTP/1.1 ", 0) == 0 && raw.size() >= 12) r.status = std::atoi(raw.c_str() + 9);
    size_t end = raw.find("\r\n\r\n");
    if (end != std::string::npos) {
        r.head = raw.substr(0, end + 2);
        r.body = raw.substr(end + 4);
    }
    return r;
}

std::string HeaderValue(const Reply& r, const std::string& name) {
    std::string key = "\r\n" + name + ": ";
    size_t p = r.head.find(key);
    if (p == std::string::npos) return "";
    p += key.size();
    return r.head.substr(p, r.head.find("\r\n", p) - p);
}

int g_port = -1;

Reply Exchange(const std::string& request, int timeout_ms = 3000) {
    int fd = Connect(g_port);
    if (fd < 0) return Reply{};
    SendAll(fd, request);
    ReadResult rr = ReadSome(fd, timeout_ms);
    close(fd);
    return ParseReply(rr.data);
}

std::string Get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

std::string Auth(const std::string& user, const std::string& pass) {
    return "Authorization: Basic " + Base64(user + ":" + pass) + "\r\n";
}

std::string Query(const std::string& host, const std::string& ip = "192.0.2.1") {
    return "action=edit&started=1&hostname=YES&host_id=" + host + "&myip=" + ip + "&wildcard=ON&mx=&backmx=OFF";
}

// The request exactly as the client writes it.
std::string Update(const std::string& query, const std::string& auth = Auth("alice", "secret"),
                   const std::string& prefix = "/nic/dyndns?") {
    return "GET " + prefix + query +
           " HTTP/1.1\r\n"
           "Host: members.vastrel.example\r\n" +
           auth +
           "Content-Type: application/x-www-form-urlencoded\r\n"
           "User-Agent: Vastrel/1.5.7\r\n"
           "\r\n";
}

std::vector<std::string> MarkersIn(const std::string& text) {
    std::vector<std::string> found;
    for (const char* m : kMarkers)
        if (text.find(m) != std::string::npos) found.push_back(m);
    return found;
}

// ------------------------------------------------------------ fixture

class UpdateServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/update_server_test.XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "";
        ASSERT_FALSE(dir_.empty());
        WriteFile(dir_ + "/accounts",
                  "# accounts for the test suite\n"
                  "\n"
                  "account alice secret home.example.com,Office.Example.NET,rec.example.com,"
                  "split.example.com,silent.example.com,close.example.com,slow.example.com,"
                  "late.example.com,huge.example.com,garbage.example.com,both.example.com "
                  "bad.example.com\n"
                  "account bob hunter2 bob.example.org\n"
                  "mode Silent.Example.Com silent\n"
                  "mode close.example.com close\n"
                  "mode slow.example.com slow\n"
                  "mode late.example.com late\n"
                  "mode huge.example.com huge\n"
                  "mode garbage.example.com garbage\n"
                  "mode both.example.com both\n");
        pid_ = Spawn({"--port", "0", "--port-file", dir_ + "/port", "--accounts", dir_ + "/accounts", "--account",
                      "carol:pw:carol.example.net", "--slow-ms", std::to_string(kSlowMs), "--lifetime", "120",
                      "--record", dir_ + "/record.log"},
                     dir_ + "/stdout", dir_ + "/stderr");
        g_port = WaitForPortFile(dir_ + "/port", pid_, 5000);
        ASSERT_GT(g_port, 0) << ReadFile(dir_ + "/stderr");
    }

    static void TearDownTestSuite() {
        KillAndReap(pid_);
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    void SetUp() override { ASSERT_GT(g_port, 0) << "server did not start"; }

    static std::string dir_;
    static pid_t pid_;
};

std::string UpdateServer::dir_;
pid_t UpdateServer::pid_ = -1;

// Every case must carry exactly one of the five key phrases, which is all the
// client looks at.
TEST_F(UpdateServer, UpdateAnswersFollowTheCheckOrder) {
    const std::string alice = Auth("alice", "secret");
    struct Case {
        const char* name;
        std::string request;
        int status;
        const char* marker;
    } cases[] = {
        {"owned host", Update(Query("home.example.com")), 200, "NOERROR"},
        {"host case differs from request", Update(Query("HOME.Example.COM")), 200, "NOERROR"},
        {"host case differs from accounts file", Update(Query("office.example.net")), 200, "NOERROR"},
        {"percent-encoded value", Update(Query("home%2Eexample.com", "192.0.2.%31")), 200, "NOERROR"},
        {"--account on command line", Update(Query("carol.example.net"), Auth("carol", "pw")), 200, "NOERROR"},
        {"proxy form", Update(Query("home.example.com"), alice, "http://members.vastrel.example/nic/dyndns?"), 200,
         "NOERROR"},
        {"proxy form, other host", Update(Query("home.example.com"), alice, "http://127.0.0.1:8245/nic/dyndns?"), 200,
         "NOERROR"},
        {"wrong password", Update(Query("home.example.com"), Auth("alice", "Secret")), 401,
         "401 Authorization Required"},
        {"no Authorization header", Update(Query("home.example.com"), ""), 401, "401 Authorization Required"},
        {"unknown user", Update(Query("home.example.com"), Auth("mallory", "secret")), 401,
         "401 Authorization Required"},
        {"undecodable credentials", Update(Query("home.example.com"), "Authorization: Basic !!!!\r\n"), 401,
         "401 Authorization Required"},
        {"credentials without colon",
         Update(Query("home.example.com"), "Authorization: Basic " + Base64("alicesecret") + "\r\n"), 401,
         "401 Authorization Required"},
        {"other auth scheme",
         Update(Query("home.example.com"), "Authorization: Digest " + Base64("alice:secret") + "\r\n"), 401,
         "401 Authorization Required"},
        {"auth checked before query", Update("action=bogus", Auth("bob", "nope")), 401, "401 Authorization Required"},
        {"blocked host", Update(Query("bad.example.com")), 200, "Hostname blocked due to abuse"},
        {"blocked host, other case", Update(Query("BAD.example.com")), 200, "Hostname blocked due to abuse"},
        {"another user's host", Update(Query("bob.example.org")), 200, "Invalid Hostname"},
        {"unknown host", Update(Query("nowhere.example.com")), 200, "Invalid Hostname"},
        {"query checked before ownership", Update(Query("bob.example.org", "300.1.1.1")), 200, "Bad Client Input"},
        {"query checked before block", Update(Query("bad.example.com", "1.2.3")), 200, "Bad Client Input"},
        {"action not edit", Update("action=delete&host_id=home.example.com&myip=192.0.2.1&wildcard=ON&backmx=OFF"), 200,
         "Bad Client Input"},
        {"no action", Update("host_id=home.example.com&myip=192.0.2.1&wildcard=ON&backmx=OFF"), 200,
         "Bad Client Input"},
        {"no host_id", Update("action=edit&myip=192.0.2.1&wildcard=ON&backmx=OFF"), 200, "Bad Client Input"},
        {"empty host_id", Update(Query("")), 200, "Bad Client Input"},
        {"host_id without dot", Update(Query("localhost")), 200, "Bad Client Input"},
        {"host_id starting with dot", Update(Query(".example.com")), 200, "Bad Client Input"},
        {"no myip", Update("action=edit&host_id=home.example.com&wildcard=ON&backmx=OFF"), 200, "Bad Client Input"},
        {"empty myip", Update(Query("home.example.com", "")), 200, "Bad Client Input"},
        {"octet over 255", Update(Query("home.example.com", "192.0.2.256")), 200, "Bad Client Input"},
        {"three octets", Update(Query("home.example.com", "192.0.2")), 200, "Bad Client Input"},
        {"five octets", Update(Query("home.example.com", "192.0.2.1.5")), 200, "Bad Client Input"},
        {"letters in myip", Update(Query("home.example.com", "192.0.2.x")), 200, "Bad Client Input"},
        {"empty octet", Update(Query("home.example.com", "192..2.1")), 200, "Bad Client Input"},
        {"wildcard not ON/OFF", Update("action=edit&host_id=home.example.com&myip=192.0.2.1&wildcard=MAYBE&backmx=OFF"),
         200, "Bad Client Input"},
        {"backmx not ON/OFF", Update("action=edit&host_id=home.example.com&myip=192.0.2.1&wildcard=OFF&backmx=YES"),
         200, "Bad Client Input"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Exchange(c.request);
        EXPECT_EQ(r.status, c.status) << r.raw;
        EXPECT_EQ(MarkersIn(r.body), std::vector<std::string>{c.marker}) << r.raw;
        EXPECT_EQ(HeaderValue(r, "Content-Length"), std::to_string(r.body.size()));
        EXPECT_EQ(HeaderValue(r, "Connection"), "close");
        EXPECT_EQ(HeaderValue(r, "Content-Type"), "text/html");
        if (c.status == 401) {
            EXPECT_EQ(HeaderValue(r, "WWW-Authenticate"), "Basic realm=\"Vastrel Members\"");
        }
    }
}

TEST_F(UpdateServer, NoerrorEchoesHostAndAddressAndRemembersIt) {
    Reply r = Exchange(Update(Query("home.example.com", "198.51.100.7")));
    EXPECT_NE(r.body.find("home.example.com"), std::string::npos) << r.raw;
    EXPECT_NE(r.body.find("198.51.100.7"), std::string::npos) << r.raw;
    EXPECT_EQ(Exchange(Get("/__last?host=HOME.example.com")).body, "198.51.100.7");
}

TEST_F(UpdateServer, NonProtocolRequestsGet400WithoutKeyPhrases) {
    struct Case {
        const char* name;
        std::string request;
    } cases[] = {
        {"POST", "POST /nic/dyndns?" + Query("home.example.com") + " HTTP/1.1\r\n" + Auth("alice", "secret") + "\r\n"},
        {"HEAD", "HEAD /Products/Vastrel/Version.html HTTP/1.1\r\n\r\n"},
        {"unknown path", Get("/nic/updater?" + Query("home.example.com"))},
        {"path with suffix", Get("/nic/dyndns/x?" + Query("home.example.com"))},
        {"key phrase in the path", Get("/NOERROR/Invalid%20Hostname?NOERROR")},
        {"key phrase in a POST", "POST /NOERROR HTTP/1.1\r\nX-Note: Bad Client Input\r\n\r\n"},
        {"not HTTP", "HELLO THERE\r\n\r\n"},
        {"other protocol", "GET /nic/dyndns FTP/1.0\r\n\r\n"},
        {"empty request line", "\r\n\r\n"},
        {"relative target", "GET nic/dyndns HTTP/1.1\r\n\r\n"},
        {"header without colon", "GET /nic/dyndns HTTP/1.1\r\nNoColonHere\r\n\r\n"},
        {"control bytes", std::string("GET /nic/\x01\xff HTTP/1.1\r\n\r\n")},
        {"NUL in request line", std::string("GET /\0 HTTP/1.1\r\n\r\n", 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Exchange(c.request);
        EXPECT_EQ(r.status, 400) << r.raw;
        EXPECT_TRUE(MarkersIn(r.raw).empty()) << r.raw;
        EXPECT_EQ(HeaderValue(r, "Content-Length"), std::to_string(r.body.size()));
    }
}

TEST_F(UpdateServer, VersionFileDefaultAndControlledBody) {
    const std::string def = "<html><body>VERSION:1.5.7 </body></html>";
    for (const char* target :
         {"/Products/Vastrel/Version.html", "http://www.brannock.example/Products/Vastrel/Version.html"}) {
        SCOPED_TRACE(target);
        Reply r = Exchange(Get(target));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, def);
    }
    struct Case {
        const char* encoded;
        std::string body;
    } cases[] = {
        {"VERSION:1.6%0D%0Aabc%20def", "VERSION:1.6\r\nabc def"},
        {"VERSION:%20", "VERSION: "},
        {"no%20version%20here", "no version here"},
        {"VERSION:2.0", "VERSION:2.0"},
        {"", ""},
        {"a%26b%3Dc%25", "a&b=c%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoded);
        EXPECT_EQ(Exchange(Get(std::string("/__control/version?body=") + c.encoded)).body, "ok");
        Reply r = Exchange(Get("/Products/Vastrel/Version.html"));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(HeaderValue(r, "Content-Length"), std::to_string(c.body.size()));
    }
    EXPECT_EQ(Exchange(Get("/__control/version?reset=1")).body, "ok");
    EXPECT_EQ(Exchange(Get("/Products/Vastrel/Version.html")).body, def);
}

TEST_F(UpdateServer, SilentModeHoldsOnlyItsOwnConnection) {
    const std::string before = Exchange(Get("/__count?host=silent.example.com")).body;
    int quiet = Connect(g_port);
    ASSERT_GE(quiet, 0);
    ASSERT_TRUE(SendAll(quiet, Update(Query("silent.example.com"))));

    // Another client is served while the silent one waits.
    Reply other = Exchange(Update(Query("home.example.com")), 2000);
    EXPECT_EQ(MarkersIn(other.body), std::vector<std::string>{"NOERROR"});

    ReadResult rr = ReadSome(quiet, 300);
    EXPECT_TRUE(rr.data.empty()) << rr.data;
    EXPECT_FALSE(rr.eof);
    close(quiet);
    EXPECT_EQ(std::stoi(Exchange(Get("/__count?host=silent.example.com")).body), std::stoi(before) + 1);
}

TEST_F(UpdateServer, CloseModeClosesWithoutAByte) {
    int fd = Connect(g_port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Update(Query("close.example.com"))));
    ReadResult rr = ReadSome(fd, 2000);
    close(fd);
    EXPECT_TRUE(rr.eof);
    EXPECT_EQ(rr.data.size(), 0u);
}

TEST_F(UpdateServer, LateModePutsTheOutcomePastTheFirstKilobyte) {
    struct Case {
        const char* name;
        std::string request;
        const char* marker;
    } cases[] = {
        {"good update", Update(Query("late.example.com")), "NOERROR"},
        {"wrong password", Update(Query("late.example.com"), Auth("alice", "x")), "401 Authorization Required"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Exchange(c.request);
        EXPECT_EQ(r.status, 200);
        ASSERT_GT(r.raw.size(), 1200u);
        EXPECT_TRUE(MarkersIn(r.raw.substr(0, 1200)).empty()) << r.raw.substr(0, 1200);
        EXPECT_EQ(MarkersIn(r.raw), std::vector<std::string>{c.marker});
        EXPECT_EQ(HeaderValue(r, "Content-Length"), std::to_string(r.body.size()));
    }
}

TEST_F(UpdateServer, HugeModeSendsMegabytesAndSurvivesAnEarlyHangUp) {
    Reply full = Exchange(Update(Query("huge.example.com")), 10000);
    EXPECT_EQ(full.status, 200);
    EXPECT_GT(full.raw.size(), 4u * 1024 * 1024);
    EXPECT_EQ(HeaderValue(full, "Content-Length"), std::to_string(full.body.size()));
    size_t at = full.raw.find("NOERROR");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, 1024u * 1024);

    // A client that reads a little and hangs up must not hurt the server.
    int fd = Connect(g_port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Update(Query("huge.example.com"))));
    ReadResult part = ReadSome(fd, 5000, 1024 * 1024 + 1);
    EXPECT_GT(part.data.size(), 1024u * 1024);
    close(fd);
    EXPECT_EQ(MarkersIn(Exchange(Update(Query("home.example.com"))).body), std::vector<std::string>{"NOERROR"});
}

TEST_F(UpdateServer, SlowModeSpreadsTheAnswerOverSlowMs) {
    int fd = Connect(g_port);
    ASSERT_GE(fd, 0);
    auto start = Clock::now();
    ASSERT_TRUE(SendAll(fd, Update(Query("slow.example.com"))));
    ReadResult first = ReadSome(fd, 5000, 1);
    long first_ms = ElapsedMs(start);
    ReadResult rest = ReadSome(fd, 5000);
    long total_ms = ElapsedMs(start);
    close(fd);
    Reply r = ParseReply(first.data + rest.data);
    EXPECT_GE(first_ms, kSlowMs * 4 / 10);
    EXPECT_GE(total_ms, kSlowMs * 8 / 10);
    EXPECT_TRUE(rest.eof);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(MarkersIn(r.body), std::vector<std::string>{"NOERROR"});
}

TEST_F(UpdateServer, GarbageAndBothModes) {
    Reply g = Exchange(Update(Query("garbage.example.com")));
    EXPECT_EQ(g.status, 500);
    EXPECT_TRUE(MarkersIn(g.raw).empty()) << g.raw;

    Reply b = Exchange(Update(Query("both.example.com")));
    EXPECT_EQ(b.status, 200);
    EXPECT_EQ(MarkersIn(b.body), (std::vector<std::string>{"NOERROR", "Bad Client Input"}));
}

// The check-IP service at "/": the address in the common form, and each
// mode the client must cope with. Every question is counted.
TEST_F(UpdateServer, CheckIpAnswersInEachMode) {
    struct Restore {
        ~Restore() { Exchange(Get("/__control/checkip?reset=1")); }
    } restore;
    const std::string found = "Current IP Address: ";
    const std::string direct = Get("/"), proxy = Get("http://checkip.vastrel.example/");
    const int before = std::stoi(Exchange(Get("/__count?checkip=1")).body);
    struct Case {
        const char* control;  // query of /__control/checkip
        int status;
        std::string address;  // named after "Current IP Address: ", "" for none
    } cases[] = {
        {"reset=1", 200, "203.0.113.7"},
        {"mode=private", 200, "192.168.1.20"},
        {"mode=normal&address=0.0.0.0", 200, "0.0.0.0"},
        {"address=198.51.100.23", 200, "198.51.100.23"},
        {"mode=garbage", 500, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ASSERT_EQ(Exchange(Get(std::string("/__control/checkip?") + c.control)).body, "ok");
        for (const std::string& request : {direct, proxy}) {
            Reply r = Exchange(request);
            EXPECT_EQ(r.status, c.status) << r.raw;
            if (c.address.empty())
                EXPECT_EQ(r.raw.find(found), std::string::npos) << r.raw;
            else
                EXPECT_NE(r.body.find(found + c.address + "<"), std::string::npos) << r.raw;
        }
    }
    EXPECT_EQ(Exchange(Get("/__control/checkip?mode=bogus")).status, 400);
    EXPECT_EQ(Exchange(Get("/__control/checkip")).status, 400);

    // Silent: the question is read, no byte comes back, the connection stays.
    ASSERT_EQ(Exchange(Get("/__control/checkip?mode=silent")).body, "ok");
    int quiet = Connect(g_port);
    ASSERT_GE(quiet, 0);
    ASSERT_TRUE(SendAll(quiet, direct));
    ReadResult none = ReadSome(quiet, 300);
    EXPECT_TRUE(none.data.empty()) << none.data;
    EXPECT_FALSE(none.eof);
    close(quiet);

    // Slow: the whole answer, at once, after --slow-ms.
    ASSERT_EQ(Exchange(Get("/__control/checkip?mode=slow")).body, "ok");
    int fd = Connect(g_port);
    ASSERT_GE(fd, 0);
    auto start = Clock::now();
    ASSERT_TRUE(SendAll(fd, direct));
    ReadResult first = ReadSome(fd, 5000, 1);
    long first_ms = ElapsedMs(start);
    Reply slow = ParseReply(first.data + ReadSome(fd, 2000).data);
    close(fd);
    EXPECT_GE(first_ms, kSlowMs * 9 / 10);
    EXPECT_NE(slow.body.find(found + "203.0.113.7<"), std::string::npos) << slow.raw;

    EXPECT_EQ(std::stoi(Exchange(Get("/__count?checkip=1")).body), before + 12);
    EXPECT_EQ(Exchange(Get("/__count?host=checkip.vastrel.example")).body, "0");  // no update request
}

TEST_F(UpdateServer, GlobalModeFromControlCoversVersionFileButNotPerHostModes) {
    struct Restore {
        ~Restore() { Exchange(Get("/__control/mode?value=normal")); }
    } restore;
    EXPECT_EQ(Exchange(Get("/__control/mode?value=bogus")).status, 400);
    ASSERT_EQ(Exchange(Get("/__control/mode?value=garbage")).body, "ok");

    Reply v = Exchange(Get("/Products/Vastrel/Version.html"));
    EXPECT_EQ(v.status, 500);
    EXPECT_EQ(v.raw.find("VERSION:"), std::string::npos);
    Reply u = Exchange(Update(Query("home.example.com")));
    EXPECT_EQ(u.status, 500);
    EXPECT_TRUE(MarkersIn(u.raw).empty());
    EXPECT_EQ(MarkersIn(Exchange(Update(Query("both.example.com"))).body),
              (std::vector<std::string>{"NOERROR", "Bad Client Input"}));

    ASSERT_EQ(Exchange(Get("/__control/mode?value=late")).body, "ok");
    Reply lv = Exchange(Get("/Products/Vastrel/Version.html"));
    size_t at = lv.raw.find("VERSION:1.5.7 ");
    EXPECT_NE(at, std::string::npos);
    EXPECT_GT(at, 1024u);

    ASSERT_EQ(Exchange(Get("/__control/mode?value=normal")).body, "ok");
    EXPECT_EQ(Exchange(Get("/Products/Vastrel/Version.html")).status, 200);
}

TEST_F(UpdateServer, RecordsComeBackByteForByte) {
    // Odd but legal bytes, so a re-serialised copy would not match.
    const std::string one = Update(Query("rec.example.com", "10.0.0.1"));
    const std::string two = "GET /nic/dyndns?" + Query("REC.example.com", "10.0.0.2") +
                            " HTTP/1.0\r\nX-Odd:\t tabbed  \r\n" + Auth("alice", "secret") + "\r\n";
    const std::string mismatch = Update(Query("rec.example.com"), Auth("alice", "wrong"));
    for (const std::string& req : {one, two, mismatch}) Exchange(req);

    auto entry = [](const std::string& raw) {
        return "=== " + std::to_string(raw.size()) + " bytes\r\n" + raw + "\r\n";
    };
    Reply dump = Exchange(Get("/__requests?host=Rec.Example.Com"));
    EXPECT_EQ(dump.status, 200);
    EXPECT_EQ(dump.body, entry(one) + entry(two) + entry(mismatch));
    EXPECT_EQ(Exchange(Get("/__count?host=rec.example.com")).body, "3");
    EXPECT_EQ(Exchange(Get("/__count?host=never.example.com")).body, "0");

    // The unfiltered dump has version requests too, but never control ones.
    const std::string ver = Get("/Products/Vastrel/Version.html");
    Exchange(ver);
    std::string all = Exchange(Get("/__requests")).body;
    EXPECT_NE(all.find(entry(one) + entry(two) + entry(mismatch)), std::string::npos);
    EXPECT_NE(all.find(entry(ver)), std::string::npos);
    EXPECT_EQ(all.find("/__count"), std::string::npos);

    std::string log = ReadFile(dir_ + "/record.log");
    EXPECT_NE(log.find("=== " + std::to_string(two.size()) + " bytes from 127.0.0.1\n" + two + "\n"),
              std::string::npos);
}

TEST_F(UpdateServer, RequestSplitOverManyWritesIsReassembled) {
    const std::string req = Update(Query("split.example.com"));
    // A stalled partial request must not hold up anyone else.
    int stalled = Connect(g_port);
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(SendAll(stalled, req.substr(0, 20)));

    int fd = Connect(g_port);
    ASSERT_GE(fd, 0);
    // Cut inside the request line, a header, and the final CRLF CRLF.
    const size_t cuts[] = {0, 7, 60, req.size() - 3, req.size() - 1, req.size()};
    for (size_t i = 0; i + 1 < sizeof cuts / sizeof cuts[0]; ++i) {
        ASSERT_TRUE(SendAll(fd, req.substr(cuts[i], cuts[i + 1] - cuts[i])));
        std::this_thread::sleep_for(milliseconds(30));
    }
    Reply r = ParseReply(ReadSome(fd, 3000).data);
    close(fd);
    close(stalled);
    EXPECT_EQ(MarkersIn(r.body), std::vector<std::string>{"NOERROR"});
    EXPECT_EQ(Exchange(Get("/__requests?host=split.example.com")).body,
              "=== " + std::to_string(req.size()) + " bytes\r\n" + req + "\r\n");
}

TEST_F(UpdateServer, OversizedRequestGets400) {
    struct Case {
        const char* name;
        std::string request;
    } cases[] = {
        {"huge header, terminated", "GET /nic/dyndns HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n"},
        {"no terminator at all", "GET /nic/dyndns?" + std::string(17000, 'b')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Exchange(c.request);
        EXPECT_EQ(r.status, 400);
        EXPECT_TRUE(MarkersIn(r.raw).empty());
    }
    EXPECT_EQ(MarkersIn(Exchange(Update(Query("home.example.com"))).body), std::vector<std::string>{"NOERROR"});
}

// ------------------------------------------------------------ process-level behaviour

class ScratchDir {
public:
    ScratchDir() {
        char tmpl[] = "/tmp/update_server_test.XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~ScratchDir() {
        if (!path.empty()) fs::remove_all(path);
    }
    std::string path;
};

TEST(UpdateServerProcess, LifetimeEndsTheServerEvenWithAnOpenConnection) {
    ScratchDir d;
    ASSERT_FALSE(d.path.empty());
    auto start = Clock::now();
    pid_t pid = Spawn({"--lifetime", "1", "--mode", "silent", "--port-file", d.path + "/port"}, d.path + "/out",
                      d.path + "/err");
    int port = WaitForPortFile(d.path + "/port", pid, 5000);
    ASSERT_GT(port, 0);
    EXPECT_NE(ReadFile(d.path + "/out").find("listening on 127.0.0.1:" + std::to_string(port) + "\n"),
              std::string::npos);
    int fd = Connect(port);
    ASSERT_GE(fd, 0);
    SendAll(fd, Get("/Products/Vastrel/Version.html"));  // held open by silent mode

    int status = WaitFor(pid, 4000);
    if (status == -1) KillAndReap(pid);
    ASSERT_NE(status, -1) << "server outlived --lifetime";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GE(ElapsedMs(start), 900);
    ReadResult rr = ReadSome(fd, 1000);
    EXPECT_TRUE(rr.eof);
    EXPECT_TRUE(rr.data.empty());
    close(fd);
}

TEST(UpdateServerProcess, QuitEndpointStopsTheServer) {
    ScratchDir d;
    ASSERT_FALSE(d.path.empty());
    pid_t pid = Spawn({"--port-file", d.path + "/port", "--lifetime", "30"}, d.path + "/out", d.path + "/err");
    int port = WaitForPortFile(d.path + "/port", pid, 5000);
    ASSERT_GT(port, 0);
    int fd = Connect(port);
    ASSERT_GE(fd, 0);
    SendAll(fd, Get("/__control/quit"));
    Reply r = ParseReply(ReadSome(fd, 2000).data);
    close(fd);
    EXPECT_EQ(r.body, "ok");
    int status = WaitFor(pid, 4000);
    if (status == -1) KillAndReap(pid);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(UpdateServerProcess, BadConfigurationExitsWith2AndSaysWhere) {
    ScratchDir d;
    ASSERT_FALSE(d.path.empty());
    WriteFile(d.path + "/unknown", "# fine\naccount a b c.example\nfrobnicate x\n");
    WriteFile(d.path + "/short", "account onlyuser\n");
    WriteFile(d.path + "/mode", "\n\nmode h.example sideways\n");
    WriteFile(d.path + "/dup", "account a b c.example\naccount a d e.example\n");
    WriteFile(d.path + "/hosts", "account a b c.example,,d.example\n");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* expect;  // in stderr
    } cases[] = {
        {"unknown directive", {"--accounts", d.path + "/unknown"}, "unknown:3:"},
        {"short account line", {"--accounts", d.path + "/short"}, "short:1:"},
        {"unknown mode in file", {"--accounts", d.path + "/mode"}, "mode:3:"},
        {"duplicate account", {"--accounts", d.path + "/dup"}, "dup:2:"},
        {"empty host in list", {"--accounts", d.path + "/hosts"}, "hosts:1:"},
        {"missing accounts file", {"--accounts", d.path + "/absent"}, "absent"},
        {"unknown option", {"--frobnicate"}, "--frobnicate"},
        {"port not a number", {"--port", "http"}, "--port"},
        {"port too big", {"--port", "65536"}, "--port"},
        {"missing value", {"--slow-ms"}, "--slow-ms"},
        {"unknown mode", {"--mode", "sideways"}, "--mode"},
        {"zero lifetime", {"--lifetime", "0"}, "--lifetime"},
        {"bad --account", {"--account", "user-only"}, "--account"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pid_t pid = Spawn(c.args, d.path + "/out", d.path + "/err");
        int status = WaitFor(pid, 3000);
        if (status == -1) KillAndReap(pid);
        ASSERT_NE(status, -1);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2);
        EXPECT_NE(ReadFile(d.path + "/err").find(c.expect), std::string::npos) << ReadFile(d.path + "/err");
    }
}

}  // namespace
