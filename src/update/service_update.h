// An update at a service of the catalogue: its request (Cloudflare's three)
// sent to the service's own host over HTTPS, directly or through the proxy's
// tunnel, and its reply read whole as HTTP and judged by the service's rules.
#pragma once

#include <cstdint>

#include "model/account.h"
#include "update/connection.h"
#include "update/services.h"

// Whether the account waits for its service (RetryAt still ahead), and the
// log line that says until when.
bool WaitsForService(const ServiceEntry& service, const Account& account, int logFlags);

// Sends the account's addresses to its service: v4 (dotted) and v6, either
// empty when that family is not sent. Records the outcome in the account:
// accepted (LastIP and LastUpdate, LastIP6 and LastUpdate6 for what was
// sent), refused for good (Update 0) or a wait (RetryAt). 0 accepted, -1
// anything else.
int SendServiceUpdate(const ServiceEntry& service, Account& account, const char* v4, const char* v6, RunHosts& hosts);
