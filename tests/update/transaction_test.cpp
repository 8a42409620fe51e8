#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "log/clock.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "test_support.h"
#include "update/connection.h"
#include "update/request.h"
#include "update/services.h"
#include "update/transaction.h"

namespace {
constexpr std::int64_t Now = 1790000000;
constexpr std::int64_t Day = 86400;

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        if (!ServerPort()) GTEST_SKIP() << "needs the reference server (VASTREL_TEST_PORT)";
        InjectInterfaces({{InterfaceLoopback, Address("127.0.0.1")}, {0, Address("192.0.2.1")}});
        FixClock(Now);
    }
    void TearDown() override {
        RestoreInterfaces();
        RestoreClock();
    }
    static std::string Full(const Account& a) { return std::string(a.HostName) + "." + ServerTable[a.Server].Domain; }
};

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
    for (const std::string& line : lines)
        if (line == wanted) return true;
    return false;
}
}  // namespace

TEST_F(TransactionTest, RepliesAreClassifiedInOrder) {
    struct Case {
        const char* host;
        const char* password;
        int result;
        int updateAfter;
        const char* line;
    } cases[] = {
        {"home", "secret", 0, 1, "DNS update successful!"},
        {"both", "secret", 0, 1, "DNS update successful!"},  // NOERROR comes first
        {"home", "wrong", -1, 0, "*** Authorization failed! Wrong or missing user credentials?"},
        {"stranger", "secret", -1, 0, "*** Host not owned by you!"},
        {"abuse", "secret", -1, 0, "*** Account is blocked due to abuse!"},
        {"", "secret", -1, 0, "*** Bad or unknown host name!"},
        {"odd", "secret", -1, 1, "*** Unknown error occurred!"},
        {"late", "secret", -1, 1, "*** Unknown error occurred!"},  // NOERROR past the first 1024 bytes
        {"huge", "secret", -1, 1, "*** Unknown error occurred!"},
        {"slow", "secret", -1, 1, "*** Unknown error occurred!"},  // arrives after the first receive
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + std::string("/") + c.password);
        Account a = MakeAccount(c.host, 0, "alice", c.password);
        a.LastIP = Address("198.51.100.1");
        int before = ServerRequestCount(Full(a));
        LogCapture log(true);
        EXPECT_EQ(UpdateAccount(a, Timer), c.result);
        EXPECT_EQ(a.Update, c.updateAfter);
        EXPECT_EQ(a.CurrentIP, Address("192.0.2.1"));
        EXPECT_EQ(a.LastIP, c.result == 0 ? Address("192.0.2.1") : Address("198.51.100.1"));
        EXPECT_EQ(a.LastUpdate, c.result == 0 ? Now : 0);
        EXPECT_TRUE(HasLine(log.Lines(), c.line));
        EXPECT_EQ(log.Lines().back(), FileOnly("WinSock cleaned up."));
        EXPECT_EQ(ServerRequestCount(Full(a)), before + 1);
    }
}

TEST_F(TransactionTest, SuccessLogsEveryStepInOrder) {
    Account a = MakeAccount("home", 0, "alice", "secret");
    LogCapture log(true);
    ASSERT_EQ(UpdateAccount(a, Manual), 0);
    std::vector<std::string> lines = log.Lines();
    std::string host = ServerTable[0].UpdateHost, domain = ServerTable[0].Domain;
    char request[TransferBufferSize];
    std::vector<std::string> expected = {
        FileOnly("IP number 127.0.0.1 is the local loopback and will be ignored"),
        FileOnly("IP number 192.0.2.1 is OK"),
        "Updating home " + domain + " to 192.0.2.1",
        FileOnly("WinSock initialized."),
        FileOnly("Socket created."),
        FileOnly("Trying to connect..."),
        FileOnly("GetAddr for " + host),
        FileOnly("Hostname " + host + " resolved successfully"),
        FileOnly("Remote host address OK. Connecting..."),
        "   Connected. Sending update request...",
        FileOnly("Request sent to server: " + MaskSecrets(BuildUpdateRequest(a, request, sizeof request))),
        "   Sent. Waiting for response...",
    };
    ASSERT_EQ(lines.size(), expected.size() + 4);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
    EXPECT_NE(lines[10].find("\r\nAuthorization: Basic ********\r\n"), std::string::npos);
    EXPECT_EQ(lines[12].rfind(FileOnly("Received from server: HTTP/1.1 200"), 0), 0u);
    EXPECT_EQ(lines[13], "DNS update successful!");
    EXPECT_EQ(lines[14], FileOnly("Socket closed."));
    EXPECT_EQ(lines[15], FileOnly("WinSock cleaned up."));
    // The server got exactly the request that was logged.
    std::string recorded = ServerGet("/__requests?host=home." + domain);
    EXPECT_NE(recorded.find(request), std::string::npos);
}

TEST_F(TransactionTest, UpToDateRuleDecidesWhetherToSend) {
    struct Case {
        std::uint32_t lastIP;
        std::int64_t daysAgo;
        int daysToForced;
        UpdateMode mode;
        bool sent;
    } cases[] = {
        {Address("192.0.2.1"), 27, 28, Timer, false}, {Address("192.0.2.1"), 28, 28, Timer, true},
        {Address("192.0.2.1"), 0, 0, Timer, true},    {Address("192.0.2.1"), 0, 28, Forced, true},
        {Address("192.0.2.1"), 0, 28, Manual, false}, {0, 0, 28, Timer, true},
        {Address("192.0.2.2"), 0, 28, Timer, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.daysAgo) + " days, limit " + std::to_string(c.daysToForced) + ", mode " +
                     std::to_string(c.mode));
        Preferences.DaysToForcedUpdate = c.daysToForced;
        Account a = MakeAccount("office", 0, "alice", "secret");
        a.LastIP = c.lastIP;
        a.LastUpdate = static_cast<std::int32_t>(Now - c.daysAgo * Day);
        int before = ServerRequestCount(Full(a));
        LogCapture log(true);
        EXPECT_EQ(UpdateAccount(a, c.mode), 0);
        EXPECT_EQ(ServerRequestCount(Full(a)), before + (c.sent ? 1 : 0));
        if (!c.sent) {
            std::string indent = c.mode == Manual ? "" : "   ";
            EXPECT_EQ(log.Lines().back(), indent + "office " + ServerTable[0].UpdateHost + " is already up-to-date");
        }
    }
}

TEST_F(TransactionTest, DisabledAccountTouchesNothing) {
    int listed = 0;
    static int* counter;
    counter = &listed;
    InterfaceListSource = [](InterfaceEntry*) { return ++*counter, 0; };
    Account a = MakeAccount("home", 0, "alice", "secret");
    a.Update = 0;
    Account copy = a;
    int before = ServerRequestCount(Full(a));
    LogCapture log(true);
    EXPECT_EQ(UpdateAccount(a, Forced), 0);
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(ServerRequestCount(Full(a)), before);
    EXPECT_EQ(std::memcmp(&a, &copy, sizeof a), 0);
}

TEST_F(TransactionTest, SilentServerCostsOneTimeLimit) {
    NetworkTimeoutMs = 500;
    Account a = MakeAccount("silent", 0, "alice", "secret");
    LogCapture log(true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(UpdateAccount(a, Timer), -1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(450));
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(a.Update, 1);
    std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 3u);
    const std::string failure = lines[lines.size() - 3];
    EXPECT_EQ(failure.rfind("*** Update failed, could not receive! (winsock error: ", 0), 0u) << failure;
    EXPECT_EQ(failure.find(" 0 )"), std::string::npos);
}

TEST_F(TransactionTest, ClosedConnectionFailsQuietly) {
    Account a = MakeAccount("closed", 0, "alice", "secret");
    LogCapture log(true);
    EXPECT_EQ(UpdateAccount(a, Timer), -1);
    EXPECT_EQ(a.Update, 1);
    std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "   Sent. Waiting for response...");
}

TEST_F(TransactionTest, ProxyPathSendsTheAbsoluteUrlToTheProxy) {
    Preferences.UseProxy = 1;
    CopyText(Preferences.ProxyServer, "127.0.0.1");
    Preferences.ProxyPort = ServerPort();
    Preferences.PortNumber = 9;  // not used with the proxy
    Account a = MakeAccount("proxy", 0, "alice", "secret");
    LogCapture log(true);
    EXPECT_EQ(UpdateAccount(a, Timer), 0);
    EXPECT_TRUE(HasLine(log.Lines(), FileOnly("GetAddr for 127.0.0.1")));
    std::string recorded = ServerGet("/__requests?host=" + Full(a));
    EXPECT_NE(recorded.find("GET http://" + std::string(ServerTable[0].UpdateHost) + "/nic/dyndns?"),
              std::string::npos);
}

TEST_F(TransactionTest, FailuresBeforeTheNetwork) {
    {
        InjectInterfaces({{0, Address("10.1.2.3")}});
        Account a = MakeAccount("home", 0, "alice", "secret");
        LogCapture log(true);
        EXPECT_EQ(UpdateAccount(a, Timer), -1);
        EXPECT_EQ(log.Lines().back(), "*** No interface available to retrieve the current IP");
        EXPECT_EQ(a.CurrentIP, 0u);
    }
    {
        Account a = MakeAccount("home", 12, "alice", "secret");
        LogCapture log(false);  // damaged data is reported even without details
        EXPECT_EQ(UpdateAccount(a, Forced), -1);
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0], "*** Account home has an invalid server number 12 and was not updated!");
        EXPECT_EQ(a.Update, 1);
    }
}

TEST_F(TransactionTest, TextsThatWouldSplitTheRequestNeverReachTheWire) {
    struct Case {
        const char* host;
        const char* user;
        const char* password;
        const char* mx;
        const char* line;
    } cases[] = {
        {"home\r\nHost: evil.example", "alice", "secret", "",
         "*** Account home??Host: evil.example has a control character or blank in its host name and was not updated!"},
        {"home office", "alice", "secret", "",
         "*** Account home office has a control character or blank in its host name and was not updated!"},
        {"home", "alice\n", "secret", "",
         "*** Account home has a control character or blank in its user name and was not updated!"},
        {"home", "alice", "sec\tret", "",
         "*** Account home has a control character or blank in its password and was not updated!"},
        {"home", "alice", "secret", "mx.example x",
         "*** Account home has a control character or blank in its mail extender and was not updated!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Account a = MakeAccount(c.host, 0, c.user, c.password);
        CopyText(a.MailExtender, c.mx);
        const std::string before = ServerGet("/__count");  // every request the server got
        LogCapture log(false);                             // damaged data is reported even without details
        EXPECT_EQ(UpdateAccount(a, Forced), -1);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{c.line});
        EXPECT_EQ(a.Update, 1);  // tried again next run, as stored
        EXPECT_EQ(ServerGet("/__count"), before);
    }
    // Blanks are fine in the credentials, which travel encoded.
    Account a = MakeAccount("home", 0, "alice", "secret");
    EXPECT_EQ(UnsafeAccountField(a), nullptr);
    CopyText(a.Password, "with blank");
    EXPECT_EQ(UnsafeAccountField(a), nullptr);
}
