#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/version.h"
#include "log/clock.h"
#include "log/log.h"
#include "model/preferences.h"
#include "test_support.h"
#include "update/transaction.h"

namespace {
std::atomic<int> windowCreations{0};
void RecordEnsure() { ++windowCreations; }

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        windowCreations = 0;
        EnsureLogWindow = RecordEnsure;
    }
    void TearDown() override { EnsureLogWindow = nullptr; }
};
}  // namespace

TEST_F(LogTest, FlagsDecideFilterDecorationAndWindow) {
    struct Case {
        int flags;
        bool detailed;
        std::vector<std::string> lines;  // where each went: FileOnly, or file and window
    } cases[] = {
        {1, false, {"text"}},     {2, false, {}},          {8, false, {}},
        {9, false, {}},           {10, false, {}},         {12, false, {}},
        {1, true, {"text"}},      {2, true, {"   text"}},  {8, true, {FileOnly("text")}},
        {9, true, {"text"}},      {10, true, {"   text"}}, {12, true, {"*** text"}},
        {5, false, {"*** text"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.flags) + (c.detailed ? " detailed" : ""));
        LogCapture log(c.detailed);
        windowCreations = 0;
        WriteLog(c.flags, "text");
        EXPECT_EQ(log.Lines(), c.lines);
        // Even a file-only line creates the window; a dropped one does not.
        EXPECT_EQ(windowCreations, c.lines.empty() ? 0 : 1);
    }
}

TEST_F(LogTest, PiecesAreJoinedBySingleBlanks) {
    LogCapture log(true);
    WriteLog(1, "first", nullptr, "third");
    WriteLog(1, "a", "", "c", nullptr, "e");
    WriteLog(1, "name", " (winsock error:", "10060", ")");
    WriteLog(1, "multi\r\nline", "piece");
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "first third");
    EXPECT_EQ(lines[1], "a  c e");
    EXPECT_EQ(lines[2], "name  (winsock error: 10060 )");
    EXPECT_EQ(lines[3], "multi\r\nline piece");
    EXPECT_EQ(log.Text().substr(log.Text().size() - 2), "\r\n");
}

namespace {
// Sets the process's time zone (a POSIX TZ text) until the next call; null
// brings back the machine's own.
void UseTimeZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone ? zone : "");
    _tzset();
#else
    if (zone)
        setenv("TZ", zone, 1);
    else
        unsetenv("TZ");
    tzset();
#endif
}
}  // namespace

TEST_F(LogTest, TimeStampIsLocalMonthDayYear) {
    struct Case {
        const char* zone;
        std::int64_t when;
        const char* stamp;
    } cases[] = {
        {"UTC0", 1772874303, "03/07/26 09:05:03"},    // 2026-03-07 09:05:03 UTC
        {"EST5", 1772874303, "03/07/26 04:05:03"},    // five hours behind
        {"XYZ-10", 1772920800, "03/08/26 08:00:00"},  // ten ahead: the next day
        {"UTC0", 1230768000, "01/01/09 00:00:00"},    // a year of one digit
        {"UTC0", 1767225599, "12/31/25 23:59:59"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.when));
        UseTimeZone(c.zone);
        LogCapture log(false);
        FixClock(c.when);
        WriteLog(1, "x");
        EXPECT_EQ(log.Text(), std::string(c.stamp) + ": x\r\n");
    }
    UseTimeZone(nullptr);
}

TEST_F(LogTest, DeletedFileIsCreatedAgainAndEmptyPathWritesNothing) {
    LogCapture log(false);
    WriteLog(1, "one");
    std::remove(log.Path().c_str());
    WriteLog(1, "two");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"two", WindowOnly("one")}));

    LogFilePath[0] = '\0';
    WriteLog(1, "nowhere");  // still in the window
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"two", WindowOnly("one"), WindowOnly("nowhere")}));
}

TEST_F(LogTest, TheFileMovesAsideOncePastItsLimitKeepingOneOlder) {
    const std::string third(LogFileLimit / 3, 'x');  // three such lines pass the limit, two do not
    // An older one that can be neither replaced nor removed (a folder, as a file a viewer holds): it starts afresh.
    for (bool blocked : {false, true}) {
        LogCapture log(false);
        FixClock(1772874303);
        const std::string older = log.Path() + ".1";
        if (blocked) std::filesystem::create_directory(older);
        for (const char* round : {"first", "first", "first", "second", "second", "second", "new"})
            WriteLog(1, round, third.c_str());
        const std::string stamp = log.Text().substr(0, 17),
                          notice = ": *** The log passed 4 MiB and could not be moved to " +
                                   older.substr(older.find_last_of("\\/") + 1) + "; it starts afresh.\r\n";
        EXPECT_TRUE(log.Text() == (blocked ? stamp + notice : "") + stamp + ": new " + third + "\r\n") << blocked;
        if (!blocked) {
            EXPECT_EQ(std::filesystem::file_size(older), 3 * (17 + 9 + third.size() + 2));  // the second three alone
        }
        std::filesystem::remove(older);
    }
}

TEST_F(LogTest, ConcurrentWritersLoseNoLine) {
    LogCapture log(true);
    constexpr int Threads = 4, Each = 150;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < Each; ++i) WriteLog(10, "writer", std::to_string(t).c_str(), std::to_string(i).c_str());
        });
    for (auto& w : writers) w.join();
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(Threads * Each));
    std::vector<int> next(Threads, 0);
    for (const std::string& line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "   writer %d %d", &t, &i), 2) << line;
        ASSERT_EQ(i, next[t]++) << "lines of one writer keep their order";
    }
}

TEST(ServerText, NoLineOfTheLogComesFromAServer) {
    const std::function<void()> exchanges[] = {
        [] {
            Account a = MakeAccount("home", 0, "alice", "secret");
            UpdateAccount(a, Forced);
        },
        [] { VersionCheck(1); },
        [] {
            Preferences.UsePublicAddress = 1;
            RunAddress().Current(0);
        },
    };
    for (const auto& exchange : exchanges) {
        ResetSharedState();
        InjectInterfaces({{0, Address("192.0.2.1")}});
        HeldExchange server;
        LogCapture log(true);
        std::thread worker(exchange);
        server.AwaitRequest();
        server.Reply(
            "VERSION:1.5.7 NOERROR Current IP Address: 203.0.113.7\r\n01/01/26 00:00:00: *** forged\x1b[2J\r\n");
        worker.join();
        // The server's line stands indented, its escape sequence shown.
        EXPECT_NE(log.Text().find("\r\n    01/01/26 00:00:00: *** forged\\x1B[2J"), std::string::npos);
    }
}
