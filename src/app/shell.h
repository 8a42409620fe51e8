// The portable side of the shell: what each tray state shows.
#pragma once

#include "common/shell_calls.h"

// What a tray state shows: icon and tooltip string ids, and the menu label
// of the Enable/Disable item afterwards. Idle resolves by UpdatesDisabled.
// With no account the enabled globe says where to add one.
struct TrayDisplay {
    TrayState State;
    int IconId;
    int TooltipId;
    int EnableItemLabel;
};
TrayDisplay ResolveTrayState(TrayState requested, int updatesDisabled, int blinkIcon, int accountCount);
