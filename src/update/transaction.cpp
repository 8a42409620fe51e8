#include "update/transaction.h"

#include <cstring>
#include <string>

#include "common/text.h"
#include "log/clock.h"
#include "log/log.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "update/address.h"
#include "update/connection.h"
#include "update/request.h"
#include "update/service_update.h"
#include "update/services.h"

namespace {

struct ReplyClass {
    const char* Marker;
    bool Success;
    const char* Message;
};

// Searched in this order; the first marker found decides.
const ReplyClass ReplyClasses[] = {
    {"NOERROR", true, "DNS update successful!"}, {"401 Authorization Required", false, AuthorizationFailed},
    {"Invalid Hostname", false, HostNotOwned},   {"Hostname blocked due to abuse", false, BlockedForAbuse},
    {"Bad Client Input", false, BadHostName},
};
}  // namespace

int ClassifyReply(Account& account, const char* reply) {
    for (const ReplyClass& c : ReplyClasses) {
        if (!std::strstr(reply, c.Marker)) continue;
        if (c.Success) {
            account.LastIP = account.CurrentIP;
            account.LastUpdate = static_cast<std::int32_t>(CurrentTime());
            WriteLog(LogDetail, c.Message);
            return 0;
        }
        account.Update = 0;
        WriteLog(LogFailure, c.Message);
        return -1;
    }
    WriteLog(LogFailure, "Unknown error occurred!");
    return -1;
}

std::int64_t DaysSince(std::int32_t storedTime) { return (CurrentTime() - storedTime) / 86400; }

namespace {
// A catalogue account: each family it keeps current is found and, when it
// changed (or with "Force update"), sent; a family that cannot be found fails
// alone and the other goes on. An unchanged address is never sent again on
// its own: services answer "nochg", and block clients that repeat it.
int UpdateAtService(const ServiceEntry& service, Account& account, UpdateMode mode, RunContext& run,
                    std::int32_t interfaceIndex, int quietFlags) {
    // A choice the service does not offer reads as IPv4 alone, as the form shows it.
    const std::int32_t choice =
        account.Addresses >= 0 && account.Addresses < AddressChoices(service) ? account.Addresses : AddressesIPv4;
    const bool wants4 = choice != AddressesIPv6, wants6 = choice != AddressesIPv4;
    int result = 0;
    char v4[16] = "", v6[sizeof account.CurrentIP6] = "";
    if (wants4) {
        // Behind a home router a service's account takes the address the web sees.
        const std::uint32_t address = run.Address.Current(interfaceIndex, true);
        if (address == 0) {
            WriteLog(LogFailure, "No interface available to retrieve the current IP");
            run.Address.ExplainMissing();
            result = -1;
        } else {
            account.CurrentIP = address;
            if (mode == Forced || address != account.LastIP) FormatAddress(address, v4);
        }
    }
    if (wants6) {
        if (!run.Address.Current6(interfaceIndex, account.CurrentIP6, true)) {
            result = -1;
        } else if (mode == Forced || std::strcmp(account.CurrentIP6, account.LastIP6) != 0) {
            CopyText(v6, account.CurrentIP6);
        }
    }
    const std::string name = std::string("(") + service.Name + ")";
    if (!v4[0] && !v6[0]) {
        if (result == 0) WriteLog(quietFlags, account.HostName, name.c_str(), "is already up-to-date");
        return result;
    }
    const std::string both = std::string(v4) + (v4[0] && v6[0] ? " and " : "") + v6;
    WriteLog(LogMilestone, "Updating", account.HostName, name.c_str(), "to", both.c_str());
    const int sent = SendServiceUpdate(service, account, v4, v6, run.Hosts);
    return sent != 0 ? sent : result;
}
}  // namespace

int UpdateAccount(Account& account, UpdateMode mode) {
    RunContext run;
    return UpdateAccount(account, mode, run);
}

int UpdateAccount(Account& account, UpdateMode mode, RunContext& run) {
    if (account.Update == 0) return 0;
    TerminateAccountTexts(account);
    // Damaged stored data is reported even without details: the user must see why.
    char shown[sizeof account.HostName];
    ShowableText(account.HostName, shown, sizeof shown);

    // A catalogue service's account, or else one of the maker's rows.
    const ServiceEntry* service = account.Service != 0 ? ServiceRow(account.Service) : nullptr;
    if (account.Service != 0 && !service) {
        WriteLog(LogShownFailure, "Account", shown, "has an invalid service number",
                 NumberToText(account.Service).c_str(), "and was not updated!");
        return -1;
    }
    const ServerEntry* row = service ? nullptr : ServerRow(account.Server);
    if (!service && !row) {
        WriteLog(LogShownFailure, "Account", shown, "has an invalid server number",
                 NumberToText(account.Server).c_str(), "and was not updated!");
        return -1;
    }

    if (const AccountTextField* field = UnsafeAccountField(account)) {
        // Sent as it is, it would split the request.
        std::string what = std::string("has a control character or blank in its ") + field->Label;
        WriteLog(LogShownFailure, "Account", shown, what.c_str(), "and was not updated!");
        return -1;
    }
    const int quietFlags = mode == Manual ? LogDetail : LogIndented;
    // "Force update" sends anyway; otherwise the service's wait holds.
    if (service && mode != Forced && WaitsForService(*service, account, quietFlags)) return -1;

    std::int32_t interfaceIndex, daysToForcedUpdate;
    {
        SharedDataGuard guard(SharedDataMutex());
        interfaceIndex = Preferences.Interface;
        daysToForcedUpdate = Preferences.DaysToForcedUpdate;
    }
    if (service) return UpdateAtService(*service, account, mode, run, interfaceIndex, quietFlags);

    std::uint32_t address = run.Address.Current(interfaceIndex);
    if (address == 0) {
        WriteLog(LogFailure, "No interface available to retrieve the current IP");
        run.Address.ExplainMissing();
        return -1;
    }
    account.CurrentIP = address;

    if (mode != Forced && account.CurrentIP == account.LastIP && DaysSince(account.LastUpdate) < daysToForcedUpdate) {
        WriteLog(quietFlags, account.HostName, row->UpdateHost, "is already up-to-date");
        return 0;
    }

    char dotted[16];
    FormatAddress(account.CurrentIP, dotted);
    WriteLog(LogMilestone, "Updating", account.HostName, row->Domain, "to", dotted);

    char transfer[TransferBufferSize];
    int result = -1;
    ExchangeOnce(
        row->UpdateHost, transfer, sizeof transfer,
        [&](char* request, std::size_t size, const PreferenceSet& preferences) {
            if (BuildUpdateRequest(account, request, size, preferences)[0]) return true;
            WriteLog(LogShownFailure, "Account", shown, "gives an update request that is too long!");
            return false;
        },
        [&](int received) {
            if (received > 0) {
                WriteLog(LogTrace, "Received from server:", ServerTextForLog(transfer).c_str());
                result = ClassifyReply(account, transfer);
            } else if (received < 0) {
                WriteLog(LogFailure,
                         "Update failed, could not receive! (winsock error:", NumberToText(LastSocketError()).c_str(),
                         ")");
            }
        },
        &run.Hosts);
    return result;
}
