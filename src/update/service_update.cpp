#include "update/service_update.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "log/clock.h"
#include "common/text.h"
#include "log/log.h"
#include "update/http_reply.h"

namespace {

enum class Asked { Answered, Failed, Unreadable };

// One request and its whole reply. build gets whether the request goes to a
// plain HTTP proxy (its line then names the server). An API's answers name
// the owner's zones and account: the detailed log shows only their verdict.
Asked AskService(const ServiceTarget& target, const std::function<std::string(bool proxyForm)>& build, HttpReply& reply,
                 RunHosts& hosts, bool apiAnswers = false) {
    std::vector<char> transfer(HttpReplyLimit + 1);
    const Endpoint endpoint{target.Host, target.Port, target.Secure};
    Asked asked = Asked::Failed;
    ExchangeOnce(
        target.Host.c_str(), transfer.data(), transfer.size(),
        [&](char* out, std::size_t size, const PreferenceSet& preferences) {
            const std::string request = build(preferences.UseProxy != 0 && !target.Secure);
            if (request.size() >= size) {
                WriteLog(LogFailure, "The update request is too long to send!");
                return false;
            }
            std::memcpy(out, request.c_str(), request.size() + 1);
            return true;
        },
        [&](int received) {
            if (received > 0) {
                WriteLog(LogTrace, "Received from server:",
                         ServerTextForLog(apiAnswers ? CloudflareAnswerForLog(reply).c_str() : transfer.data())
                             .c_str());
                asked = Asked::Answered;
            } else if (received == -2) {
                WriteLog(LogFailure, "The service's answer is cut short, too long or no HTTP answer!");
                asked = Asked::Unreadable;
            } else if (received < 0) {
                WriteLog(LogFailure,
                         "Update failed, could not receive! (winsock error:", NumberToText(LastSocketError()).c_str(),
                         ")");
            } else {
                WriteLog(LogFailure, "Update failed, the service closed the connection without an answer!");
            }
        },
        &hosts, ReplyReading::WholeAnswer, &endpoint, &reply);
    return asked;
}

std::string Until(std::int32_t time) {
    char stamp[18];
    FormatTimeStamp(time, stamp);
    return stamp;
}

// The families one request carries: the dotted IPv4 address and the IPv6 one, either empty.
struct Sent {
    const char* V4;
    const char* V6;
};

// What a judgement does to the account: 0 accepted, -1 anything else.
int TakeJudgement(const ServiceEntry& service, Account& account, const ReplyJudgement& judgement, Sent sent) {
    const std::int64_t now = CurrentTime();
    switch (judgement.Verdict) {
    case ReplyVerdict::Accepted:
        if (sent.V4[0]) {
            account.LastIP = account.CurrentIP;
            account.LastUpdate = static_cast<std::int32_t>(now);
        }
        if (sent.V6[0]) {
            CopyText(account.LastIP6, sent.V6);
            account.LastUpdate6 = static_cast<std::int32_t>(now);
        }
        account.RetryAt = 0;
        WriteLog(LogDetail, "DNS update successful!");
        // Services block clients that send an unchanged address again and again.
        if (judgement.NoChange)
            WriteLog(LogShownFailure, "Warning:", service.Name,
                     "had this address already (\"nochg\"); repeated unchanged updates may get the host blocked.");
        return 0;
    case ReplyVerdict::Refused:
        account.Update = 0;
        WriteLog(LogFailure, judgement.Reason.c_str());
        // A notice tells the program's own words, never the server's text.
        if (!judgement.Plain.empty()) ReplaceLastFailure(judgement.Plain.c_str());
        return -1;
    case ReplyVerdict::Temporary:
        break;
    }
    std::int32_t wait = judgement.WaitSeconds;
    if (wait < 0 || wait > MaxServiceWait) wait = MaxServiceWait;
    account.RetryAt = static_cast<std::int32_t>(now + wait);
    WriteLog(LogFailure, judgement.Reason.c_str());
    if (!judgement.Plain.empty()) ReplaceLastFailure(judgement.Plain.c_str());
    WriteLog(LogFailure, account.HostName, "is not sent to", service.Name, "again before",
             Until(account.RetryAt).c_str());
    return -1;
}

// A reply that could not be read: asked again after the usual wait.
int TakeAsked(const ServiceEntry& service, Account& account, Asked asked) {
    if (asked == Asked::Failed) return -1;
    return TakeJudgement(
        service, account,
        TemporaryReply(std::string(service.Name) + " gave no answer that could be read.", ServiceRetryWait),
        Sent{"", ""});
}

// Cloudflare's names for the host's zone: the one the user gave, else the
// host and each parent domain of it, longest first.
std::vector<std::string> ZoneNames(const Account& account) {
    if (account.ServiceUserName[0]) return {account.ServiceUserName};
    std::vector<std::string> names;
    for (std::string name = account.HostName; name.find('.') != std::string::npos; name.erase(0, name.find('.') + 1))
        names.push_back(name);
    return names;
}

// One request of a service's API, judged: true when accepted, else its outcome is taken into the account (result).
bool AskApi(const ServiceEntry& service, Account& account, const std::string& request, HttpReply& reply, int& result,
            RunHosts& hosts) {
    ServiceTarget target;
    target.Host = service.UpdateHost;
    const Asked asked = AskService(
        target, [&](bool) { return request; }, reply, hosts, true);
    if (asked != Asked::Answered) {
        result = TakeAsked(service, account, asked);
        return false;
    }
    const ReplyJudgement judgement = JudgeServiceReply(service, reply);
    if (judgement.Verdict == ReplyVerdict::Accepted) return true;
    result = TakeJudgement(service, account, judgement, Sent{"", ""});
    return false;
}

bool IsCloudflareId(const char* text) {
    return std::strlen(text) == 32 && std::strspn(text, "0123456789abcdefABCDEF") == 32;
}

// Zone, record, then the record's new content, for the A record and the
// AAAA record as sent; a missing zone or record is refused, never created.
int SendCloudflareUpdate(const ServiceEntry& service, Account& account, Sent sent, RunHosts& hosts) {
    const std::string token = account.ServicePassword;
    auto ask = [&](const char* method, const std::string& path, const std::string& body, HttpReply& reply,
                   int& result) {
        return AskApi(service, account, BuildCloudflareRequest(method, path, token.c_str(), body), reply, result,
                      hosts);
    };
    int result = -1;
    HttpReply reply;
    const auto refuse = [&](const std::string& why) {
        return TakeJudgement(service, account, RefusedReply(why), Sent{"", ""});
    };
    std::string zone = IsCloudflareId(account.ServiceUserName) ? account.ServiceUserName : "";
    for (const std::string& name : zone.empty() ? ZoneNames(account) : std::vector<std::string>()) {
        if (!ask("GET", "/zones?name=" + UrlEncoded(name.c_str()), "", reply, result)) return result;
        // A pending or moved zone is not the one that answers for the name.
        const std::vector<std::string> zones = CloudflareResultIds(reply.Body, true);
        if (!zones.empty()) {
            zone = zones[0];
            break;
        }
    }
    if (zone.empty())
        return refuse(account.ServiceUserName[0]
                          ? std::string("Cloudflare has no active zone named ") + account.ServiceUserName +
                                " for this token!"
                          : std::string("Cloudflare has no active zone for ") + account.HostName + " for this token!");
    const std::string records = "/zones/" + zone + "/dns_records";
    result = 0;
    for (const Sent one : {Sent{sent.V4, ""}, Sent{"", sent.V6}}) {
        const char* type = one.V4[0] ? "A" : "AAAA";
        const char* address = one.V4[0] ? one.V4 : one.V6;
        if (!address[0]) continue;
        int failed = -1;
        if (!ask("GET", records + "?type=" + type + "&name=" + UrlEncoded(account.HostName), "", reply, failed))
            return failed;
        const std::vector<std::string> found = CloudflareResultIds(reply.Body);
        // Which of several records the user means is the user's to say.
        if (found.size() > 1)
            return refuse("Cloudflare has " + std::to_string(found.size()) + " " + type + " records named " +
                          account.HostName + "; keep one of them. Nothing was changed.");
        if (found.empty()) {
            const std::string missing =
                std::string("Cloudflare has no ") + type + " record named " + account.HostName + ": create it in the zone first.";
            // Beside an A record the AAAA record fails alone, as a missing IPv6 address does.
            if (one.V6[0] && UpdatesIPv4(account)) {
                WriteLog(LogFailure, missing.c_str());
                result = -1;
                continue;
            }
            return refuse(missing);
        }
        if (!ask("PATCH", records + "/" + found[0], CloudflareAddressBody(address), reply, failed)) return failed;
        failed = TakeJudgement(service, account, JudgeServiceReply(service, reply), one);
        if (failed != 0) return failed;
    }
    return result;
}

// DigitalOcean: each family's record looked up by type and full name, then
// its data set; a missing record is refused, never created.
int SendDigitalOceanUpdate(const ServiceEntry& service, Account& account, Sent sent, RunHosts& hosts) {
    const std::string token = account.ServicePassword;
    const std::string records = "/domains/" + UrlEncoded(account.ServiceUserName) + "/records";
    for (const Sent one : {Sent{sent.V4, ""}, Sent{"", sent.V6}}) {
        const char* type = one.V4[0] ? "A" : "AAAA";
        const char* address = one.V4[0] ? one.V4 : one.V6;
        if (!address[0]) continue;
        HttpReply reply;
        int result = -1;
        const std::string find = records + "?type=" + type + "&name=" + UrlEncoded(account.HostName);
        if (!AskApi(service, account, BuildDigitalOceanRequest(service, "GET", find, token.c_str(), ""), reply, result,
                    hosts))
            return result;
        const std::vector<std::string> found = DigitalOceanRecordIds(reply.Body);
        // None is the user's to create; of several, which one is meant is the user's to say.
        if (found.size() != 1)
            return TakeJudgement(service, account,
                                 RefusedReply("DigitalOcean has " + std::to_string(found.size()) + " " + type +
                                              " records named " + account.HostName + "; keep exactly one."),
                                 Sent{"", ""});
        const std::string body = DigitalOceanAddressBody(address);
        if (!AskApi(service, account,
                    BuildDigitalOceanRequest(service, "PATCH", records + "/" + found[0], token.c_str(), body), reply,
                    result, hosts))
            return result;
        result = TakeJudgement(service, account, JudgeServiceReply(service, reply), one);
        if (result != 0) return result;
    }
    return 0;
}

// One request with the families given, judged.
int SendOneRequest(const ServiceEntry& service, const ServiceTarget& target, Account& account, Sent sent,
                   RunHosts& hosts) {
    ServiceRequestInput input{account.HostName,       account.ServiceUserName, account.ServicePassword, sent.V4,
                              account.Wildcards != 0, account.MailExtender,    account.BackupMX != 0,   sent.V6,
                              account.UpdateServer};
    HttpReply reply;
    const Asked asked = AskService(
        target, [&](bool proxyForm) { return BuildServiceRequest(service, target, input, proxyForm); }, reply, hosts);
    if (asked != Asked::Answered) return TakeAsked(service, account, asked);
    return TakeJudgement(service, account, JudgeServiceReply(service, reply), sent);
}

}  // namespace

bool WaitsForService(const ServiceEntry& service, const Account& account, int logFlags) {
    const std::int64_t left = static_cast<std::int64_t>(account.RetryAt) - CurrentTime();
    // A wait longer than any a service may ask is no wait of ours (a clock set back, an edited store).
    if (left <= 0 || left > MaxServiceWait) return false;
    WriteLog(logFlags, account.HostName, "waits as", service.Name, "asked: not sent again before",
             Until(account.RetryAt).c_str());
    return true;
}

int SendServiceUpdate(const ServiceEntry& service, Account& account, const char* v4, const char* v6, RunHosts& hosts) {
    if (service.Shape == ServiceShape::Cloudflare) return SendCloudflareUpdate(service, account, Sent{v4, v6}, hosts);
    ServiceTarget target, target6;
    const char* why = "has no usable update server";
    if (!FindServiceTarget(service, account.UpdateServer, target, why) ||
        !FindServiceTarget(service, account.UpdateServer, target6, why, true)) {
        WriteLog(LogShownFailure, "Account", account.HostName, why, "and was not updated!");
        return -1;
    }
    std::string part;
    if (TakesRegisteredDomain(service) && !NamecheapHostPart(account.HostName, account.ServiceUserName, part)) {
        WriteLog(LogShownFailure, "Account", account.HostName, "is not within its domain", account.ServiceUserName,
                 "and was not updated!");
        return -1;
    }
    if (service.Shape == ServiceShape::DigitalOcean)
        return SendDigitalOceanUpdate(service, account, Sent{v4, v6}, hosts);
    // A service that takes one family a request gets two, the second only after the first went well.
    if (service.IPv6 == IPv6Style::PerFamily && v4[0] && v6[0]) {
        const int first = SendOneRequest(service, target, account, Sent{v4, ""}, hosts);
        return first != 0 ? first : SendOneRequest(service, target6, account, Sent{"", v6}, hosts);
    }
    return SendOneRequest(service, v4[0] ? target : target6, account, Sent{v4, v6}, hosts);
}
