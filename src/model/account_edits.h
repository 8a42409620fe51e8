// Who changes the accounts. The account table holds what the user committed
// (Accounts "OK") and what runs found out; it is what runs use and what
// every store writes. The Accounts dialog edits a working copy of it, so its
// unsaved edits never reach a store, whoever stores. Run results go to the
// record the run visited, in the table and in an open working copy alike, so
// neither OK nor Cancel rolls a run back.
// The table and the copy are guarded by SharedDataMutex(): hold it to read or
// edit the copy, as for the table.
#pragma once

#include "model/account.h"

// Opens the working copy as a copy of the table. GUI thread. While the copy
// is open, resultLanded (when given) is told each time a run's result
// reaches it: on the run's thread, with the lock held, so it may only post,
// never send or wait (the Accounts dialog posts itself a message).
void BeginAccountEdits(void (*resultLanded)() = nullptr);
// The working copy while it is open, else null.
AccountSet* AccountEdits();
// The copy becomes the table and is closed; nothing when no copy is open.
// The caller holds the lock (CommitAccountEdits in settings/settings.h
// rebuilds the descriptors in the same hold, then stores).
void TakeAccountEdits();
// Closes the copy; the table stays as it is.
void DiscardAccountEdits();

// What a transaction changed in the record it was given (before → after), for
// the record of that identity in the table and in the open copy.
void RecordRunResult(std::uint32_t id, const Account& before, const Account& after);
