#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "app/version.h"
#include "common/text.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "test_support.h"

TEST(CompareVersions, ComponentsCompareAsNumbers) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.10", "1.9", 1},
        {"1.9", "1.10", -1},
        {"1.5.0", "1.5", 1},
        {"1.5", "1.5.0", -1},
        {"1.5.", "1.5", 0},
        {"1.5", "1.5.", 0},
        {"1..2", "1.0.2", 0},
        {"1.5.7b", "1.5.7", 0},
        {"", "1", -1},
        {"1", "", 1},
        {"", "", 0},
        {"1.5.7", "1.5.8", -1},
        {"1.6\r\nabc", "1.5.7", 1},
        {"99999999999", "1", 1},
        {"-1", "0", -1},
        {"1.5.7", "1.5.7", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
}

TEST(FindVersionToken, HoldsOnlyTheDigitsAndDotsAfterTheMark) {
    const std::pair<const char*, const char*> cases[] = {
        {"<p>VERSION:1.5.8 </p>", "1.5.8"},
        {"VERSION: 1.5.8", ""},
        {"VERSION:1.6\r\nabc def", "1.6"},
        {"VERSION:2.0</p>Download at http://evil.example/", "2.0"},
        {"x VERSION:2.0", "2.0"},                            // runs to the end of the text
        {"VERSION:1.2.3.4.5.6.7.8.9 x", "1.2.3.4.5.6.7.8"},  // cut to 15 characters
        {"VERSION:1.5.8 VERSION:9", "1.5.8"},
    };
    for (auto& c : cases) {
        char token[16];
        ASSERT_TRUE(FindVersionToken(c.first, token)) << c.first;
        EXPECT_STREQ(token, c.second) << c.first;
    }
    char token[16];
    EXPECT_FALSE(FindVersionToken("version:1.5.8", token));
}

TEST(BuildVersionRequest, DirectAndProxyForms) {
    ResetSharedState();
    char buffer[1024];
    std::string host = MakerHost;
    EXPECT_EQ(std::string(BuildVersionRequest(buffer, sizeof buffer)),
              "GET /Products/Vastrel/Version.html HTTP/1.1\r\nHost: " + host +
                  "\r\nContent-Type: application/x-www-form-urlencoded\r\nCache-Control: no-cache\r\n"
                  "User-Agent: Vastrel/1.5.7\r\n\r\n");
    Preferences.UseProxy = 1;
    EXPECT_EQ(std::string(BuildVersionRequest(buffer, sizeof buffer)).substr(0, 60),
              ("GET http://" + host + "/Products/Vastrel/Version.html HTTP/1.1\r\n").substr(0, 60));
    Preferences.UseHTTPS = 1;  // through a tunnel: the direct form
    EXPECT_EQ(std::string(BuildVersionRequest(buffer, sizeof buffer))
                  .rfind("GET /Products/Vastrel/Version.html HTTP/1.1\r\n", 0),
              0u);
}

namespace {
std::vector<std::string> prompts, pages;
bool answerYes = false;
bool Ask(const char* text, const char* caption) {
    prompts.push_back(std::string(caption) + "|" + text);
    return answerYes;
}
void Open(const char* url) { pages.push_back(url); }

std::string Encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char piece[4];
        std::snprintf(piece, sizeof piece, "%%%02X", c);
        out += piece;
    }
    return out;
}

class VersionCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        if (!ServerPort()) GTEST_SKIP() << "needs the reference server (VASTREL_TEST_PORT)";
        Preferences.VersionCheck = 1;
        saved = Shell;
        Shell.AskYesNo = Ask;
        Shell.OpenPage = Open;
        prompts.clear();
        pages.clear();
        answerYes = false;
    }
    void TearDown() override {
        Shell = saved;
        if (ServerPort()) ServerGet("/__control/version?reset=1");
    }
    static void Serve(const std::string& body) { ServerGet("/__control/version?body=" + Encode(body)); }
    ShellCalls saved{};
};
}  // namespace

TEST_F(VersionCheckTest, NewerVersionIsOfferedOnceByTheTimerAlwaysByHand) {
    Serve("<html>VERSION:1.5.8 </html>");
    LogCapture log(false);
    EXPECT_EQ(VersionCheck(0), 0);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0],
              "New version|A new version of Vastrel is available!\nThe new version is 1.5.8 and your version is "
              "1.5.7\nDo you want to open the download page?");
    EXPECT_STREQ(Preferences.LastVersion, "1.5.8");  // whatever the answer
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Checking for new version...", "New version 1.5.8 is available"}));

    EXPECT_EQ(VersionCheck(0), 0);  // the timer's next check: logged, not asked
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(log.Lines().back(), "New version 1.5.8 is available");

    answerYes = true;
    EXPECT_EQ(VersionCheck(1), 0);  // "Check now" asks again
    EXPECT_EQ(prompts.size(), 2u);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], std::string("http://") + MakerHost + "/Products/Vastrel/");
}

TEST_F(VersionCheckTest, RepliesWithoutANewerVersion) {
    struct Case {
        std::string body;
        int result;
        std::string line;
        bool prompt;
    } cases[] = {
        {"VERSION:1.5.7 ", 0, "Program is up-to-date", false},
        {"VERSION: 1.9", 0, "Program is up-to-date", false},
        {"VERSION:1.5.6 ", 0, "Program is up-to-date", false},
        {"nothing here", -1, "*** No version information found!", false},
        {std::string(1100, 'x') + "VERSION:9.9 ", -1, "*** No version information found!", false},
        {"VERSION:1.6\r\nabc def", 0, "New version 1.6 is available", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 30));
        Serve(c.body);
        prompts.clear();
        LogCapture log(true);
        EXPECT_EQ(VersionCheck(1), c.result);
        bool found = false;
        for (const std::string& line : log.Lines()) found |= line == c.line;
        EXPECT_TRUE(found);
        EXPECT_EQ(prompts.size(), c.prompt ? 1u : 0u);
        if (c.prompt) {
            EXPECT_NE(prompts[0].find("is 1.6 and"), std::string::npos);
        }
    }
}

TEST_F(VersionCheckTest, ASecondCheckWhileOneIsHeldEndsAtOnceWithoutALine) {
    HeldExchange server;
    LogCapture log(true);
    int first = 0;
    std::thread held([&] { first = VersionCheck(0); });
    ASSERT_NE(server.AwaitRequest().find("/Products/Vastrel/Version.html"), std::string::npos);
    // The server may have the request before the check logs that it waits: the snapshot starts there.
    const auto waiting = [&] { return !log.Lines().empty() && log.Lines().back() == "   Sent. Waiting for response..."; };
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !waiting() && std::chrono::steady_clock::now() < until;)
        std::this_thread::yield();
    const std::vector<std::string> before = log.Lines();
    EXPECT_EQ(VersionCheck(1), -1);  // "Check now" while the timer's check waits for its reply
    EXPECT_EQ(log.Lines(), before);
    server.Reply("VERSION:1.5.7 ");
    held.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(log.Lines().back(), "Program is up-to-date");
    // The first check let go of the mutex on its way out.
    std::thread next([] { VersionCheck(1); });
    EXPECT_NE(server.AwaitRequest(), "");
    server.Reply("VERSION:1.5.7 ");
    next.join();
}

namespace {
// A check that starts waits here, alive, until the test opens the gate.
std::mutex gateMutex;
std::condition_variable gateChanged;
bool gateOpen = false;
bool WaitAtTheGate() {
    std::unique_lock<std::mutex> lock(gateMutex);
    gateChanged.wait(lock, [] { return gateOpen; });
    return false;
}
}  // namespace

TEST_F(VersionCheckTest, SwitchedOffStartsNoCheck) {
    Preferences.VersionCheck = 0;
    Shell.TakeVersionMutex = WaitAtTheGate;
    gateOpen = false;
    std::thread([] {}).join();  // a sanitizer's own thread, if any, is there from now on
    const int threads = ThreadCount();
    StartVersionCheck(1);
    EXPECT_EQ(ThreadCount(), threads);  // a started check would wait at the gate
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        gateOpen = true;
    }
    gateChanged.notify_all();
}

TEST_F(VersionCheckTest, OverHttpsTheSamePromptAndASecureDownloadPage) {
    if (!TlsTestPort("valid") || !TestAuthorityTrusted()) GTEST_SKIP() << "needs trusted TLS listeners";
    Preferences.UseHTTPS = 1;
    Preferences.PortNumber = TlsTestPort("valid");
    Serve("<html>VERSION:1.5.8 </html>");
    answerYes = true;
    {
        LogCapture log(false);
        EXPECT_EQ(VersionCheck(1), 0);
        EXPECT_EQ(log.Lines(),
                  (std::vector<std::string>{"Checking for new version...", "New version 1.5.8 is available"}));
    }
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0],
              "New version|A new version of Vastrel is available!\nThe new version is 1.5.8 and your version is "
              "1.5.7\nDo you want to open the download page?");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], std::string("https://") + MakerHost + "/Products/Vastrel/");

    // A certificate for another name: nothing read, nothing asked.
    Preferences.PortNumber = TlsTestPort("wrong-name");
    LogCapture log(true);
    EXPECT_EQ(VersionCheck(1), -1);
    EXPECT_EQ(prompts.size(), 1u);
    const std::string refused =
        std::string("*** Request failed, the server's certificate is not valid for ") + MakerHost + "!";
    bool found = false;
    for (const std::string& line : log.Lines()) found |= line == refused;
    EXPECT_TRUE(found);
}
