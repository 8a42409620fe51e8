#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "log/clock.h"
#include "log/log.h"
#include "settings/preferences.h"
#include "test_support.h"

namespace {
std::vector<std::string> windowLines;
int windowCreations = 0;
void RecordEnsure() { ++windowCreations; }
void RecordAdd(const char* line) { windowLines.push_back(std::string(line).substr(19)); }

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        windowLines.clear();
        windowCreations = 0;
        EnsureLogWindow = RecordEnsure;
        AddLogWindowLine = RecordAdd;
    }
    void TearDown() override {
        EnsureLogWindow = nullptr;
        AddLogWindowLine = nullptr;
    }
};
}  // namespace

TEST_F(LogTest, FlagsDecideFilterDecorationAndWindow) {
    struct Case {
        int flags;
        bool detailed;
        const char* file;    // expected text after the stamp, or null when dropped
        bool inWindow;
    } cases[] = {
        {1, false, "text", true},
        {2, false, nullptr, false},
        {8, false, nullptr, false},
        {9, false, nullptr, false},
        {10, false, nullptr, false},
        {12, false, nullptr, false},
        {1, true, "text", true},
        {2, true, "   text", true},
        {8, true, "text", false},
        {9, true, "text", true},
        {10, true, "   text", true},
        {12, true, "*** text", true},
        {5, false, "*** text", true},
    };
    for (const Case& c : cases) {
        LogCapture log(c.detailed);
        windowLines.clear();
        windowCreations = 0;
        WriteLog(c.flags, "text");
        std::vector<std::string> lines = log.Lines();
        SCOPED_TRACE("flags " + std::to_string(c.flags) + (c.detailed ? " detailed" : ""));
        if (c.file) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], c.file);
            EXPECT_EQ(windowCreations, 1);  // even a file-only line creates the window
        } else {
            EXPECT_TRUE(lines.empty());
            EXPECT_EQ(windowCreations, 0);
        }
        EXPECT_EQ(windowLines.size(), c.inWindow ? 1u : 0u);
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

TEST_F(LogTest, TimeStampIsLocalMonthDayYear) {
    LogCapture log(false);
    std::int64_t when = 1772874303;  // 2026-03-07 09:05:03 UTC
    FixClock(when);
    WriteLog(1, "x");
    std::time_t t = static_cast<std::time_t>(when);
    char expected[32];
    std::strftime(expected, sizeof expected, "%m/%d/%y %H:%M:%S", std::localtime(&t));
    std::string text = log.Text();
    EXPECT_EQ(text, std::string(expected) + ": x\r\n");
    EXPECT_EQ(std::string(expected).size(), 17u);
}

TEST_F(LogTest, DeletedFileIsCreatedAgainAndEmptyPathWritesNothing) {
    LogCapture log(false);
    WriteLog(1, "one");
    std::remove(log.Path().c_str());
    WriteLog(1, "two");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "two");

    LogFilePath[0] = '\0';
    WriteLog(1, "nowhere");
    EXPECT_EQ(windowLines.back().substr(0), "nowhere");  // still in the window
}

TEST_F(LogTest, ConcurrentWritersLoseNoLine) {
    LogCapture log(true);
    EnsureLogWindow = nullptr;  // the recorder is for one thread
    AddLogWindowLine = nullptr;
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
