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
