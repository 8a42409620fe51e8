// The About box, the Properties and the Accounts dialogs as real windows
// under Wine, driven through their controls and checked through the
// controls, the preferences, the account table and the registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "app/app_win.h"
#include "app/update_run.h"
#include "common/text.h"
#include "log/log.h"
#include "message_box.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "program/program_win.h"
#include "pump_win.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"
#include "ui/log_window.h"
#include "update/services.h"

namespace {

std::string Text(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
void SetText(HWND dialog, int id, const std::string& text) {
    SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
// Types text as a user would: bounded by the field's limit, with EN_UPDATE.
void Type(HWND dialog, int id, const std::string& text) {
    SendDlgItemMessageA(dialog, id, EM_SETSEL, 0, -1);
    SendDlgItemMessageA(dialog, id, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}
void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool IsOn(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
int ComboSelection(HWND dialog, int id) { return int(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0)); }
std::string ComboText(HWND dialog, int id, int row) {
    char text[256] = "";
    if (SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, row, 0) >= LRESULT(sizeof text)) return "<long>";
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(text));
    return text;
}
void ChooseCombo(HWND dialog, int id, int row) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, row, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
void ChooseRow(HWND dialog, int row) {
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_SETCURSEL, row, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ACCOUNT_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_ACCOUNT_LIST)));
}
std::vector<std::string> ListRows(HWND dialog) {
    std::vector<std::string> rows;
    int count = int(SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        if (SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETTEXTLEN, i, 0) < LRESULT(sizeof text))
            SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        rows.push_back(text);
    }
    return rows;
}
int CountWindows(const char* caption) {
    int count = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", caption)) != nullptr;) ++count;
    return count;
}

PreferenceSet Prefs() { return PreferenceSnapshot(); }
template <typename F>
void Edit(F change) {
    SharedDataGuard guard(SharedDataMutex());
    change(Preferences);
}
// The accounts as the Accounts dialog has them: its working copy while it
// is open, else the committed table.
AccountSet Working() {
    SharedDataGuard guard(SharedDataMutex());
    AccountSet* edits = AccountEdits();
    return edits ? *edits : AccountTable;
}
int AccountCount() { return Working().Count; }
Account AccountAt(int i) { return Working().Accounts[i]; }
std::string AccountKey(int i) { return std::string(AccountsKey) + "\\" + std::to_string(i); }

// An update run on a worker while this, the GUI thread, keeps pumping as the
// program's loop would: the run's tray calls wait for it.
class BackgroundRun {
public:
    explicit BackgroundRun(UpdateMode mode)
        : thread_([this, mode] {
              UpdateRun(mode);
              done_ = true;
          }) {}
    ~BackgroundRun() { Finish(); }
    void Finish() {
        while (!done_) Pump(10);
        if (thread_.joinable()) thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};
void SetAccounts(std::initializer_list<Account> accounts) {
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountTable = AccountSet{};
        for (const Account& a : accounts) AppendAccount(a);
    }
    CreateAccountRegInfo();
    StoreSettings();
}
std::string Domain(int row) { return ServerTable[row].Domain; }
// The Server list's items: the catalogue's services first, then the maker's rows.
int MakerItem(int row) { return row < 0 ? -1 : ServiceCount + row; }
int ServiceItem(int service) {
    Account a{};
    a.Service = service;
    return ServerChoiceOf(a);
}
// A click that asks first, answered with Yes.
void ClickYes(HWND dialog, int id) {
    AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, id); }, IDYES);
}

class DialogsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ResetSharedState();
        UseFreshSettingsStore();
        WriteStoredNumber(ProductKey, "Connection", 1);
        WriteStoredNumber(ProductKey, "FirstCheck", 3600);  // no timer fires on its own
        WriteStoredNumber(ProductKey, "VersionCheck", 0);
        WriteStoredNumber(ProductKey, "PortNumber",
                          ServerPort() ? ServerPort() : 80);  // runs reach the reference server
        started = StartProgram(GetModuleHandleA(nullptr), "");
        // Loopback, a private and two documentation addresses: two choices.
        InjectInterfaces({{InterfaceLoopback, Address("127.0.0.1")},
                          {0, Address("192.0.2.77")},
                          {0, Address("192.168.1.5")},
                          {0, Address("198.51.100.1")}});
    }
    void SetUp() override {
        ASSERT_TRUE(started);
        Pump(20);
    }
    void TearDown() override {
        for (HWND dialog : {AboutBox, PropertiesDialog, AccountsDialog})
            if (dialog) DestroyWindow(dialog);
        Pump(20);
    }
    static HWND OpenProperties() {
        ShowPropertiesDialog();
        Pump(20);
        return PropertiesDialog;
    }
    static HWND OpenAccounts() {
        ShowAccountsDialog();
        Pump(20);
        return AccountsDialog;
    }
    static bool started;
};
bool DialogsTest::started = false;
}  // namespace

TEST_F(DialogsTest, AboutBoxIsOneWindowShowingTheVersion) {
    ShowAboutBox();
    HWND first = AboutBox;
    ASSERT_NE(first, nullptr);
    ShowAboutBox();
    Pump(20);
    EXPECT_EQ(AboutBox, first);
    EXPECT_EQ(CountWindows("About Vastrel"), 1);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(GetWindow(first, GW_OWNER), nullptr);
    EXPECT_EQ(Text(first, IDC_ABOUT_TITLE), "Vastrel dynamic DNS updater 1.5.7");
    EXPECT_NE(Text(first, IDC_ABOUT_WEB).find(MakerHost), std::string::npos);

    // The close box arrives as IDCANCEL and ends the box like OK.
    for (WPARAM close : {WPARAM(IDCANCEL), WPARAM(IDOK)}) {
        SendMessageA(AboutBox, WM_COMMAND, close, 0);
        EXPECT_EQ(AboutBox, nullptr);
        EXPECT_FALSE(IsWindow(first));
        ShowAboutBox();
        ASSERT_NE(AboutBox, nullptr);
        first = AboutBox;
    }
    SendMessageA(AboutBox, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump(20);
    EXPECT_EQ(AboutBox, nullptr);
}

TEST_F(DialogsTest, LogWindowKeepsItsNewestLines) {
    HWND list = GetDlgItem(LogWindow, IDC_LOG_LIST);
    for (LRESULT i = 0; i <= LogWindowLines + 10; ++i) AddLogWindowLine(std::to_string(i).c_str());
    char first[4096] = "", last[4096] = "";  // longer than any log line
    SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first));
    SendMessageA(list, LB_GETTEXT, LogWindowLines - 1, reinterpret_cast<LPARAM>(last));
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), LogWindowLines);
    EXPECT_EQ(std::string(first) + " " + last, "11 " + std::to_string(LogWindowLines + 10));
    SendMessageA(list, LB_RESETCONTENT, 0, 0);

    // Resized, the list follows the window and OK its bottom right corner,
    // down to a least size that still shows some lines.
    RECT frame{}, was{}, okWas{}, now{}, ok{};
    GetWindowRect(LogWindow, &frame);
    GetWindowRect(list, &was);
    GetWindowRect(GetDlgItem(LogWindow, IDOK), &okWas);
    for (int grow : {200, -1000}) {
        SetWindowPos(LogWindow, nullptr, 0, 0, frame.right - frame.left + grow, frame.bottom - frame.top + grow,
                     SWP_NOMOVE);
        GetWindowRect(list, &now);
        GetWindowRect(GetDlgItem(LogWindow, IDOK), &ok);
        EXPECT_TRUE(grow < 0 || (now.right - was.right == grow && now.bottom - was.bottom == grow)) << grow;
        EXPECT_TRUE(ok.right - now.right == okWas.right - was.right && ok.top - now.bottom == okWas.top - was.bottom &&
                    now.bottom - now.top > 20)
            << grow;
    }
}

// Keys through the program's own loop: Tab goes to the next field, Enter
// presses the default button (Properties keeps the edit), Esc cancels.
TEST_F(DialogsTest, TabEnterAndEscWorkInEveryDialog) {
    const std::tuple<HWND (*)(), int, int> cases[] = {  // the dialog, and Tab from one control to the next
        {OpenAccounts, IDC_ACCOUNT_HOST, IDC_ACCOUNT_USER},
        {OpenProperties, IDC_FIRST_CHECK, IDC_SLEEP_TIME},
        {[] { return ShowAboutBox(), AboutBox; }, IDOK, IDOK},  // the web address is no stop
        {[] { return ShowLogWindow(true), LogWindow; }, IDC_LOG_LIST, IDOK},
    };
    for (auto [open, from, next] : cases) {
        for (WPARAM close : {WPARAM(VK_RETURN), WPARAM(VK_ESCAPE)}) {
            Edit([](PreferenceSet& p) { p.FirstCheck = 3600; });
            HWND dialog = open();
            SetText(dialog, IDC_FIRST_CHECK, "3599");  // a field of Properties alone
            SetFocus(GetDlgItem(dialog, from));
            for (WPARAM key : {WPARAM(VK_TAB), close}) {
                PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
                for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) RouteMessage(message);
                if (key == VK_TAB) {
                    EXPECT_EQ(GetDlgCtrlID(GetFocus()), next) << from;
                }
            }
            EXPECT_FALSE(IsWindowVisible(dialog)) << from;
            EXPECT_EQ(Prefs().FirstCheck == 3599, open == OpenProperties && close == VK_RETURN) << from;
        }
    }
    StoreSettings();
}

TEST_F(DialogsTest, PropertiesShowsAndStoresTheIntervalByTheLowerRow) {
    struct Case {
        std::int32_t sleepTime;
        const char* shown;
        std::int32_t stored;
    };
    const Case cases[] = {
        {300000, "5 mins", 300000},       {400000, "5 mins", 300000},       {30000, "1 min", 60000},
        {86400000, "24 hours", 86400000}, {90000000, "24 hours", 86400000}, {3600000, "1 hour", 3600000},
    };
    for (const Case& c : cases) {
        Edit([&](PreferenceSet& p) { p.SleepTime = c.sleepTime; });
        HWND dialog = OpenProperties();
        ASSERT_NE(dialog, nullptr);
        int row = ComboSelection(dialog, IDC_SLEEP_TIME);
        EXPECT_EQ(ComboText(dialog, IDC_SLEEP_TIME, row), c.shown) << c.sleepTime;
        Click(dialog, IDOK);
        EXPECT_EQ(PropertiesDialog, nullptr);
        EXPECT_EQ(Prefs().SleepTime, c.stored) << c.sleepTime;
        EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), c.stored) << c.sleepTime;
    }
}

TEST_F(DialogsTest, PropertiesListsAndIndexesWithoutSortingOrGuessing) {
    const std::vector<InterfaceEntry> twoAcceptable = {{InterfaceLoopback, Address("127.0.0.1")},
                                                       {0, Address("192.0.2.77")},
                                                       {0, Address("192.168.1.5")},
                                                       {0, Address("198.51.100.1")}};
    const std::vector<InterfaceEntry> noneAcceptable = {{InterfaceLoopback, Address("127.0.0.1")},
                                                        {0, Address("192.168.1.5")}};
    struct Case {
        const std::vector<InterfaceEntry>* interfaces;
        std::vector<std::string> addressRows;
        std::int32_t connection, address;
        int connectionRow, addressRow;
        std::int32_t storedConnection, storedAddress;
    } cases[] = {
        {&twoAcceptable, {"192.0.2.77", "198.51.100.1"}, 0, 0, 0, 0, 0, 0},
        {&twoAcceptable, {"192.0.2.77", "198.51.100.1"}, 1, 1, 1, 1, 1, 1},
        // No such rows: no selection; OK stores -1 and keeps 7.
        {&twoAcceptable, {"192.0.2.77", "198.51.100.1"}, 5, 7, -1, -1, -1, 7},
        {&noneAcceptable, {}, 1, 1, 1, -1, 1, 1},  // an empty list keeps the stored choice
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.connection) + " " + std::to_string(c.address));
        InjectInterfaces(*c.interfaces);
        Edit([&](PreferenceSet& p) {
            p.Connection = c.connection;
            p.Interface = c.address;
        });
        HWND dialog = OpenProperties();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_CONNECTION, CB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(ComboText(dialog, IDC_CONNECTION, 0), "Modem");
        EXPECT_EQ(ComboText(dialog, IDC_CONNECTION, 1), "LAN");
        std::vector<std::string> rows;
        for (int row = 0; row < SendDlgItemMessageA(dialog, IDC_INTERFACE, CB_GETCOUNT, 0, 0); ++row)
            rows.push_back(ComboText(dialog, IDC_INTERFACE, row));
        EXPECT_EQ(rows, c.addressRows);
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_SLEEP_TIME, CB_GETCOUNT, 0, 0), 18);
        EXPECT_EQ(ComboText(dialog, IDC_SLEEP_TIME, 17), "24 hours");
        EXPECT_EQ(ComboSelection(dialog, IDC_CONNECTION), c.connectionRow);
        EXPECT_EQ(ComboSelection(dialog, IDC_INTERFACE), c.addressRow);
        Click(dialog, IDOK);
        EXPECT_EQ(Prefs().Connection, c.storedConnection);
        EXPECT_EQ(Prefs().Interface, c.storedAddress);
        EXPECT_EQ(StoredNumber(ProductKey, "Interface"), c.storedAddress);
    }
    InjectInterfaces(twoAcceptable);
    Edit([](PreferenceSet& p) {
        p.Connection = 1;
        p.Interface = 0;
    });
}

TEST_F(DialogsTest, PropertiesReadsBackEveryField) {
    Edit([](PreferenceSet& p) {
        p.AutoStart = 0;
        p.StartDisabled = 1;
        p.FirstCheck = 3600;
        p.DaysToForcedUpdate = 28;
        p.UseProxy = 1;
        CopyText(p.ProxyServer, "proxy.example");
        p.ProxyPort = 8080;
        p.VersionCheck = 0;
        p.DetailedLogging = 1;
    });
    HWND dialog = OpenProperties();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(Checked(dialog, IDC_AUTOSTART));
    EXPECT_TRUE(Checked(dialog, IDC_START_DISABLED));
    EXPECT_EQ(Text(dialog, IDC_FIRST_CHECK), "3600");
    EXPECT_EQ(Text(dialog, IDC_FORCE_DAYS), "28");
    EXPECT_EQ(Text(dialog, IDC_PROXY_SERVER), "proxy.example");
    EXPECT_EQ(Text(dialog, IDC_PROXY_PORT), "8080");
    EXPECT_TRUE(IsOn(dialog, IDC_PROXY_SERVER));
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_FIRST_CHECK, EM_GETLIMITTEXT, 0, 0), 5);
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_FORCE_DAYS, EM_GETLIMITTEXT, 0, 0), 2);
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PROXY_SERVER, EM_GETLIMITTEXT, 0, 0), 80);
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PROXY_PORT, EM_GETLIMITTEXT, 0, 0), 5);
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_FIRST_CHECK), GWL_STYLE) & ES_NUMBER);

    // Unchecking the proxy disables both fields at once; their text still counts.
    Click(dialog, IDC_USE_PROXY);
    EXPECT_FALSE(IsOn(dialog, IDC_PROXY_SERVER));
    EXPECT_FALSE(IsOn(dialog, IDC_PROXY_PORT));
    SetText(dialog, IDC_PROXY_SERVER, "other.example");
    SetText(dialog, IDC_FIRST_CHECK, "");
    SetText(dialog, IDC_FORCE_DAYS, "7");
    Click(dialog, IDC_AUTOSTART);
    Click(dialog, IDC_START_DISABLED);
    Click(dialog, IDC_VERSION_CHECK);
    Click(dialog, IDC_DETAILED_LOGGING);

    // A second "Properties..." keeps what was typed.
    ShowPropertiesDialog();
    EXPECT_EQ(PropertiesDialog, dialog);
    EXPECT_EQ(CountWindows("Vastrel Properties"), 1);
    EXPECT_EQ(Text(dialog, IDC_PROXY_SERVER), "other.example");

    Click(dialog, IDOK);
    EXPECT_EQ(PropertiesDialog, nullptr);
    const PreferenceSet p = Prefs();
    EXPECT_EQ(p.AutoStart, 1);
    EXPECT_EQ(p.StartDisabled, 0);
    EXPECT_EQ(p.FirstCheck, 0);
    EXPECT_EQ(p.DaysToForcedUpdate, 7);
    EXPECT_EQ(p.UseProxy, 0);
    EXPECT_STREQ(p.ProxyServer, "other.example");
    EXPECT_EQ(p.ProxyPort, 8080);
    EXPECT_EQ(p.VersionCheck, 1);
    EXPECT_EQ(p.DetailedLogging, 0);
    EXPECT_EQ(StoredNumber(ProductKey, "FirstCheck"), 0);
    EXPECT_EQ(StoredText(ProductKey, "ProxyServer"), "other.example");
    EXPECT_EQ(StoredNumber(ProductKey, "AutoStart"), 1);
    Edit([](PreferenceSet& p) {
        p.AutoStart = 0;
        p.FirstCheck = 3600;
        p.VersionCheck = 0;
    });
    StoreSettings();
}

TEST_F(DialogsTest, PropertiesSecureConnectionBoxEditsUseHTTPSInARoomOfItsOwn) {
    for (std::int32_t stored : {0, 1}) {
        Edit([&](PreferenceSet& p) { p.UseHTTPS = stored; });
        HWND dialog = OpenProperties();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Text(dialog, IDC_USE_HTTPS), "Use a secure connection (&HTTPS)");
        EXPECT_EQ(Checked(dialog, IDC_USE_HTTPS), stored == 1);
        Click(dialog, IDC_USE_HTTPS);
        Click(dialog, IDOK);
        EXPECT_EQ(Prefs().UseHTTPS, 1 - stored);
        EXPECT_EQ(StoredNumber(ProductKey, "UseHTTPS"), 1 - stored);
    }
    // Inside the dialog, over no other control.
    HWND dialog = OpenProperties();
    ASSERT_NE(dialog, nullptr);
    auto placeOf = [dialog](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    HWND box = GetDlgItem(dialog, IDC_USE_HTTPS);
    RECT client{}, inside{}, overlap{};
    const RECT place = placeOf(box);
    GetClientRect(dialog, &client);
    EXPECT_TRUE(IntersectRect(&inside, &place, &client) && EqualRect(&inside, &place));
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const RECT other = placeOf(child);
        if (child != box) {
            EXPECT_FALSE(IntersectRect(&overlap, &place, &other)) << GetDlgCtrlID(child);
        }
    }
    Click(dialog, IDCANCEL);
}

// Behind a router: the public address replaces the interface choice, which
// stays as it was for when the box is cleared again.
TEST_F(DialogsTest, PropertiesPublicAddressDisablesTheInterfaceListAndKeepsItsChoice) {
    Edit([](PreferenceSet& p) {
        p.UsePublicAddress = 0;
        p.Interface = 1;
    });
    HWND dialog = OpenProperties();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(Checked(dialog, IDC_USE_PUBLIC_ADDRESS));
    EXPECT_TRUE(IsOn(dialog, IDC_INTERFACE));
    Click(dialog, IDC_USE_PUBLIC_ADDRESS);
    EXPECT_FALSE(IsOn(dialog, IDC_INTERFACE));
    EXPECT_EQ(ComboSelection(dialog, IDC_INTERFACE), 1);
    Click(dialog, IDOK);
    EXPECT_EQ(Prefs().UsePublicAddress, 1);
    EXPECT_EQ(Prefs().Interface, 1);
    EXPECT_EQ(StoredNumber(ProductKey, "UsePublicAddress"), 1);
    EXPECT_EQ(StoredNumber(ProductKey, "Interface"), 1);

    dialog = OpenProperties();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Checked(dialog, IDC_USE_PUBLIC_ADDRESS));
    EXPECT_FALSE(IsOn(dialog, IDC_INTERFACE));
    Click(dialog, IDC_USE_PUBLIC_ADDRESS);
    EXPECT_TRUE(IsOn(dialog, IDC_INTERFACE));
    Click(dialog, IDCANCEL);
    EXPECT_EQ(Prefs().UsePublicAddress, 1);  // Cancel changes nothing
    Edit([](PreferenceSet& p) {
        p.UsePublicAddress = 0;
        p.Interface = 0;
    });
    StoreSettings();
}

TEST_F(DialogsTest, PropertiesRefusesBadNumbersItsUserCanCorrect) {
    struct Case {
        int field;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {IDC_FIRST_CHECK, "12x", "\"First check after\" must be a whole number from 0 to 99999."},
        {IDC_FIRST_CHECK, "123456", "\"First check after\" must be a whole number from 0 to 99999."},
        {IDC_FORCE_DAYS, "100", "\"Force update after\" must be a whole number from 0 to 99."},
        {IDC_PROXY_PORT, "-80", "\"Port number\" must be a whole number from 0 to 99999."},
        {IDC_CHECKIP_ADDRESS, "ip.example",
         "\"Check-IP page\" must be an http:// or https:// address with a host of "
         "at most 253 characters, such as https://api64.ipify.org/."},
    };
    Edit([](PreferenceSet& p) { p.UseProxy = 1; });
    StoreSettings();
    const std::int32_t storedFirst = StoredNumber(ProductKey, "FirstCheck");
    for (const Case& c : cases) {
        HWND dialog = OpenProperties();
        ASSERT_NE(dialog, nullptr);
        SetText(dialog, IDC_FORCE_DAYS, "9");
        SetText(dialog, c.field, c.text);  // pasted text gets past the digits-only style
        std::string message = AnswerMessageBox("Vastrel Properties", dialog, [&] { Click(dialog, IDOK); });
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(PropertiesDialog, dialog) << c.text;
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, c.field)) << c.text;
        EXPECT_EQ(Text(dialog, c.field), c.text);
        EXPECT_EQ(Prefs().FirstCheck, storedFirst);
        EXPECT_NE(Prefs().DaysToForcedUpdate, 9);
        Click(dialog, IDCANCEL);
    }
    EXPECT_EQ(StoredNumber(ProductKey, "FirstCheck"), storedFirst);

    // A stored port too wide for its field, while the proxy is off: the field
    // cannot be edited, so it keeps its value and "OK" takes the other edits.
    Edit([](PreferenceSet& p) {
        p.UseProxy = 0;
        p.ProxyPort = 123456;
    });
    HWND dialog = OpenProperties();
    ASSERT_NE(dialog, nullptr);
    SetText(dialog, IDC_FORCE_DAYS, "9");
    Click(dialog, IDOK);
    EXPECT_EQ(PropertiesDialog, nullptr);
    EXPECT_EQ(Prefs().DaysToForcedUpdate, 9);
    EXPECT_EQ(Prefs().ProxyPort, 123456);
    EXPECT_EQ(StoredNumber(ProductKey, "DaysToForcedUpdate"), 9);
    Edit([](PreferenceSet& p) {
        p.ProxyPort = 80;
        p.DaysToForcedUpdate = 28;
    });
    StoreSettings();
}

TEST_F(DialogsTest, PropertiesCancelKeepsWhatIsCommittedAndAppliesTheTrayIcon) {
    Edit([](PreferenceSet& p) { p.ShowTrayIcon = 0; });
    StoreSettings();
    const PreferenceSet before = Prefs();
    HWND dialog = OpenProperties();
    ASSERT_NE(dialog, nullptr);
    SetText(dialog, IDC_FIRST_CHECK, "5");
    ChooseCombo(dialog, IDC_SLEEP_TIME, 0);
    Click(dialog, IDCANCEL);
    EXPECT_EQ(PropertiesDialog, nullptr);
    EXPECT_EQ(Prefs().FirstCheck, before.FirstCheck);
    EXPECT_EQ(Prefs().SleepTime, before.SleepTime);
    EXPECT_EQ(StoredNumber(ProductKey, "FirstCheck"), before.FirstCheck);
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = MainWindow;
    data.uID = 1;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &data));  // hidden, as committed
    Edit([](PreferenceSet& p) { p.ShowTrayIcon = 1; });
    StoreSettings();
    ApplyTrayIconPreference(MainWindow);
}

TEST_F(DialogsTest, AccountsEditDuringARunKeepsTheUsersValue) {
    SetAccounts({MakeAccount("home", 0, "alice", "secret")});
    HeldExchange server;
    BackgroundRun run(Forced);
    ASSERT_NE(server.AwaitRequest(PumpBriefly), "");
    // While the reply is outstanding the user disables the account and presses OK.
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    ChooseRow(dialog, 0);
    Click(dialog, IDC_ACCOUNT_UPDATE);
    Click(dialog, IDC_ACCOUNT_APPLY);
    Click(dialog, IDOK);
    server.Reply("NOERROR");
    run.Finish();
    EXPECT_EQ(AccountAt(0).Update, 0);
    EXPECT_EQ(StoredNumber(AccountKey(0).c_str(), "Update"), 0);
    EXPECT_EQ(StoredNumber(AccountKey(0).c_str(), "LastIP"), static_cast<std::int32_t>(Address("192.0.2.77")));
}

TEST_F(DialogsTest, AccountsUnsavedEditsReachNoStoreWhoeverStores) {
    SetAccounts({MakeAccount("home", 0, "alice", "secret"), MakeAccount("office", 0, "alice", "secret")});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    ChooseRow(dialog, 0);
    ClickYes(dialog, IDC_ACCOUNT_DELETE);
    ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(0));
    Type(dialog, IDC_ACCOUNT_HOST, "proxy");
    Type(dialog, IDC_ACCOUNT_USER, "alice");
    Type(dialog, IDC_ACCOUNT_PASSWORD, "secret");
    Click(dialog, IDC_ACCOUNT_APPLY);
    ASSERT_EQ(ListRows(dialog).size(), 2u);
    {
        BackgroundRun run(Forced);  // stores at its end
    }
    StoreSettings();  // as shutdown does, the dialog still open
    EXPECT_EQ(StoredNumber(AccountsKey, "Count"), 2);
    EXPECT_EQ(StoredText(AccountKey(0).c_str(), "HostName"), "home");
    EXPECT_EQ(StoredText(AccountKey(1).c_str(), "HostName"), "office");
    ClickYes(dialog, IDCANCEL);
    ASSERT_EQ(AccountCount(), 2);
    EXPECT_STREQ(AccountAt(0).HostName, "home");
    EXPECT_NE(AccountAt(0).LastIP, 0u);  // the run updated the committed accounts
}

TEST_F(DialogsTest, CancelNeverRollsBackARun) {
    struct Case {
        const char* dialog;
        HWND (*open)();
        int edit;
    } cases[] = {
        {"Accounts", OpenAccounts, IDC_ACCOUNT_HOST},
        {"Properties", OpenProperties, IDC_FIRST_CHECK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialog);
        SetAccounts({MakeAccount("office", 0, "alice", "wrong"), MakeAccount("home", 0, "alice", "secret")});
        HWND dialog = c.open();
        ASSERT_NE(dialog, nullptr);
        SetText(dialog, c.edit, "7");
        HeldExchange server;
        BackgroundRun run(Forced);
        ASSERT_NE(server.AwaitRequest(PumpBriefly).find("host_id=office."), std::string::npos);
        server.Reply("401 Authorization Required");
        // office is refused and disabled; the run is held inside home's exchange.
        ASSERT_NE(server.AwaitRequest(PumpBriefly).find("host_id=home."), std::string::npos);
        if (c.edit == IDC_ACCOUNT_HOST)
            ClickYes(dialog, IDCANCEL);  // the typed host is discarded after a question
        else
            Click(dialog, IDCANCEL);
        server.Reply("NOERROR");
        run.Finish();
        EXPECT_EQ(AccountAt(0).Update, 0);
        EXPECT_EQ(StoredNumber(AccountKey(0).c_str(), "Update"), 0);
        EXPECT_EQ(StoredNumber(AccountKey(1).c_str(), "LastIP"), static_cast<std::int32_t>(Address("192.0.2.77")));
    }
}

TEST_F(DialogsTest, AccountsDuringARunNeitherSkipAnAccountNorUndoARefusal) {
    SetAccounts({MakeAccount("office", 0, "u", "p"), MakeAccount("a", 0, "u", "p"), MakeAccount("b", 0, "u", "p")});
    HWND dialog = OpenAccounts();
    ChooseRow(dialog, 0);  // office's form, "Update" checked
    HeldExchange server;
    BackgroundRun run(Forced);
    ASSERT_NE(server.AwaitRequest(PumpBriefly).find("host_id=office."), std::string::npos);
    server.Reply("401 Authorization Required");
    ASSERT_NE(server.AwaitRequest(PumpBriefly).find("host_id=a."), std::string::npos);
    PumpBriefly();
    EXPECT_EQ(ListRows(dialog)[0], "office." + Domain(0) + " (disabled)");
    Click(dialog, IDC_ACCOUNT_APPLY);  // the form's old "Update", never touched
    ChooseRow(dialog, 1);
    ClickYes(dialog, IDC_ACCOUNT_DELETE);  // a, the account in flight
    Click(dialog, IDOK);
    SendMessageA(MainWindow, WM_COMMAND, IDM_SNOOZE, 0);
    server.Reply("NOERROR");
    EXPECT_NE(server.AwaitRequest(PumpBriefly).find("host_id=b."), std::string::npos);  // now where a was
    server.Reply("NOERROR");
    run.Finish();
    EXPECT_EQ(StoredNumber(AccountKey(0).c_str(), "Update"), 0);
    EXPECT_EQ(ReadShared(RunFailed), 1);  // office failed: the blinking icon offers "Snooze"
    EXPECT_TRUE(TimerIsArmed(BlinkTimer));
}

TEST_F(DialogsTest, AccountsFoundPastADamagedCountAreListedDisabled) {
    DeleteKeyTree(AccountsKey);
    SetAccounts({MakeAccount("home", 0, "u", "p"), MakeAccount("old", 0, "u", "p")});
    WriteStoredNumber(AccountsKey, "Count", 40);  // old may be one deleted by an older version
    RetrieveSettings();  // as start-up reads them
    CreateAccountRegInfo();
    RetrieveSettings();
    HWND dialog = OpenAccounts();
    EXPECT_EQ(ListRows(dialog),
              (std::vector<std::string>{"home." + Domain(0) + " (disabled)", "old." + Domain(0) + " (disabled)"}));
    Click(dialog, IDCANCEL);
}

TEST_F(DialogsTest, AccountsUpdateSendsAChangedAccountAgain) {
    Account home = MakeAccount("home", 0, "alice", "secret");
    home.LastIP = Address("192.0.2.77");
    home.LastUpdate = 2000000000;
    struct Case {
        const char* password;
        std::uint32_t lastIP;
    } cases[] = {
        {"secret", Address("192.0.2.77")},  // nothing changed: the history stays
        {"changed", 0},
    };
    for (const Case& c : cases) {
        SetAccounts({home});
        HWND dialog = OpenAccounts();
        ASSERT_NE(dialog, nullptr);
        ChooseRow(dialog, 0);
        Type(dialog, IDC_ACCOUNT_PASSWORD, c.password);
        Click(dialog, IDC_ACCOUNT_APPLY);
        Click(dialog, IDOK);
        EXPECT_EQ(AccountAt(0).LastIP, c.lastIP) << c.password;
        EXPECT_EQ(StoredNumber(AccountKey(0).c_str(), "LastIP"), static_cast<std::int32_t>(c.lastIP)) << c.password;
    }
}

TEST_F(DialogsTest, AccountsOpensOnTheListAndABlankForm) {
    Account office = MakeAccount("office", 0, "bob", "pw");
    office.Update = 0;
    SetAccounts({MakeAccount("home", 1, "alice", "secret"), office});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    ShowAccountsDialog();
    EXPECT_EQ(AccountsDialog, dialog);
    EXPECT_EQ(CountWindows("Vastrel Accounts"), 1);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    EXPECT_EQ(ListRows(dialog), (std::vector<std::string>{"home." + Domain(1), "office." + Domain(0) + " (disabled)"}));
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0), LB_ERR);
    ASSERT_EQ(SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_GETCOUNT, 0, 0), ServerCount + ServiceCount);
    EXPECT_EQ(ComboText(dialog, IDC_ACCOUNT_SERVER, 0), "No-IP");  // the services people use come first
    for (int row = 0; row < ServerCount; ++row) {
        EXPECT_EQ(ComboText(dialog, IDC_ACCOUNT_SERVER, MakerItem(row)), Domain(row));
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_GETITEMDATA, MakerItem(row), 0), MakerItem(row));
    }
    EXPECT_EQ(ComboSelection(dialog, IDC_ACCOUNT_SERVER), -1);
    EXPECT_TRUE(Checked(dialog, IDC_ACCOUNT_UPDATE));
    for (int field : {IDC_ACCOUNT_HOST, IDC_ACCOUNT_USER, IDC_ACCOUNT_PASSWORD, IDC_ACCOUNT_MX})
        EXPECT_EQ(Text(dialog, field), "");
    EXPECT_FALSE(IsOn(dialog, IDC_ACCOUNT_APPLY));
    EXPECT_FALSE(IsOn(dialog, IDC_ACCOUNT_DELETE));
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_ACCOUNT_PASSWORD), GWL_STYLE) & ES_PASSWORD);
    Click(dialog, IDCANCEL);
    EXPECT_EQ(AccountsDialog, nullptr);
}

TEST_F(DialogsTest, AccountsButtonFollowsTheFormAndNeedsAServer) {
    SetAccounts({MakeAccount("home", 1, "alice", "secret")});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    Type(dialog, IDC_ACCOUNT_HOST, "HOME");
    Type(dialog, IDC_ACCOUNT_USER, "alice");
    Type(dialog, IDC_ACCOUNT_PASSWORD, "x");
    EXPECT_FALSE(IsOn(dialog, IDC_ACCOUNT_APPLY));  // no server chosen yet
    // A command that reaches the button anyway is refused visibly.
    std::string message = AnswerMessageBox("Vastrel Accounts", dialog, [&] {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ACCOUNT_APPLY, BN_CLICKED), 0);
    });
    EXPECT_NE(message.find("Choose a server"), std::string::npos) << message;
    EXPECT_EQ(AccountCount(), 1);
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_HOST), "HOME");

    struct Step {
        int server;
        const char* host;
        bool enabled;
        const char* label;
    };
    const Step steps[] = {
        {1, "HOME", true, "Update"},  // same server, host in another case
        {0, "HOME", true, "Add"},    {1, "garden", true, "Add"},
        {1, "", false, "Add"},  // incomplete: the label stays
        {1, "home", true, "Update"}, {-1, "home", false, "Update"},
    };
    for (const Step& s : steps) {
        ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(s.server));
        Type(dialog, IDC_ACCOUNT_HOST, s.host);
        EXPECT_EQ(IsOn(dialog, IDC_ACCOUNT_APPLY), s.enabled) << s.server << " " << s.host;
        EXPECT_EQ(Text(dialog, IDC_ACCOUNT_APPLY), s.label) << s.server << " " << s.host;
    }
    ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(1));
    Type(dialog, IDC_ACCOUNT_HOST, "garden");
    Type(dialog, IDC_ACCOUNT_PASSWORD, "");
    EXPECT_FALSE(IsOn(dialog, IDC_ACCOUNT_APPLY));
    Type(dialog, IDC_ACCOUNT_PASSWORD, "pw");
    SetFocus(GetDlgItem(dialog, IDC_ACCOUNT_APPLY));  // as when pressed with the keyboard
    Click(dialog, IDC_ACCOUNT_APPLY);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_ACCOUNT_SERVER));  // never left on the disabled button
    ASSERT_EQ(AccountCount(), 2);
    const Account added = AccountAt(1);
    EXPECT_STREQ(added.HostName, "garden");
    EXPECT_EQ(added.Server, 1);
    EXPECT_EQ(added.Update, 1);
    EXPECT_EQ(added.LastIP, 0u);
    EXPECT_EQ(ListRows(dialog).size(), 2u);
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_HOST), "");  // the form is blank again
    EXPECT_FALSE(IsOn(dialog, IDC_ACCOUNT_APPLY));
    ClickYes(dialog, IDCANCEL);  // the added account is discarded after a question
}

TEST_F(DialogsTest, AccountsSelectUpdateAndDelete) {
    Account office = MakeAccount("office", 2, "bob", "pw");
    office.Wildcards = 1;
    CopyText(office.MailExtender, "mx.example");
    office.LastIP = Address("192.0.2.9");
    SetAccounts({MakeAccount("a", 0, "u", "p"), office, MakeAccount("c", 0, "u", "p")});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);

    ChooseRow(dialog, 1);
    EXPECT_EQ(ComboSelection(dialog, IDC_ACCOUNT_SERVER), MakerItem(2));
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_HOST), "office");
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_USER), "bob");
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_PASSWORD), "pw");
    EXPECT_TRUE(Checked(dialog, IDC_ACCOUNT_WILDCARDS));
    EXPECT_FALSE(Checked(dialog, IDC_ACCOUNT_BACKUPMX));
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_MX), "mx.example");
    EXPECT_TRUE(IsOn(dialog, IDC_ACCOUNT_DELETE));
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_APPLY), "Update");

    Click(dialog, IDC_ACCOUNT_UPDATE);  // disable it, then apply
    Click(dialog, IDC_ACCOUNT_BACKUPMX);
    Click(dialog, IDC_ACCOUNT_APPLY);
    ASSERT_EQ(AccountCount(), 3);
    const Account replaced = AccountAt(1);
    EXPECT_EQ(replaced.Update, 0);
    EXPECT_EQ(replaced.BackupMX, 1);
    EXPECT_EQ(replaced.LastIP, 0u);  // "Backup MX" changed: sent again at the next run
    EXPECT_EQ(ListRows(dialog)[1], "office." + Domain(2) + " (disabled)");
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_FALSE(IsOn(dialog, IDC_ACCOUNT_DELETE));

    ChooseRow(dialog, 0);
    std::string question = AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, IDC_ACCOUNT_DELETE); }, IDNO);
    EXPECT_NE(question.find("Delete the account a." + Domain(0) + "?"), std::string::npos) << question;
    EXPECT_EQ(AccountCount(), 3);  // No keeps it
    ClickYes(dialog, IDC_ACCOUNT_DELETE);
    EXPECT_EQ(ListRows(dialog), (std::vector<std::string>{"office." + Domain(2) + " (disabled)", "c." + Domain(0)}));
    EXPECT_EQ(AccountCount(), 2);

    // OK stores the table; the registry then holds the two accounts.
    Click(dialog, IDOK);
    EXPECT_EQ(AccountsDialog, nullptr);
    EXPECT_EQ(StoredNumber(AccountsKey, "Count"), 2);
    EXPECT_EQ(StoredText("Software\\Brannock\\Vastrel\\Accounts\\0", "HostName"), "office");
    EXPECT_EQ(StoredText("Software\\Brannock\\Vastrel\\Accounts\\1", "HostName"), "c");
}

TEST_F(DialogsTest, AccountsCancelBringsBackTheStoredTable) {
    SetAccounts({MakeAccount("a", 0, "u", "p"), MakeAccount("b", 0, "u", "p")});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    ChooseRow(dialog, 0);
    ClickYes(dialog, IDC_ACCOUNT_DELETE);
    ASSERT_EQ(AccountCount(), 1);
    std::string question = AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, IDCANCEL); }, IDNO);
    EXPECT_NE(question.find("Discard the changes"), std::string::npos) << question;
    EXPECT_EQ(AccountsDialog, dialog);  // No: the dialog stays, the edits with it
    ClickYes(dialog, IDCANCEL);
    ASSERT_EQ(AccountCount(), 2);
    EXPECT_STREQ(AccountAt(0).HostName, "a");
    EXPECT_STREQ(AccountAt(1).HostName, "b");
}

// OK with a filled form that was not added asks: Yes adds it, Cancel goes back to the form.
TEST_F(DialogsTest, AccountsOkWithAFilledFormAsksFirst) {
    SetAccounts({});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    ChooseCombo(dialog, IDC_ACCOUNT_SERVER, ServiceItem(1));
    Type(dialog, IDC_ACCOUNT_HOST, "home.ddns.net");
    Type(dialog, IDC_ACCOUNT_USER, "alice");
    Type(dialog, IDC_ACCOUNT_PASSWORD, "secret");
    std::string question = AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, IDOK); }, IDCANCEL);
    EXPECT_NE(question.find("not added yet. Add it before closing?"), std::string::npos) << question;
    EXPECT_EQ(AccountsDialog, dialog);
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_HOST), "home.ddns.net");
    ClickYes(dialog, IDOK);
    EXPECT_EQ(AccountsDialog, nullptr);
    EXPECT_EQ(StoredNumber(AccountsKey, "Count"), 1);
    EXPECT_EQ(StoredText("Software\\Brannock\\Vastrel\\Accounts\\0", "HostName"), "home.ddns.net");
}

TEST_F(DialogsTest, AccountsRefusesAddingToAFullTable) {
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountTable = AccountSet{};
        for (int i = 0; i < MaxAccounts; ++i)
            AppendAccount(MakeAccount(("h" + std::to_string(i)).c_str(), 0, "u", "p"));
    }
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ListRows(dialog).size(), std::size_t(MaxAccounts));
    ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(3));
    Type(dialog, IDC_ACCOUNT_HOST, "one-more");
    Type(dialog, IDC_ACCOUNT_USER, "u");
    Type(dialog, IDC_ACCOUNT_PASSWORD, "p");
    ASSERT_TRUE(IsOn(dialog, IDC_ACCOUNT_APPLY));
    std::string message = AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, IDC_ACCOUNT_APPLY); });
    EXPECT_NE(message.find("at most 32 accounts"), std::string::npos) << message;
    EXPECT_EQ(AccountCount(), MaxAccounts);
    EXPECT_EQ(Text(dialog, IDC_ACCOUNT_HOST), "one-more");  // nothing typed is lost

    // Replacing an account of a full table still works.
    ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(0));
    Type(dialog, IDC_ACCOUNT_HOST, "H31");
    Type(dialog, IDC_ACCOUNT_USER, "changed");
    Click(dialog, IDC_ACCOUNT_APPLY);
    EXPECT_STREQ(AccountAt(31).UserName, "changed");
    EXPECT_STREQ(AccountAt(31).HostName, "H31");
    ClickYes(dialog, IDCANCEL);
}

TEST_F(DialogsTest, AccountsRefusesTextThatWouldSplitTheRequest) {
    SetAccounts({});
    struct Case {
        int field;
        const char* text;
        const char* message;
    } cases[] = {
        {IDC_ACCOUNT_HOST, "home\r\nHost: evil", "The host name cannot contain blanks or control characters."},
        {IDC_ACCOUNT_HOST, "home office", "The host name cannot contain blanks or control characters."},
        {IDC_ACCOUNT_PASSWORD, "sec\tret", "The password cannot contain control characters."},
        {IDC_ACCOUNT_MX, "mx example", "The mail extender cannot contain blanks or control characters."},
    };
    for (const Case& c : cases) {
        HWND dialog = OpenAccounts();
        ASSERT_NE(dialog, nullptr);
        ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(0));
        Type(dialog, IDC_ACCOUNT_HOST, "home");
        Type(dialog, IDC_ACCOUNT_USER, "alice");
        Type(dialog, IDC_ACCOUNT_PASSWORD, "secret");
        SetText(dialog, c.field, c.text);  // pasted
        std::string message = AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, IDC_ACCOUNT_APPLY); });
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(AccountCount(), 0);
        EXPECT_EQ(Text(dialog, c.field), c.text);  // nothing typed is lost
        ClickYes(dialog, IDCANCEL);
    }
}

TEST_F(DialogsTest, AccountsOfCatalogueServicesKeepTheirOwnCredentials) {
    SetAccounts({});
    HWND dialog = OpenAccounts();
    ASSERT_NE(dialog, nullptr);
    // Service, host name, user name, password, and the labels of the last two.
    const std::tuple<int, const char*, const char*, const char*, const char*> entries[] = {
        {1, "home.example", "alice", "secret", "&User name/&Password"},
        {3, "cf.example", "", "token", "&Zone/&API token"}};  // the zone may stay empty
    for (auto [service, host, user, password, labels] : entries) {
        ChooseCombo(dialog, IDC_ACCOUNT_SERVER, ServiceItem(service));
        EXPECT_EQ(Text(dialog, IDC_ACCOUNT_USER_LABEL) + "/" + Text(dialog, IDC_ACCOUNT_PASSWORD_LABEL), labels);
        EXPECT_TRUE(IsOn(dialog, IDC_ACCOUNT_USER) && !IsOn(dialog, IDC_ACCOUNT_MX) &&
                    IsOn(dialog, IDC_ACCOUNT_ADDRESSES));
        ChooseCombo(dialog, IDC_ACCOUNT_ADDRESSES, service == 3 ? AddressesBoth : AddressesIPv6);
        Type(dialog, IDC_ACCOUNT_HOST, host);
        Type(dialog, IDC_ACCOUNT_USER, user);
        Type(dialog, IDC_ACCOUNT_PASSWORD, password);
        Click(dialog, IDC_ACCOUNT_APPLY);
    }
    Click(dialog, IDOK);
    ASSERT_EQ(AccountCount(), 2);
    dialog = OpenAccounts();  // reopened, each row shows its service and credentials
    for (int i : {1, 0}) {
        auto [service, host, user, password, labels] = entries[i];
        const Account a = AccountAt(i);
        EXPECT_EQ(std::to_string(a.Server) + " " + std::to_string(a.Service), "-1 " + std::to_string(service));
        EXPECT_EQ(std::string(a.UserName) + a.Password + "/" + a.ServiceUserName + "/" + a.ServicePassword,
                  std::string("/") + user + "/" + password);
        ChooseRow(dialog, i);
        EXPECT_EQ(ComboSelection(dialog, IDC_ACCOUNT_SERVER), ServiceItem(service));
        EXPECT_EQ(ComboSelection(dialog, IDC_ACCOUNT_ADDRESSES), service == 3 ? AddressesBoth : AddressesIPv6);
        EXPECT_EQ(a.Addresses, ComboSelection(dialog, IDC_ACCOUNT_ADDRESSES));
        EXPECT_EQ(Text(dialog, IDC_ACCOUNT_USER) + "/" + Text(dialog, IDC_ACCOUNT_PASSWORD),
                  std::string(user) + "/" + password);
    }
    // To a maker's row: a longer password is refused, never cut; the untouched user name comes along.
    Type(dialog, IDC_ACCOUNT_PASSWORD, std::string(100, 'k'));
    ChooseCombo(dialog, IDC_ACCOUNT_SERVER, MakerItem(0));
    EXPECT_TRUE(!IsOn(dialog, IDC_ACCOUNT_ADDRESSES) && Text(dialog, IDC_ACCOUNT_ADDRESSES) == "IPv4");
    std::string message = AnswerMessageBox("Vastrel Accounts", dialog, [&] { Click(dialog, IDC_ACCOUNT_APPLY); });
    EXPECT_EQ(message.rfind("The password is longer than 32 characters", 0), 0u) << message;
    Type(dialog, IDC_ACCOUNT_PASSWORD, "pw");
    Click(dialog, IDC_ACCOUNT_APPLY);
    EXPECT_EQ(std::string(AccountAt(2).UserName) + "/" + AccountAt(2).ServiceUserName, "alice/");
    ClickYes(dialog, IDCANCEL);
}
