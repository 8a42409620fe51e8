#include "app/shell.h"

#include "res/resource.h"

TrayDisplay ResolveTrayState(TrayState requested, int updatesDisabled, int blinkIcon, int accountCount) {
    TrayState state = requested == Idle ? (updatesDisabled ? Disabled : Enabled) : requested;
    int label = updatesDisabled ? IDS_ENABLE : IDS_DISABLE;
    switch (state) {
    case Disabled:
        return {state, IDI_GLOBE_DISABLED, IDS_DISABLED, IDS_ENABLE};
    case Enabled:
        return {state, IDI_GLOBE, accountCount > 0 ? IDS_ENABLED : IDS_NO_ACCOUNTS, IDS_DISABLE};
    case Busy:
        return {state, IDI_GLOBE_BUSY, IDS_CONNECTING, label};
    default:
        return {Failed, blinkIcon, IDS_FAILED, label};
    }
}
