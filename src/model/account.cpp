#include "model/account.h"

#include <atomic>
#include <cstring>

#include "common/text.h"
#include "model/server_table.h"

AccountSet AccountTable;

namespace {
std::atomic<std::uint32_t> lastIdentity{0};
std::uint32_t NewIdentity() { return ++lastIdentity; }

bool SameField(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

template <typename T>
void TakeChange(T& field, const T& before, const T& after) {
    if (after != before && field == before) field = after;
}
template <std::size_t N>
void TakeChange(char (&field)[N], const char (&before)[N], const char (&after)[N]) {
    if (std::strncmp(after, before, N) != 0 && std::strncmp(field, before, N) == 0) std::memcpy(field, after, N);
}
}  // namespace

int ValidAccountCount(const AccountSet& set) {
    int count = set.Count;
    if (count < 0) return 0;
    return count > MaxAccounts ? MaxAccounts : count;
}
int ValidAccountCount() { return ValidAccountCount(AccountTable); }

int FindAccount(const AccountSet& set, const Account& candidate, int* position) {
    if (position) *position = -1;
    char wanted[sizeof candidate.HostName];
    CopyField(wanted, candidate.HostName);
    int count = ValidAccountCount(set);
    for (int i = 0; i < count; ++i) {
        const Account& account = set.Accounts[i];
        if (account.Server != candidate.Server || account.Service != candidate.Service) continue;
        char stored[sizeof account.HostName];
        CopyField(stored, account.HostName);
        if (EqualNoCase(stored, wanted)) {
            if (position) *position = i;
            return 1;
        }
    }
    return 0;
}
int FindAccount(const Account& candidate, int* position) { return FindAccount(AccountTable, candidate, position); }

int AppendAccount(AccountSet& set, const Account& account) {
    int count = ValidAccountCount(set);
    if (count >= MaxAccounts) return 0;
    set.Accounts[count] = account;
    TerminateAccountTexts(set.Accounts[count]);
    set.Ids[count] = NewIdentity();
    set.Count = count + 1;
    return 1;
}
int AppendAccount(const Account& account) { return AppendAccount(AccountTable, account); }

int ReplaceAccount(AccountSet& set, int position, const Account& account) {
    if (position < 0 || position >= ValidAccountCount(set)) return 0;
    Account& record = set.Accounts[position];
    Account replacement = account;
    TerminateAccountTexts(replacement);
    TerminateAccountTexts(record);
    if (!SameServiceFields(record, replacement)) set.Ids[position] = NewIdentity();
    record = replacement;
    return 1;
}
int ReplaceAccount(int position, const Account& account) { return ReplaceAccount(AccountTable, position, account); }

int RemoveAccount(AccountSet& set, int position) {
    int count = ValidAccountCount(set);
    if (position < 0 || position >= count) return 0;
    for (int i = position; i + 1 < count; ++i) {
        set.Accounts[i] = set.Accounts[i + 1];
        set.Ids[i] = set.Ids[i + 1];
    }
    set.Count = count - 1;
    return 1;
}
int RemoveAccount(int position) { return RemoveAccount(AccountTable, position); }

std::uint32_t AccountIdentity(AccountSet& set, int position) {
    if (position < 0 || position >= ValidAccountCount(set)) return 0;
    if (set.Ids[position] == 0) set.Ids[position] = NewIdentity();
    return set.Ids[position];
}

int FindIdentity(const AccountSet& set, std::uint32_t id) {
    int count = ValidAccountCount(set);
    for (int i = 0; i < count; ++i)
        if (id != 0 && set.Ids[i] == id) return i;
    return -1;
}

void RenewAccountIdentities(AccountSet& set) {
    for (std::uint32_t& id : set.Ids) id = NewIdentity();
}

bool SameServiceFields(const Account& a, const Account& b) {
    return a.Server == b.Server && SameField(a.HostName, b.HostName) && SameField(a.UserName, b.UserName) &&
           SameField(a.Password, b.Password) && a.Wildcards == b.Wildcards &&
           SameField(a.MailExtender, b.MailExtender) && a.BackupMX == b.BackupMX && a.Service == b.Service &&
           SameField(a.ServiceUserName, b.ServiceUserName) && SameField(a.ServicePassword, b.ServicePassword) &&
           SameField(a.UpdateServer, b.UpdateServer) && a.Addresses == b.Addresses;
}

void KeepAccountHistory(const Account& old, Account& form) {
    form.CurrentIP = old.CurrentIP;
    form.LastIP = SameServiceFields(old, form) ? old.LastIP : 0;
    form.LastUpdate = old.LastUpdate;
    CopyField(form.CurrentIP6, old.CurrentIP6);
    if (SameServiceFields(old, form))
        CopyField(form.LastIP6, old.LastIP6);
    else
        form.LastIP6[0] = '\0';
    form.LastUpdate6 = old.LastUpdate6;
    // A service's wait holds for the same request; a changed one may be sent now.
    form.RetryAt = SameServiceFields(old, form) ? old.RetryAt : 0;
    // The last try's outcome belongs to the request the service saw.
    form.LastResult = SameServiceFields(old, form) ? old.LastResult : ResultNone;
    form.LastTry = SameServiceFields(old, form) ? old.LastTry : 0;
    if (SameServiceFields(old, form))
        CopyField(form.LastReason, old.LastReason);
    else
        form.LastReason[0] = '\0';
}

bool ApplyRunResult(AccountSet& set, std::uint32_t id, const Account& before, const Account& after) {
    int position = FindIdentity(set, id);
    if (position < 0) return false;
    Account& record = set.Accounts[position];
    TakeChange(record.Update, before.Update, after.Update);
    TakeChange(record.CurrentIP, before.CurrentIP, after.CurrentIP);
    TakeChange(record.LastIP, before.LastIP, after.LastIP);
    TakeChange(record.LastUpdate, before.LastUpdate, after.LastUpdate);
    TakeChange(record.RetryAt, before.RetryAt, after.RetryAt);
    TakeChange(record.CurrentIP6, before.CurrentIP6, after.CurrentIP6);
    TakeChange(record.LastIP6, before.LastIP6, after.LastIP6);
    TakeChange(record.LastUpdate6, before.LastUpdate6, after.LastUpdate6);
    TakeChange(record.LastResult, before.LastResult, after.LastResult);
    TakeChange(record.LastTry, before.LastTry, after.LastTry);
    TakeChange(record.LastReason, before.LastReason, after.LastReason);
    return true;
}
void FullHostName(const Account& account, char* out, int size) {
    if (size <= 0) return;
    const ServerEntry* row = ServerRow(account.Server);
    char host[sizeof account.HostName];
    CopyField(host, account.HostName);
    CopyText(out, static_cast<std::size_t>(size), host);
    if (account.Service != 0) return;
    AppendText(out, static_cast<std::size_t>(size), ".");
    if (row) AppendText(out, static_cast<std::size_t>(size), row->Domain);
}

namespace {
bool HasUnsafeByte(const char* text, bool blankToo) {
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c)
        if (*c < 32 || *c == 127 || (blankToo && *c == ' ')) return true;
    return false;
}
}  // namespace

const AccountTextField* UnsafeAccountField(const Account& account) {
    static const AccountTextField fields[] = {{"host name", true},     {"user name", false}, {"password", false},
                                              {"mail extender", true}, {"user name", false}, {"password", false},
                                              {"update server", true}};
    Account a = account;
    TerminateAccountTexts(a);
    const char* texts[] = {a.HostName,        a.UserName,        a.Password,    a.MailExtender,
                           a.ServiceUserName, a.ServicePassword, a.UpdateServer};
    for (int i = 0; i < 7; ++i)
        if (HasUnsafeByte(texts[i], fields[i].NoBlanks)) return &fields[i];
    return nullptr;
}

void ShowableText(const char* text, char* out, std::size_t size) {
    CopyText(out, size, text);
    for (char* c = out; *c; ++c)
        if (static_cast<unsigned char>(*c) < 32 || *c == 127) *c = '?';
}

void TerminateAccountTexts(Account& account) {
    TerminateText(account.HostName);
    TerminateText(account.UserName);
    TerminateText(account.Password);
    TerminateText(account.MailExtender);
    TerminateText(account.ServiceUserName);
    TerminateText(account.ServicePassword);
    TerminateText(account.UpdateServer);
    TerminateText(account.CurrentIP6);
    TerminateText(account.LastIP6);
    TerminateText(account.LastReason);
}

bool UpdatesIPv4(const Account& account) { return account.Service == 0 || account.Addresses != AddressesIPv6; }
bool UpdatesIPv6(const Account& account) {
    return account.Service != 0 && (account.Addresses == AddressesIPv6 || account.Addresses == AddressesBoth);
}

const char* AccountUserName(const Account& account) {
    return account.Service != 0 ? account.ServiceUserName : account.UserName;
}
const char* AccountPassword(const Account& account) {
    return account.Service != 0 ? account.ServicePassword : account.Password;
}
