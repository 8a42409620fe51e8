// One pass over all accounts, on a worker thread of its own.
#pragma once

#include "update/transaction.h"

// Starts a detached worker running UpdateRun; returns at once.
void StartUpdateRun(UpdateMode mode);
// Runs do not overlap: a run started while one is in progress waits for it.
int UpdateRun(UpdateMode mode);

// The dial-up question the run asks; tests replace it.
extern int (*DialUpCheck)();
