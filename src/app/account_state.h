// What became of an account at its last try, in plain words: kept in the
// record (LastResult, LastTry, LastReason), told in the normal log when the
// account was not updated, shown in Accounts and after the tray's tooltip.
#pragma once

#include <cstdint>
#include <string>

#include "model/account.h"

// Records a run's step in after: result is the transaction's (0 or -1),
// failure the last marked line it wrote. LastTry moves only when the
// outcome changes, so a run that finds the account as it was changes nothing
// to store. A disabled account, which is not tried, keeps the state it had.
void RecordAccountState(const Account& before, Account& after, int result, const std::string& failure,
                        std::int64_t now);

// "home.ddns.net (No-IP): not updated: why", for an account whose last try
// failed; "" for one that is up to date or was not tried.
std::string NotUpdatedLine(const Account& account);

// The few words after the host in the Accounts list ("up to date",
// "refused", ...); "" before the first try.
const char* ShortAccountState(const Account& account);

// The Accounts dialog's lines on the account: the addresses the service has
// and since when, and the last try's outcome.
std::string AccountStateText(const Account& account);

// What the tray's tooltip adds for an account that failed
// ("home.ddns.net refused by No-IP").
std::string FailedAccountDetail(const Account& account);
