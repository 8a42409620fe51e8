#include "model/server_table.h"

// VASTREL_UPDATE_HOST, VASTREL_MAKER_HOST, VASTREL_CHECKIP_HOST and VASTREL_DOMAINS,
// chosen at build time.
#include "server_hosts.h"

#define VASTREL_TEMPLATE                                                                \
    "GET ###SERVER###/nic/dyndns?action=edit&started=1&hostname=YES&host_id=###HOST###" \
    "&myip=###IP###&wildcard=###WILDCARD###&mx=###MAILEXT###&backmx=###BACKUPMX### HTTP/1.1\r\n"

namespace {
const char* const Domains[ServerCount] = {VASTREL_DOMAINS};
}

const ServerEntry ServerTable[ServerCount + 1] = {
    {Domains[0], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[1], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[2], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[3], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[4], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[5], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[6], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[7], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[8], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {Domains[9], VASTREL_UPDATE_HOST, VASTREL_TEMPLATE},
    {nullptr, nullptr, nullptr},
};

const ServerEntry* ServerRow(int server) {
    return server >= 0 && server < ServerCount ? &ServerTable[server] : nullptr;
}

const char* const MakerHost = VASTREL_MAKER_HOST;

std::string MakerUrl(const char* path, bool secure) {
    return std::string(secure ? "https://" : "http://") + MakerHost + path;
}
const char* const CheckIpHost = VASTREL_CHECKIP_HOST;
const char* const DefaultCheckIpPage = "https://api64.ipify.org/";
