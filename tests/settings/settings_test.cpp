#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/shell.h"
#include "common/program_path.h"
#include "common/text.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "settings/key_store.h"
#include "settings/settings.h"
#include "test_support.h"

#ifndef _WIN32
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "log/log.h"
#include "settings/key_store_file.h"
#endif

namespace {

std::vector<std::pair<int, std::uint32_t>> armed;
void RecordTimer(int timer, std::uint32_t delay) { armed.emplace_back(timer, delay); }

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        UseFreshSettingsStore();
        armed.clear();
        saved = Shell;
        Shell.ArmTimer = RecordTimer;
    }
    void TearDown() override { Shell = saved; }
    ShellCalls saved{};
    // A start of the program as far as the settings go: memory as at start-up.
    void Start() {
        {
            SharedDataGuard guard(SharedDataMutex());
            Preferences = InitialPreferences();
            AccountTable = AccountSet{};
            PreferenceRegInfo.Clear();
            AccountRegInfo.Clear();
        }
        armed.clear();
        InitSettings();
    }
    static std::string AccountKey(int i) { return std::string(AccountsKey) + "\\" + std::to_string(i); }
    static std::string ProgramPath() {
        char path[260];
        OwnProgramPath(path, sizeof path);
        return path;
    }
};

Account Sample(int i) {
    Account a = MakeAccount(("host" + std::to_string(i)).c_str(), i % 10, ("user" + std::to_string(i)).c_str(),
                            ("pw" + std::to_string(i)).c_str());
    CopyText(a.MailExtender, ("mx" + std::to_string(i)).c_str());
    a.Wildcards = i & 1;
    a.BackupMX = (i >> 1) & 1;
    a.Update = i % 3 ? 1 : 0;
    a.LastIP = 0xC0000200u + static_cast<std::uint32_t>(i);
    a.LastUpdate = 1700000000 + i;
    a.CurrentIP = 77;
    return a;
}

bool SameStoredFields(const Account& a, const Account& b) {
    return std::strcmp(a.HostName, b.HostName) == 0 && std::strcmp(a.UserName, b.UserName) == 0 &&
           std::strcmp(a.Password, b.Password) == 0 && std::strcmp(a.MailExtender, b.MailExtender) == 0 &&
           a.Update == b.Update && a.Server == b.Server && a.Wildcards == b.Wildcards && a.BackupMX == b.BackupMX &&
           a.LastIP == b.LastIP && a.LastUpdate == b.LastUpdate;
}
}  // namespace

TEST_F(SettingsTest, FreshProfileGetsEveryDefault) {
    Start();
    const std::pair<const char*, std::int32_t> numbers[] = {
        {"AutoStart", 1},      {"StartDisabled", 0},
        {"ShowTrayIcon", 1},   {"PortNumber", 80},
        {"SleepTime", 300000}, {"UseProxy", 0},
        {"Connection", 1},     {"Interface", 0},
        {"ProxyPort", 80},     {"UseBasicAuthentication", 0},
        {"VersionCheck", 1},   {"DetailedLogging", 0},
        {"FirstCheck", 1},     {"DaysToForcedUpdate", 28},
        {"UseHTTPS", 0},       {"UsePublicAddress", 0},
    };
    for (auto& n : numbers) EXPECT_EQ(StoredNumber(ProductKey, n.first), n.second) << n.first;
    EXPECT_EQ(StoredNumber(ProductKey, "ShowNotifications"), 1);
    for (const char* t : {"ProxyServer", "ProxyUser", "ProxyPassword", "LastVersion"})
        EXPECT_EQ(StoredText(ProductKey, t), "") << t;
    EXPECT_EQ(StoredText(ProductKey, "HelpURL"), std::string("http://") + MakerHost + "/Products/Vastrel/help.html");
    EXPECT_EQ(StoredText(ProductKey, "CheckIPAddress"), "<missing>");  // stored once chosen
    EXPECT_STREQ(Preferences.CheckIPAddress, DefaultCheckIpPage);
    EXPECT_EQ(StoredNumber(AccountsKey, "Count"), 0);
    EXPECT_EQ(StoredNumber(ProductKey, "Count"), -999999);  // "Count" lives in the sub-key only
    EXPECT_EQ(StoredText(RunKeyPath, RunValueName), ProgramPath());
    EXPECT_EQ(Preferences.SleepTime, 300000);
    // First timers with the defaults: no accounts, so only the version check.
    EXPECT_EQ(armed, (std::vector<std::pair<int, std::uint32_t>>{{VersionTimer, 2000}}));
}

TEST_F(SettingsTest, MissingValueIsCompletedAndNothingElseRewritten) {
    Start();
    WriteStoredNumber(ProductKey, "PortNumber", 8080);
    KeyHandle key;
    ASSERT_TRUE(OpenOrCreateKey(ProductKey, &key));
    DeleteValue(key, "SleepTime");
    CloseKey(key);
    Start();
    EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), 300000);
    EXPECT_EQ(StoredNumber(ProductKey, "PortNumber"), 8080);
    EXPECT_EQ(Preferences.PortNumber, 8080);

    // With nothing missing nothing is stored: a value written as text stays text.
    WriteStoredText(ProductKey, "SleepTime", "400000");
    Start();
    EXPECT_EQ(Preferences.SleepTime, 400000);
    std::uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(ReadStoredValue(ProductKey, "SleepTime", &type, &data));
    EXPECT_EQ(type, static_cast<std::uint32_t>(TypeText));
}

TEST_F(SettingsTest, AutoStartOffDeletesTheRunValueEveryTime) {
    Start();
    WriteStoredNumber(ProductKey, "AutoStart", 0);
    WriteStoredNumber(ProductKey, "DetailedLogging", 1);
    LogCapture log(true);
    Start();
    EXPECT_EQ(StoredText(RunKeyPath, RunValueName), "<missing>");
    StoreSettings();  // already absent: still logged
    int disabledLines = 0;
    for (const std::string& line : log.Lines())
        disabledLines += line == FileOnly("Auto start feature disabled in the registry");
    EXPECT_EQ(disabledLines, 2);
}

TEST_F(SettingsTest, DetailedLoggingStoredOnCountsFromTheFirstRetrievalOn) {
    Start();
    WriteStoredNumber(ProductKey, "DetailedLogging", 1);
    LogCapture log(false);
    Start();
    // "Creating reginfo for preferences" and the first "Retrieving preference
    // settings..." come while the preference still holds its initial 0.
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               FileOnly("Retrieving accounts from the registry..."),
                               FileOnly("Retrieved."),
                               FileOnly("Creating reginfo for accounts"),
                               FileOnly("Retrieving preference settings from the registry..."),
                               FileOnly("Retrieving accounts from the registry..."),
                               FileOnly("Retrieved."),
                               FileOnly("Auto start feature enabled in the registry"),
                           }));
}

TEST_F(SettingsTest, WithoutTheSettingsKeyEverythingKeepsItsInitialValue) {
    struct Case {
        std::int32_t autoExit;
        std::vector<std::pair<int, std::uint32_t>> timers;
    } cases[] = {
        {0, {{VersionTimer, 1000}}},  // "FirstCheck" is still 0
        {1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("AutoExit " + std::to_string(c.autoExit));
        UseFreshSettingsStore();
        WriteStoredNumber(ProductKey, "StartDisabled", 1);
        WriteStoredNumber(AccountsKey, "Count", 2);
        UnopenableKey product(ProductKey);
        AutoExit = c.autoExit;
        Start();
        EXPECT_EQ(Preferences.SleepTime, 0);
        EXPECT_EQ(Preferences.FirstCheck, 0);
        EXPECT_EQ(Preferences.PortNumber, 80);
        EXPECT_EQ(Preferences.StartDisabled, 0);
        EXPECT_STREQ(Preferences.HelpURL, "");
        EXPECT_EQ(AccountTable.Count, 0);
        EXPECT_EQ(UpdatesDisabled, 0);
        EXPECT_EQ(armed, c.timers);
        EXPECT_EQ(StoredText(RunKeyPath, RunValueName), "<missing>");  // nothing stored
    }
}

#ifdef _WIN32
// A key that cannot be opened ends its store's retrieval: what was read before
// it counts, the rest stays as it was, and the other store is still read.
TEST_F(SettingsTest, AKeyThatCannotBeOpenedEndsOnlyItsStoresRetrieval) {
    Start();
    for (int i = 0; i < 3; ++i) AppendAccount(Sample(i));
    CreateAccountRegInfo();
    Preferences.DetailedLogging = 1;
    StoreSettings();
    WriteStoredNumber(ProductKey, "SleepTime", 600000);
    WriteStoredText(AccountKey(0).c_str(), "HostName", "stored0");
    WriteStoredText(AccountKey(2).c_str(), "HostName", "stored2");
    {
        UnopenableKey account1(AccountKey(1).c_str());
        RetrieveSettings();
    }
    EXPECT_EQ(Preferences.SleepTime, 600000);
    EXPECT_STREQ(AccountTable.Accounts[0].HostName, "stored0");
    EXPECT_STREQ(AccountTable.Accounts[2].HostName, "host2");  // after the failing key: not read

    // The preferences stop at "Count": a value that fell back before it does
    // not make them new settings, and the accounts are read all the same.
    KeyHandle key;
    ASSERT_TRUE(OpenOrCreateKey(ProductKey, &key));
    DeleteValue(key, "SleepTime");
    CloseKey(key);
    LogCapture log(true);
    bool newSettings;
    {
        UnopenableKey accounts(AccountsKey);
        newSettings = RetrieveSettings();
    }
    EXPECT_FALSE(newSettings);
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{FileOnly("Retrieving preference settings from the registry..."),
                                        FileOnly("Retrieving accounts from the registry..."), FileOnly("Retrieved.")}));
    EXPECT_EQ(Preferences.SleepTime, 300000);
    EXPECT_STREQ(AccountTable.Accounts[2].HostName, "stored2");
}
#endif

TEST_F(SettingsTest, AccountsRoundTripAndMissingSubKeyGetsDefaults) {
    Start();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(AppendAccount(Sample(i)), 1);
    CreateAccountRegInfo();
    StoreSettings();
    EXPECT_EQ(StoredNumber(AccountsKey, "Count"), 3);
    EXPECT_EQ(StoredText(AccountKey(2).c_str(), "Password"), "pw2");
    EXPECT_EQ(StoredNumber(AccountKey(1).c_str(), "LastIP"), static_cast<std::int32_t>(0xC0000201u));

    Start();
    ASSERT_EQ(AccountTable.Count, 3);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameStoredFields(AccountTable.Accounts[i], Sample(i))) << i;
    EXPECT_EQ(AccountTable.Accounts[0].CurrentIP, 0u);  // not stored

    DeleteKeyTree(AccountKey(1).c_str());
    Start();
    const Account& restored = AccountTable.Accounts[1];
    EXPECT_EQ(restored.Update, 1);
    EXPECT_EQ(restored.Server, 0);
    EXPECT_STREQ(restored.HostName, "");
    EXPECT_EQ(restored.LastIP, 0u);
    EXPECT_TRUE(SameStoredFields(AccountTable.Accounts[2], Sample(2)));
    EXPECT_EQ(StoredNumber(AccountKey(1).c_str(), "Update"), -999999);  // written at the next store
}

TEST_F(SettingsTest, CatalogueValuesAreStoredOnlyForCatalogueAccounts) {
    const char* const optional[] = {"Service", "ServiceUserName", "ServicePassword", "UpdateServer",
                                    "RetryAt", "Addresses",       "LastIP6",         "LastUpdate6"};
    Start();
    Account service = Sample(1);
    service.Server = -1;
    service.Service = 9;
    CopyText(service.ServiceUserName, std::string(64, 'u').c_str());
    CopyText(service.ServicePassword, std::string(128, 't').c_str());
    CopyText(service.UpdateServer, "http://127.0.0.1:8245/nic/update");
    service.RetryAt = 1800000000;
    service.Addresses = AddressesBoth;
    CopyText(service.LastIP6, "2001:470:1f0b::10");
    service.LastUpdate6 = 1790000000;
    ASSERT_EQ(AppendAccount(Sample(0)), 1);
    ASSERT_EQ(AppendAccount(service), 1);
    CreateAccountRegInfo();
    StoreSettings();
    Start();
    const Account& read = AccountTable.Accounts[1];
    EXPECT_EQ(read.Service, 9);
    EXPECT_EQ(std::string(read.ServiceUserName), std::string(64, 'u'));
    EXPECT_EQ(std::string(read.ServicePassword), std::string(128, 't'));
    EXPECT_STREQ(read.UpdateServer, "http://127.0.0.1:8245/nic/update");
    EXPECT_EQ(read.RetryAt, 1800000000);
    EXPECT_EQ(read.Addresses, AddressesBoth);
    EXPECT_STREQ(read.LastIP6, "2001:470:1f0b::10");
    EXPECT_EQ(read.LastUpdate6, 1790000000);
    for (const char* name : optional) EXPECT_EQ(StoredText(AccountKey(0).c_str(), name), "<missing>") << name;
    // The token is kept protected alone.
    std::uint32_t type = 0;
    std::string sealed;
    EXPECT_EQ(StoredText(AccountKey(1).c_str(), "ServicePassword"), "<missing>");
    ASSERT_TRUE(ReadStoredValue(AccountKey(1).c_str(), "ServicePasswordProtected", &type, &sealed));
    EXPECT_EQ(type, TypeBinary);
    EXPECT_EQ(sealed.find("tttt"), std::string::npos);

    // A plain token of an older version is read and stored protected at the
    // next store; a protected one that cannot be read disables its account alone.
    CopyText(service.HostName, "lost.example");
    ASSERT_EQ(AppendAccount(service), 1);
    CreateAccountRegInfo();
    StoreSettings();
    WriteStoredText(AccountKey(1).c_str(), "ServicePassword", "older-token");
    sealed.back() ^= 1;
    WriteStoredValue(AccountKey(2).c_str(), "ServicePasswordProtected", TypeBinary, sealed);
    LogCapture log;
    Start();
    EXPECT_STREQ(AccountTable.Accounts[1].ServicePassword, "older-token");
    EXPECT_EQ(AccountTable.Accounts[1].Update, 1);
    const Account& lost = AccountTable.Accounts[2];
    EXPECT_EQ(std::to_string(lost.Update) + " " + std::to_string(lost.LastResult) + " " + lost.ServicePassword + "/" +
                  lost.LastReason,
              "0 6 /the password or token could not be read on this computer; type it again in Accounts");
    EXPECT_NE(log.Text().find("*** The password or token of lost.example cannot be read on this computer"), std::string::npos);
    StoreSettings();
    EXPECT_EQ(StoredText(AccountKey(1).c_str(), "ServicePassword"), "<missing>");
    Start();
    EXPECT_STREQ(AccountTable.Accounts[1].ServicePassword, "older-token");

    // Back on a maker's row, the record is stored as it was before the catalogue existed.
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountTable.Accounts[1] = Sample(1);
    }
    StoreSettings();
    for (const char* name : optional) EXPECT_EQ(StoredText(AccountKey(1).c_str(), name), "<missing>") << name;
}

TEST_F(SettingsTest, EnabledStateAndFirstTimers) {
    struct Case {
        std::int32_t startDisabled, firstCheck, count, autoExit;
        std::vector<std::pair<int, std::uint32_t>> timers;
    } cases[] = {
        {1, 1, 2, 0, {}},
        {0, 0, 2, 0, {{UpdateTimer, 0}, {VersionTimer, 1000}}},
        {0, 5, 1, 0, {{UpdateTimer, 5000}, {VersionTimer, 6000}}},
        {0, 1, 1, 1, {{UpdateTimer, 1000}}},
        {0, 1, 0, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.startDisabled) + " " + std::to_string(c.firstCheck) + " " +
                     std::to_string(c.count) + " " + std::to_string(c.autoExit));
        UseFreshSettingsStore();
        WriteStoredNumber(ProductKey, "StartDisabled", c.startDisabled);
        WriteStoredNumber(ProductKey, "FirstCheck", c.firstCheck);
        WriteStoredNumber(AccountsKey, "Count", c.count);
        for (int i = 0; i < MaxAccounts; ++i) WriteStoredText(AccountKey(i).c_str(), "Password", "old");
        AutoExit = c.autoExit;
        Start();
        EXPECT_EQ(UpdatesDisabled, c.startDisabled);
        EXPECT_EQ(armed, c.timers);
        // Start-up stored the defaults: the keys of deleted accounts went with their passwords.
        for (int i = 0; i < MaxAccounts; ++i) EXPECT_EQ(KeyExists(AccountKey(i).c_str()), i < c.count) << i;
    }
}

TEST_F(SettingsTest, DamagedStoredCountKeepsTheAccountsWhoseKeysExistAndNothingElse) {
    struct Case {
        const char* stored;
        int keys;
    } cases[] = {
        {"40", 32}, {"-3", 3}, {"2147483647", 3}, {"text 4294967295", 3}, {"text -1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        UseFreshSettingsStore();
        Start();
        for (int i = 0; i < c.keys; ++i) ASSERT_EQ(AppendAccount(Sample(i)), 1);
        CreateAccountRegInfo();
        StoreSettings();
        if (std::strncmp(c.stored, "text ", 5) == 0)
            WriteStoredText(AccountsKey, "Count", c.stored + 5);
        else
            WriteStoredNumber(AccountsKey, "Count", std::atoi(c.stored));
        if (c.keys > 4) {
            WriteStoredNumber(AccountKey(3).c_str(), "Server", 12);
            WriteStoredNumber(AccountKey(4).c_str(), "Server", -1);
        }
        Start();
        EXPECT_EQ(AccountTable.Count, c.keys);
        EXPECT_EQ(AccountRegInfo.EntryCount(), static_cast<std::size_t>(c.keys) * 10);
        for (int i = 0; i < c.keys; ++i)
            EXPECT_EQ(std::string(AccountTable.Accounts[i].HostName), "host" + std::to_string(i));
        for (int i = 0; i < c.keys; ++i) EXPECT_EQ(AccountTable.Accounts[i].Update, 0) << i;  // perhaps deleted
        if (c.keys > 4) {
            EXPECT_EQ(AccountTable.Accounts[3].Server, 12);  // kept as stored; the update refuses it
            EXPECT_EQ(AccountTable.Accounts[4].Server, -1);
        }
        StoreSettings();
        EXPECT_EQ(StoredNumber(AccountsKey, "Count"), c.keys);
        EXPECT_FALSE(KeyExists(AccountKey(c.keys).c_str()));  // no account invented
    }
}

TEST_F(SettingsTest, OversizedTextFallsBackAlone) {
    Start();
    WriteStoredText(ProductKey, "ProxyServer", std::string(200, 'p'));
    WriteStoredText(ProductKey, "LastVersion", "1234567890123456");  // exactly 16: no terminator room
    WriteStoredNumber(ProductKey, "ProxyPort", 3128);
    Start();
    EXPECT_STREQ(Preferences.ProxyServer, "");
    EXPECT_STREQ(Preferences.LastVersion, "");
    EXPECT_EQ(Preferences.ProxyPort, 3128);
    EXPECT_EQ(StoredText(ProductKey, "ProxyServer"), "");  // a fallback makes start-up store everything
}

TEST_F(SettingsTest, StoresOnAWorkerWhileTheGuiRebuildsAndEdits) {
    Start();
    for (int i = 0; i < 8; ++i) AppendAccount(Sample(i));
    CreateAccountRegInfo();
    // One store on the worker a round, under way while the round's edits and OK run; it then waits for
    // the next round, so the OK's own store is never starved of the store lock.
    constexpr int Rounds = 40;
    std::atomic<int> finished{0};
    std::thread worker([&] {
        for (int seen = 0; seen < Rounds; seen = finished) {
            StoreSettings();
            while (finished == seen) std::this_thread::yield();
        }
    });
    for (int round = 0; round < Rounds; ++round) {
        BeginAccountEdits();  // the Accounts dialog: edits in its copy, then "OK"
        {
            SharedDataGuard guard(SharedDataMutex());
            AccountSet& edits = *AccountEdits();
            ReplaceAccount(edits, round % 8, Sample(100 + round));
            if (round % 5 == 0) AppendAccount(edits, Sample(200 + round));
            if (round % 5 == 2) RemoveAccount(edits, 0);
        }
        CommitAccountEdits();
        finished = round + 1;
    }
    worker.join();
    StoreSettings();
    AccountSet written = AccountTable;
    Start();
    ASSERT_EQ(AccountTable.Count, written.Count);
    for (int i = 0; i < written.Count; ++i) {
        const Account& a = AccountTable.Accounts[i];
        EXPECT_TRUE(SameStoredFields(a, written.Accounts[i])) << i;
        std::string number = std::string(a.HostName).substr(4);
        EXPECT_EQ(std::string(a.UserName), "user" + number) << "torn record " << i;
    }
}

// A store opens and writes only what differs from what the program last wrote
// or read there, and leaves what a store of every value leaves. A store and a
// retrieval of every value open each key once (the product key, "Accounts",
// each record's).
TEST_F(SettingsTest, AStoreWritesWhatChangedAndLeavesWhatAWholeStoreLeaves) {
    Start();
    Account service = Sample(2);
    service.Server = -1;
    service.Service = 1;
    CopyText(service.ServicePassword, "token");
    for (const Account& a : {Sample(0), Sample(1), service}) ASSERT_EQ(AppendAccount(a), 1);
    CreateAccountRegInfo();
    StoreSettings();
#ifndef _WIN32
    const std::uint32_t reads = KeyStoreFileReads;
    StoreSettings();  // nothing to write: the store is not even read, deleted accounts' keys known gone
    EXPECT_EQ(KeyStoreFileReads, reads);
#endif
    struct Case {
        const char* what;
        std::function<void()> change;
        std::uint32_t opens, writes;
    } cases[] = {
        {"a run that changed nothing", [] {}, 0, 0},
        {"everything read back", [] { RetrieveSettings(); }, 0, 0},
        {"a start of the program", [this] { ForgetStoredValues(), Start(); }, 0, 0},
        {"one account's address", [] { AccountTable.Accounts[1].LastIP = 7, AccountTable.Accounts[1].LastUpdate = 8; },
         1, 2},
        // Written behind the store's back, it makes unknown what was not read again: the Run value.
        {"a token stored plain by an older version",
         [] { WriteStoredText(AccountKey(2).c_str(), "ServicePassword", "token"), RetrieveSettings(); }, 2, 3},
        {"an account deleted", [] { RemoveAccount(2), CreateAccountRegInfo(); }, 1, 1},
        {"and added again", [&] { AppendAccount(service), CreateAccountRegInfo(); }, 2, 22},  // Count and the record
    };
    for (const Case& c : cases) {
        c.change();
        const std::uint32_t opens = KeyOpens, writes = ValueWrites;
        StoreSettings();
        EXPECT_EQ(KeyOpens - opens, c.opens) << c.what;
        EXPECT_EQ(ValueWrites - writes, c.writes) << c.what;
    }
#ifndef _WIN32
    auto text = [] {
        std::ifstream file(KeyStoreFile, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    const std::string stored = text();
#endif
    ForgetStoredValues();
    std::uint32_t before = KeyOpens;
    PreferenceRegInfo.Store();
    AccountRegInfo.Store();
    EXPECT_EQ(KeyOpens - before, 5u);
#ifndef _WIN32
    EXPECT_EQ(text(), stored);
#endif
    before = KeyOpens;
    EXPECT_EQ(PreferenceRegInfo.Retrieve() | AccountRegInfo.Retrieve(), 0);
    EXPECT_EQ(KeyOpens - before, 5u);
}

#ifndef _WIN32
TEST_F(SettingsTest, InterruptedStoreLeavesTheOldFileAndSaysSo) {
    Start();
    WriteStoredNumber(ProductKey, "SleepTime", 123000);
    std::ifstream before(KeyStoreFile);
    std::string old((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
    CommitKeyStoreFile = [](const char*, const char*) { return false; };  // stopped before the rename
    Preferences.SleepTime = 999;
    LogCapture log(true);
    StoreSettings();
    EXPECT_EQ(log.Lines().back(), "*** The settings file " + std::string(KeyStoreFile) +
                                      " could not be saved (Input/output error); it keeps the settings stored before.");
    CommitKeyStoreFile = [](const char* t, const char* p) { return std::rename(t, p) == 0; };
    std::ifstream after(KeyStoreFile);
    std::string now((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now, old);
    EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), 123000);
}

TEST_F(SettingsTest, TheFileReaderTakesWhatEditorsAndCutWritesLeave) {
    const std::string header = "# Vastrel settings store 1\n";
    const std::string key = "[Software\\Brannock\\Vastrel]\n";
    const std::string sleep = "\"SleepTime\"=dword:0001d4c0\n";  // 120000
    enum Verdict { Read, Skipped, SetAside };
    struct Case {
        const char* what;
        std::string content;
        std::int32_t sleepTime;
        Verdict verdict;
    } cases[] = {
        {"CR LF line ends",
         "# Vastrel settings store 1\r\n[Software\\Brannock\\Vastrel]\r\n\"SleepTime\"=dword:0001d4c0\r\n", 120000,
         Read},
        {"byte-order mark", "\xEF\xBB\xBF" + header + key + sleep, 120000, Read},
        {"comment lines", header + "# mine\n" + key + "; also mine\n" + sleep, 120000, Read},
        {"no header", key + sleep, 120000, Read},
        {"cut last line", header + key + sleep + "\"FirstCheck\"=dwo", 120000, Skipped},
        {"cut text", header + key + sleep + "\"ProxyServer\"=\"prox", 120000, Skipped},
        {"bad key line hides its values", header + "[Software\\Brannock\n" + sleep + key, 300000, Skipped},
        {"foreign value", header + "[Software]\n\"x\"=dword:12\n" + key + sleep, 120000, Skipped},
        {"garbage", "garbage\n\x01\x02", 300000, SetAside},
        {"empty", "", 300000, SetAside},
        {"values without a key", header.substr(1) + sleep, 300000, SetAside},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseFreshSettingsStore();
        {
            std::ofstream out(KeyStoreFile, std::ios::binary);
            out << c.content;
        }
        LogCapture log(false);
        Start();
        EXPECT_EQ(Preferences.SleepTime, c.sleepTime);
        EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), c.sleepTime);
        const std::string text = log.Text();
        EXPECT_EQ(text.find("is damaged") != std::string::npos, c.verdict == SetAside) << text;
        EXPECT_EQ(text.find("that cannot be read; they were skipped") != std::string::npos, c.verdict == Skipped)
            << text;
        // Whatever was not read is kept beside the store.
        std::ifstream kept(std::string(KeyStoreFile) + ".damaged", std::ios::binary);
        EXPECT_EQ(static_cast<bool>(kept), c.verdict != Read);
        if (kept) {
            EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), c.content);
        }
    }
}

namespace {
std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
// Runs body in a child process; its result is the child's exit status.
template <typename Body>
int InChild(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::mutex heldMutex;
std::condition_variable heldChanged;
bool commitHeld = false, commitReleased = false;
bool HoldFirstCommit(const char* temporary, const char* path) {
    std::unique_lock<std::mutex> lock(heldMutex);
    if (!commitHeld) {
        commitHeld = true;
        heldChanged.notify_all();
        heldChanged.wait(lock, [] { return commitReleased; });
    }
    return std::rename(temporary, path) == 0;
}
}  // namespace

TEST_F(SettingsTest, TheLastStoreWrittenHoldsTheLatestState) {
    Start();
    Preferences.SleepTime = 111000;
    commitHeld = commitReleased = false;
    CommitKeyStoreFile = HoldFirstCommit;
    std::thread older([] { StoreSettings(); });
    {
        std::unique_lock<std::mutex> lock(heldMutex);
        heldChanged.wait(lock, [] { return commitHeld; });  // older's snapshot is taken, its file not yet in place
    }
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.SleepTime = 222000;
    }
    std::atomic<bool> newerDone{false};
    std::thread newer([&] {
        StoreSettings();
        newerDone = true;
    });
    // The newer store must wait for the held one, however long it is held.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const bool overtook = newerDone;
    {
        std::lock_guard<std::mutex> lock(heldMutex);
        commitReleased = true;
    }
    heldChanged.notify_all();
    older.join();
    newer.join();
    CommitKeyStoreFile = [](const char* t, const char* p) { return std::rename(t, p) == 0; };
    EXPECT_FALSE(overtook);
    EXPECT_EQ(StoredNumber(ProductKey, "SleepTime"), 222000);
}

TEST_F(SettingsTest, TheFileIsTheOwnersAloneAndAnUnreadableOneIsNeverWrittenOver) {
    Start();
    struct stat info {};
    ASSERT_EQ(stat(KeyStoreFile, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // it holds passwords

    // A file of someone else's in a folder anyone may write to: the program
    // (as another user) cannot read it.
    char folder[] = "/tmp/vastrel-unreadable-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    chmod(folder, 0777);
    const std::string file = std::string(folder) + "/settings.txt";
    const std::string log = std::string(folder) + "/vastrel.log";
    CopyText(KeyStoreFile, file.c_str());
    WriteStoredNumber(ProductKey, "SleepTime", 123000);
    chmod(file.c_str(), geteuid() == 0 ? 0600 : 0);
    const std::string before = FileBytes(file);
    int verdict = InChild([&] {
        if (geteuid() == 0 && setuid(65534) != 0) return 10;
        CopyText(LogFilePath, log.c_str());
        Preferences = InitialPreferences();
        PreferenceRegInfo.Clear();
        AccountRegInfo.Clear();
        InitSettings();
        if (Preferences.SleepTime != 300000) return 11;  // runs on the defaults
        StoreSettings();
        return 0;
    });
    EXPECT_EQ(verdict, 0);
    EXPECT_EQ(FileBytes(file), before);
    EXPECT_NE(FileBytes(log).find("cannot be read"), std::string::npos) << FileBytes(log);
    std::filesystem::remove_all(folder);
}

TEST_F(SettingsTest, AStoreKilledAnywhereLeavesTheWholeOldOrTheWholeNewFile) {
    Start();
    auto state = [](int mark) {
        SharedDataGuard guard(SharedDataMutex());
        AccountTable = AccountSet{};
        for (int i = 0; i < 16; ++i) AppendAccount(Sample(mark * 100 + i));
        Preferences.SleepTime = 60000 * mark;
        CreateAccountRegInfo();
    };
    state(1);
    StoreSettings();
    const std::string one = FileBytes(KeyStoreFile);
    state(2);
    StoreSettings();
    const std::string two = FileBytes(KeyStoreFile);
    ASSERT_NE(one, two);
    const std::string folder = std::filesystem::path(std::filesystem::absolute(KeyStoreFile)).parent_path();
    auto leftovers = [&] {
        int found = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().string().rfind(std::string(std::filesystem::absolute(KeyStoreFile)) + ".tmp-", 0) == 0) {
                std::filesystem::remove(entry.path());
                ++found;
            }
        return found;
    };
    std::srand(20261209);
    int kills = 0, midWrite = 0, whole = 0;
    for (; kills < 1000; ++kills) {
        pid_t writer = fork();
        if (writer == 0) {
            for (int mark = 1;; mark = 3 - mark) {
                state(mark);
                StoreSettings();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 6000));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        const std::string now = FileBytes(KeyStoreFile);
        if (now == one || now == two) ++whole;
        midWrite += leftovers() > 0;
    }
    std::cout << "[ figures  ] " << kills << " writers killed, " << midWrite << " of them mid-write; " << whole
              << " times the file was whole\n";
    EXPECT_EQ(whole, kills);
}

static std::vector<std::string> committed;

// Others may write to the folder: nothing planted there is written through,
// no name is known before it is made, and a killed writer's leftovers go.
TEST_F(SettingsTest, TheStoresFilesAreItsOwnAndAKilledWritersLeftoversGo) {
    Start();
    const std::string path = KeyStoreFile, dead = path + ".tmp-999999999-1", live = path + ".tmp-1-1";  // init's
    std::ofstream(dead) << "half";
    std::ofstream(live) << "half";
    CommitKeyStoreFile = [](const char* t, const char* p) { return committed.push_back(t), std::rename(t, p) == 0; };
    for (std::int32_t sleepTime : {61000, 62000}) {
        Preferences.SleepTime = sleepTime;
        StoreSettings();
    }
    CommitKeyStoreFile = [](const char* t, const char* p) { return std::rename(t, p) == 0; };
    EXPECT_TRUE(committed.size() == 2 && committed[0] != committed[1]);
    EXPECT_TRUE(access(dead.c_str(), F_OK) != 0 && access(live.c_str(), F_OK) == 0);

    std::ofstream(path + ".mine") << "mine";
    ASSERT_EQ(symlink((path + ".mine").c_str(), (path + ".damaged").c_str()), 0);
    std::ofstream(path, std::ios::app) << "garbage line\n";
    Start();
    struct stat info {};
    EXPECT_TRUE(lstat((path + ".damaged").c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                FileBytes(path + ".mine") == "mine");
}
#endif
