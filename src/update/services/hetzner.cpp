// Hetzner DNS, in the Cloud API: POST /v1/zones/<domain>/rrsets/<name>/<A or
// AAAA>/actions/set_records with an API token as the bearer; the record set
// must exist. The answer is in its status, the JSON says why.
#include <cctype>
#include <nlohmann/json.hpp>

#include "update/services/shape.h"

std::string BuildHetznerRequest(const ServiceTarget& target, const ServiceRequestInput& in, const char* v4,
                                const char* v6) {
    std::string name = "@";  // the zone's apex
    NamecheapHostPart(in.HostName, in.UserName, name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));  // names are lower case
    const std::string path = target.Path + "/zones/" + UrlEncoded(in.UserName) + "/rrsets/" +
                             (name == "@" ? name : UrlEncoded(name.c_str())) + (v4[0] ? "/A" : "/AAAA") +
                             "/actions/set_records";
    const std::string body = nlohmann::json{{"records", {{{"value", v4[0] ? v4 : v6}}}}}.dump();
    return BearerRequest("POST", target.Host, path, in.Password, body);
}
