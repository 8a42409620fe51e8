#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "model/preferences.h"
#include "test_support.h"
#include "update/connection.h"
#include "update/public_address.h"
#include "update/request.h"
#include "update/sockets.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#endif

namespace {
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
};
}  // namespace

TEST(NumberToText, FormsLikeLtoa) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "0"}, {7, "7"}, {-1, "-1"}, {10060, "10060"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
    for (auto& c : cases) EXPECT_EQ(NumberToText(c.first), c.second);
}

TEST_F(ConnectionTest, ResolveHostCases) {
    struct Case {
        std::string name;
        std::uint32_t expected;
        std::vector<std::string> lines;
    } cases[] = {
        {"", 0, {FileOnly("GetAddr for ")}},
        {"192.0.2.1",
         Address("192.0.2.1"),
         {FileOnly("GetAddr for 192.0.2.1"), FileOnly("192.0.2.1 is IP address already, no need for lookup")}},
        {"255.255.255.255",
         0xFFFFFFFFu,
         {FileOnly("GetAddr for 255.255.255.255"),
          FileOnly("255.255.255.255 is IP address already, no need for lookup")}},
        {"0.0.0.0",
         0,
         {FileOnly("GetAddr for 0.0.0.0"), FileOnly("0.0.0.0 is IP address already, no need for lookup")}},
        {"localhost",
         Address("127.0.0.1"),
         {FileOnly("GetAddr for localhost"), FileOnly("Hostname localhost resolved successfully")}},
    };
    StartSockets(0x0101);  // the connection has started them before any lookup
    for (const Case& c : cases) {
        LogCapture log(true);
        EXPECT_EQ(ResolveHost(c.name.c_str()), c.expected) << c.name;
        EXPECT_EQ(log.Lines(), c.lines);
    }
    // A name no resolver can take (labels over 63 bytes): refused without a query.
    LogCapture log(true);
    std::string bad(70, 'a');
    bad += ".invalid";
    EXPECT_EQ(ResolveHost(bad.c_str()), 0u);
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind(FileOnly("Failed to resolve hostname " + bad + "  (winsock error: "), 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].back(), ')');
    // Within a run each name is looked up once, one that failed too.
    RunHosts run;
    const std::uint32_t lookUps = HostLookUps;
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(ResolveHost("localhost", &run) == Address("127.0.0.1") && ResolveHost(bad.c_str(), &run) == 0);
    EXPECT_EQ(HostLookUps - lookUps, 2u);
    StopSockets();
}

TEST_F(ConnectionTest, ProxyWithoutServerIsAnInvalidAddress) {
    Preferences.UseProxy = 1;
    LogCapture log(true);
    SocketHandle s = OpenConnection();
    EXPECT_EQ(SendRequest(s, "localhost", "GET / HTTP/1.1\r\n\r\n"), 0);
    CloseConnection(s);
    std::vector<std::string> expected = {FileOnly("WinSock initialized."),
                                         FileOnly("Socket created."),
                                         FileOnly("Trying to connect..."),
                                         FileOnly("GetAddr for "),
                                         "*** Request failed, invalid server address!",
                                         FileOnly("Socket closed."),
                                         FileOnly("WinSock cleaned up.")};
    EXPECT_EQ(log.Lines(), expected);
}

TEST_F(ConnectionTest, RefusedConnectionLogsTheErrorNumber) {
    int port;
    {
        TestListener probe;  // a port that nobody listens on once closed
        port = probe.Port();
    }
    Preferences.PortNumber = port + 65536;  // only the low 16 bits count
    LogCapture log(true);
    SocketHandle s = OpenConnection();
    EXPECT_EQ(SendRequest(s, "127.0.0.1", "GET / HTTP/1.1\r\n\r\n"), 0);
    CloseConnection(s);
    std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[5], FileOnly("Remote host address OK. Connecting..."));
    EXPECT_EQ(lines[6].rfind("*** Request failed, could not connect! (winsock error: ", 0), 0u) << lines[6];
    EXPECT_NE(lines[6], "*** Request failed, could not connect! (winsock error: 0 )");
}

TEST_F(ConnectionTest, AnExchangeKeepsThePreferencesItBeganWith) {
    if (!ServerPort()) GTEST_SKIP() << "needs the reference server (VASTREL_TEST_PORT)";
    // An OK in Properties that lands between building the request and connecting.
    for (std::int32_t PreferenceSet::*changed : {&PreferenceSet::UseProxy, &PreferenceSet::UseHTTPS}) {
        ResetSharedState();
        char transfer[TransferBufferSize];
        auto build = [&](char* request, std::size_t size, const PreferenceSet& preferences) {
            BuildCheckIpRequest(request, size, preferences);
            SharedDataGuard guard(SharedDataMutex());
            Preferences.*changed = 1;
            return true;
        };
        ExchangeOnce("localhost", transfer, sizeof transfer, build, [](int) {});
        EXPECT_NE(std::string(transfer).find("Current IP Address: 203.0.113.7"), std::string::npos);
    }
}

TEST_F(ConnectionTest, InvalidSocketStillCleansUp) {
    LogCapture log(true);
    EXPECT_EQ(SendRequest(InvalidSocket, "127.0.0.1", "x"), 0);
    CloseConnection(InvalidSocket);
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4].rfind("*** Request failed, could not connect!", 0), 0u);
    EXPECT_EQ(lines[5], FileOnly("WinSock cleaned up."));  // no "Socket closed." for an invalid socket
}

TEST_F(ConnectionTest, WholeRequestIsSentToASlowReader) {
    TestListener listener;
    Preferences.PortNumber = listener.Port();
    // Far more than one send call takes while the peer is not reading.
    std::string request(3 * 1024 * 1024, 'r');
    std::string received;
    std::thread peer([&] {
        std::intptr_t s = listener.Accept(5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        received = TestListener::ReadAll(s, request.size(), 0);
        TestListener::Close(s);
    });
    {
        LogCapture log(false);
        SocketHandle s = OpenConnection();
        EXPECT_EQ(SendRequest(s, "127.0.0.1", request.c_str()), 1);
        CloseConnection(s);
    }
    peer.join();
    EXPECT_EQ(received.size(), request.size());
}

TEST_F(ConnectionTest, PeerThatStopsReadingFailsTheSendWithinTheLimit) {
    TestListener listener;
    Preferences.PortNumber = listener.Port();
    NetworkTimeoutMs = 300;
    std::string request(32 * 1024 * 1024, 'r');
    std::intptr_t accepted = -1;
    std::thread peer([&] { accepted = listener.Accept(5000); });
    LogCapture log(true);
    SocketHandle s = OpenConnection();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendRequest(s, "127.0.0.1", request.c_str()), 0);
    auto took = std::chrono::steady_clock::now() - start;
    CloseConnection(s);
    peer.join();
    if (accepted != -1) TestListener::Close(accepted);
    EXPECT_LT(took, std::chrono::seconds(20));
    bool failureLine = false;
    for (const std::string& line : log.Lines())
        if (line.rfind("*** Request failed, could not send! (winsock error: ", 0) == 0) failureLine = true;
    EXPECT_TRUE(failureLine);
}

namespace {
// The log of an exchange by endpoint with host, at a listener of the test's own on listening ("": none).
std::vector<std::string> ExchangeWithEndpoint(const char* host, const std::string& listening) {
    TestListener listener(listening.empty() ? "127.0.0.1" : listening.c_str());
    const Endpoint endpoint{host, listener.Port(), false};
    if (listening.empty()) listener.Stop();
    std::thread peer([&] {
        std::intptr_t s = listening.empty() ? -1 : listener.Accept(5000);
        if (s == -1) return;
        TestListener::ReadAll(s, 1, 0);  // the request, before the close
        TestListener::Close(s);
    });
    LogCapture log(true);
    char transfer[TransferBufferSize];
    auto build = [](char* out, std::size_t size, const PreferenceSet&) { return CopyText(out, size, "GET /\r\n\r\n"); };
    ExchangeOnce(
        host, transfer, sizeof transfer, build, [](int) {}, nullptr, ReplyReading::OneReceive, &endpoint);
    peer.join();
    return log.Lines();
}

int CountStarting(const std::vector<std::string>& lines, const std::string& start) {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
}

// Every IPv4 address the system gives for a name, in its order.
std::vector<std::uint32_t> AddressesOf(const char* name) {
    std::vector<std::uint32_t> found;
#ifdef _WIN32
    if (hostent* entry = gethostbyname(name))
        for (char** a = entry->h_addr_list; *a; ++a) found.push_back(*reinterpret_cast<std::uint32_t*>(*a));
#else
    addrinfo hints{}, *list = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0) return found;
    for (addrinfo* a = list; a; a = a->ai_next)
        found.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(list);
#endif
    return found;
}
}  // namespace

// In the namespace of in-namespace.sh, where one name has two addresses:
// only the first the system gives is tried.
TEST(TestNamespace, OnlyTheFirstResolvedAddressIsTried) {
    const char* twin = std::getenv("VASTREL_TWIN_HOST");
    if (!twin) GTEST_SKIP() << "runs in tests/update/in-namespace.sh";
    ResetSharedState();
    StartSockets(0x0202);
    const std::vector<std::uint32_t> addresses = AddressesOf(twin);
    StopSockets();
    ASSERT_EQ(addresses.size(), 2u);
    for (std::size_t listening : {0, 1}) {
        SCOPED_TRACE("listening on address " + std::to_string(listening));
        char dotted[16];
        FormatAddress(addresses[listening], dotted);
        TestListener listener(dotted);
        Preferences.PortNumber = listener.Port();
        LogCapture log(true);
        SocketHandle s = OpenConnection();
        EXPECT_EQ(SendRequest(s, twin, "GET / HTTP/1.1\r\n\r\n"), listening == 0 ? 1 : 0);
        CloseConnection(s);
        // A connection to the other address would be waiting by now.
        std::intptr_t accepted = listener.Accept(1);
        EXPECT_EQ(accepted != -1, listening == 0);
        if (accepted != -1) TestListener::Close(accepted);
        const std::vector<std::string> lines = log.Lines();
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[4], FileOnly(std::string("Hostname ") + twin + " resolved successfully"));
        EXPECT_EQ(lines[6].rfind("*** Request failed, could not connect!", 0) == 0, listening == 1) << lines[6];
    }
}

// A server other than the maker's is reached at whichever address listens; one failure line when none does.
TEST_F(ConnectionTest, AnEndpointIsReachedAtAnyOfItsAddresses) {
    const std::string cases[][3] = {
        {"localhost", "127.0.0.1", FileOnly("Hostname localhost resolved successfully")},
        {"::1", "::1", FileOnly("Trying ::1 port ")},
        {"localhost", "", "*** Request failed, could not connect! (winsock error: "},
        {std::string(70, 'a') + ".invalid", "", "*** Request failed, invalid server address!"},  // without a query
        // The longest name is looked up whole (and refused without a query); a longer one is not looked up.
        {std::string(245, 'a') + ".invalid", "",
         FileOnly("Failed to resolve hostname " + std::string(245, 'a') + ".invalid  (winsock error: ")},
        {std::string(246, 'a') + ".invalid", "", "*** Request failed, host name longer than 253 characters!"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> lines = ExchangeWithEndpoint(c[0].c_str(), c[1]);
        EXPECT_EQ(CountStarting(lines, "   Connected."), c[1].empty() ? 0 : 1) << c[0];
        EXPECT_EQ(CountStarting(lines, c[2]), 1) << c[0];
        EXPECT_EQ(CountStarting(lines, FileOnly("GetAddr for ")), c[0].size() > MaxHostNameLength ? 0 : 1) << c[0];
    }
}

// In in-namespace.sh's namespace: either address of a name takes the connection, the other refusing first.
TEST(TestNamespace, AnEndpointFallsToTheNextAddress) {
    if (!std::getenv("VASTREL_TWIN_HOST")) GTEST_SKIP() << "runs in tests/update/in-namespace.sh";
    ResetSharedState();
    int tried = 0;
    for (auto c : {std::make_pair("vastrel-both", "127.0.0.1"), {"vastrel-both", "::1"}, {"vastrel-six", "::1"}}) {
        const std::vector<std::string> lines = ExchangeWithEndpoint(c.first, c.second);
        EXPECT_EQ(CountStarting(lines, "   Connected."), 1) << c.first << " on " << c.second;
        tried += CountStarting(lines, FileOnly("Trying ")) - 1;  // not "Trying to connect..."
    }
    EXPECT_EQ(tried, 4);  // one address of vastrel-both refused
}
