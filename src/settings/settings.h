// The program's settings schema: the preferences and the accounts as values
// below HKEY_CURRENT_USER\Software\Brannock\Vastrel, and the auto-start entry.
#pragma once

#include <cstdint>

#include "settings/reg_info.h"

extern RegInfo PreferenceRegInfo;
extern RegInfo AccountRegInfo;

extern const char* const RunKeyPath;    // "Software\Microsoft\Windows\CurrentVersion\Run"
extern const char* const RunValueName;  // "Vastrel"

// Start-up: declares, loads and writes back everything, sets UpdatesDisabled
// and arms the first timers (through Shell.ArmTimer).
void InitSettings();
// True when at least one preference fell back to its default.
bool RetrieveSettings();
void StoreSettings();
// Rebuilds the account descriptors from the account count.
void CreateAccountRegInfo();
// Accounts "OK": the working copy becomes the table (model/account_edits.h),
// the account descriptors are rebuilt from it and everything is stored.
void CommitAccountEdits();
void SetAutoStart(std::int32_t enabled);
