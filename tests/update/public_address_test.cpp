// Behind a router: the public address asked of the check-IP service, once per
// run, judged like an interface address.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/update_run.h"
#include "common/text.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "settings/settings.h"
#include "test_support.h"
#include "update/connection.h"
#include "update/public_address.h"
#include "update/request.h"

namespace {
std::string Dotted(std::uint32_t address) {
    char text[16];
    FormatAddress(address, text);
    return text;
}
int CheckIpQuestions() { return std::atoi(ServerGet("/__count?checkip=1").c_str()); }
int CountLines(const std::vector<std::string>& lines, const std::string& wanted) {
    int count = 0;
    for (const std::string& line : lines) count += line == wanted;
    return count;
}
}  // namespace

TEST(PublicAddress, AnswersGiveTheFirstAddressAfterTheTextOrABareBody) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
                      chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    struct Case {
        std::string reply;
        const char* found;        // "" for none
        std::string found6 = "";  // the IPv6 address found, "" for none
    } cases[] = {
        {head + "<body>Current IP Address: 2001:470:1F0B::7</body>", "", "2001:470:1f0b::7"},
        {head + "Current IP Address: ::ffff:203.0.113.7.", "203.0.113.7", "::ffff:203.0.113.7"},  // judged later
        {head + " 2001:470:1f0b::7\n", "", "2001:470:1f0b::7"},
        {head + "Current IP Address: 2001:470:1f0b::7::1 or 2001:470::9", "", "2001:470::9"},
        {head + "Current IP Address: [2001:470:1f0b::7]", "", "2001:470:1f0b::7"},
        {"HTTP/1.1 302 Found\r\n\r\n2001:470:1f0b::7", ""},
        {head + "<html><head><title>Current IP Check</title></head><body>Current IP Address: 203.0.113.7</body></html>",
         "203.0.113.7"},
        {head + "<body>Current IP Address: <b>203.0.113.9</b>.</body>", "203.0.113.9"},
        {head + "Current IP Address: 203.0.113.7.", "203.0.113.7"},
        {head + "Current IP Address: 1.2 or 198.51.100.8", "198.51.100.8"},
        {head + "Current IP Address: 10.0.0.1 203.0.113.7", "10.0.0.1"},  // the first counts, judged later
        {head + "  198.51.100.4\r\n", "198.51.100.4"},
        {"HTTP/1.1 200 OK\nContent-Type: text/plain\n\n198.51.100.4\n", "198.51.100.4"},
        {chunked + "1f\r\nCurrent IP Address: 203.0.113.2\r\n1\r\n5\r\n0\r\n\r\n", "203.0.113.25"},
        {chunked + "6\r\n203.0.\r\n6\r\n113.25\r\n0\r\n\r\n", "203.0.113.25"},
        {head + std::string("2001:470::9\0 7", 14), ""},                     // what follows a zero byte counts
        {"198.51.100.4", ""},                                                // no status line
        {"HTTP/1.1 302 Found\r\n\r\nCurrent IP Address: 198.51.100.4", ""},  // a captive portal
        {"HTTP/1.1 503 Service Unavailable\r\n\r\n198.51.100.4", ""},
        {"HTTP/1.1 200 OK\r\nX-Note: Current IP Address: 198.51.100.4\r\n\r\n<p>hello</p>", ""},  // a header
        {head + "Current IP Address: 256.0.113.7", ""},
        {head + "Current IP Address: 203.0.113", ""},
        {head + "Current IP Address: 203.0.113.7.5", ""},
        {head + "Current IP Address: 203.00.113.7", ""},  // a leading zero reads as octal elsewhere
        {head + "Current IP Address: 1203.0.113.7", ""},
        {head + "Current IP Address: unknown", ""},
        {head + "Current IP Address:", ""},
        {"HTTP/1.1 200 OK\r\nX-Client: 203.0.113.7\r\n\r\n<p>hello</p>", ""},
        {head + "203.0.113.7 and more", ""},
        {head + "203.0.113.7 Current IP Address: none", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        HttpReply reply;  // as the whole-answer reading hands it over
        ParseHttpReply(c.reply.data(), c.reply.size(), true, reply);
        std::uint32_t address = 0;
        bool found = FindAnsweredAddress(reply, &address);
        EXPECT_EQ(found ? Dotted(address) : "", c.found);
        Address6 address6;
        char text[Address6TextSize] = "";
        if (FindAnsweredAddress6(reply, address6)) FormatAddress6(address6, text);
        EXPECT_EQ(text, c.found6);
    }
}

TEST(PublicAddress, JudgedLikeAnInterfaceAddressAndNeverUnspecifiedOrBroadcast) {
    struct Case {
        const char* address;
        bool accepted;
        const char* verdict;
    } cases[] = {
        {"203.0.113.7", true, "is OK"},
        {"100.63.255.255", true, "is OK"},
        {"100.128.0.1", true, "is OK"},
        {"169.254.3.4", false, "is a link-local address and will be ignored"},
        {"198.18.0.1", false, "is a benchmarking address and will be ignored"},
        {"100.64.0.1", false, "is behind a carrier's NAT and will be ignored"},
        {"224.0.0.1", false, "is a multicast address and will be ignored"},
        {"240.1.2.3", false, "is no host's address and will be ignored"},
        {"0.1.2.3", false, "is no host's address and will be ignored"},
        {"127.0.0.1", false, "is the local loopback and will be ignored"},
        {"127.8.9.1", false, "is the local loopback and will be ignored"},
        {"10.1.2.3", false, "is in a private range and will be ignored"},
        {"172.20.0.1", false, "is in a private range and will be ignored"},
        {"192.168.1.20", false, "is in a private range and will be ignored"},
        {"0.0.0.0", false, "is no host's address and will be ignored"},
        {"255.255.255.255", false, "is no host's address and will be ignored"},
    };
    ResetSharedState();
    for (const Case& c : cases) {
        LogCapture log(true);
        EXPECT_EQ(IsAcceptablePublicAddress(Address(c.address)), c.accepted) << c.address;
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{FileOnly(std::string("IP number ") + c.address + " " + c.verdict)});
    }
}

namespace {
class PublicAddressRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        UseFreshSettingsStore();
        InitSettings();  // the schema the run stores through
        if (!ServerPort()) GTEST_SKIP() << "needs the reference server (VASTREL_TEST_PORT)";
        ResetSharedState();
        ServerGet("/__control/checkip?reset=1");
        // Behind a router: loopback, a private address and a VPN's address in a carrier's NAT, none to register.
        InjectInterfaces(
            {{InterfaceLoopback, Address("127.0.0.1")}, {0, Address("192.168.1.20")}, {0, Address("100.64.0.5")}});
    }
    void TearDown() override {
        ServerGet("/__control/checkip?reset=1");
        RestoreInterfaces();
    }
    static void ThreeAccounts(std::int32_t update) {
        {
            SharedDataGuard guard(SharedDataMutex());
            AccountTable = AccountSet{};
            for (const char* host : {"home", "office", "proxy"}) {
                Account a = MakeAccount(host, 0, "alice", "secret");
                a.Update = update;
                AppendAccount(a);
            }
        }
        CreateAccountRegInfo();
    }
    static std::string Full(const char* host) { return std::string(host) + "." + ServerTable[0].Domain; }
};
}  // namespace

TEST_F(PublicAddressRunTest, TheWebNamesTheAddressOfEveryAccountAskedOncePerRun) {
    struct Case {
        const char* name;
        std::int32_t usePublic, useProxy, update;
        const char* control;    // the check-IP service's mode
        int questions;          // check-IP requests of the run
        const char* addressed;  // what every account got, "" when none
    } cases[] = {
        {"option off: no address, as before", 0, 0, 1, "reset=1", 0, ""},
        {"option on", 1, 0, 1, "reset=1", 1, "203.0.113.7"},
        {"option on, through the proxy", 1, 1, 1, "address=198.51.100.23", 1, "198.51.100.23"},
        {"a slow answer within the time limit", 1, 0, 1, "mode=slow", 1, "203.0.113.7"},
        {"an answer in two parts, read whole", 1, 0, 1, "mode=split&address=203.0.113.123", 1, "203.0.113.123"},
        {"an address cut by a chunk's end", 1, 0, 1, "mode=chunked&address=203.0.113.25", 1, "203.0.113.25"},
        {"a bare address in chunks", 1, 0, 1, "mode=bare-chunked&address=203.0.113.25", 1, "203.0.113.25"},
        {"no enabled account: nothing asked", 1, 0, 0, "reset=1", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThreeAccounts(c.update);
        ServerGet(std::string("/__control/checkip?") + c.control);
        {
            SharedDataGuard guard(SharedDataMutex());
            Preferences.UsePublicAddress = c.usePublic;
            Preferences.UseProxy = c.useProxy;
            CopyText(Preferences.ProxyServer, "127.0.0.1");
            Preferences.ProxyPort = ServerPort();
        }
        const int asked = CheckIpQuestions();
        LogCapture log(true);
        UpdateRun(Forced);
        const std::vector<std::string> lines = log.Lines();
        EXPECT_EQ(CheckIpQuestions(), asked + c.questions);
        const bool updated = c.addressed[0] != '\0';
        EXPECT_EQ(RunFailed, updated || !c.update ? 0 : 1);
        for (int i = 0; i < 3; ++i) {
            const Account& a = AccountTable.Accounts[i];
            EXPECT_EQ(a.Update, c.update) << i;
            EXPECT_EQ(a.LastIP, updated ? Address(c.addressed) : 0u) << i;
        }
        if (updated) {
            EXPECT_EQ(ServerGet("/__last?host=" + Full("office")), c.addressed);
            EXPECT_EQ(CountLines(lines, std::string("Public address found on the web: ") + c.addressed), 1);
            EXPECT_EQ(CountLines(lines, "Updating proxy " + std::string(ServerTable[0].Domain) + " to " + c.addressed),
                      1);
        }
        if (c.usePublic == 0 && c.update) {
            EXPECT_EQ(CountLines(lines, "*** No interface available to retrieve the current IP"), 3);
            for (const std::string& line : lines) EXPECT_EQ(line.find("Public address"), std::string::npos) << line;
        }
        const std::string question =
            FileOnly(std::string("Request sent to server: GET ") + (c.useProxy ? "http://localhost/" : "/") +
                     " HTTP/1.1\r\nHost: localhost\r\n");
        int sent = 0;
        for (const std::string& line : lines) sent += line.compare(0, question.size(), question) == 0;
        EXPECT_EQ(sent, c.questions);
    }
}

TEST_F(PublicAddressRunTest, ARefusedOrMissingAnswerFailsTheRunsAccountsButDisablesNone) {
    struct Case {
        const char* control;
        const char* refusal;  // the line said once, at the question (a prefix)
        const char* why;      // said after each account's "No interface" line
    } cases[] = {
        {"mode=garbage", "*** The check-IP service answered HTTP/1.1 500 Internal Server Error instead of an address!",
         "*** Public address unknown: the check-IP service answered HTTP 500"},
        {"mode=portal", "*** The check-IP service answered HTTP/1.1 302 Found instead of an address!",
         "*** Public address unknown: the check-IP service answered HTTP 302"},
        {"mode=private", "*** The check-IP service named 192.168.1.20, which is not a public address!",
         "*** Public address unknown: 192.168.1.20 is not a public address"},
        {"address=127.0.0.1", "*** The check-IP service named 127.0.0.1, which is not a public address!",
         "*** Public address unknown: 127.0.0.1 is not a public address"},
        {"address=0.0.0.0", "*** The check-IP service named 0.0.0.0, which is not a public address!",
         "*** Public address unknown: 0.0.0.0 is not a public address"},
        {"address=255.255.255.255", "*** The check-IP service named 255.255.255.255, which is not a public address!",
         "*** Public address unknown: 255.255.255.255 is not a public address"},
        {"address=203.0.113", "*** The check-IP answer holds no valid IP address!",
         "*** Public address unknown: the check-IP answer holds no valid IP address"},
        {"mode=silent", "*** Check-IP request failed, could not receive! (winsock error: ",
         "*** Public address unknown: the check-IP service did not answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ThreeAccounts(1);
        ServerGet(std::string("/__control/checkip?") + c.control);
        {
            SharedDataGuard guard(SharedDataMutex());
            Preferences.UsePublicAddress = 1;
        }
        NetworkTimeoutMs = 300;  // a silent service costs this once per run
        const int asked = CheckIpQuestions(), sentBefore = ServerRequestCount(Full("home"));
        LogCapture log(true);
        auto start = std::chrono::steady_clock::now();
        UpdateRun(Forced);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        const std::vector<std::string> lines = log.Lines();
        if (std::string(c.control) == "mode=silent")
            std::cout << "[ figures  ] a silent check-IP service, three accounts, a 300 ms limit: run of " << ms.count()
                      << " ms\n";
        EXPECT_EQ(CheckIpQuestions(), asked + 1);
        EXPECT_EQ(RunFailed, 1);
        int refusals = 0, missing = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            refusals += lines[i].compare(0, std::string(c.refusal).size(), c.refusal) == 0;
            if (lines[i] != "*** No interface available to retrieve the current IP") continue;
            ++missing;
            ASSERT_LT(i + 1, lines.size());
            EXPECT_EQ(lines[i + 1], c.why);
        }
        EXPECT_EQ(refusals, 1);
        EXPECT_EQ(missing, 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(AccountTable.Accounts[i].Update, 1) << i;
            EXPECT_EQ(AccountTable.Accounts[i].LastIP, 0u) << i;
        }
        EXPECT_EQ(ServerRequestCount(Full("home")), sentBefore);  // no update request went out
    }
}

// A catalogue account asks the web when the interfaces offer nothing, once per
// run, at the page "CheckIPAddress" names (its scheme alone decides TLS) or,
// when that names none, at the default page. The maker's rows go on as before.
TEST_F(PublicAddressRunTest, ACatalogueAccountWithoutAnInterfaceAddressAsksTheChosenPageOncePerRun) {
    const std::string port = std::to_string(ServerPort()), tls = std::to_string(TlsTestPort("valid"));
    const std::vector<InterfaceEntry> none, lan = {{0, Address("192.168.1.20")}}, open = {{0, Address("192.0.2.5")}};
    const struct Case {
        const std::vector<InterfaceEntry>& interfaces;
        std::string page;
        const char* control;
        const char* accounts;         // the run's questions: c a catalogue account's, m a maker's row's
        const char* answers;          // w the web's address, i the interface's, - none, ? none for the web's reason
        std::string host, complaint;  // the check-IP request's Host ("" when none); why the page is refused
    } cases[] = {
        {lan, "", "reset=1", "cmc", "w-w", "localhost", ""},
        {none, "", "reset=1", "mcc", "-ww", "localhost", ""},
        {open, "", "reset=1", "cm", "ii", "", ""},
        {lan, "", "reset=1", "mm", "--", "", ""},
        {lan, "", "mode=garbage", "cmc", "?-?", "localhost", ""},
        {lan, "HTTP://127.0.0.1:" + port, "reset=1", "c", "w", "127.0.0.1:" + port, ""},
        {lan, "https://localhost:" + tls + "/", "reset=1", "c", "w", "localhost:" + tls, ""},
        {lan, "ftp://127.0.0.1/", "reset=1", "c", "w", "api64.ipify.org", "is not a usable http:// or https://"},
        {lan, "http://" + std::string(254, 'a') + "/", "reset=1", "c", "w", "api64.ipify.org", "names too long"},
        {lan, "http://[::1]:" + port + "/", "reset=1", "c", "?", "", ""},  // no proxy; IPv4 is never asked over IPv6
    };
    CopyText(Preferences.ProxyServer, "127.0.0.1");
    Preferences.ProxyPort = ServerPort();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page + " " + c.accounts + " " + c.control);
        const bool secure = c.page.compare(0, 6, "https:") == 0, onDefault = !c.complaint.empty();
        if ((secure || onDefault) && (tls == "0" || !TestAuthorityTrusted())) continue;
        InjectInterfaces(c.interfaces);
        ServerGet(std::string("/__control/checkip?") + c.control);
        CopyText(Preferences.CheckIPAddress, c.page.c_str());
        Preferences.UseProxy = !secure && c.page.find('[') == std::string::npos;  // never beyond loopback
        const int asked = CheckIpQuestions();
        LogCapture log(true);
        RunAddress run;
        std::string answers;
        for (const char* a = c.accounts; *a; ++a) {
            const std::uint32_t address = run.Current(0, *a == 'c');
            if (!address) run.ExplainMissing();
            const std::string last = log.Lines().empty() ? "" : log.Lines().back();
            const bool why = last.compare(0, 27, "*** Public address unknown:") == 0;
            answers += address == Address("203.0.113.7") ? 'w' : address ? 'i' : why ? '?' : '-';
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(CheckIpQuestions(), asked + !c.host.empty());
        EXPECT_EQ(
            CountLines(log.Lines(), "No interface has an address to register; taking the public address from the web."),
            std::count(answers.begin(), answers.end(), 'w') + std::count(answers.begin(), answers.end(), '?'));
        const std::string sent = "Request sent to server: GET " + (secure || onDefault ? "" : "http://" + c.host) +
                                 "/ HTTP/1.1\r\nHost: " + c.host + "\r\n";
        EXPECT_EQ(log.Text().find(sent) != std::string::npos, !c.host.empty());
        const std::string complaint = "*** The check-IP address (\"CheckIPAddress\") " + c.complaint;
        EXPECT_EQ(log.Text().find(complaint) != std::string::npos, !c.complaint.empty());
    }
}

// With no global IPv6 address here, a question that may ask the web asks the
// page over IPv6 (it reports the IPv6 address it sees), once per run; never
// through a proxy, and its answer is judged as an interface's address is.
TEST_F(PublicAddressRunTest, WithoutAGlobalIPv6AddressThePageIsAskedOverIPv6OncePerRun) {
    if (TestListener("::1").Port() == 0) GTEST_SKIP() << "no IPv6 loopback here";
    Interface6Entry global{}, local{};
    ParseAddress6("2001:470:1f0b::10", global.Address);
    ParseAddress6("fd00::5", local.Address);
    const std::string page = "http://[::1]:" + std::to_string(ServerPort()) + "/";
    const struct Case {
        Interface6Entry interface6;
        const char* control;
        bool proxy;
        const char* questions;  // c may ask the web, n may not
        const char* answers;    // w the web's address, i the interface's, - none
        int asked;
        const char* why;  // the line each question without an address says
    } cases[] = {
        {local, "reset=1", false, "cnc", "w-w", 1, "no interface has a global IPv6 address"},
        {global, "reset=1", false, "cn", "ii", 0, ""},
        {local, "reset=1", true, "c", "-", 0, "the public IPv6 address is not asked through a proxy"},
        {local, "address=fd00::1", false, "cc", "--", 1, "fd00::1 is unique-local (private)"},
        {local, "address=198.51.100.4", false, "c", "-", 1, "the check-IP answer holds no valid IPv6 address"},
        {local, "mode=garbage", false, "c", "-", 1, "the check-IP service answered HTTP 500"},
    };
    CopyText(Preferences.CheckIPAddress, page.c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.control) + " " + c.questions);
        InjectInterfaces6({c.interface6});
        ServerGet(std::string("/__control/checkip?") + c.control);
        Preferences.UseProxy = c.proxy;
        const int asked = CheckIpQuestions();
        LogCapture log(true);
        RunAddress run;
        std::string answers;
        for (const char* q = c.questions; *q; ++q) {
            char address[Address6TextSize];
            const bool got = run.Current6(0, address, *q == 'c');
            answers += !got ? '-' : std::string(address) == "2001:470:1f0b::7" ? 'w' : 'i';
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(CheckIpQuestions(), asked + c.asked);
        const std::string why = std::string("*** No IPv6 address to register: ") + c.why;
        EXPECT_EQ(CountLines(log.Lines(), why), c.why[0] ? std::count(answers.begin(), answers.end(), '-') : 0);
        if (c.asked) {
            EXPECT_NE(log.Text().find("GET / HTTP/1.1\r\nHost: [::1]:" + std::to_string(ServerPort())),
                      std::string::npos);
        }
    }
}
