// The program-wide preferences, each named after the registry value that holds it.
#pragma once

#include <cstdint>
#include <mutex>

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
};

// Before the settings are loaded everything is zero or empty, but the port.
constexpr PreferenceSet InitialPreferences() {
    PreferenceSet p{};
    p.PortNumber = 80;
    return p;
}

extern PreferenceSet Preferences;

// Guards the account table, the preferences and the shared flags between the
// GUI thread and the workers. Hold it for copies and short updates only: never
// across network waits, message boxes or log calls.
std::recursive_mutex& SharedDataMutex();
using SharedDataGuard = std::lock_guard<std::recursive_mutex>;

// Copy of the preferences taken under the lock, for readers on any thread.
PreferenceSet PreferenceSnapshot();

// One shared 32-bit value (a flag or a number preference), read under the lock.
inline std::int32_t ReadShared(const std::int32_t& value) {
    SharedDataGuard guard(SharedDataMutex());
    return value;
}

// Shared flags of the shell, guarded by SharedDataMutex() like the preferences.
extern std::int32_t UpdatesDisabled;  // 1 while the periodic updates are disabled
extern std::int32_t RunFailed;        // 1 when an account of the latest run failed
extern std::int32_t AutoExit;         // 1 when started with "/autoexit"; set once at start-up
