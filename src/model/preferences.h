// The program-wide preferences, each named after the registry value that holds it.
#pragma once

#include <cstdint>

#include "common/shared_data.h"

struct PreferenceSet {
    std::int32_t AutoStart;
    std::int32_t StartDisabled;
    std::int32_t ShowTrayIcon;
    std::int32_t PortNumber;
    std::int32_t SleepTime;
    std::int32_t UseProxy;
    std::int32_t Connection;
    std::int32_t Interface;
    char ProxyServer[81];
    std::int32_t ProxyPort;
    std::int32_t UseBasicAuthentication;
    char ProxyUser[33];
    char ProxyPassword[33];
    std::int32_t VersionCheck;
    std::int32_t DetailedLogging;
    std::int32_t FirstCheck;
    std::int32_t DaysToForcedUpdate;
    char HelpURL[512];
    // "Count" belongs to the account table (AccountTable.Count).
    char LastVersion[16];
    std::int32_t UseHTTPS;  // requests over TLS, certificates checked
    // 1: register the address a check-IP service on the web names, for
    // computers behind a router, whose own addresses are all private.
    std::int32_t UsePublicAddress;
    // The check-IP page that names the public address: "http://host[:port]/path"
    // or "https://..."; empty: the build's check-IP host (CheckIpHost).
    char CheckIPAddress[512];
    std::int32_t ShowNotifications;  // 1: the tray tells of refusals, waits, failing runs and address changes
};

// Before the settings are loaded everything is zero or empty, but the port.
constexpr PreferenceSet InitialPreferences() {
    PreferenceSet p{};
    p.PortNumber = 80;
    return p;
}

// Guarded by SharedDataMutex() (common/shared_data.h).
extern PreferenceSet Preferences;

// Copy of the preferences taken under the lock, for readers on any thread.
PreferenceSet PreferenceSnapshot();

// Shared flags of the shell, guarded by SharedDataMutex() like the preferences.
extern std::int32_t UpdatesDisabled;  // 1 while the periodic updates are disabled
extern std::int32_t RunFailed;        // 1 when an account of the latest run failed
extern std::int32_t AutoExit;         // 1 when started with "/autoexit"; set once at start-up
