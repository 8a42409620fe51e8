#include "settings/preferences.h"

PreferenceSet Preferences = InitialPreferences();

std::recursive_mutex& SharedDataMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

PreferenceSet PreferenceSnapshot() {
    SharedDataGuard guard(SharedDataMutex());
    return Preferences;
}
