// Updates over HTTPS against the reference server's TLS listeners, directly
// and through its proxy: the same exchange and log lines as over HTTP, a
// certificate that does not fit refused with its own line, nothing sent;
// and the catalogue's services, reached by their own names.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "log/log.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "test_support.h"
#include "update/address6.h"
#include "update/connection.h"
#include "update/request.h"
#include "update/secure_channel.h"
#include "update/services.h"
#include "update/transaction.h"

TEST(SecureChannel, PortAndTunnelAnswerRules) {
    const std::pair<std::int32_t, std::uint16_t> ports[] = {{80, 443}, {65616, 443}, {8443, 8443}, {443, 443}, {0, 0}};
    for (auto& p : ports) EXPECT_EQ(SecurePort(p.first), p.second) << p.first;
    const std::pair<const char*, bool> answers[] = {
        {"HTTP/1.1 200 Connection established", true},
        {"HTTP/1.0 200 OK", true},
        {"HTTP/1.1 204", true},
        {"HTTP/1.1 407 Proxy Authentication Required", false},
        {"HTTP/1.1 502 Bad Gateway", false},
        {"HTTP/1.1 2000", false},
        {"HTTP/1.1 20", false},
        {"HTTP/2 200", false},
        {"SSH-2.0-OpenSSH", false},
        {"", false},
    };
    for (auto& a : answers) EXPECT_EQ(TunnelAccepted(a.first), a.second) << a.first;
}

namespace {
constexpr std::int64_t Now = 1790000000;

class SecureUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        if (!ServerPort() || !TlsTestPort("valid")) GTEST_SKIP() << "needs the reference server's TLS listeners";
        if (!TestAuthorityTrusted()) GTEST_SKIP() << "this system does not trust the test authority";
        InjectInterfaces({{0, Address("192.0.2.1")}});
        FixClock(Now);
        Preferences.UseHTTPS = 1;
    }
    void TearDown() override {
        RestoreInterfaces();
        RestoreClock();
    }
    static void Through(bool proxy, int tlsPort) {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.PortNumber = tlsPort;
        Preferences.UseProxy = proxy ? 1 : 0;
        CopyText(Preferences.ProxyServer, "127.0.0.1");
        Preferences.ProxyPort = ServerPort();
    }
    static std::string Full(const Account& a) { return std::string(a.HostName) + "." + ServerTable[a.Server].Domain; }
};

Account ServiceAccount(int service, const char* host, const char* user, const char* password) {
    Account a = MakeAccount(host, -1, "", "");
    a.Service = service;
    CopyText(a.ServiceUserName, user);
    CopyText(a.ServicePassword, password);
    return a;
}
}  // namespace

TEST_F(SecureUpdateTest, UpdateGoesThroughTheCheckedChannelDirectAndThroughTheProxy) {
    const std::string host = ServerTable[0].UpdateHost, domain = ServerTable[0].Domain;
    const std::string port = std::to_string(TlsTestPort("valid"));
    for (bool proxy : {false, true}) {
        SCOPED_TRACE(proxy ? "through the proxy" : "direct");
        Through(proxy, TlsTestPort("valid"));
        ServerGet("/__control/clear");
        Account a = MakeAccount("home", 0, "alice", "secret");
        LogCapture log(true);
        ASSERT_EQ(UpdateAccount(a, Manual), 0);
        EXPECT_EQ(a.LastIP, Address("192.0.2.1"));

        char request[TransferBufferSize];
        BuildUpdateRequest(a, request, sizeof request);
        EXPECT_EQ(std::string(request).rfind("GET /nic/dyndns?", 0), 0u);  // a tunnel takes the direct form
        std::vector<std::string> expected = {FileOnly("Remote host address OK. Connecting...")};
        if (proxy) expected.push_back(FileOnly("Opening a tunnel through the proxy to " + host + ":" + port));
        if (proxy) expected.push_back(FileOnly("Tunnel opened."));
        expected.push_back(FileOnly("Securing the connection with " + host));
        expected.push_back("");  // the protocol differs between the platforms
        expected.push_back("   Connected. Sending update request...");
        expected.push_back(FileOnly("Request sent to server: " + MaskSecrets(request)));
        expected.push_back("   Sent. Waiting for response...");
        std::vector<std::string> lines = log.Lines();
        std::size_t at = 0;
        while (at < lines.size() && lines[at] != expected[0]) ++at;
        ASSERT_LE(at + expected.size() + 4, lines.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (expected[i].empty())
                EXPECT_NE(lines[at + i].find("), certificate of " + host + " verified."), std::string::npos)
                    << lines[at + i];
            else
                EXPECT_EQ(lines[at + i], expected[i]);
        }
        at += expected.size();
        EXPECT_EQ(lines[at].rfind(FileOnly("Received from server: HTTP/1.1 200 OK"), 0), 0u);
        EXPECT_EQ(lines[at + 1], "DNS update successful!");
        EXPECT_EQ(lines[at + 2], FileOnly("Socket closed."));

        // The server got exactly the logged request, and the proxy its CONNECT.
        EXPECT_NE(ServerGet("/__requests?host=home." + domain).find(request), std::string::npos);
        const std::string connect =
            "CONNECT " + host + ":" + port + " HTTP/1.1\r\nHost: " + host + ":" + port + "\r\n\r\n";
        EXPECT_EQ(ServerGet("/__requests").find(connect) != std::string::npos, proxy);
    }
}

TEST_F(SecureUpdateTest, RepliesAreReadOnceAndClassifiedAsOverHttp) {
    Through(false, TlsTestPort("valid"));
    struct Case {
        const char *host, *password;
        bool refused;  // the account is disabled
        const char* line;
    } cases[] = {
        {"office", "wrong", true, "*** Authorization failed! Wrong or missing user credentials?"},
        {"late", "secret", false, "*** Unknown error occurred!"},  // NOERROR past the first 1024 decrypted bytes
        {"slow", "secret", false, "*** Unknown error occurred!"},  // arrives after the first receive
        {"split", "secret", false, "DNS update successful!"},      // headers and body in two records
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        Account a = MakeAccount(c.host, 0, "alice", c.password);
        LogCapture log(true);
        EXPECT_EQ(UpdateAccount(a, Timer), c.line[0] == '*' ? -1 : 0);
        EXPECT_EQ(a.Update, c.refused ? 0 : 1);
        std::vector<std::string> lines = log.Lines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[lines.size() - 3], c.line);
        EXPECT_EQ(lines[lines.size() - 4].rfind(FileOnly("Received from server: HTTP/1.1 "), 0), 0u);
        const std::string& reply = lines[lines.size() - 4];  // a line break grows by at most five: CR and the indent
        EXPECT_LE(reply.size() - 5 * std::count(reply.begin(), reply.end(), '\n'),
                  FileOnly("Received from server: ").size() + 1024);
    }
}

TEST_F(SecureUpdateTest, RefusedChannelsSendNothingAndKeepTheAccount) {
    NetworkTimeoutMs = 1000;
    const std::string host = ServerTable[0].UpdateHost;
    int closedPort;
    {
        TestListener probe;  // nobody listens there once it is closed
        closedPort = probe.Port();
    }
    struct Case {
        const char* name;
        int port;
        bool proxyOnly;
        std::string line;  // the failure line, or its beginning when it ends in a number
        bool costsTheLimit;
    } cases[] = {
        {"wrong name", TlsTestPort("wrong-name"), false,
         "*** Request failed, the server's certificate is not valid for " + host + "!", false},
        {"expired", TlsTestPort("expired"), false,
         "*** Request failed, the server's certificate has expired or is not yet valid!", false},
        {"unknown authority", TlsTestPort("unknown-authority"), false,
         "*** Request failed, the server's certificate is not from a trusted authority!", false},
        {"plain HTTP server", ServerPort(), false, "*** Request failed, the server answered without TLS!", false},
        {"stalled handshake", TlsTestPort("stall"), false,
         "*** Request failed, secure connection could not be established! (winsock error: ", true},
        {"proxy refusal", closedPort, true,
         "*** Request failed, the proxy refused the tunnel: HTTP/1.1 502 Bad Gateway", false},
    };
    for (const Case& c : cases) {
        for (bool proxy : {false, true}) {
            if (c.proxyOnly && !proxy) continue;
            SCOPED_TRACE(std::string(c.name) + (proxy ? ", through the proxy" : ", direct"));
            Through(proxy, c.port);
            Account a = MakeAccount("home", 0, "alice", "secret");
            const int before = ServerRequestCount(Full(a));
            LogCapture log(true);
            auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(UpdateAccount(a, Timer), -1);
            auto took = std::chrono::steady_clock::now() - start;
            EXPECT_EQ(a.Update, 1);  // the next run tries again
            EXPECT_EQ(a.LastIP, 0u);
            EXPECT_EQ(ServerRequestCount(Full(a)), before);
            std::vector<std::string> lines = log.Lines();
            ASSERT_GE(lines.size(), 3u);
            const std::string& failure = lines[lines.size() - 3];
            EXPECT_EQ(failure.rfind(c.line, 0), 0u) << failure;
            EXPECT_EQ(TakeLastFailure().find("Bad Gateway"), std::string::npos);  // a notice names the code alone
            EXPECT_EQ(lines[lines.size() - 2], FileOnly("Socket closed."));
            if (c.costsTheLimit) {
                EXPECT_EQ(failure.find(" 0 )"), std::string::npos) << failure;
                EXPECT_GE(took, std::chrono::milliseconds(900));
                EXPECT_LT(took, std::chrono::seconds(10));
            } else {
                EXPECT_LT(took, std::chrono::milliseconds(NetworkTimeoutMs));  // refused, not timed out
            }
        }
    }
}

#ifdef _WIN32
#define SECURITY_WIN32
#include <windows.h>
#include <security.h>

namespace {
// Windows answers SEC_I_INCOMPLETE_CREDENTIALS when the server asks for a
// client certificate; Wine's Schannel never does, so the test gives that
// answer once in its place, in SSPI's table of functions.
INITIALIZE_SECURITY_CONTEXT_FN_A realInitialize;
bool certificateAsked = false;
SECURITY_STATUS SEC_ENTRY AskForCertificate(PCredHandle a, PCtxtHandle context, SEC_CHAR* c, ULONG d, ULONG e, ULONG f,
                                            PSecBufferDesc input, ULONG h, PCtxtHandle i, PSecBufferDesc j, PULONG k,
                                            PTimeStamp l) {
    if (!context || !input || certificateAsked) return realInitialize(a, context, c, d, e, f, input, h, i, j, k, l);
    certificateAsked = true;
    return SEC_I_INCOMPLETE_CREDENTIALS;
}

}  // namespace

TEST_F(SecureUpdateTest, AServerAskingForAClientCertificateGetsNoneAndTheUpdateGoesThrough) {
    // The channel calls SSPI through the table SECUR32 hands out, which is one per process.
    auto initialize = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("secur32.dll"), "InitSecurityInterfaceA")));
    ASSERT_NE(initialize, nullptr);
    PSecurityFunctionTableA table = initialize();
    DWORD access;
    VirtualProtect(&table->InitializeSecurityContextA, sizeof(void*), PAGE_READWRITE, &access);
    realInitialize = table->InitializeSecurityContextA;
    table->InitializeSecurityContextA = AskForCertificate;
    Through(false, TlsTestPort("valid"));
    Account a = MakeAccount("home", 0, "alice", "secret");
    const int result = UpdateAccount(a, Timer);
    table->InitializeSecurityContextA = realInitialize;
    EXPECT_TRUE(certificateAsked);
    EXPECT_EQ(result, 0);  // not a stall until the time limit
}
#endif

// The catalogue's services over TLS, through the proxy to their own names:
// the reply, however it arrives, judged into the account, its wait and the log.
TEST_F(SecureUpdateTest, ServiceRepliesAreJudgedIntoTheAccountItsWaitAndTheLog) {
    Through(true, TlsTestPort("valid"));
    enum { NoIP = 1, DuckDNS, Cloudflare, Dynu, FreeDNS, Namecheap, deSEC, HE, Other, DnsOMatic, Ovh, SpDyn, NsUpdate, Dynv6, Porkbun, Gandi, Ocean, Hetzner };
    const std::string other = "http://127.0.0.1:" + std::to_string(ServerPort()) + "/nic/update";
    struct Case {
        int service;
        const char *host, *user, *password, *serverMode;
        UpdateMode mode;
        int result, update, wait;  // wait: RetryAt - now, -1 unchanged
        bool registered;           // LastIP set
        const char* line;          // a line of the log
        const char* request;       // the start of the last request's line
    } cases[] = {
        {NoIP, "home.ddns.net", "carol", "carol-secret", "normal", Manual, 0, 1, 0, true, "DNS update successful!",
         "GET /nic/update?hostname=home.ddns.net&myip=192.0.2.1 "},
        {NoIP, "home.ddns.net", "carol", "carol-secret", "normal", Forced, 0, 1, 0, true, "\"nochg\"", nullptr},
        {NoIP, "home.ddns.net", "carol", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {NoIP, "wait.ddns.net", "carol", "carol-secret", "911", Manual, -1, 1, 1800, false, "\"911\"", nullptr},
        {NoIP, "wait.ddns.net", "carol", "carol-secret", "normal", Manual, -1, 1, 1800, false,
         "wait.ddns.net waits as No-IP asked: not sent again before", nullptr},
        {NoIP, "wait.ddns.net", "carol", "carol-secret", "normal", Forced, 0, 1, 0, true, "DNS update successful!",
         nullptr},
        {deSEC, "desec.dedyn.io", "carol", "wrong", "status-only", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {deSEC, "gone.dedyn.io", "carol", "carol-secret", "status-only", Manual, -1, 0, -1, false,
         "*** Host not owned by you!", "GET /nic/update?hostname=gone.dedyn.io&myipv4=192.0.2.1&myipv6=preserve "},
        {Dynu, "busy.ddns.net", "carol", "carol-secret", "throttle", Manual, -1, 1, 120, false, "(HTTP 429)", nullptr},
        {HE, "slow.ddns.net", "carol", "carol-secret", "interval", Manual, -1, 1, 600, false, "\"interval\"", nullptr},
        {HE, "down.ddns.net", "carol", "carol-secret", "unavailable", Manual, -1, 1, 600, false, "HTTP 503", nullptr},
        {HE, "busy.ddns.net", "carol", "carol-secret", "unavailable-until", Manual, -1, 1, 86400, false, "HTTP 503",
         nullptr},  // a date weeks ahead waits a day at most
        {NoIP, "split.ddns.net", "carol", "carol-secret", "continue", Forced, 0, 1, 0, true, "DNS update successful!",
         nullptr},
        {Dynu, "home.ddns.net", "carol", "carol-secret", "normal", Forced, 0, 1, 0, true, "DNS update successful!",
         "GET /nic/update?hostname=home.ddns.net&myip=192.0.2.1&myipv6=no "},
        {NoIP, "chunk.ddns.net", "carol", "carol-secret", "chunked", Manual, 0, 1, 0, true, "DNS update successful!",
         nullptr},
        {NoIP, "long.ddns.net", "carol", "carol-secret", "long", Manual, 0, 1, 0, true, "DNS update successful!",
         nullptr},
        {NoIP, "split.ddns.net", "carol", "carol-secret", "split", Manual, 0, 1, 0, true, "DNS update successful!",
         nullptr},
        {DuckDNS, "mine", "", "duck-token-0123", "normal", Manual, 0, 1, 0, true, "DNS update successful!",
         "GET /update?domains=mine&token=duck-token-0123&ip=192.0.2.1 "},
        {DuckDNS, "mine.duckdns.org", "", "wrong", "normal", Manual, -1, 0, -1, false, "(\"KO\")", nullptr},
        {FreeDNS, "free.mooo.com", "", "freedns-token-0123", "normal", Manual, 0, 1, 0, true, "DNS update successful!",
         "GET /dynamic/update.php?freedns-token-0123&address=192.0.2.1 "},
        {Namecheap, "www.shop.example", "", "nc-password-0123", "normal", Manual, 0, 1, 0, true,
         "DNS update successful!", "GET /update?host=www&domain=shop.example&password=nc-password-0123&ip=192.0.2.1 "},
        {Namecheap, "www.shop.example", "", "wrong", "normal", Manual, -1, 0, -1, false, "Passwords do not match",
         nullptr},
        {Namecheap, "www.example.co.uk", "example.co.uk", "nc-password-0123", "normal", Manual, 0, 1, 0, true,
         "DNS update successful!", "GET /update?host=www&domain=example.co.uk&password=nc-password-0123&ip=192.0.2.1 "},
        {Namecheap, "www.example.co.uk", "example.com", "nc-password-0123", "normal", Manual, -1, 1, -1, false,
         "*** Account www.example.co.uk is not within its domain example.com and was not updated!", nullptr},
        {Cloudflare, "home.cloud.example", "", "cf-token-0123", "normal", Manual, 0, 1, 0, true,
         "DNS update successful!", "PATCH /client/v4/zones/"},
        {Cloudflare, "home.cloud.example", "cloud.example", "cf-token-0123", "normal", Forced, 0, 1, 0, true,
         "DNS update successful!", "PATCH /client/v4/zones/"},
        {Cloudflare, "other.cloud.example", "", "cf-token-0123", "normal", Manual, -1, 0, -1, false,
         "*** Cloudflare has no A record named other.cloud.example: create it in the zone first.",
         "GET /client/v4/zones/"},
        {Cloudflare, "home.cloud.example", "", "cf-token-0123", "duplicate", Forced, -1, 0, -1, false,
         "*** Cloudflare has 2 A records named home.cloud.example; keep one of them. Nothing was changed.", nullptr},
        {Cloudflare, "home.cloud.example", "", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {Other, "home.ddns.net", "carol", "carol-secret", "normal", Forced, 0, 1, 0, true, "DNS update successful!",
         "GET http://127.0.0.1:"},
        {DnsOMatic, "dynu.ddns.net", "carol", "carol-secret", "normal", Manual, 0, 1, 0, true, "DNS update successful!",
         "GET /nic/update?hostname=dynu.ddns.net&myip=192.0.2.1 "},
        {Ovh, "long.ddns.net", "carol", "carol-secret", "normal", Forced, 0, 1, 0, true, "DNS update successful!",
         "GET /nic/update?system=dyndns&hostname=long.ddns.net&myip=192.0.2.1 "},
        {SpDyn, "home.ddns.net", "", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {Dynv6, "home.dynv6.net", "", "dynv6-token-0123", "normal", Forced, 0, 1, 0, true, "DNS update successful!",
         "GET /api/update?hostname=home.dynv6.net&token=dynv6-token-0123&ipv4=192.0.2.1 "},
        {Dynv6, "home.dynv6.net", "", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {Porkbun, "www.pork.example", "pork.example", "sk1_porkbun-secret", "normal", Forced, 0, 1, 0, true,
         "DNS update successful!", "POST /api/json/v3/dns/editByNameType/pork.example/A/www "},
        {Porkbun, "pork.example", "pork.example", "wrong", "normal", Manual, -1, 0, -1, false, "Invalid API key",
         "POST /api/json/v3/dns/editByNameType/pork.example/A "},
        {Gandi, "gandi.example", "gandi.example", "pat_gandi-token-0123", "normal", Forced, 0, 1, 0, true,
         "DNS update successful!", "PUT /v5/livedns/domains/gandi.example/records/@/A "},
        {Gandi, "www.gandi.example", "gandi.example", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {Ocean, "www.ocean.example", "ocean.example", "do-token-0123", "normal", Forced, 0, 1, 0, true,
         "DNS update successful!", "PATCH /v2/domains/ocean.example/records/"},
        {Ocean, "other.ocean.example", "ocean.example", "do-token-0123", "normal", Manual, -1, 0, -1, false,
         "*** DigitalOcean has 0 A records named other.ocean.example; keep exactly one.",
         "GET /v2/domains/ocean.example/records?type=A&name=other.ocean.example "},
        {Ocean, "www.ocean.example", "ocean.example", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {Hetzner, "hetzner.example", "hetzner.example", "hz-token-0123", "normal", Forced, 0, 1, 0, true,
         "DNS update successful!", "POST /v1/zones/hetzner.example/rrsets/@/A/actions/set_records "},
    };
    Account previous{};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.serverMode + " " + std::to_string(c.mode));
        const std::string full =
            std::string(c.host) + (c.service == DuckDNS && !std::strchr(c.host, '.') ? ".duckdns.org" : "");
        ServerGet("/__control/service?host=" + full + "&mode=" + c.serverMode);
        ServerGet("/__control/clear");
        Account a = ServiceAccount(c.service, c.host, c.user, c.password);
        CopyText(a.UpdateServer, c.service == Porkbun ? "pk1_porkbun-key" : other.c_str());  // Porkbun's API key
        // A host asked again carries the wait the run before left in it.
        if (std::string(previous.HostName) == c.host) a.RetryAt = previous.RetryAt;
        LogCapture log(true);
        EXPECT_EQ(UpdateAccount(a, c.mode), c.result);
        EXPECT_EQ(a.Update, c.update);
        EXPECT_EQ(a.LastUpdate == Now, c.registered);
        if (c.wait >= 0) {
            EXPECT_EQ(a.RetryAt, c.wait ? Now + c.wait : 0);
        }
        const std::string text = log.Text();
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        EXPECT_EQ(text.find(c.password), std::string::npos) << "a secret in the log";
        EXPECT_EQ(text.find("Owner of"), std::string::npos) << "a Cloudflare account's details in the log";
        // What a notice would tell: the program's words, not the server's.
        EXPECT_EQ(TakeLastFailure().find("do not match"), std::string::npos);
        const std::string requests = ServerGet("/__requests");
        if (c.request) {
            EXPECT_NE(requests.find(std::string("\r\n") + c.request), std::string::npos) << requests;
        }
        previous = a;
    }
}

// Each service's way with both families, and an IPv6 address not found.
TEST_F(SecureUpdateTest, ServicesGetBothFamiliesInTheirOwnWay) {
    Through(true, TlsTestPort("valid"));
    Interface6Entry global{};
    ParseAddress6("2001:470:1f0b::10", global.Address);
    struct Case {
        int service;
        const char *host, *password;
        bool found6;
        int result;
        const char* lastIP6;
        const char* request;  // a request line the server got; null: none
        const char* mode = "normal";
        const char* current = "";  // "v4", "both": what the service has already, registered 100 days ago
    } cases[] = {
        {1, "home.ddns.net", "carol-secret", true, 0, "2001:470:1f0b::10",
         "GET /nic/update?hostname=home.ddns.net&myip=192.0.2.1,2001%3A470%3A1f0b%3A%3A10 "},
        {8, "split.ddns.net", "carol-secret", true, 0, "2001:470:1f0b::10",
         "GET /nic/update?hostname=split.ddns.net&myip=2001%3A470%3A1f0b%3A%3A10 "},
        {3, "home.cloud.example", "cf-token-0123", true, 0, "2001:470:1f0b::10", "GET /client/v4/zones/"},
        {13, "slow.ddns.net", "carol-secret", true, 0, "2001:470:1f0b::10",  // nsupdate.info: IPv6 to its own host
         "GET /nic/update?hostname=slow.ddns.net&myip=2001%3A470%3A1f0b%3A%3A10 "},
        {15, "www.pork.example", "sk1_porkbun-secret", true, 0, "2001:470:1f0b::10",  // Porkbun: one record type a request
         "POST /api/json/v3/dns/editByNameType/pork.example/AAAA/www "},
        {16, "www.gandi.example", "pat_gandi-token-0123", true, 0, "2001:470:1f0b::10",  // Gandi: one record a request
         "PUT /v5/livedns/domains/gandi.example/records/www/AAAA "},
        {18, "www.hetzner.example", "hz-token-0123", true, 0, "2001:470:1f0b::10",  // Hetzner: one record set a request
         "POST /v1/zones/hetzner.example/rrsets/www/AAAA/actions/set_records "},
        {17, "www.ocean.example", "do-token-0123", true, 0, "2001:470:1f0b::10",  // DigitalOcean: the AAAA record too
         "GET /v2/domains/ocean.example/records?type=AAAA&name=www.ocean.example "},
        {1, "chunk.ddns.net", "carol-secret", false, -1, "", "GET /nic/update?hostname=chunk.ddns.net&myip=192.0.2.1 "},
        // Beside the A record a missing AAAA record fails the IPv6 part alone.
        {3, "home.cloud.example", "cf-token-0123", true, -1, "", "PATCH /client/v4/zones/", "a-only"},
        // An unchanged address is never sent again on its own; the family not sent keeps its history.
        {1, "nochg.ddns.net", "carol-secret", true, 0, "2001:470:1f0b::10", nullptr, "normal", "both"},
        {1, "nochg.ddns.net", "carol-secret", true, 0, "2001:470:1f0b::10",
         "GET /nic/update?hostname=nochg.ddns.net&myip=2001%3A470%3A1f0b%3A%3A10 ", "normal", "v4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        InjectInterfaces6(c.found6 ? std::vector<Interface6Entry>{global} : std::vector<Interface6Entry>{});
        ServerGet(std::string("/__control/service?host=") + c.host + "&mode=" + c.mode);
        ServerGet("/__control/clear");
        const char* domains[] = {"pork.example", "gandi.example", "ocean.example", "hetzner.example"};
        const char* domain = c.service >= 15 ? domains[c.service - 15] : "";
        Account a = ServiceAccount(c.service, c.host, c.service == 3 ? "" : c.service >= 15 ? domain : "carol", c.password);
        if (c.service == 15) CopyText(a.UpdateServer, "pk1_porkbun-key");
        a.Addresses = AddressesBoth;
        const std::int32_t before = static_cast<std::int32_t>(Now - 100 * 86400);
        if (c.current[0]) a.LastIP = Address("192.0.2.1"), a.LastUpdate = before;
        if (std::string(c.current) == "both") CopyText(a.LastIP6, "2001:470:1f0b::10"), a.LastUpdate6 = before;
        LogCapture log(true);
        EXPECT_EQ(UpdateAccount(a, c.current[0] ? Timer : Forced), c.result);
        EXPECT_EQ(a.Update, 1);
        EXPECT_EQ(a.LastIP, Address("192.0.2.1"));  // the IPv4 part goes on
        EXPECT_EQ(a.LastUpdate, c.current[0] ? before : Now);
        EXPECT_STREQ(a.LastIP6, c.lastIP6);
        const std::string requests = ServerGet("/__requests");
        if (!c.request) {
            EXPECT_EQ(ServerGet("/__count"), "0");
            continue;
        }
        EXPECT_NE(requests.find(std::string("\r\n") + c.request), std::string::npos) << requests;
        if (c.found6 && !c.current[0]) {
            EXPECT_NE(log.Text().find("to 192.0.2.1 and 2001:470:1f0b::10"), std::string::npos) << log.Text();
        }
        if (c.service == 8 || c.service == 13) {  // Hurricane Electric, nsupdate.info: one request a family
            EXPECT_NE(requests.find("myip=192.0.2.1 "), std::string::npos);
        }
        if (c.service == 16) {
            EXPECT_NE(requests.find("PUT /v5/livedns/domains/gandi.example/records/www/A "), std::string::npos);
        }
        if (c.service == 13) {
            EXPECT_NE(requests.find("CONNECT ipv6.nsupdate.info:443"), std::string::npos) << requests;
        }
        if ((c.service == 3 || c.service == 15) && c.result == 0) {
            EXPECT_NE(requests.find("\"content\":\"2001:470:1f0b::10\""), std::string::npos);
        }
    }
}
