// Porkbun: its JSON API, one record type a request: POST
// /dns/editByNameType/<domain>/<A or AAAA>/<subdomain> with both keys and the
// address in the body; "status":"SUCCESS" or "ERROR" with a message.
#include <nlohmann/json.hpp>

#include "update/services/shape.h"

std::string BuildPorkbunRequest(const ServiceTarget& target, const ServiceRequestInput& in, const char* v4,
                                const char* v6) {
    // The record is named by what stands before the registered domain; the domain itself has none.
    std::string sub = "@";
    NamecheapHostPart(in.HostName, in.UserName, sub);
    std::string path = target.Path + "/dns/editByNameType/" + UrlEncoded(in.UserName) + (v4[0] ? "/A" : "/AAAA");
    if (sub != "@") path += "/" + UrlEncoded(sub.c_str());
    const std::string body =
        nlohmann::json{{"apikey", in.UpdateServer}, {"secretapikey", in.Password}, {"content", v4[0] ? v4 : v6}}.dump(
            -1, ' ', false, nlohmann::json::error_handler_t::replace);
    return "POST " + path + " HTTP/1.1\r\nHost: " + target.Host +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nUser-Agent: " + ServiceUserAgent() + "\r\nConnection: close\r\n\r\n" + body;
}

ReplyJudgement JudgePorkbun(const ServiceEntry& service, int status, const std::string& body) {
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    const auto said = answer.is_object() ? answer.find("status") : answer.end();
    if (!answer.is_object() || said == answer.end() || !said->is_string()) return UnknownReply(service, status, body);
    if (*said == "SUCCESS" && status / 100 == 2) return Accepted();
    const auto message = answer.find("message");
    if (*said == "ERROR")
        return RefusedSaying(service, status,
                             message != answer.end() && message->is_string() ? message->get<std::string>() : "ERROR");
    return UnknownReply(service, status, body);
}
