// DigitalOcean: its domain records API with a bearer token; the record is
// looked up by type and full name, then its data set (the flow is in
// service_update.cpp).
#include <nlohmann/json.hpp>

#include "update/services/shape.h"

std::string BuildDigitalOceanRequest(const ServiceEntry& service, const char* method, const std::string& path,
                                     const char* token, const std::string& body) {
    return BearerRequest(method, service.UpdateHost, service.Path + path, token, body);
}

std::string DigitalOceanAddressBody(const char* address) { return nlohmann::json{{"data", address}}.dump(); }

std::vector<std::string> DigitalOceanRecordIds(const std::string& body) {
    std::vector<std::string> ids;
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    const auto records = answer.is_object() ? answer.find("domain_records") : answer.end();
    if (records == answer.end() || !records->is_array()) return ids;
    for (const nlohmann::json& record : *records)
        if (record.is_object() && record.contains("id") && record["id"].is_number_unsigned())
            ids.push_back(std::to_string(record["id"].get<std::uint64_t>()));
    return ids;
}
