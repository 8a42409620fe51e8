#include "update/update_run.h"

#include <mutex>
#include <system_error>
#include <thread>

#include "app/shell.h"
#include "log/log.h"
#include "settings/account_edits.h"
#include "settings/preferences.h"
#include "settings/settings.h"
#include "update/dialup.h"

int (*DialUpCheck)() = CheckDialUp;

namespace {
std::mutex& RunMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

void StartUpdateRun(UpdateMode mode) {
    try {
        std::thread([mode] { UpdateRun(mode); }).detach();
    } catch (const std::system_error&) {
        // No thread: no run takes place.
    }
}

int UpdateRun(UpdateMode mode) {
    std::lock_guard<std::mutex> oneRunAtATime(RunMutex());
    WriteLog(LogStep, "Starting update...");
    Shell.SetBlinking(0);
    Shell.SetTrayState(Busy, nullptr);

    if (PreferenceSnapshot().Connection == 0 && DialUpCheck() == 0) {
        std::int32_t failed = ReadShared(RunFailed);
        if (!failed) Shell.SetTrayState(Idle, nullptr);
        Shell.SetBlinking(failed);
        return 0;
    }

    bool anyFailed = false;
    {
        SharedDataGuard guard(SharedDataMutex());
        RunFailed = 0;
    }
    for (int i = 0;; ++i) {
        // The transaction works on a copy, taken whole; what it changed goes
        // back to the record it visited, wherever edits have moved it.
        Account before;
        std::uint32_t id;
        {
            SharedDataGuard guard(SharedDataMutex());
            if (i >= ValidAccountCount()) break;
            before = AccountTable.Accounts[i];
            id = AccountIdentity(AccountTable, i);
        }
        Account worked = before;
        int result = UpdateAccount(worked, mode);
        RecordRunResult(id, before, worked);
        SharedDataGuard guard(SharedDataMutex());
        if (result == -1) {
            anyFailed = true;
            RunFailed = 1;
        }
    }

    if (anyFailed) {
        Shell.SetTrayState(Failed, "Update failed");
        WriteLog(LogStep, "Some or all accounts failed to update!");
        StoreSettings();
        Shell.SetBlinking(1);
        return 0;
    }
    Shell.SetTrayState(Idle, "Update successful");
    WriteLog(LogStep, "Update successful");
    if (ReadShared(AutoExit)) Shell.PostQuit();
    StoreSettings();
    Shell.SetBlinking(0);
    return 0;
}
