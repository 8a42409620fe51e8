#include "app/notices.h"

#include <cstring>

#include "log/clock.h"
#include "update/address.h"
#include "update/services.h"

namespace {
// Since when every run has failed (0: the last run went well), and whether
// the user was told; only the run, one at a time, reads and writes them.
std::int64_t FailingSince = 0;
bool FailingTold = false;

struct PlainWords {
    const char* Line;
    const char* Words;
};
// The refusals every service may answer, by their log lines.
const PlainWords RefusalWords[] = {
    {AuthorizationFailed, "the service refused the user name or password"},
    {HostNotOwned, "the service says this host is not in your account"},
    {BlockedForAbuse, "the service blocked this host for abuse"},
    {BadHostName, "the service does not know this host name"},
};

std::string HostOf(const Account& account) {
    char host[2 * sizeof account.HostName];
    FullHostName(account, host, sizeof host);
    return host;
}

// The addresses the step registered: IPv4, IPv6 or both; "" when neither changed.
std::string NewAddresses(const Account& before, const Account& after) {
    std::string text;
    if (after.LastIP != before.LastIP && after.LastIP != 0) {
        char dotted[16];
        FormatAddress(after.LastIP, dotted);
        text = dotted;
    }
    if (after.LastIP6[0] && std::strncmp(after.LastIP6, before.LastIP6, sizeof after.LastIP6) != 0) {
        char v6[sizeof after.LastIP6 + 1] = "";
        std::memcpy(v6, after.LastIP6, sizeof after.LastIP6);
        text += (text.empty() ? "" : " and ") + std::string(v6);
    }
    return text;
}
}  // namespace

std::string PlainReason(const std::string& failure) {
    for (const PlainWords& p : RefusalWords)
        if (failure == p.Line) return p.Words;
    std::string words = failure;
    while (!words.empty() && (words.back() == '!' || words.back() == '.')) words.pop_back();
    if (words.compare(0, 4, "The ") == 0) words[0] = 't';
    return words.empty() ? "the service refused the update" : words;
}

void RunNotices::Take(const Account& before, const Account& after, const std::string& failure) {
    if (!failure.empty()) failure_ = failure;
    if (before.Update != 0 && after.Update == 0 && refusal_.empty()) {
        refusal_ = HostOf(after) + ": " + PlainReason(failure) +
                   ". The account is disabled; enable it in Accounts after correcting it.";
    }
    // A new wait: each wait is told once, since the run sends nothing while it lasts.
    const ServiceEntry* service = ServiceRow(after.Service);
    if (service && after.RetryAt != before.RetryAt && after.RetryAt > CurrentTime() && wait_.empty()) {
        char until[18];
        FormatTimeStamp(after.RetryAt, until);
        wait_ =
            HostOf(after) + ": " + service->Name + " asks Vastrel to wait; nothing is sent to it before " + until + ".";
    }
    const std::string addresses = NewAddresses(before, after);
    if (!addresses.empty() && changed_++ == 0) {
        changedHost_ = HostOf(after);
        changedTo_ = addresses;
    }
}

bool RunNotices::Choose(bool failed, std::int64_t now, Notice& out) {
    if (!failed) {
        FailingSince = 0;
        FailingTold = false;
    } else if (FailingSince == 0) {
        FailingSince = now;
    }
    const bool failingLong = failed && !FailingTold && now - FailingSince >= FailingNoticeAfter;
    out = Notice();
    if (!refusal_.empty()) {
        out.Text = refusal_;
        out.OpensAccounts = true;
        out.Warning = true;
    } else if (failingLong) {
        out.Text = "Vastrel could not update your accounts for an hour: " +
                   (failure_.empty() ? std::string("Some or all accounts failed to update!") : failure_);
        out.Warning = FailingTold = true;
    } else if (!wait_.empty()) {
        out.Text = wait_;
    } else if (changed_ == 1) {
        out.Text = changedHost_ + " now points at " + changedTo_;
    } else if (changed_ > 1) {
        out.Text = changedHost_ + " and " + std::to_string(changed_ - 1) +
                   (changed_ == 2 ? " more account" : " more accounts") + " now point at " + changedTo_;
    }
    return !out.Text.empty();
}
