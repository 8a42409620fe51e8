#include "app/update_run.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "app/account_state.h"
#include "app/notices.h"
#include "app/shell.h"
#include "log/clock.h"
#include "log/log.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "settings/settings.h"
#include "update/connection.h"
#include "update/dialup.h"

int (*DialUpCheck)() = CheckDialUp;

namespace {
std::mutex& RunMutex() {
    static std::mutex mutex;
    return mutex;
}

// Runs do not pile up: at most one runs and one waits. A request while one
// waits joins it, and the waiting run takes the strongest mode asked for
// (Forced over Manual over Timer). One worker thread takes the waiting run
// when its run ends, so at most two run threads are ever alive (one of them
// only while it ends).
std::mutex waitingMutex;
bool runWaiting = false;
UpdateMode waitingMode = Timer;
bool workerAlive = false;

int RunAccounts(UpdateMode mode);

void RunWaitingRuns() {
    for (;;) {
        UpdateMode mode;
        {
            std::lock_guard<std::mutex> guard(waitingMutex);
            if (!runWaiting) {
                workerAlive = false;
                return;
            }
            runWaiting = false;
            mode = waitingMode;
        }
        std::lock_guard<std::mutex> oneRunAtATime(RunMutex());
        RunAccounts(mode);
    }
}
}  // namespace

void StartUpdateRun(UpdateMode mode) {
    std::lock_guard<std::mutex> guard(waitingMutex);
    if (runWaiting) {
        if (mode > waitingMode) waitingMode = mode;
        return;
    }
    runWaiting = true;
    waitingMode = mode;
    if (workerAlive) return;
    try {
        std::thread(RunWaitingRuns).detach();
        workerAlive = true;
    } catch (const std::system_error&) {
        runWaiting = false;  // no thread: no run takes place
    }
}

bool UpdateRunsPending() {
    std::lock_guard<std::mutex> guard(waitingMutex);
    return workerAlive;
}

std::uint32_t UpdateTimerPeriod() {
    static std::int32_t reported = -1;
    std::int32_t sleepTime = ReadShared(Preferences.SleepTime);
    // A negative value would arm a timer of weeks as the timer reads it (unsigned).
    if (sleepTime >= ShortestUpdatePeriodMs) return static_cast<std::uint32_t>(sleepTime);
    if (sleepTime != reported) {
        reported = sleepTime;
        WriteLog(LogShownFailure, "The stored update interval of", NumberToText(sleepTime).c_str(),
                 "ms is below one minute; updating every minute.");
    }
    return ShortestUpdatePeriodMs;
}

int UpdateRun(UpdateMode mode) {
    std::lock_guard<std::mutex> oneRunAtATime(RunMutex());
    return RunAccounts(mode);
}

namespace {
int RunAccounts(UpdateMode mode) {
    WriteLog(LogStep, "Starting update...");
    Shell.SetBlinking(0);
    Shell.SetTrayState(Busy, nullptr);

    // A broadband PC left at "Modem" would update nothing in silence: said
    // once, and again only after a run has passed this gate. Runs hold the
    // run lock, so one at a time reads and sets this.
    static bool gateTold = false;
    if (PreferenceSnapshot().Connection == 0 && DialUpCheck() == 0) {
        if (!gateTold)
            WriteLog(LogMilestone,
                     "No dial-up connection is active, so nothing was updated. On a network or broadband "
                     "connection, choose \"LAN\" under \"Connection\" in Properties.");
        gateTold = true;
        std::int32_t failed = ReadShared(RunFailed);
        if (!failed) Shell.SetTrayState(Idle, nullptr);
        Shell.SetBlinking(failed);
        return 0;
    }
    gateTold = false;

    bool anyFailed = false;
    RunContext run;  // one check-IP question and one time limit per host at most
    RunNotices notices;
    {
        SharedDataGuard guard(SharedDataMutex());
        RunFailed = 0;
    }
    // Accounts are visited by identity, not position: an "OK" in Accounts that
    // removes or adds records meanwhile moves the others. Each step takes the
    // first account in table order that this run has not visited, so none is
    // skipped and one added during the run is visited too. The transaction
    // works on a copy, taken whole; what it changed goes back to the record
    // it visited, wherever edits have moved it.
    std::vector<std::uint32_t> visited;
    int upToDate = 0;
    std::string failedDetail;  // the tooltip's words on the first account that failed
    for (;;) {
        Account before;
        std::uint32_t id = 0;
        {
            SharedDataGuard guard(SharedDataMutex());
            const int count = ValidAccountCount();
            int i = 0;
            for (; i < count; ++i) {
                id = AccountIdentity(AccountTable, i);
                if (std::find(visited.begin(), visited.end(), id) == visited.end()) break;
            }
            if (i == count) break;
            before = AccountTable.Accounts[i];
        }
        visited.push_back(id);
        Account worked = before;
        TakeLastFailure();  // the step's own reason, not an earlier one
        int result = UpdateAccount(worked, mode, run);
        const std::string failure = TakeLastFailure();
        RecordAccountState(before, worked, result, failure, CurrentTime());
        // Without details too, the log says which account was not updated and why.
        if (result != 0) {
            const std::string line = NotUpdatedLine(worked);
            if (!line.empty()) WriteLog(LogMilestone, line.c_str());
            if (failedDetail.empty()) failedDetail = FailedAccountDetail(worked);
        } else if (before.Update != 0) {
            ++upToDate;
        }
        RecordRunResult(id, before, worked);
        notices.Take(before, worked, failure);
        SharedDataGuard guard(SharedDataMutex());
        if (result == -1) {
            anyFailed = true;
            RunFailed = 1;
        }
    }

    // A Snooze during the run silenced only the failures shown so far: the
    // run's outcome sets the flag, and the tray follows the flag as set in
    // that one hold, so the icon never blinks while "Snooze" is grayed.
    {
        SharedDataGuard guard(SharedDataMutex());
        RunFailed = anyFailed ? 1 : 0;
    }
    Notice notice;
    if (notices.Choose(anyFailed, CurrentTime(), notice) && ReadShared(Preferences.ShowNotifications))
        Shell.Notify(notice.Text.c_str(), notice.OpensAccounts, notice.Warning);
    if (anyFailed) {
        Shell.SetTrayState(Failed, ("Update failed: " + failedDetail).c_str());
        WriteLog(LogStep, "Some or all accounts failed to update!");
        StoreSettings();
        Shell.SetBlinking(1);
        return 0;
    }
    const std::string done = "Update successful" + (upToDate == 0   ? std::string()
                                                     : upToDate == 1 ? std::string(": 1 account up to date")
                                                                     : ": " + std::to_string(upToDate) +
                                                                           " accounts up to date");
    Shell.SetTrayState(Idle, done.c_str());
    WriteLog(LogStep, "Update successful");
    if (ReadShared(AutoExit)) Shell.PostQuit();
    StoreSettings();
    Shell.SetBlinking(0);
    return 0;
}
}  // namespace
