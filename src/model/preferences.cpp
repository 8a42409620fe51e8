#include "model/preferences.h"

PreferenceSet Preferences = InitialPreferences();

PreferenceSet PreferenceSnapshot() {
    SharedDataGuard guard(SharedDataMutex());
    return Preferences;
}

std::int32_t UpdatesDisabled = 0;
std::int32_t RunFailed = 0;
std::int32_t AutoExit = 0;
