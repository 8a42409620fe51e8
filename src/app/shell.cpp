#include "app/shell.h"

#include <mutex>

#include "res/resource.h"

namespace {
void NoTrayState(TrayState, const char*) {}
void NoBlinking(int) {}
void NoQuit() {}
std::mutex VersionMutex;
bool TakeProcessMutex() { return VersionMutex.try_lock(); }
void ReleaseProcessMutex() { VersionMutex.unlock(); }
bool AnswerNo(const char*, const char*) { return false; }
void NoPage(const char*) {}
void NoTimer(int, std::uint32_t) {}
}  // namespace

ShellCalls Shell = {NoTrayState, NoBlinking, NoQuit, TakeProcessMutex, ReleaseProcessMutex, AnswerNo, NoPage, NoTimer};

TrayDisplay ResolveTrayState(TrayState requested, int updatesDisabled, int blinkIcon) {
    TrayState state = requested == Idle ? (updatesDisabled ? Disabled : Enabled) : requested;
    int label = updatesDisabled ? IDS_ENABLE : IDS_DISABLE;
    switch (state) {
    case Disabled:
        return {state, IDI_GLOBE_DISABLED, IDS_DISABLED, IDS_ENABLE};
    case Enabled:
        return {state, IDI_GLOBE, IDS_ENABLED, IDS_DISABLE};
    case Busy:
        return {state, IDI_GLOBE_BUSY, IDS_CONNECTING, label};
    default:
        return {Failed, blinkIcon, IDS_FAILED, label};
    }
}
