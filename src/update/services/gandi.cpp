// Gandi LiveDNS: PUT /v5/livedns/domains/<domain>/records/<name>/<A or AAAA>
// with a personal access token as the bearer and the address as the
// record's one value; the answer is in its status, the JSON says why.
#include <nlohmann/json.hpp>

#include "update/services/shape.h"

std::string BuildGandiRequest(const ServiceTarget& target, const ServiceRequestInput& in, const char* v4,
                              const char* v6) {
    std::string name = "@";  // the domain itself
    NamecheapHostPart(in.HostName, in.UserName, name);
    // A path takes "@" as it is, as Gandi writes it.
    const std::string path = target.Path + "/domains/" + UrlEncoded(in.UserName) + "/records/" +
                             (name == "@" ? name : UrlEncoded(name.c_str())) + (v4[0] ? "/A" : "/AAAA");
    const std::string body = nlohmann::json{{"rrset_values", {v4[0] ? v4 : v6}}}.dump();
    return BearerRequest("PUT", target.Host, path, in.Password, body);
}

ReplyJudgement JudgeGandi(const ServiceEntry& service, int status, const std::string& body) {
    if (status / 100 == 2) return Accepted();
    // A refusal of the API names itself: {"code":..., "message":..., "object":..., "cause":...}.
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    const auto message = answer.is_object() ? answer.find("message") : answer.end();
    if (message == answer.end() || !message->is_string() || !answer.contains("object"))
        return UnknownReply(service, status, body);
    if (status == 403) return RefusedReply(AuthorizationFailed);
    return RefusedSaying(service, status, message->get<std::string>());
}
