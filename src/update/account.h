// The account record and the table of up to 32 accounts.
#pragma once

#include <cstdint>

struct Account {
    char HostName[81];
    char UserName[33];
    char Password[33];
    char MailExtender[81];
    std::int32_t Update;
    std::int32_t Server;
    std::int32_t Wildcards;
    std::int32_t BackupMX;
    std::uint32_t CurrentIP;   // network byte order
    std::uint32_t LastIP;      // network byte order
    std::int32_t LastUpdate;   // seconds since 1970-01-01 UTC
};

constexpr int MaxAccounts = 32;

struct AccountSet {
    Account Accounts[MaxAccounts];
    std::int32_t Count;
};

// Guarded by SharedDataMutex() when threads share it.
extern AccountSet AccountTable;

// The account count limited to the table's capacity; a damaged count never
// lets a reader walk past the table.
int ValidAccountCount();

// Same account: same Server row and HostName equal without regard to ASCII case.
// Stores the position (or -1) through position when given.
int FindAccount(const Account& candidate, int* position);
// Gives 1 when appended, 0 when the table is full.
int AppendAccount(const Account& account);
// Gives 1 when replaced, 0 when the position is not a valid account.
int ReplaceAccount(int position, const Account& account);
// Gives 1 when removed, 0 when the position is not a valid account.
int RemoveAccount(int position);

// HostName, ".", the row's domain, into a buffer of at least 164 bytes.
// An account with no valid row gets HostName and "." alone.
void FullHostName(const Account& account, char* out, int size);

// Makes every text of the record a terminated text within its field.
void TerminateAccountTexts(Account& account);
