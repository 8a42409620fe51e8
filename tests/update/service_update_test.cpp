// Updates at the catalogue's services, over TLS through the reference
// server as the proxy to the services' own names: the reply, however it
// arrives, judged into the account's fields, its wait and the log.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "model/preferences.h"
#include "test_support.h"
#include "update/service_update.h"
#include "update/transaction.h"

namespace {
constexpr std::int64_t Now = 1790000000;

class ServiceUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        if (!ServerPort() || !TlsTestPort("valid")) GTEST_SKIP() << "needs the reference server's TLS listeners";
        if (!TestAuthorityTrusted()) GTEST_SKIP() << "this system does not trust the test authority";
        InjectInterfaces({{0, Address("192.0.2.1")}});
        FixClock(Now);
        SharedDataGuard guard(SharedDataMutex());
        Preferences.UseProxy = 1;
        CopyText(Preferences.ProxyServer, "127.0.0.1");
        Preferences.ProxyPort = ServerPort();
    }
    void TearDown() override {
        RestoreInterfaces();
        RestoreClock();
    }
};

Account ServiceAccount(int service, const char* host, const char* user, const char* password) {
    Account a = MakeAccount(host, -1, "", "");
    a.Service = service;
    CopyText(a.ServiceUserName, user);
    CopyText(a.ServicePassword, password);
    return a;
}
}  // namespace

TEST_F(ServiceUpdateTest, RepliesAreJudgedIntoTheAccountItsWaitAndTheLog) {
    enum { NoIP = 1, DuckDNS, Cloudflare, Dynu, FreeDNS, Namecheap, deSEC, HE, Other };
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
         "*** Host not owned by you!", "GET /nic/update?hostname=gone.dedyn.io&myip=192.0.2.1&myipv6=preserve "},
        {Dynu, "busy.ddns.net", "carol", "carol-secret", "throttle", Manual, -1, 1, 120, false, "(HTTP 429)", nullptr},
        {HE, "slow.ddns.net", "carol", "carol-secret", "interval", Manual, -1, 1, 600, false, "\"interval\"", nullptr},
        {HE, "down.ddns.net", "carol", "carol-secret", "unavailable", Manual, -1, 1, 600, false, "HTTP 503", nullptr},
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
        {Cloudflare, "home.cloud.example", "", "cf-token-0123", "normal", Manual, 0, 1, 0, true,
         "DNS update successful!", "PATCH /client/v4/zones/"},
        {Cloudflare, "home.cloud.example", "cloud.example", "cf-token-0123", "normal", Forced, 0, 1, 0, true,
         "DNS update successful!", "PATCH /client/v4/zones/"},
        {Cloudflare, "other.cloud.example", "", "cf-token-0123", "normal", Manual, -1, 0, -1, false,
         "*** Cloudflare has no A record named other.cloud.example: create it in the zone first.",
         "GET /client/v4/zones/"},
        {Cloudflare, "home.cloud.example", "", "wrong", "normal", Manual, -1, 0, -1, false,
         "*** Authorization failed! Wrong or missing user credentials?", nullptr},
        {Other, "home.ddns.net", "carol", "carol-secret", "normal", Forced, 0, 1, 0, true, "DNS update successful!",
         "GET http://127.0.0.1:"},
    };
    Account previous{};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.serverMode + " " + std::to_string(c.mode));
        const std::string full = std::string(c.host) + (c.service == DuckDNS && !std::strchr(c.host, '.') ? ".duckdns.org" : "");
        ServerGet("/__control/service?host=" + full + "&mode=" + c.serverMode);
        ServerGet("/__control/clear");
        Account a = ServiceAccount(c.service, c.host, c.user, c.password);
        CopyText(a.UpdateServer, other.c_str());
        // A host asked again carries what the run before left in it.
        if (std::string(previous.HostName) == c.host) {
            a.RetryAt = previous.RetryAt;
            a.LastIP = previous.LastIP;
        }
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
        const std::string requests = ServerGet("/__requests");
        if (c.request) {
            EXPECT_NE(requests.find(std::string("\r\n") + c.request), std::string::npos) << requests;
        }
        previous = a;
    }
}
