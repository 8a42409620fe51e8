// The built-in table of service domains, their update host and request template,
// and the maker's web server. Host names are set at build time (see CMake).
#pragma once

#include <string>

struct ServerEntry {
    const char* Domain;
    const char* UpdateHost;
    const char* Template;
};

constexpr int ServerCount = 10;

// Rows 0..9, then an end row whose three texts are null.
extern const ServerEntry ServerTable[ServerCount + 1];

// The row for an account's Server value, or null when the value is no row.
const ServerEntry* ServerRow(int server);

// The maker's web server: version file, help and download pages.
extern const char* const MakerHost;
// An address on the maker's web server: "http://" (or "https://"), the
// host, then path.
std::string MakerUrl(const char* path, bool secure = false);

// The check-IP service that names the public address ("UsePublicAddress"),
// asked when "CheckIPAddress" is empty, as the update server is asked.
extern const char* const CheckIpHost;
// The check-IP page of a profile that has not chosen one ("CheckIPAddress"):
// a public page over HTTPS that answers the bare address, of whichever family
// it is reached over.
extern const char* const DefaultCheckIpPage;
