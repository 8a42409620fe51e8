// The program's settings schema: the preferences and the accounts as values
// below HKEY_CURRENT_USER\Software\Brannock\Vastrel, and the auto-start entry.
#pragma once

#include <cstdint>

#include "settings/reg_info.h"

extern RegInfo PreferenceRegInfo;
extern RegInfo AccountRegInfo;

// The window timers of the main window.
enum WindowTimer : int { UpdateTimer = 1, BlinkTimer = 2, VersionTimer = 3 };

// Arms a timer of the main window; connected by the shell, null until then.
extern void (*ArmWindowTimer)(int timer, std::uint32_t delayMs);

extern const char* const RunKeyPath;   // "Software\Microsoft\Windows\CurrentVersion\Run"
extern const char* const RunValueName; // "Vastrel"

// Start-up: declares, loads and writes back everything, sets UpdatesDisabled
// and arms the first timers.
void InitSettings();
// True when at least one preference fell back to its default.
bool RetrieveSettings();
void StoreSettings();
// Rebuilds the account descriptors from the account count.
void CreateAccountRegInfo();
void SetAutoStart(std::int32_t enabled);
