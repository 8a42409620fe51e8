// The account record and the table of up to 32 accounts.
#pragma once

#include <cstddef>
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
    std::uint32_t CurrentIP;  // network byte order
    std::uint32_t LastIP;     // network byte order
    std::int32_t LastUpdate;  // seconds since 1970-01-01 UTC
    // A service of the catalogue (update/services.h) instead of the maker's
    // rows; stored only for such an account, whose Server is -1.
    std::int32_t Service;       // 1 to ServiceCount; 0: the maker's rows
    char ServiceUserName[65];   // user name, or Cloudflare's zone
    char ServicePassword[129];  // password, update key or token
    char UpdateServer[161];     // "Other dyndns2 server": [http://]host[:port][/path]
    std::int32_t RetryAt;       // after the service's trouble: not sent before (seconds since 1970)
    // Which records a catalogue account keeps current; the maker's rows are IPv4 only.
    std::int32_t Addresses;    // AddressesIPv4, AddressesIPv6 or AddressesBoth
    char CurrentIP6[46];       // the IPv6 address found in the run (text); not stored
    char LastIP6[46];          // the last IPv6 address the service accepted (text)
    std::int32_t LastUpdate6;  // and when (seconds since 1970)
    // The outcome of the last try, as Accounts shows it; stored for a
    // catalogue account, kept in memory for the maker's rows.
    std::int32_t LastResult;  // AccountResult
    std::int32_t LastTry;     // since when that outcome holds (seconds since 1970)
    char LastReason[96];      // why, in the program's own words
};

enum AccountResult : std::int32_t {
    ResultNone = 0,     // not tried yet
    ResultUpdated,      // the service took the address
    ResultUnchanged,    // already up to date: nothing sent
    ResultRefused,      // refused for good: disabled
    ResultWaiting,      // the service asked to wait
    ResultUnreachable,  // no connection or no answer
    ResultFailed,       // anything else (no address, an unknown answer)
};

enum AccountAddresses : std::int32_t { AddressesIPv4 = 0, AddressesIPv6 = 1, AddressesBoth = 2 };
// Whether the account keeps its A record, or its AAAA record, current. A
// damaged choice reads as IPv4 alone, as before the choice existed.
bool UpdatesIPv4(const Account& account);
bool UpdatesIPv6(const Account& account);

constexpr int MaxAccounts = 32;

struct AccountSet {
    Account Accounts[MaxAccounts];
    std::int32_t Count;
    // Which account each record is, so that a run's results find the record
    // the run visited however the table was edited meanwhile. 0 until given
    // (AccountIdentity); moves with its record.
    std::uint32_t Ids[MaxAccounts];
};

// The committed accounts: what runs use and what is stored. Guarded by
// SharedDataMutex() when threads share it.
extern AccountSet AccountTable;

// The account count limited to the table's capacity; a damaged count never
// lets a reader walk past the table.
int ValidAccountCount(const AccountSet& set);
int ValidAccountCount();

// Same account: same Server row (and catalogue service) and HostName equal without regard to ASCII case.
// Stores the position (or -1) through position when given.
int FindAccount(const AccountSet& set, const Account& candidate, int* position);
int FindAccount(const Account& candidate, int* position);
// Gives 1 when appended (as a new account), 0 when the table is full.
int AppendAccount(AccountSet& set, const Account& account);
int AppendAccount(const Account& account);
// Gives 1 when replaced, 0 when the position is not a valid account. A record
// that the service would see differently counts as a new account from then on.
int ReplaceAccount(AccountSet& set, int position, const Account& account);
int ReplaceAccount(int position, const Account& account);
// Gives 1 when removed, 0 when the position is not a valid account.
int RemoveAccount(AccountSet& set, int position);
int RemoveAccount(int position);

// The identity of the record at a valid position, given on first use.
std::uint32_t AccountIdentity(AccountSet& set, int position);
// The position of the account with that identity, -1 when none has it.
int FindIdentity(const AccountSet& set, std::uint32_t id);
// Every record becomes a new account for results still under way (the
// records were read from the store, whatever they held before).
void RenewAccountIdentities(AccountSet& set);

// True when the service would get the same request for both: server, host,
// credentials and options (the address and the history aside).
bool SameServiceFields(const Account& a, const Account& b);
// A form that replaces old takes over its history when the service would see
// no change; otherwise LastIP is cleared, so that the next run sends it.
void KeepAccountHistory(const Account& old, Account& form);

// A transaction turned before into after: writes each field it changed
// (Update, CurrentIP, LastIP, LastUpdate, RetryAt and the IPv6 history) into the record of that identity,
// unless the field no longer holds its before value (someone else changed
// it meanwhile). Gives false when no record has the identity.
bool ApplyRunResult(AccountSet& set, std::uint32_t id, const Account& before, const Account& after);

// HostName, ".", the row's domain, into a buffer of at least 164 bytes.
// An account with no valid row gets HostName and "." alone; a catalogue
// account, whose host name is already whole, HostName alone.
void FullHostName(const Account& account, char* out, int size);

// A text field of the record as the user knows it ("host name", ...), and
// whether blanks are refused in it besides control characters.
struct AccountTextField {
    const char* Label;
    bool NoBlanks;
};
// The first text field that would break the request's framing: one holding a
// control character, or a blank in the host name or mail extender. Null when none.
const AccountTextField* UnsafeAccountField(const Account& account);
// The text with every control character shown as "?", for a log line.
void ShowableText(const char* text, char* out, std::size_t size);

// The user name and password the account's service takes: the catalogue's
// longer fields for a catalogue account, else the maker's.
const char* AccountUserName(const Account& account);
const char* AccountPassword(const Account& account);

// Makes every text of the record a terminated text within its field.
void TerminateAccountTexts(Account& account);
