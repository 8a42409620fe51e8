// One account's exchange with the update service.
#pragma once

#include <cstdint>

#include "model/account.h"
#include "update/connection.h"
#include "update/public_address.h"

enum UpdateMode : int { Timer = 0, Manual = 1, Forced = 2 };

// Whole days from a stored time to now, truncated toward zero.
std::int64_t DaysSince(std::int32_t storedTime);

// Classifies the text one receive got by its first known phrase and records
// the outcome in the account (and the log): 0 accepted, -1 anything else.
int ClassifyReply(Account& account, const char* reply);

// What one update run carries from account to account.
struct RunContext {
    RunAddress Address;  // the current address, asked on the web once per run at most
    RunHosts Hosts;      // each host looked up once, and those that timed out
};

// Updates the account when it needs it and records the outcome in the given
// record: 0 nothing wrong (disabled, up to date, accepted), -1 failed.
int UpdateAccount(Account& account, UpdateMode mode);
// The same, as one account of a run.
int UpdateAccount(Account& account, UpdateMode mode, RunContext& run);
