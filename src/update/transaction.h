// One account's exchange with the update service.
#pragma once

#include <cstdint>

#include "model/account.h"
#include "update/public_address.h"

enum UpdateMode : int { Timer = 0, Manual = 1, Forced = 2 };

// Whole days from a stored time to now, truncated toward zero.
std::int64_t DaysSince(std::int32_t storedTime);

// Classifies the text one receive got by its first known phrase and records
// the outcome in the account (and the log): 0 accepted, -1 anything else.
int ClassifyReply(Account& account, const char* reply);

// Updates the account when it needs it and records the outcome in the given
// record: 0 nothing wrong (disabled, up to date, accepted), -1 failed.
int UpdateAccount(Account& account, UpdateMode mode);
// The same, with the current address from the run's own source.
int UpdateAccount(Account& account, UpdateMode mode, RunAddress& runAddress);
