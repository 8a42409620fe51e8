#include "common/shell_calls.h"

#include <mutex>

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
void NoNotice(const char*, bool, bool) {}
}  // namespace

ShellCalls Shell = {NoTrayState, NoBlinking, NoQuit,  TakeProcessMutex, ReleaseProcessMutex,
                    AnswerNo,    NoPage,     NoTimer, NoNotice};
