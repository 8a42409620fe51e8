// Cloudflare: API v4 with a bearer token; the zone, the record, then a PATCH
// of its content (the flow is in service_update.cpp).
#include <nlohmann/json.hpp>

#include "update/services/shape.h"

std::string BuildCloudflareRequest(const char* method, const std::string& path, const char* token,
                                   const std::string& body) {
    const ServiceEntry& cloudflare = Services[2];
    return BearerRequest(method, cloudflare.UpdateHost, cloudflare.Path + path, token, body);
}

std::string BearerRequest(const std::string& method, const std::string& host, const std::string& path,
                          const char* token, const std::string& body) {
    std::string request =
        method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\nAuthorization: Bearer " + token + "\r\n";
    if (!body.empty())
        request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    return request + "User-Agent: " + ServiceUserAgent() + "\r\nConnection: close\r\n\r\n" + body;
}

ReplyJudgement JudgeApiAnswer(const ServiceEntry& service, int status, const std::string& body, const char* holder,
                              const char* marker) {
    if (status / 100 == 2) return Accepted();
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    const nlohmann::json* refusal = answer.is_object() ? &answer : nullptr;
    if (refusal && holder) {
        const auto held = answer.find(holder);
        refusal = held != answer.end() && held->is_object() ? &*held : nullptr;
    }
    const auto message = refusal ? refusal->find("message") : answer.end();
    if (!refusal || message == refusal->end() || !message->is_string() || (marker && !refusal->contains(marker)))
        return UnknownReply(service, status, body);
    if (status == 403) return RefusedReply(AuthorizationFailed);
    return RefusedSaying(service, status, message->get<std::string>());
}

std::string CloudflareAddressBody(const char* address) { return nlohmann::json{{"content", address}}.dump(); }

std::vector<std::string> CloudflareResultIds(const std::string& body, bool activeOnly) {
    std::vector<std::string> ids;
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return ids;
    auto result = answer.find("result");
    if (result == answer.end() || !result->is_array()) return ids;
    for (const nlohmann::json& entry : *result) {
        if (!entry.is_object()) continue;
        auto id = entry.find("id"), status = entry.find("status");
        if (id == entry.end() || !id->is_string()) continue;
        if (activeOnly && (status == entry.end() || !status->is_string() || *status != "active")) continue;
        const std::string text = id->get<std::string>();
        if (!text.empty() && text.size() <= 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            ids.push_back(text);
    }
    return ids;
}

std::string CloudflareAnswerForLog(const HttpReply& reply) {
    const std::string status = StatusText(reply.Status);
    nlohmann::json answer = nlohmann::json::parse(reply.Body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object())
        return status + ", no JSON answer (" + std::to_string(reply.Body.size()) + " bytes)";
    nlohmann::json shown = nlohmann::json::object();
    for (const char* field : {"success", "errors"})
        if (answer.contains(field)) shown[field] = answer[field];
    return status + " " + shown.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

ReplyJudgement JudgeCloudflare(const ServiceEntry& service, int status, const std::string& body) {
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return UnknownReply(service, status, body);
    // Without its "success" field the JSON is no answer of Cloudflare's API (a proxy's page, say).
    auto success = answer.find("success");
    if (success == answer.end() || !success->is_boolean()) return UnknownReply(service, status, body);
    if (status / 100 == 2 && success->get<bool>()) return Accepted();
    long code = 0;
    std::string message;
    auto errors = answer.find("errors");
    if (errors != answer.end() && errors->is_array() && !errors->empty() && (*errors)[0].is_object()) {
        const nlohmann::json& first = (*errors)[0];
        if (first.contains("code") && first["code"].is_number_integer()) code = first["code"].get<long>();
        if (first.contains("message") && first["message"].is_string()) message = first["message"].get<std::string>();
    }
    // 10000: the token may not do this; 6003 and 6111: no usable Authorization header.
    if (status == 401 || status == 403 || code == 10000 || code == 6003 || code == 6111 || code == 9109)
        return RefusedReply(AuthorizationFailed);
    return RefusedReply("Cloudflare refused the update: " + Quoted(message) + " (" + std::to_string(code) + ")",
                        "Cloudflare refused the update (error " + std::to_string(code) + ", " + StatusText(status) +
                            ")");
}
