#include "settings/settings.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common/program_path.h"
#include "common/shell_calls.h"
#include "common/text.h"
#include "log/clock.h"
#include "log/log.h"
#include "model/account.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "update/connection.h"
#include "update/public_address.h"

RegInfo PreferenceRegInfo("Brannock", "Vastrel");
RegInfo AccountRegInfo("Brannock", "Vastrel");
const char* const RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const RunValueName = "Vastrel";

namespace {
std::mutex& StoreMutex() {
    static std::mutex mutex;
    return mutex;
}

enum class AutoStartOutcome { Enabled, Disabled, NoPath, NoKey };

// Written as the settings are: only when it differs from what the program
// last wrote there.
AutoStartOutcome ApplyAutoStart(std::int32_t enabled) {
    char path[ProgramPathSize];  // UTF-8: up to three bytes a character
    std::size_t length = OwnProgramPath(path, sizeof path);
    if (length == 0) return AutoStartOutcome::NoPath;
    const StoredValue entry{RunKeyPath, RunValueName, TypeText, std::string(path, length), enabled == 0};
    if (!RegInfo::Write({entry})) return AutoStartOutcome::NoKey;
    return enabled ? AutoStartOutcome::Enabled : AutoStartOutcome::Disabled;
}

void LogAutoStart(AutoStartOutcome outcome) {
    switch (outcome) {
    case AutoStartOutcome::NoPath:
        WriteLog(LogFailure, "Could not enable/disable auto start because GetModuleFileName error!");
        break;
    case AutoStartOutcome::NoKey:
        WriteLog(LogFailure, "Could not enable/disable auto start feature in the registry!");
        break;
    case AutoStartOutcome::Enabled:
        WriteLog(LogTrace, "Auto start feature enabled in the registry");
        break;
    case AutoStartOutcome::Disabled:
        WriteLog(LogTrace, "Auto start feature disabled in the registry");
        break;
    }
}

// The sub-key of account i, below the product key.
std::string AccountSubKey(int i) { return "Accounts\\" + std::to_string(i); }

std::int32_t* AsNumber(std::uint32_t* address) { return reinterpret_cast<std::int32_t*>(address); }

void AddPreferenceDescriptors() {
    static const std::string helpUrl = MakerUrl("/Products/Vastrel/help.html");
    PreferenceSet& p = Preferences;
    RegInfo& r = PreferenceRegInfo;
    r.AddNumber("AutoStart", &p.AutoStart, 1);
    r.AddNumber("StartDisabled", &p.StartDisabled, 0);
    r.AddNumber("ShowTrayIcon", &p.ShowTrayIcon, 1);
    r.AddNumber("PortNumber", &p.PortNumber, 80);
    r.AddNumber("SleepTime", &p.SleepTime, 300000);
    r.AddNumber("UseProxy", &p.UseProxy, 0);
    r.AddNumber("Connection", &p.Connection, 1);
    r.AddNumber("Interface", &p.Interface, 0);
    r.AddText("ProxyServer", p.ProxyServer, sizeof p.ProxyServer, "");
    r.AddNumber("ProxyPort", &p.ProxyPort, 80);
    r.AddNumber("UseBasicAuthentication", &p.UseBasicAuthentication, 0);
    r.AddText("ProxyUser", p.ProxyUser, sizeof p.ProxyUser, "");
    r.AddText("ProxyPassword", p.ProxyPassword, sizeof p.ProxyPassword, "");
    r.AddNumber("VersionCheck", &p.VersionCheck, 1);
    r.AddNumber("DetailedLogging", &p.DetailedLogging, 0);
    r.AddNumber("FirstCheck", &p.FirstCheck, 1);
    r.AddNumber("DaysToForcedUpdate", &p.DaysToForcedUpdate, 28);
    r.AddText("HelpURL", p.HelpURL, sizeof p.HelpURL, helpUrl.c_str());
    r.AddNumber("Accounts", "Count", &AccountTable.Count, 0);
    r.AddText("LastVersion", p.LastVersion, sizeof p.LastVersion, "");
    r.AddNumber("UseHTTPS", &p.UseHTTPS, 0);
    r.AddNumber("UsePublicAddress", &p.UsePublicAddress, 0);
    r.AddTextIfChanged("CheckIPAddress", p.CheckIPAddress, sizeof p.CheckIPAddress, DefaultCheckIpPage);
    r.AddNumber("ShowNotifications", &p.ShowNotifications, 1);
}
// A damaged stored count never binds descriptors beyond the table and never
// invents accounts: the accounts whose keys are there (from the first on,
// without a gap) are kept. A store removes the keys of deleted accounts, but
// one of an older version left them behind, so these may include accounts the
// user deleted: true tells the caller to load them disabled. Reported once,
// not at every retrieval.
bool CheckAccountCount() {
    static bool reported = false;
    const std::int32_t stored = ReadShared(AccountTable.Count);
    if (stored >= 0 && stored <= MaxAccounts) return false;
    std::int32_t count = 0;
    while (count < MaxAccounts &&
           KeyExists(AccountRegInfo.KeyPath(AccountSubKey(count).c_str()).c_str()))
        ++count;
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountTable.Count = count;
    }
    if (reported) return true;
    reported = true;
    WriteLog(LogShownFailure, "The stored account count", NumberToText(stored).c_str(), "is out of range; using",
             NumberToText(count).c_str(), "accounts, all disabled until enabled again in Accounts.");
    return true;
}

// The keys of deleted accounts go, with their passwords and tokens: every
// account key from the stored count on. A count out of range removes none.
void RemoveAccountKeysFrom(std::int32_t count) {
    if (count < 0 || count > MaxAccounts) return;
    for (int i = count; i < MaxAccounts; ++i) {
        const std::string subKey = AccountSubKey(i);
        if (RemoveStoredKey(AccountRegInfo.KeyPath(subKey.c_str())))
            WriteLog(LogTrace, "Removed the key of deleted account", subKey.c_str());
    }
}

// A stored check-IP page that Properties would refuse (such as a host longer
// than a host name can be) is named once, at start-up; it stays stored.
void CheckStoredCheckIpPage() {
    char text[sizeof Preferences.CheckIPAddress];
    {
        SharedDataGuard guard(SharedDataMutex());
        CopyField(text, Preferences.CheckIPAddress);
    }
    ServiceTarget page;
    const char* why = nullptr;
    if (text[0] == '\0' || FindCheckIpPage(text, page, why)) return;
    WriteLog(LogShownFailure, (std::string("The stored check-IP address (\"CheckIPAddress\") ") + why +
                               "; the default page " + DefaultCheckIpPage + " is asked instead.")
                                  .c_str());
}

// The accounts whose password or token the store holds but cannot give back
// here (protected by another user or on another computer, or damaged) are
// disabled until it is typed again, each saying so in Accounts; their hosts
// for the log. Called with SharedDataMutex held.
std::vector<std::string> DisableAccountsWithUnreadableSecrets() {
    const std::vector<std::string>& unreadable = AccountRegInfo.UnreadableSecrets();
    std::vector<std::string> hosts;
    for (int i = 0; i < ValidAccountCount(); ++i) {
        Account& a = AccountTable.Accounts[i];
        // A maker's row never uses the value, whatever stray one its key holds.
        if (a.Service == 0 || std::find(unreadable.begin(), unreadable.end(), AccountSubKey(i)) == unreadable.end())
            continue;
        a.Update = 0;
        a.LastResult = ResultFailed;
        a.LastTry = static_cast<std::int32_t>(CurrentTime());
        CopyText(a.LastReason, "the password or token could not be read on this computer; type it again in Accounts");
        char host[2 * sizeof a.HostName], shown[sizeof host];
        FullHostName(a, host, sizeof host);
        ShowableText(host, shown, sizeof shown);
        hosts.push_back(shown);
    }
    return hosts;
}
}  // namespace

bool RetrieveSettings() {
    WriteLog(LogTrace, "Retrieving preference settings from the registry...");
    bool newSettings = PreferenceRegInfo.Retrieve() == 1;
    const bool countDamaged = CheckAccountCount();
    if (newSettings) WriteLog(LogTrace, "New preference settings detected.");
    WriteLog(LogTrace, "Retrieving accounts from the registry...");
    std::vector<std::string> unreadable;
    AccountRegInfo.Retrieve([countDamaged, &unreadable] {
        // The records now hold what the store holds: a result still under
        // way belongs to none of them and is dropped, never misdirected.
        RenewAccountIdentities(AccountTable);
        if (countDamaged)
            for (int i = 0; i < ValidAccountCount(); ++i) AccountTable.Accounts[i].Update = 0;
        unreadable = DisableAccountsWithUnreadableSecrets();
    });
    for (const std::string& host : unreadable)
        WriteLog(LogShownFailure, "The password or token of", host.c_str(),
                 "cannot be read on this computer (it was stored by another user or on another computer, or is "
                 "damaged); the account is disabled until it is typed again in Accounts.");
    WriteLog(LogTrace, "Retrieved.");
    return newSettings;
}

void StoreSettings() {
    // One store at a time, each taking everything at one moment: the last
    // store written holds the latest state, and "Count" always matches the
    // account records beside it. Natively the whole store is one commit of
    // the file. Its lines are logged under the lock, so two stores' lines
    // never mix, except a failure line: it goes to the log window, which
    // waits for the GUI thread, which may be waiting for this store; it and
    // "Stored." come once the lock is released. A store whose commit failed
    // logs why instead of "Stored.".
    AutoStartOutcome outcome;
    bool failed, committed, autoStartFailed;
    std::string commitFailure;
    {
        std::lock_guard<std::mutex> oneStoreAtATime(StoreMutex());
        KeyStoreBatch oneCommit;
        StoreSnapshot preferences, accounts;
        std::int32_t autoStart, count;
        {
            SharedDataGuard guard(SharedDataMutex());
            preferences = PreferenceRegInfo.Snapshot();
            accounts = AccountRegInfo.Snapshot();
            autoStart = Preferences.AutoStart;
            count = AccountTable.Count;
        }
        WriteLog(LogTrace, "Storing preference settings to the registry...");
        RegInfo::Write(preferences);
        WriteLog(LogTrace, "Storing accounts to the registry...");
        RegInfo::Write(accounts);
        RemoveAccountKeysFrom(count);
        outcome = ApplyAutoStart(autoStart);
        committed = oneCommit.End(&commitFailure);
        if (!committed) ForgetStoredValues();  // the file keeps what it held before
        autoStartFailed = outcome == AutoStartOutcome::NoPath || outcome == AutoStartOutcome::NoKey;
        failed = autoStartFailed || !committed;
        if (!failed) {
            LogAutoStart(outcome);
            WriteLog(LogTrace, "Stored.");
        }
    }
    if (failed) {
        if (autoStartFailed || committed) LogAutoStart(outcome);  // an entry never written is not reported
        if (committed)
            WriteLog(LogTrace, "Stored.");
        else
            WriteLog(LogShownFailure, commitFailure.c_str());
    }
}

void CreateAccountRegInfo() {
    // A store on a worker copies the descriptors under the same lock, so it
    // never sees the list half rebuilt. Only the GUI thread rebuilds, and it
    // may log while holding the lock.
    SharedDataGuard guard(SharedDataMutex());
    AccountRegInfo.Clear();
    WriteLog(LogTrace, "Creating reginfo for accounts");
    int count = ValidAccountCount();
    for (int i = 0; i < count; ++i) {
        std::string subKey = AccountSubKey(i);
        WriteLog(LogTrace, "Creating reginfo for account", subKey.c_str());
        Account& a = AccountTable.Accounts[i];
        const char* k = subKey.c_str();
        RegInfo& r = AccountRegInfo;
        r.AddNumber(k, "Update", &a.Update, 1);
        r.AddNumber(k, "Server", &a.Server, 0);
        r.AddText(k, "HostName", a.HostName, sizeof a.HostName, "");
        r.AddText(k, "UserName", a.UserName, sizeof a.UserName, "");
        r.AddText(k, "Password", a.Password, sizeof a.Password, "");
        r.AddNumber(k, "Wildcards", &a.Wildcards, 0);
        r.AddText(k, "MailExtender", a.MailExtender, sizeof a.MailExtender, "");
        r.AddNumber(k, "BackupMX", &a.BackupMX, 0);
        r.AddNumber(k, "LastIP", AsNumber(&a.LastIP), 0);
        r.AddNumber(k, "LastUpdate", &a.LastUpdate, 0);
        // A catalogue service's account adds its own values; the maker's rows are stored as before.
        r.AddOptionalNumber(k, "Service", &a.Service, 0, &a.Service);
        r.AddOptionalText(k, "ServiceUserName", a.ServiceUserName, sizeof a.ServiceUserName, &a.Service);
        // The password or token is kept protected. The user field never is: no
        // service of the catalogue makes it a key (a user name, a login,
        // Cloudflare's zone, Namecheap's domain).
        r.AddOptionalSecret(k, "ServicePassword", a.ServicePassword, sizeof a.ServicePassword, &a.Service);
        r.AddOptionalText(k, "UpdateServer", a.UpdateServer, sizeof a.UpdateServer, &a.Service);
        r.AddOptionalNumber(k, "RetryAt", &a.RetryAt, 0, &a.Service);
        r.AddOptionalNumber(k, "Addresses", &a.Addresses, AddressesIPv4, &a.Service);
        r.AddOptionalText(k, "LastIP6", a.LastIP6, sizeof a.LastIP6, &a.Service);
        r.AddOptionalNumber(k, "LastUpdate6", &a.LastUpdate6, 0, &a.Service);
        r.AddOptionalNumber(k, "LastResult", &a.LastResult, ResultNone, &a.Service);
        r.AddOptionalNumber(k, "LastTry", &a.LastTry, 0, &a.Service);
        r.AddOptionalText(k, "LastReason", a.LastReason, sizeof a.LastReason, &a.Service);
    }
}

void CommitAccountEdits() {
    {
        // Table and descriptors change together: a store on a worker sees
        // either the old count with the old records or the new with the new.
        SharedDataGuard guard(SharedDataMutex());
        TakeAccountEdits();
        CreateAccountRegInfo();
    }
    StoreSettings();
}

void SetAutoStart(std::int32_t enabled) { LogAutoStart(ApplyAutoStart(enabled)); }

void InitSettings() {
    WriteLog(LogTrace, "Creating reginfo for preferences");
    {
        SharedDataGuard guard(SharedDataMutex());
        AddPreferenceDescriptors();
    }
    if (PreferenceRegInfo.TestKey()) {
        bool newSettings = RetrieveSettings();
        CreateAccountRegInfo();
        RetrieveSettings();
        CheckStoredCheckIpPage();
        if (newSettings) {
            StoreSettings();
        } else {
            SetAutoStart(ReadShared(Preferences.AutoStart));
        }
    }
    std::int32_t disabled, count, firstCheck, autoExit;
    {
        SharedDataGuard guard(SharedDataMutex());
        UpdatesDisabled = Preferences.StartDisabled ? 1 : 0;
        disabled = UpdatesDisabled;
        count = AccountTable.Count;
        firstCheck = Preferences.FirstCheck;
        autoExit = AutoExit;
    }
    if (disabled) return;
    // 32-bit millisecond counts, as the timers take them.
    std::uint32_t first = static_cast<std::uint32_t>(firstCheck);
    if (count != 0) Shell.ArmTimer(UpdateTimer, first * 1000u);
    if (!autoExit) Shell.ArmTimer(VersionTimer, (first + 1u) * 1000u);
}
