// One pass over all accounts, on a worker thread of its own.
#pragma once

#include <cstdint>

#include "update/transaction.h"

// Starts a detached worker running UpdateRun; returns at once. While a run
// already waits for the one in progress, the request joins the waiting one.
void StartUpdateRun(UpdateMode mode);
// Runs do not overlap: a run started while one is in progress waits for it.
int UpdateRun(UpdateMode mode);
// True while a run started by StartUpdateRun runs or waits. For tests, which
// wait for it to turn false: the program itself never waits for its workers.
bool UpdateRunsPending();

// The period of the update timer: "SleepTime", but never below one minute
// (the shortest interval offered), so a damaged stored value, zero or
// negative, cannot make a busy loop of runs or stop them. The first time a
// value is raised it is logged.
constexpr std::int32_t ShortestUpdatePeriodMs = 60000;
std::uint32_t UpdateTimerPeriod();

// The dial-up question the run asks; tests replace it.
extern int (*DialUpCheck)();
