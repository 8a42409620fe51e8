// The shell with a real hidden main window under Wine, driven by messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_win.h"
#include "app/update_run.h"
#include "app/version.h"
#include "common/text.h"
#include "log/log.h"
#include "message_box.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "program/program_win.h"
#include "pump_win.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/dialogs.h"
#include "ui/log_window.h"
#include "update/connection.h"
#include "update/tls.h"

namespace {

void Command(int id) { SendMessageA(MainWindow, WM_COMMAND, id, 0); }
// Pumps, as the program's loop would, until no update run is running or
// waiting: a run's tray calls wait for this thread.
void PumpUntilRunsEnd() {
    PumpUntil([] { return !UpdateRunsPending(); }, 30000);
}
// Puts these accounts in the table (and its descriptors); gives the table before.
AccountSet UseAccounts(const AccountSet& accounts) {
    AccountSet before;
    {
        SharedDataGuard guard(SharedDataMutex());
        before = AccountTable;
        AccountTable = accounts;
    }
    CreateAccountRegInfo();
    return before;
}

std::vector<std::string> shellCalls;
HINSTANCE WINAPI RecordShellCall(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR folder, INT show) {
    std::string call = owner == MainWindow ? "" : "(not the main window) ";
    call += std::string(verb ? verb : "(no verb)") + " " + (file ? file : "(no file)");
    call += parameters ? " | parameters" : " | no parameters";
    call += folder ? " | a folder" : " | no folder";
    call += show == SW_SHOWNORMAL ? " | shown normal" : " | shown otherwise";
    shellCalls.push_back(call);
    return reinterpret_cast<HINSTANCE>(42);
}
// Every notice handed to the shell, as the real tray took it (its result),
// and how many of the icon's other records were not of the second form.
std::vector<std::pair<NOTIFYICONDATAA, BOOL>> notices;
int otherForms = 0;
BOOL WINAPI RecordNotifyShell(DWORD operation, PNOTIFYICONDATAA data) {
    const BOOL done = Shell_NotifyIconA(operation, data);
    if (data->uFlags & NIF_INFO)
        notices.push_back({*data, done});
    else
        otherForms += data->cbSize != NOTIFYICONDATAA_V2_SIZE;
    return done;
}

bool IconPresent() {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = MainWindow;
    data.uID = 1;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// What the tracked tray menu shows, read from its window (MN_GETHMENU) by a
// second thread while ShowTrayMenu waits inside the menu, which it then closes.
struct ShownMenu {
    bool seen = false;
    UINT defaultItem = 0;
    bool snoozeGrayed = false;
    std::string enableLabel;
    int items = 0;
};
ShownMenu OpenTrayMenu() {
    ShownMenu shown;
    std::thread reader([&] {
        for (int i = 0; i < 200; ++i) {
            Sleep(50);
            HWND popup = nullptr;
            for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32768", nullptr)) != nullptr;)
                if (IsWindowVisible(w)) popup = w;
            if (!popup) continue;
            if (HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0))) {
                shown.seen = true;
                shown.defaultItem = GetMenuDefaultItem(menu, FALSE, 0);
                shown.snoozeGrayed = (GetMenuState(menu, IDM_SNOOZE, MF_BYCOMMAND) & MF_GRAYED) != 0;
                char label[64] = "";
                GetMenuStringA(menu, IDM_ENABLEDISABLE, label, sizeof label, MF_BYCOMMAND);
                shown.enableLabel = label;
                shown.items = GetMenuItemCount(menu);
            }
            PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
            return;
        }
        PostMessageA(MainWindow, WM_CANCELMODE, 0, 0);  // never seen: end the menu all the same
    });
    SendMessageA(MainWindow, TrayCallbackMessage, 1, WM_RBUTTONDOWN);
    reader.join();
    return shown;
}

class ShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ResetSharedState();
        UseFreshSettingsStore();
        WriteStoredNumber(ProductKey, "Connection", 1);
        WriteStoredNumber(ProductKey, "DetailedLogging", 1);
        WriteStoredNumber(ProductKey, "ShowNotifications", 0);  // on only where a test says so
        WriteStoredNumber(ProductKey, "FirstCheck", 3600);      // no timer fires on its own
        WriteStoredNumber(ProductKey, "UseProxy", 1);
        WriteStoredText(ProductKey, "ProxyServer", "127.0.0.1");
        WriteStoredNumber(ProductKey, "ProxyPort", ServerPort());
        NotifyShell = RecordNotifyShell;
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
    EXPECT_EQ(EnableItemLabel, IDS_DISABLE);
    EXPECT_FALSE(TimerIsArmed(UpdateTimer));  // no accounts
    EXPECT_TRUE(TimerIsArmed(VersionTimer));
    EXPECT_EQ(TimerDelay(VersionTimer), 3601000u);
    // No account yet: Accounts opens by itself and the tooltip says where to add one, until one is added.
    EXPECT_STREQ(ShownTooltip, "Vastrel: no accounts yet. Right-click, Accounts... to add one");
    ASSERT_NE(AccountsDialog, nullptr);
    DestroyWindow(AccountsDialog);
    AppendAccount(MakeAccount("home", 0, "alice", "secret"));
    AccountsCommitted();
    EXPECT_STREQ(ShownTooltip, "Vastrel is enabled");
    EXPECT_EQ(TimerDelay(UpdateTimer), 3600000u);  // the first check follows the first account
    RemoveAccount(0);
    StopTimer(UpdateTimer);
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
    EXPECT_EQ(TimerDelay(BlinkTimer), 500u);

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

    // "Enable" arms the version check under "/autoexit" too, which armed none
    // at start-up; and with no accounts it still starts a run after one second.
    Command(IDM_ENABLEDISABLE);
    EXPECT_FALSE(TimerIsArmed(VersionTimer));
    {
        SharedDataGuard guard(SharedDataMutex());
        AutoExit = 1;
    }
    std::size_t size = ListCount();
    Command(IDM_ENABLEDISABLE);
    EXPECT_TRUE(TimerIsArmed(VersionTimer));
    EXPECT_EQ(TimerDelay(VersionTimer), 2000u);
    {
        SharedDataGuard guard(SharedDataMutex());
        AutoExit = 0;  // before the run, which would end the program
    }
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
    PumpUntilRunsEnd();
    EXPECT_NE(ListFrom(size).find("   Some or all accounts failed to update!"), std::string::npos);
    EXPECT_EQ(ShownTrayState, Failed);
    EXPECT_EQ(std::string(ShownTooltip),
              std::string("Update failed: office.") + ServerTable[0].Domain + " refused by the service");
    EXPECT_TRUE(TimerIsArmed(BlinkTimer));
    EXPECT_EQ(ReadShared(RunFailed), 1);
    EXPECT_EQ(StoredNumber("Software\\Brannock\\Vastrel\\Accounts\\1", "Update"), 0);
    EXPECT_EQ(StoredNumber("Software\\Brannock\\Vastrel\\Accounts\\2", "LastIP"),
              static_cast<std::int32_t>(Address("192.0.2.77")));
    Command(IDM_SNOOZE);
}

// No notice while "ShowNotifications" is off, the refusal above included;
// with it on, a refusal is told in a balloon the real tray takes (the end-to-
// end test clicks it).
TEST_F(ShellTest, ARefusalIsToldAtTheIconOnlyWithNotificationsOn) {
    EXPECT_TRUE(notices.empty());
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.ShowNotifications = 1;
        AccountTable.Accounts[1].Update = 1;  // office, refused above
    }
    Command(IDM_CHECKNOW);
    PumpUntilRunsEnd();
    ASSERT_EQ(notices.size(), 1u);
    const NOTIFYICONDATAA& shown = notices[0].first;
    EXPECT_TRUE(notices[0].second);
    EXPECT_EQ(shown.cbSize, NOTIFYICONDATAA_V2_SIZE);
    EXPECT_STREQ(shown.szInfoTitle, "Vastrel");
    EXPECT_EQ(std::string(shown.szInfo), std::string("office.") + ServerTable[0].Domain +
                                             ": the service refused the user name or password. The account is "
                                             "disabled; enable it in Accounts after correcting it.");
    EXPECT_EQ(shown.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING | NIIF_NOSOUND));
    EXPECT_EQ(otherForms, 0);
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.ShowNotifications = 0;
    }
    Command(IDM_SNOOZE);
}

TEST_F(ShellTest, TrayMenuShowsTheDefaultItemSnoozeStateAndEnableLabel) {
    struct Case {
        std::int32_t disabled, failed;
        bool snoozeGrayed;
        const char* label;
    } cases[] = {
        {0, 0, true, "Disable"},
        {0, 1, false, "Disable"},
        {1, 0, true, "Enable"},
        {1, 1, false, "Enable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("disabled " + std::to_string(c.disabled) + ", failed " + std::to_string(c.failed));
        {
            SharedDataGuard guard(SharedDataMutex());
            RunFailed = c.failed;
        }
        SetEnabledState(MainWindow, c.disabled ? Disable : Enable);
        const ShownMenu menu = OpenTrayMenu();
        ASSERT_TRUE(menu.seen);
        EXPECT_EQ(menu.defaultItem, static_cast<UINT>(IDM_VIEWLOG));
        EXPECT_EQ(menu.snoozeGrayed, c.snoozeGrayed);
        EXPECT_EQ(menu.enableLabel, c.label);
        EXPECT_EQ(menu.items, 11);
    }
    {
        SharedDataGuard guard(SharedDataMutex());
        RunFailed = 0;
    }
    SetEnabledState(MainWindow, Enable);
}

TEST_F(ShellTest, TrayCallbackOpensTheLogWindowWhichKeepsItsLines) {
    SendMessageA(MainWindow, TrayCallbackMessage, 1, WM_LBUTTONDOWN);  // a single click does nothing
    EXPECT_FALSE(IsWindowVisible(LogWindow));
    SendMessageA(MainWindow, TrayCallbackMessage, 1, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(LogWindow));
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
    std::string longText;
    for (int i = 0; i < 100; ++i) longText += "é";  // two bytes each: 63 of them fit in 127
    SetTrayState(MainWindow, Idle, longText.c_str());
    EXPECT_EQ(std::string(ShownTooltip), longText.substr(0, 126));
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

TEST_F(ShellTest, ForceUpdateAsksFirstAndOnlyYesSendsAnUpToDateAccount) {
    // One account, up to date: of all runs only a forced one sends it.
    Account home = MakeAccount("home", 0, "alice", "secret");
    home.LastIP = Address("192.0.2.77");
    home.LastUpdate = static_cast<std::int32_t>(std::time(nullptr));
    AccountSet one{};
    AppendAccount(one, home);
    const AccountSet saved = UseAccounts(one);
    const std::string host = std::string("home.") + ServerTable[0].Domain;
    struct Case {
        int answer;
        int sent;
    } cases[] = {{IDNO, 0}, {IDYES, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == IDYES ? "Yes" : "No");
        const int before = ServerRequestCount(host);
        const bool updateArmed = TimerIsArmed(UpdateTimer), versionArmed = TimerIsArmed(VersionTimer);
        std::size_t size = ListCount();
        std::string text = AnswerMessageBox(
            "Force update", nullptr, [] { Command(IDM_FORCEUPDATE); }, c.answer);
        EXPECT_EQ(text.rfind("BE WARNED: too many updates in a short period of time WILL cause", 0), 0u) << text;
        EXPECT_EQ(TimerIsArmed(UpdateTimer), updateArmed);  // the schedule stays
        EXPECT_EQ(TimerIsArmed(VersionTimer), versionArmed);
        PumpUntilRunsEnd();  // a run the answer started is under way by now
        EXPECT_EQ(ListFrom(size).find("Starting update...") != std::string::npos, c.answer == IDYES);
        EXPECT_EQ(ServerRequestCount(host), before + c.sent);
    }
    UseAccounts(saved);
}

// Both ways in: the timer's check on its worker, held inside its exchange,
// and another thread holding the mutex by its name; a check meanwhile ends at
// once without a line.
TEST_F(ShellTest, VersionChecksTakeTheNamedMutexOneAtATime) {
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.UseProxy = 0;  // the check goes to the held exchange
    }
    HeldExchange server;
    std::size_t size = ListCount();
    SendMessageA(MainWindow, WM_TIMER, VersionTimer, 0);
    ASSERT_NE(server.AwaitRequest(PumpBriefly).find("/Products/Vastrel/Version.html"), std::string::npos);
    const std::string whileHeld = ListFrom(size);
    EXPECT_EQ(VersionCheck(1), -1);
    EXPECT_EQ(ListFrom(size), whileHeld);
    server.Reply("VERSION:1.5.7 ");
    EXPECT_TRUE(PumpUntil([&] { return ListFrom(size).find("Program is up-to-date") != std::string::npos; }));

    std::mutex holdMutex;
    std::condition_variable holdChanged;
    bool ready = false, held = false, done = false;
    std::thread holder([&] {
        // The check above lets go of the mutex just after its last line.
        HANDLE named = OpenMutexA(SYNCHRONIZE, FALSE, "VastrelVersionCheck");
        bool taken = named && WaitForSingleObject(named, 10000) == WAIT_OBJECT_0;
        std::unique_lock<std::mutex> lock(holdMutex);
        ready = true;
        held = taken;
        holdChanged.notify_all();
        holdChanged.wait(lock, [&] { return done; });
        if (taken) ReleaseMutex(named);
        if (named) CloseHandle(named);
    });
    // Pumping: the check's last line is still on its way to the log window.
    PumpUntil([&] {
        std::lock_guard<std::mutex> lock(holdMutex);
        return ready;
    });
    EXPECT_TRUE(held);
    size = ListCount();
    EXPECT_EQ(VersionCheck(1), -1);
    EXPECT_EQ(ListFrom(size), "");
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        done = true;
    }
    holdChanged.notify_all();
    holder.join();
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.UseProxy = 1;
    }
}

// The help page and the download page reach the shell the same way; no
// browser starts here. Anything but a web address is refused. A page under
// .example, as the shipped build's default is, gives way to the README beside
// the program (here, beside the test).
TEST_F(ShellTest, HelpOpensOnlyAWebHelpAddressWithTheShell) {
    char path[MAX_PATH];
    std::string readme(path, GetModuleFileNameA(nullptr, path, sizeof path));
    readme.erase(readme.rfind('\\') + 1) += "README.txt";
    std::fclose(std::fopen(readme.c_str(), "w"));
    struct Case {
        const char* stored;
        std::string opened;  // "" when refused
    } cases[] = {
        {nullptr, std::string("http://") + MakerHost + "/Products/Vastrel/help.html"},  // the default
        {"http://www.brannock.example/Products/Vastrel/help.html", readme},
        {"http://user@Help.EXAMPLE.:8080/", readme},
        {"https://www.example.com/vastrel?page=1", "https://www.example.com/vastrel?page=1"},
        {"HTTPS://help.example.org/", "HTTPS://help.example.org/"},
        {"C:\\Windows\\System32\\calc.exe", ""},
        {"file:///C:/Windows/win.ini", ""},
        {"http://help.example/\" --argument", ""},
    };
    const auto saved = OpenWithShell;
    OpenWithShell = RecordShellCall;
    for (const Case& c : cases) {
        if (c.stored) {
            SharedDataGuard guard(SharedDataMutex());
            CopyText(Preferences.HelpURL, c.stored);
        }
        shellCalls.clear();
        const std::size_t size = ListCount();
        Command(IDM_HELP);
        const std::string call = "open " + c.opened + " | no parameters | no folder | shown normal";
        EXPECT_EQ(shellCalls, c.opened.empty() ? std::vector<std::string>{} : std::vector<std::string>{call});
        EXPECT_EQ(ListFrom(size).find("is not an http:// or https:// address") != std::string::npos, c.opened.empty());
    }
    std::remove(readme.c_str());
    CopyText(Preferences.HelpURL, "http://help.example/");
    const std::size_t size = ListCount();
    Command(IDM_HELP);  // without the README nothing opens (the last row opened none either), and that is said
    EXPECT_EQ(shellCalls, std::vector<std::string>{});
    EXPECT_NE(ListFrom(size).find("README.txt is not beside the program."), std::string::npos);
    OpenWithShell = saved;
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
    AccountSet silent{};
    AppendAccount(silent, MakeAccount("silent", 0, "alice", "secret"));
    const AccountSet saved = UseAccounts(silent);
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.SleepTime = 300000;
    }
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
    UseAccounts(saved);
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
    EXPECT_LE(notices.size(), 1u);  // none but the one shown with "ShowNotifications" on
    // No exchange of the suite was secure, so the secure channel's libraries were never loaded.
    for (const char* library : {"secur32.dll", "crypt32.dll"}) EXPECT_EQ(GetModuleHandleA(library), nullptr) << library;
    // The first channel maps them from the system folder, though a secur32.dll lies beside the program.
    char path[MAX_PATH], folder[MAX_PATH];
    std::string beside(path, GetModuleFileNameA(nullptr, path, sizeof path));
    beside.erase(beside.find_last_of('\\') + 1);
    EXPECT_TRUE(CopyFileA((beside + "vastrel_fake_ras.dll").c_str(), (beside + "secur32.dll").c_str(), FALSE));
    TlsError error;
    std::string output;
    EndTlsChannel(NewTlsChannel("localhost", &error), output);
    DeleteFileA((beside + "secur32.dll").c_str());
    GetSystemDirectoryA(folder, sizeof folder);
    for (const char* library : {"secur32.dll", "crypt32.dll"}) {
        GetModuleFileNameA(GetModuleHandleA(library), path, sizeof path);
        EXPECT_TRUE(EqualNoCase(path, (std::string(folder) + "\\" + library).c_str())) << path;
    }
    EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), 654000);
    std::string log = Log();
    EXPECT_EQ(log.substr(log.size() - 30), "Vastrel terminated properly.\r\n");
}
