#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/account_state.h"
#include "app/notices.h"
#include "app/shell.h"
#include "common/text.h"
#include "app/update_run.h"
#include "log/clock.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "settings/key_store.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/dialog_logic.h"
#include "update/connection.h"
#include "update/dialup.h"

namespace {
std::mutex callsMutex;
std::vector<std::string> calls;
std::atomic<int> inRun{0}, maxInRun{0};

void Record(const std::string& call) {
    std::lock_guard<std::mutex> guard(callsMutex);
    calls.push_back(call);
}
// A run lies between its "Busy" and its closing blink call, on its own thread.
thread_local bool insideRun = false;
void RecordTray(TrayState state, const char* tooltip) {
    static const char* const names[] = {"Disabled", "Enabled", "Idle", "Busy", "Failed"};
    if (state == Busy) {
        insideRun = true;
        int now = ++inRun, seen = maxInRun;
        while (now > seen && !maxInRun.compare_exchange_weak(seen, now)) {}
    }
    Record(std::string("tray ") + names[state] + (tooltip ? std::string(" ") + tooltip : ""));
}
void RecordBlink(int on) {
    if (insideRun) {
        insideRun = false;
        --inRun;
    }
    Record("blink " + std::to_string(on));
}
void RecordQuit() { Record("quit"); }

int dialUpAnswer = -1, dialUpAsked = 0;
int FakeDialUp() {
    ++dialUpAsked;
    return dialUpAnswer;
}

class UpdateRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        UseFreshSettingsStore();
        InitSettings();  // the schema, on an empty store
        if (!ServerPort()) GTEST_SKIP() << "needs the reference server (VASTREL_TEST_PORT)";
        ResetSharedState();
        InjectInterfaces({{0, Address("192.0.2.44")}});
        calls.clear();
        inRun = maxInRun = 0;
        dialUpAnswer = -1;
        dialUpAsked = 0;
        saved = Shell;
        Shell.SetTrayState = RecordTray;
        Shell.SetBlinking = RecordBlink;
        Shell.PostQuit = RecordQuit;
        DialUpCheck = FakeDialUp;
    }
    void TearDown() override {
        Shell = saved;
        DialUpCheck = CheckDialUp;
        RestoreInterfaces();
    }
    ShellCalls saved{};
    static void AddAccounts(const std::vector<std::pair<const char*, const char*>>& hostsAndPasswords) {
        for (auto& hp : hostsAndPasswords) AppendAccount(MakeAccount(hp.first, 0, "alice", hp.second));
        CreateAccountRegInfo();
    }
    static std::string Full(const char* host) { return std::string(host) + "." + ServerTable[0].Domain; }
    static bool Stored() { return StoredNumber(ProductKey, "SleepTime") != -999999; }
};
using Calls = std::vector<std::string>;
}  // namespace

// What the Accounts list, its state lines and the normal log say of an account after its try.
TEST(AccountState, EachOutcomeInPlainWords) {
    const std::int64_t now = 1790000000;
    FixClock(now);
    Account duck = MakeAccount("mine.duckdns.org", -1, "", "");
    duck.Service = 2;
    struct Case {
        const char* what;
        int result;
        std::int32_t update, retryAt, lastUpdate;
        const char* failure;
        AccountResult state;
        const char *row, *why;  // after the host in the list, and after "not updated: " in the log
    } cases[] = {
        {"sent", 0, 1, 0, 5, "", ResultUpdated, " - up to date", ""},
        {"unchanged", 0, 1, 0, 0, "", ResultUnchanged, " - up to date", ""},
        {"refused", -1, 0, 0, 0, "DuckDNS refused the token or the domain (\"KO\")", ResultRefused, " (disabled)",
         "DuckDNS refused the token or the domain"},
        {"waiting", -1, 1, static_cast<std::int32_t>(now + 600), 0, "x", ResultWaiting, " - waiting",
         "DuckDNS asked Vastrel to wait"},
        {"no connection", -1, 1, 0, 0, "Request failed, could not connect! (winsock error: 111 )", ResultUnreachable,
         " - not reached", "could not reach www.duckdns.org; is the computer online?"},
        {"no address", -1, 1, 0, 0, "No interface available", ResultFailed, " - failed", "No interface available"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Account after = duck;
        after.Update = c.update;
        after.RetryAt = c.retryAt;
        after.LastUpdate = c.lastUpdate;
        RecordAccountState(duck, after, c.result, c.failure, now);
        EXPECT_EQ(after.LastResult, c.state);
        EXPECT_EQ(after.LastTry, now);
        char row[AccountRowSize];
        AccountRowText(after, row, sizeof row);
        EXPECT_EQ(row, "mine.duckdns.org" + std::string(c.row));
        const std::string line = NotUpdatedLine(after);
        EXPECT_EQ(line.rfind(c.why[0] ? "mine.duckdns.org (DuckDNS): not updated: " + std::string(c.why) : "", 0), 0u) << line;
        EXPECT_EQ(line.empty(), !c.why[0]);
    }
    Account disabled = duck;
    disabled.Update = 0;
    Account untouched = disabled;
    RecordAccountState(disabled, untouched, 0, "", now);  // not tried: keeps its state
    EXPECT_EQ(untouched.LastTry, 0);
    Account steady = duck;  // up to date as before: the time it began stays, and nothing is there to store
    steady.LastResult = ResultUnchanged, steady.LastTry = 5;
    Account next = steady;
    RecordAccountState(steady, next, 0, "", now);
    EXPECT_EQ(next.LastTry, 5);
    RestoreClock();
}

TEST(UpdateTimerPeriod, NeverBelowOneMinuteNorNegative) {
    for (const std::int32_t sleepTime : {59999, 0, -1, INT32_MIN}) {
        Preferences.SleepTime = sleepTime;
        EXPECT_EQ(UpdateTimerPeriod(), 60000u) << sleepTime;
    }
}

TEST_F(UpdateRunTest, ZeroAccountsSucceedAndQuitUnderAutoExit) {
    AutoExit = 1;
    LogCapture log(true);
    UpdateRun(Timer);
    EXPECT_EQ(calls, (Calls{"blink 0", "tray Busy", "tray Idle Update successful", "quit", "blink 0"}));
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"   Starting update...", "   Update successful",
                                        FileOnly("Storing preference settings to the registry..."),
                                        FileOnly("Storing accounts to the registry..."),
                                        FileOnly("Auto start feature disabled in the registry"), FileOnly("Stored.")}));
    EXPECT_EQ(RunFailed, 0);
    EXPECT_TRUE(Stored());
}

TEST_F(UpdateRunTest, DialUpGateDecidesBeforeAnyAccount) {
    struct Case {
        std::int32_t connection;
        int answer;
        std::int32_t failedBefore;
        Calls expected;
        bool stored;
        bool told = false;  // the normal log names the way out, once until a run passes
    } cases[] = {
        {0, 0, 0, {"blink 0", "tray Busy", "tray Idle", "blink 0"}, false, true},
        {0, 0, 1, {"blink 0", "tray Busy", "blink 1"}, false},
        {0, -1, 1, {"blink 0", "tray Busy", "tray Idle Update successful: 1 account up to date", "blink 0"}, true},
        {0, 1, 0, {"blink 0", "tray Busy", "tray Idle Update successful: 1 account up to date", "blink 0"}, true},
        {1, 0, 0, {"blink 0", "tray Busy", "tray Idle Update successful: 1 account up to date", "blink 0"}, true},
        {0, 0, 0, {"blink 0", "tray Busy", "tray Idle", "blink 0"}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("connection " + std::to_string(c.connection) + " answer " + std::to_string(c.answer));
        UseFreshSettingsStore();
        InitSettings();
        ResetSharedState();
        KeyHandle key;
        ASSERT_TRUE(OpenOrCreateKey(ProductKey, &key));
        DeleteValue(key, "SleepTime");  // only a store brings it back
        CloseKey(key);
        AddAccounts({{"home", "secret"}});
        int before = ServerRequestCount(Full("home"));
        Preferences.Connection = c.connection;
        RunFailed = c.failedBefore;
        dialUpAnswer = c.answer;
        dialUpAsked = 0;
        calls.clear();
        LogCapture log(false);
        UpdateRun(Manual);
        EXPECT_EQ(log.Text().find("choose \"LAN\" under \"Connection\" in Properties.") != std::string::npos, c.told);
        EXPECT_EQ(calls, c.expected);
        EXPECT_EQ(dialUpAsked, c.connection == 0 ? 1 : 0);
        EXPECT_EQ(Stored(), c.stored);
        EXPECT_EQ(ServerRequestCount(Full("home")), before + (c.stored ? 1 : 0));
        EXPECT_EQ(RunFailed, c.stored ? 0 : c.failedBefore);
    }
}

TEST_F(UpdateRunTest, OneFailingAccountFailsTheRunButAllAreTried) {
    AutoExit = 1;
    AddAccounts({{"home", "secret"}, {"office", "wrong"}, {"proxy", "secret"}});
    int home = ServerRequestCount(Full("home")), proxy = ServerRequestCount(Full("proxy"));
    const std::uint32_t lookUps = HostLookUps;
    LogCapture log(false);
    UpdateRun(Forced);
    EXPECT_EQ(HostLookUps - lookUps, 1u);  // their one update host, looked up once in the run
    // The tooltip names the first account that failed, and the log says why, without details too; no quit.
    EXPECT_EQ(calls, (Calls{"blink 0", "tray Busy", "tray Failed Update failed: " + Full("office") + " refused by the service",
                            "blink 1"}));
    const std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        Full("office") + ": not updated: the service refused the user name or password"),
              lines.end());
    EXPECT_EQ(RunFailed, 1);
    EXPECT_EQ(ServerRequestCount(Full("home")), home + 1);
    EXPECT_EQ(ServerRequestCount(Full("proxy")), proxy + 1);
    EXPECT_EQ(AccountTable.Accounts[0].LastIP, Address("192.0.2.44"));
    EXPECT_EQ(AccountTable.Accounts[1].Update, 0);  // refused: disabled, and stored so
    EXPECT_EQ(StoredNumber("Software\\Brannock\\Vastrel\\Accounts\\1", "Update"), 0);
    EXPECT_EQ(StoredNumber("Software\\Brannock\\Vastrel\\Accounts\\2", "LastIP"),
              static_cast<std::int32_t>(Address("192.0.2.44")));
}

TEST_F(UpdateRunTest, AServerThatTimedOutIsNotContactedAgainInTheRun) {
    AddAccounts({{"silent", "secret"}, {"home", "secret"}, {"office", "secret"}});
    NetworkTimeoutMs = 300;
    const int home = ServerRequestCount(Full("home")), office = ServerRequestCount(Full("office"));
    LogCapture log(true);
    UpdateRun(Forced);
    EXPECT_EQ(ServerRequestCount(Full("home")), home);
    EXPECT_EQ(ServerRequestCount(Full("office")), office);
    int failed = 0;
    for (const std::string& line : log.Lines())
        failed += line.rfind("*** Request failed, could not connect! (winsock error: ", 0) == 0;
    EXPECT_EQ(failed, 2);
}

TEST_F(UpdateRunTest, OverlappingRunsWaitAndEditsLoseNoResult) {
    AddAccounts({{"home", "secret"}, {"office", "secret"}, {"proxy", "secret"}});
    std::vector<std::thread> runs;
    for (int i = 0; i < 3; ++i) runs.emplace_back([] { UpdateRun(Forced); });
    // The user meanwhile presses "OK" in Accounts again and again, once after adding an account.
    for (int round = 0; round < 50; ++round) {
        BeginAccountEdits();
        {
            SharedDataGuard guard(SharedDataMutex());
            if (round == 10) AppendAccount(*AccountEdits(), MakeAccount("both", 0, "alice", "secret"));
        }
        CommitAccountEdits();
    }
    for (auto& r : runs) r.join();
    EXPECT_EQ(maxInRun.load(), 1) << "runs overlapped";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(AccountTable.Accounts[i].LastIP, Address("192.0.2.44")) << i;
        EXPECT_EQ(AccountTable.Accounts[i].Update, 1) << i;
    }
}

TEST_F(UpdateRunTest, RequestsWhileARunWaitsJoinItSoRunsNeverPileUp) {
    AddAccounts({{"silent", "secret"}});  // never answered: each run costs one time limit
    NetworkTimeoutMs = 300;
    std::thread([] {}).join();  // a sanitizer's own thread, if any, is there from now on
    const int baseline = ThreadCount();
    const std::size_t memoryBefore = ResidentBytes();
    int requests = 0, most = 0;
    // The update timer firing every 10 ms for two seconds.
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2); std::chrono::steady_clock::now() < end;
         ++requests) {
        StartUpdateRun(Timer);
        most = std::max(most, ThreadCount() - baseline);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::size_t memoryAfter = ResidentBytes();
    while (UpdateRunsPending()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::cout << "[ figures  ] " << requests << " run requests in 2 s: at most " << most
              << " run threads alive; resident memory " << memoryBefore / 1024 << " KiB before, " << memoryAfter / 1024
              << " KiB after\n";
    EXPECT_LE(most, 2);
    EXPECT_LT(memoryAfter, memoryBefore + 8 * 1024 * 1024);
}

TEST_F(UpdateRunTest, AWaitingRunTakesTheStrongestModeAskedFor) {
    Account home = MakeAccount("home", 0, "alice", "secret");
    home.LastIP = Address("192.0.2.44");
    home.LastUpdate = static_cast<std::int32_t>(std::time(nullptr));  // up to date: only a forced run sends it
    AppendAccount(home);
    CreateAccountRegInfo();
    HeldExchange server;
    StartUpdateRun(Forced);
    ASSERT_NE(server.AwaitRequest(), "");  // the first run is held inside its exchange
    StartUpdateRun(Timer);                 // waits for it
    StartUpdateRun(Forced);                // joins the waiting run and makes it forced
    StartUpdateRun(Manual);
    server.Reply("NOERROR");
    EXPECT_NE(server.AwaitRequest(), "");  // the waiting run was forced
    server.Reply("NOERROR");
    auto ended = [] {
        std::lock_guard<std::mutex> guard(callsMutex);
        return std::count(calls.begin(), calls.end(), "tray Idle Update successful: 1 account up to date");
    };
    while (UpdateRunsPending()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(ended(), 2);
}

// One notice a run, the one that most needs the user; failing runs are told
// once an hour has passed since the first of them, and again only after a
// run went well.
TEST(RunNoticesTest, EachRunToldOnceByWhatMostNeedsTheUser) {
    FixClock(1000000);
    Account home = MakeAccount("home", 0, "alice", "secret"), duck = MakeAccount("me.duckdns.org", -1, "", "t");
    duck.Service = 2;
    Account homeNew = home, duckNew = duck, duckRefused = duck, duckWaits = duck;
    homeNew.LastIP = duckNew.LastIP = Address("192.0.2.10");
    CopyText(duckNew.LastIP6, "2001:470::1");
    duckRefused.Update = 0;
    duckWaits.RetryAt = 1000600;
    char until[18];
    FormatTimeStamp(1000600, until);
    const std::string full = std::string("home.") + ServerTable[0].Domain;
    const struct Case {
        std::vector<Account> steps;  // before and after, in pairs
        std::string text;            // "" for none
    } cases[] = {
        {{home, homeNew, duck, duckRefused},
         "me.duckdns.org: the service refused the update: \"badagent\". The account is disabled; enable it in "
         "Accounts after correcting it."},
        {{duck, duckWaits, home, homeNew},
         "me.duckdns.org: DuckDNS asks Vastrel to wait; nothing is sent to it before " + std::string(until) + "."},
        {{home, homeNew, duck, duckNew}, full + " and 1 more account now point at 192.0.2.10"},
        {{duck, duckNew}, "me.duckdns.org now points at 192.0.2.10 and 2001:470::1"},
        {{duckWaits, duckWaits, home, home}, ""},
    };
    for (const Case& c : cases) {
        RunNotices notices;
        for (std::size_t i = 0; i < c.steps.size(); i += 2)
            notices.Take(c.steps[i], c.steps[i + 1], "The service refused the update: \"badagent\"");
        Notice notice;
        EXPECT_EQ(notices.Choose(false, 1000000, notice), !c.text.empty());
        EXPECT_EQ(notice.Text, c.text);
        EXPECT_EQ(notice.OpensAccounts, c.text.find("disabled") != std::string::npos) << c.text;
    }
    // Runs at these times, failed (!) or not (.), and whether each is told.
    const std::int64_t times[] = {100000, 103599, 103600, 107200, 107300, 108000, 111599, 111600};
    const char ran[] = "!!!!.!!!";
    std::string told;
    for (int i = 0; i < 8; ++i) {
        RunNotices notices;
        notices.Take(home, home, "Request failed, could not connect!");
        Notice notice;
        told += notices.Choose(ran[i] == '!', times[i], notice) ? '!' : '.';
        EXPECT_EQ(notice.Text, told.back() == '!' ? "Vastrel could not update your accounts for an hour: Request "
                                                    "failed, could not connect!"
                                                  : "");
    }
    EXPECT_EQ(told, "..!....!");
    RestoreClock();
}
