// The one lock over everything the GUI thread and the workers share: the
// account table and the Accounts dialog's working copy, the preferences, and
// the shell's flags (UpdatesDisabled, RunFailed, AutoExit).
//
// - Hold it for whole-record copies and short updates: a record is always
//   read and written whole under it, never a field at a time.
// - Never hold it across a network wait, a disk write or a message box, nor
//   while a worker sends to the GUI thread: the GUI thread may be waiting for
//   this lock. A worker logs only without it (a log line may go to the log
//   window through the GUI thread).
// - Exception: the GUI thread may log while holding it (CreateAccountRegInfo
//   and CommitAccountEdits do); its own lines reach the log window directly.
// - A worker may post (never send) a window message while holding it: a post
//   does not wait for the GUI thread (RecordRunResult tells the open Accounts
//   dialog so).
// - Order: a store takes the store's lock, then the key store's, then this
//   one; no code holding this lock takes either of those.
// It is recursive, so a helper that takes it may be called with it held.
#pragma once

#include <cstdint>
#include <mutex>

std::recursive_mutex& SharedDataMutex();
using SharedDataGuard = std::lock_guard<std::recursive_mutex>;

// One shared 32-bit value (a flag or a number preference), read under the lock.
inline std::int32_t ReadShared(const std::int32_t& value) {
    SharedDataGuard guard(SharedDataMutex());
    return value;
}
