// The shell with a real hidden main window under Wine, driven by messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/app_win.h"
#include "log/log_window.h"
#include "common/text.h"
#include "log/log.h"
#include "res/resource.h"
#include "settings/preferences.h"
#include "settings/settings.h"
#include "test_support.h"
#include "update/connection.h"
#include "update/update_run.h"
#include "message_box.h"

namespace {
const char* const ProductKey = "Software\\Brannock\\Vastrel";

// Dispatches the thread's messages until done() or the limit.
bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        Sleep(10);
    }
    return done();
}
void Pump(int ms) { PumpUntil([] { return false; }, ms); }

void Command(int id) { SendMessageA(MainWindow, WM_COMMAND, id, 0); }
bool IconPresent() {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = MainWindow;
    data.uID = 1;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

class ShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ResetSharedState();
        UseFreshSettingsStore();
        WriteStoredNumber(ProductKey, "Connection", 1);
        WriteStoredNumber(ProductKey, "DetailedLogging", 1);
        WriteStoredNumber(ProductKey, "FirstCheck", 3600);  // no timer fires on its own
        WriteStoredNumber(ProductKey, "UseProxy", 1);
        WriteStoredText(ProductKey, "ProxyServer", "127.0.0.1");
        WriteStoredNumber(ProductKey, "ProxyPort", ServerPort());
        started = StartProgram(GetModuleHandleA(nullptr), "");
        // The run's addresses: loopback and one documentation address.
        InjectInterfaces({{InterfaceLoopback, Address("127.0.0.1")}, {0, Address("192.0.2.77")}});
    }
    void SetUp() override {
        ASSERT_TRUE(started);
        Pump(50);
    }
    static std::string Log() {
        FILE* file = std::fopen(LogFilePath, "rb");
        if (!file) return "";
        std::string text;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        std::fclose(file);
        return text;
    }
    // The log window's list: polling it never collides with the log file,
    // which its writer opens without sharing.
    static std::size_t ListCount() {
        return static_cast<std::size_t>(SendDlgItemMessageA(LogWindow, IDC_LOG_LIST, LB_GETCOUNT, 0, 0));
    }
    static std::string ListFrom(std::size_t first) {
        std::string text;
        char line[2048];
        for (std::size_t i = first; i < ListCount(); ++i) {
            if (SendDlgItemMessageA(LogWindow, IDC_LOG_LIST, LB_GETTEXTLEN, i, 0) >= LRESULT(sizeof line)) continue;
            SendDlgItemMessageA(LogWindow, IDC_LOG_LIST, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            text += line;
            text += "\n";
        }
        return text;
    }
    static bool RunEnded(std::size_t firstLine) {
        std::string text = ListFrom(firstLine);
        return text.find("   Update successful") != std::string::npos ||
               text.find("   Some or all accounts failed to update!") != std::string::npos;
    }
    static bool started;
};
bool ShellTest::started = false;
}  // namespace

TEST_F(ShellTest, StartsHiddenWithTrayIconAndFirstTimers) {
    EXPECT_NE(FindWindowA("VastrelApp", "Vastrel"), nullptr);
    EXPECT_FALSE(IsWindowVisible(MainWindow));
    EXPECT_NE(LogWindow, nullptr);
    EXPECT_FALSE(IsWindowVisible(LogWindow));
    EXPECT_TRUE(IconPresent());
    EXPECT_EQ(ShownTrayState, Enabled);
    EXPECT_STREQ(ShownTooltip, "Vastrel is enabled");
    EXPECT_EQ(EnableItemLabel, IDS_DISABLE);
    EXPECT_FALSE(TimerIsArmed(UpdateTimer));  // no accounts
    EXPECT_TRUE(TimerIsArmed(VersionTimer));
    EXPECT_EQ(TimerDelay(VersionTimer), 3601000u);
    EXPECT_NE(Log().find("Vastrel 1.5.7 initialized properly."), std::string::npos);
    char version[8];
    GetOwnVersion(version);
    EXPECT_STREQ(version, "1.5.7");
}

TEST_F(ShellTest, DisableAndEnableSwitchTimersIconAndLabel) {
    Command(IDM_ENABLEDISABLE);
    EXPECT_EQ(ReadShared(UpdatesDisabled), 1);
    EXPECT_EQ(ShownTrayState, Disabled);
    EXPECT_STREQ(ShownTooltip, "Vastrel is disabled");
    EXPECT_EQ(EnableItemLabel, IDS_ENABLE);
    EXPECT_FALSE(TimerIsArmed(UpdateTimer));
    EXPECT_FALSE(TimerIsArmed(VersionTimer));
    EXPECT_FALSE(TimerIsArmed(BlinkTimer));

    // Enabling again with a failure pending brings the blink back at once.
    {
        SharedDataGuard guard(SharedDataMutex());
        RunFailed = 1;
    }
    Command(IDM_ENABLEDISABLE);
    EXPECT_EQ(ReadShared(UpdatesDisabled), 0);
    EXPECT_EQ(ShownTrayState, Failed);
    EXPECT_EQ(EnableItemLabel, IDS_DISABLE);
    EXPECT_TRUE(TimerIsArmed(UpdateTimer));
    EXPECT_EQ(TimerDelay(UpdateTimer), 1000u);
    EXPECT_TRUE(TimerIsArmed(VersionTimer));
    EXPECT_EQ(TimerDelay(VersionTimer), 2000u);
    EXPECT_TRUE(TimerIsArmed(BlinkTimer));

    // Each blink tick swaps the failure picture.
    int before = BlinkIcon;
    SendMessageA(MainWindow, WM_TIMER, BlinkTimer, 0);
    EXPECT_NE(BlinkIcon, before);
    SendMessageA(MainWindow, WM_TIMER, BlinkTimer, 0);
    EXPECT_EQ(BlinkIcon, before);
    EXPECT_STREQ(ShownTooltip, "Update failed");

    Command(IDM_SNOOZE);
    EXPECT_EQ(ReadShared(RunFailed), 0);
    EXPECT_FALSE(TimerIsArmed(BlinkTimer));
    EXPECT_EQ(ShownTrayState, Enabled);

    // "Enable" with no accounts still starts a run after one second.
    Command(IDM_ENABLEDISABLE);
    std::size_t size = ListCount();
    Command(IDM_ENABLEDISABLE);
    EXPECT_TRUE(PumpUntil([&] { return RunEnded(size); }, 5000));
    EXPECT_STREQ(ShownTooltip, "Update successful");
}

TEST_F(ShellTest, UpdateTimerTickRearmsWithTheNewSleepTime) {
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.SleepTime = 123000;
    }
    std::size_t size = ListCount();
    SendMessageA(MainWindow, WM_TIMER, UpdateTimer, 0);
    EXPECT_TRUE(TimerIsArmed(UpdateTimer));
    EXPECT_EQ(TimerDelay(UpdateTimer), 123000u);
    EXPECT_TRUE(PumpUntil([&] { return RunEnded(size); }));
    SendMessageA(MainWindow, WM_TIMER, VersionTimer, 0);
    EXPECT_EQ(TimerDelay(VersionTimer), 86400000u);
}

TEST_F(ShellTest, CheckNowWhileDisabledRunsAndRearms) {
    Command(IDM_ENABLEDISABLE);
    ASSERT_EQ(ReadShared(UpdatesDisabled), 1);
    std::size_t size = ListCount();
    Command(IDM_CHECKNOW);
    EXPECT_TRUE(TimerIsArmed(UpdateTimer));
    EXPECT_TRUE(TimerIsArmed(VersionTimer));
    EXPECT_EQ(TimerDelay(VersionTimer), 86400000u);
    EXPECT_TRUE(PumpUntil([&] { return RunEnded(size); }));
    EXPECT_NE(ListFrom(size).find("Manual update started..."), std::string::npos);
    EXPECT_EQ(ShownTrayState, Disabled);  // the run's Idle resolves by the enabled state
    EXPECT_EQ(EnableItemLabel, IDS_ENABLE);
    Command(IDM_ENABLEDISABLE);
    EXPECT_EQ(ReadShared(UpdatesDisabled), 0);
}

TEST_F(ShellTest, RunWithOneFailingAccountBlinksAndStores) {
    {
        SharedDataGuard guard(SharedDataMutex());
        AppendAccount(MakeAccount("home", 0, "alice", "secret"));
        AppendAccount(MakeAccount("office", 0, "alice", "wrong"));
        AppendAccount(MakeAccount("proxy", 0, "alice", "secret"));
    }
    CreateAccountRegInfo();
    std::size_t size = ListCount();
    Command(IDM_CHECKNOW);
    EXPECT_TRUE(PumpUntil([&] { return RunEnded(size); }));
    Pump(300);
    EXPECT_EQ(ShownTrayState, Failed);
    EXPECT_STREQ(ShownTooltip, "Update failed");
    EXPECT_TRUE(TimerIsArmed(BlinkTimer));
    EXPECT_EQ(ReadShared(RunFailed), 1);
    EXPECT_EQ(StoredNumber("Software\\Brannock\\Vastrel\\Accounts\\1", "Update"), 0);
    EXPECT_EQ(StoredNumber("Software\\Brannock\\Vastrel\\Accounts\\2", "LastIP"),
              static_cast<std::int32_t>(Address("192.0.2.77")));
    Command(IDM_SNOOZE);
}

TEST_F(ShellTest, TrayCallbackOpensLogWindowAndMenu) {
    SendMessageA(MainWindow, TrayCallbackMessage, 1, WM_LBUTTONDOWN);  // a single click does nothing
    EXPECT_FALSE(IsWindowVisible(LogWindow));
    SendMessageA(MainWindow, TrayCallbackMessage, 1, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(LogWindow));

    // The menu is modal: close it from outside once it is up.
    bool menuSeen = false;
    std::thread closer([&] {
        for (int i = 0; i < 100; ++i) {
            Sleep(50);
            if (HWND popup = FindWindowA("#32768", nullptr)) {
                menuSeen = IsWindowVisible(popup) != FALSE;
                Sleep(200);
                PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                PostMessageA(MainWindow, WM_CANCELMODE, 0, 0);
                return;
            }
        }
        PostMessageA(MainWindow, WM_CANCELMODE, 0, 0);
    });
    SendMessageA(MainWindow, TrayCallbackMessage, 1, WM_RBUTTONDOWN);
    closer.join();

    EXPECT_TRUE(menuSeen);

    // Closing the log window only hides it; lines keep arriving.
    HWND list = GetDlgItem(LogWindow, IDC_LOG_LIST);
    SendMessageA(GetDlgItem(LogWindow, IDOK), BM_CLICK, 0, 0);
    Pump(50);
    EXPECT_FALSE(IsWindowVisible(LogWindow));
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    WriteLog(LogMilestone, "while hidden");
    // A worker's line is added by this thread while the worker waits.
    std::atomic<bool> written{false};
    std::thread worker([&] {
        WriteLog(LogMilestone, "from a worker");
        written = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return written.load(); }, 5000));
    worker.join();
    ASSERT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), count + 2);
    char line[512];
    SendMessageA(list, LB_GETTEXT, count + 1, reinterpret_cast<LPARAM>(line));
    EXPECT_NE(std::string(line).find("from a worker"), std::string::npos);
    Command(IDM_VIEWLOG);
    EXPECT_TRUE(IsWindowVisible(LogWindow));
    Command(IDM_VIEWLOG);  // twice changes nothing
    EXPECT_TRUE(IsWindowVisible(LogWindow));
    ShowWindow(LogWindow, SW_HIDE);
}

TEST_F(ShellTest, TaskbarCreatedBringsTheIconBack) {
    SetTrayState(MainWindow, Busy, nullptr);
    RemoveTrayIcon(MainWindow);  // as when Explorer restarts
    ASSERT_FALSE(IconPresent());
    SendMessageA(MainWindow, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(IconPresent());
    EXPECT_EQ(ShownTrayState, Busy);
    EXPECT_STREQ(ShownTooltip, "Connecting to server...");
    SetEnabledState(MainWindow, Keep);
}

TEST_F(ShellTest, LongTooltipIsCutAndHiddenIconKeepsTheLabel) {
    std::string longText(100, 't');
    SetTrayState(MainWindow, Idle, longText.c_str());
    EXPECT_EQ(std::string(ShownTooltip), longText.substr(0, 63));
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.ShowTrayIcon = 0;
    }
    ApplyTrayIconPreference(MainWindow);
    EXPECT_FALSE(IconPresent());
    SetEnabledState(MainWindow, Disable);
    EXPECT_EQ(EnableItemLabel, IDS_ENABLE);
    SetEnabledState(MainWindow, Enable);
    EXPECT_EQ(EnableItemLabel, IDS_DISABLE);
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.ShowTrayIcon = 1;
    }
    ApplyTrayIconPreference(MainWindow);
    EXPECT_TRUE(IconPresent());
}

TEST_F(ShellTest, ForceUpdateAsksFirst) {
    for (int answer : {IDNO, IDYES}) {
        std::size_t size = ListCount();
        bool updateArmed = TimerIsArmed(UpdateTimer);
        std::string text = AnswerMessageBox("Force update", nullptr, [] { Command(IDM_FORCEUPDATE); }, answer);
        EXPECT_EQ(text.rfind("BE WARNED: too many updates in a short period of time WILL cause", 0), 0u) << text;
        EXPECT_EQ(TimerIsArmed(UpdateTimer), updateArmed);  // the schedule stays
        if (answer == IDYES) {
            EXPECT_TRUE(PumpUntil([&] { return RunEnded(size); }));
        } else {
            Pump(300);
            EXPECT_EQ(ListFrom(size).find("Starting update..."), std::string::npos);
        }
    }
}

TEST_F(ShellTest, UpdateTimerFiringEvery10MsNeverPilesUpRuns) {
    // A stored "SleepTime" of 0: the timer is armed with one minute instead, said once.
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.SleepTime = 0;
    }
    SendMessageA(MainWindow, WM_TIMER, UpdateTimer, 0);
    EXPECT_EQ(TimerDelay(UpdateTimer), 60000u);
    Pump(50);
    EXPECT_NE(Log().find("*** The stored update interval of 0 ms is below one minute; updating every minute."),
              std::string::npos);

    // The timer's ticks every 10 ms for two seconds, against a server that never answers.
    AccountSet saved;
    {
        SharedDataGuard guard(SharedDataMutex());
        saved = AccountTable;
        AccountTable = AccountSet{};
        AppendAccount(MakeAccount("silent", 0, "alice", "secret"));
        Preferences.SleepTime = 300000;
    }
    CreateAccountRegInfo();
    const int timeout = NetworkTimeoutMs;
    NetworkTimeoutMs = 300;
    Pump(300);
    const int baseline = ThreadCount();
    int ticks = 0, most = 0;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2); std::chrono::steady_clock::now() < end;
         ++ticks) {
        SendMessageA(MainWindow, WM_TIMER, UpdateTimer, 0);
        most = std::max(most, ThreadCount() - baseline);
        Pump(10);
    }
    EXPECT_TRUE(PumpUntil([] { return !UpdateRunsPending(); }));
    std::printf("[ figures  ] %d timer ticks in 2 s: at most %d run threads alive\n", ticks, most);
    EXPECT_LE(most, 2);
    NetworkTimeoutMs = timeout;
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountTable = saved;
    }
    CreateAccountRegInfo();
}

TEST_F(ShellTest, EndOfSessionStoresTheSettings) {
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.SleepTime = 321000;
    }
    EXPECT_EQ(SendMessageA(MainWindow, WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(MainWindow, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), 321000);
}

TEST_F(ShellTest, ExitEndsTheLoopAndShutdownStores) {
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.SleepTime = 654000;
    }
    Command(IDM_EXIT);
    MSG message;
    bool quit = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message == WM_QUIT) quit = true;
    EXPECT_TRUE(quit);
    ShutDownProgram();
    EXPECT_FALSE(IconPresent());
    EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), 654000);
    std::string log = Log();
    EXPECT_EQ(log.substr(log.size() - 30), "Vastrel terminated properly.\r\n");
}
