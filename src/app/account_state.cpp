#include "app/account_state.h"

#include <cstring>

#include "app/notices.h"
#include "common/text.h"
#include "log/clock.h"
#include "model/server_table.h"
#include "update/address.h"
#include "update/services.h"

namespace {
std::string Stamp(std::int64_t time) {
    char stamp[18];
    FormatTimeStamp(time, stamp);
    return stamp;
}

std::string HostOf(const Account& account) {
    char host[2 * sizeof account.HostName];
    FullHostName(account, host, sizeof host);
    return host;
}

// Who the account talks to: the catalogue service's name; "the service" for the maker's rows.
std::string ServiceName(const Account& account) {
    const ServiceEntry* service = ServiceRow(account.Service);
    return service ? service->Name : "the service";
}

// The host a request of the account goes to.
std::string UpdateHostOf(const Account& account) {
    if (const ServiceEntry* service = ServiceRow(account.Service)) {
        ServiceTarget target;
        const char* why = nullptr;
        char server[sizeof account.UpdateServer];
        CopyField(server, account.UpdateServer);
        return FindServiceTarget(*service, server, target, why) ? target.Host : "its update server";
    }
    const ServerEntry* row = ServerRow(account.Server);
    return row ? row->UpdateHost : "the update server";
}

// The failures that mean the service was never heard from.
bool NotReached(const std::string& failure) {
    static const char* const Marks[] = {"Request failed, invalid server address", "Request failed, could not connect",
                                        "Request failed, could not send", "could not receive",
                                        "no answer from the proxy", "closed the connection"};
    for (const char* mark : Marks)
        if (failure.find(mark) != std::string::npos) return true;
    return false;
}
}  // namespace

void RecordAccountState(const Account& before, Account& after, int result, const std::string& failure,
                        std::int64_t now) {
    if (before.Update == 0) return;
    std::string reason;
    if (result == 0) {
        const bool sent = after.LastUpdate != before.LastUpdate || after.LastUpdate6 != before.LastUpdate6;
        after.LastResult = sent ? ResultUpdated : ResultUnchanged;
    } else if (after.Update == 0) {
        after.LastResult = ResultRefused;
        reason = PlainReason(failure);
    } else if (after.RetryAt > now) {
        after.LastResult = ResultWaiting;
        reason = ServiceName(after) + " asked Vastrel to wait; nothing is sent before " + Stamp(after.RetryAt);
    } else if (NotReached(failure)) {
        after.LastResult = ResultUnreachable;
        reason = "could not reach " + UpdateHostOf(after) + "; is the computer online?";
    } else {
        after.LastResult = ResultFailed;
        reason = failure.empty() ? "the update failed" : PlainReason(failure);
    }
    // The time kept is when this outcome began: a run that finds the account as it was writes nothing.
    char cut[sizeof after.LastReason];
    CopyUtf8Text(cut, reason.c_str());  // a longer reason is cut between characters
    if (after.LastResult != before.LastResult || std::strncmp(cut, before.LastReason, sizeof cut) != 0)
        after.LastTry = static_cast<std::int32_t>(now);
    std::memcpy(after.LastReason, cut, sizeof cut);
}

std::string NotUpdatedLine(const Account& account) {
    if (account.LastResult < ResultRefused) return "";
    std::string reason(account.LastReason, strnlen(account.LastReason, sizeof account.LastReason));
    const std::string service = ServiceRow(account.Service) ? " (" + ServiceName(account) + ")" : "";
    return HostOf(account) + service + ": not updated: " + reason;
}

const char* ShortAccountState(const Account& account) {
    switch (account.LastResult) {
    case ResultUpdated:
    case ResultUnchanged:
        return "up to date";
    case ResultRefused:
        return "refused";
    case ResultWaiting:
        return "waiting";
    case ResultUnreachable:
        return "not reached";
    case ResultFailed:
        return "failed";
    default:
        return "";
    }
}

std::string AccountStateText(const Account& account) {
    std::string text;
    if (account.LastIP != 0) {
        char dotted[16];
        FormatAddress(account.LastIP, dotted);
        text = std::string("Registered: ") + dotted + " since " + Stamp(account.LastUpdate);
    }
    if (account.LastIP6[0]) {
        char v6[sizeof account.LastIP6 + 1] = "";
        std::memcpy(v6, account.LastIP6, sizeof account.LastIP6);
        text += (text.empty() ? "Registered: " : "\r\n            ") + std::string(v6) + " since " +
                Stamp(account.LastUpdate6);
    }
    if (text.empty()) text = "Registered: nothing yet";
    std::string reason(account.LastReason, strnlen(account.LastReason, sizeof account.LastReason));
    static const char* const Results[] = {"",
                                          "updated",
                                          "up to date, nothing sent",
                                          "refused by the service: ",
                                          "waiting: ",
                                          "not reached: ",
                                          "failed: "};
    if (account.LastResult > ResultNone && account.LastResult <= ResultFailed)
        text += "\r\nState since " + Stamp(account.LastTry) + ": " + Results[account.LastResult] + reason;
    else
        text += "\r\nNot tried yet";
    return text;
}

std::string FailedAccountDetail(const Account& account) {
    const std::string host = HostOf(account);
    switch (account.LastResult) {
    case ResultRefused:
        return host + " refused by " + ServiceName(account);
    case ResultWaiting:
        return host + " waits for " + ServiceName(account);
    case ResultUnreachable:
        return host + ": " + UpdateHostOf(account) + " not reached";
    default:
        return host + " not updated";
    }
}
