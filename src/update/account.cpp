#include "update/account.h"

#include "common/text.h"
#include "update/server_table.h"

AccountSet AccountTable;

int ValidAccountCount() {
    int count = AccountTable.Count;
    if (count < 0) return 0;
    return count > MaxAccounts ? MaxAccounts : count;
}

int FindAccount(const Account& candidate, int* position) {
    if (position) *position = -1;
    char wanted[sizeof candidate.HostName];
    CopyField(wanted, candidate.HostName);
    int count = ValidAccountCount();
    for (int i = 0; i < count; ++i) {
        const Account& account = AccountTable.Accounts[i];
        if (account.Server != candidate.Server) continue;
        char stored[sizeof account.HostName];
        CopyField(stored, account.HostName);
        if (EqualNoCase(stored, wanted)) {
            if (position) *position = i;
            return 1;
        }
    }
    return 0;
}

int AppendAccount(const Account& account) {
    int count = ValidAccountCount();
    if (count >= MaxAccounts) return 0;
    AccountTable.Accounts[count] = account;
    TerminateAccountTexts(AccountTable.Accounts[count]);
    AccountTable.Count = count + 1;
    return 1;
}

int ReplaceAccount(int position, const Account& account) {
    if (position < 0 || position >= ValidAccountCount()) return 0;
    AccountTable.Accounts[position] = account;
    TerminateAccountTexts(AccountTable.Accounts[position]);
    return 1;
}

int RemoveAccount(int position) {
    int count = ValidAccountCount();
    if (position < 0 || position >= count) return 0;
    for (int i = position; i + 1 < count; ++i) AccountTable.Accounts[i] = AccountTable.Accounts[i + 1];
    AccountTable.Count = count - 1;
    return 1;
}

void FullHostName(const Account& account, char* out, int size) {
    if (size <= 0) return;
    const ServerEntry* row = ServerRow(account.Server);
    char host[sizeof account.HostName];
    CopyField(host, account.HostName);
    CopyText(out, static_cast<std::size_t>(size), host);
    AppendText(out, static_cast<std::size_t>(size), ".");
    if (row) AppendText(out, static_cast<std::size_t>(size), row->Domain);
}

void TerminateAccountTexts(Account& account) {
    TerminateText(account.HostName);
    TerminateText(account.UserName);
    TerminateText(account.Password);
    TerminateText(account.MailExtender);
}
