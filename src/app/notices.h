// What an update run tells the user from the tray when "ShowNotifications"
// is on: an account refused and disabled, a service's wait, runs that have
// failed for an hour, and a registered address change. One notice a run at
// most: the one that most needs the user.
#pragma once

#include <cstdint>
#include <string>

#include "model/account.h"

struct Notice {
    std::string Text;
    bool OpensAccounts = false;  // a click opens the Accounts dialog, else the log window
    bool Warning = false;        // something is wrong, rather than news
};

// How long every run must have failed before the user is told, in seconds.
constexpr std::int64_t FailingNoticeAfter = 60 * 60;

// The notices of one run, gathered account by account.
class RunNotices {
public:
    // One account's step: its record before and after, and the last failure
    // line the step wrote (TakeLastFailure).
    void Take(const Account& before, const Account& after, const std::string& failure);
    // At the run's end: the notice to show, false for none. failed: an
    // account failed. Runs that fail one after another for an hour are told
    // once, until a run succeeds again; the time since the first of them is
    // kept from run to run.
    bool Choose(bool failed, std::int64_t now, Notice& out);

private:
    std::string refusal_, wait_, changedHost_, changedTo_, failure_;
    int changed_ = 0;
};

// A refusal's log line in the words a notice uses ("the service refused the
// user name or password").
std::string PlainReason(const std::string& failure);
