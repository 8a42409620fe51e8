#include <windows.h>
#include <shellapi.h>

#include "app/app_win.h"
#include "app/update_run.h"
#include "app/version.h"
#include "log/log.h"
#include "model/account.h"
#include "model/preferences.h"
#include "res/resource.h"
#include "settings/settings.h"

HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;
MenuWindowCalls MenuWindows = {[](bool) {}, [] {}, [] {}, [] {}, [] {}};
HANDLE VersionCheckMutex = nullptr;
DWORD GuiThreadId = 0;

void GetOwnVersion(char out[8]) {
    if (LoadStringA(AppInstance, IDS_VERSION, out, 8) <= 0) out[0] = '\0';
}

bool OnGuiThread() { return GetCurrentThreadId() == GuiThreadId; }

void RunOnGuiThread(const std::function<void()>& call) {
    if (OnGuiThread())
        call();
    else if (MainWindow)
        SendMessageA(MainWindow, RunCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}
HINSTANCE(WINAPI* OpenWithShell)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) = ShellExecuteA;

namespace {
constexpr std::uint32_t VersionPeriodMs = 86400000;
bool armed[4];
std::uint32_t delays[4];
UINT TaskbarCreatedMessage = 0;

void ShellSetTrayState(TrayState state, const char* tooltip) {
    RunOnGuiThread([&] {
        if (MainWindow) SetTrayState(MainWindow, state, tooltip);
    });
}

void ShellSetBlinking(int on) {
    RunOnGuiThread([&] {
        // A run blinks only while its failure is pending here, on the thread
        // that snoozes: a Snooze after the run decided has the last word.
        if (MainWindow) SetBlinking(on && ReadShared(RunFailed));
    });
}

void ShellPostQuit() {
    if (MainWindow) PostMessageA(MainWindow, WM_QUIT, 0, 0);
}

void CheckNow() {
    StopTimer(UpdateTimer);
    StopTimer(VersionTimer);
    WriteLog(LogMilestone, "Manual update started...");
    StartUpdateRun(Manual);
    StartVersionCheck(1);
    ArmTimer(UpdateTimer, UpdateTimerPeriod());
    ArmTimer(VersionTimer, VersionPeriodMs);
}

void ForceUpdate() {
    char warning[1024];
    if (LoadStringA(AppInstance, IDS_FORCEWARNING, warning, sizeof warning) <= 0) return;
    if (MessageBoxA(nullptr, warning, "Force update", MB_YESNO | MB_ICONWARNING) == IDYES) StartUpdateRun(Forced);
}

void Command(WORD id) {
    switch (id) {
    case IDM_EXIT:
        PostQuitMessage(0);
        break;
    case IDM_ENABLEDISABLE: {
        if (ReadShared(UpdatesDisabled))
            EnableUpdates();
        else
            DisableUpdates();
        break;
    }
    case IDM_CHECKNOW:
        CheckNow();
        break;
    case IDM_SNOOZE:
        Snooze();
        break;
    case IDM_VIEWLOG:
        MenuWindows.ShowLog(true);
        break;
    case IDM_FORCEUPDATE:
        ForceUpdate();
        break;
    case IDM_PROPERTIES:
        MenuWindows.ShowProperties();
        break;
    case IDM_HELP:
        MenuWindows.OpenHelp();
        break;
    case IDM_ABOUT:
        MenuWindows.ShowAbout();
        break;
    case IDM_ACCOUNTS:
        MenuWindows.ShowAccounts();
        break;
    default:
        break;
    }
}

void TimerTick(WPARAM id) {
    switch (id) {
    case UpdateTimer:
        StopTimer(UpdateTimer);
        StartUpdateRun(UpdateMode::Timer);
        ArmTimer(UpdateTimer, UpdateTimerPeriod());
        break;
    case BlinkTimer:
        BlinkTick(MainWindow);
        break;
    case VersionTimer:
        StopTimer(VersionTimer);
        StartVersionCheck(0);
        ArmTimer(VersionTimer, VersionPeriodMs);
        break;
    default:
        break;
    }
}
}  // namespace

void ArmTimer(int timer, std::uint32_t delayMs) {
    SetTimer(MainWindow, static_cast<UINT_PTR>(timer), delayMs, nullptr);
    if (timer > 0 && timer < 4) {
        armed[timer] = true;
        delays[timer] = delayMs;
    }
}

void StopTimer(int timer) {
    KillTimer(MainWindow, static_cast<UINT_PTR>(timer));
    if (timer > 0 && timer < 4) armed[timer] = false;
}

bool TimerIsArmed(int timer) { return timer > 0 && timer < 4 && armed[timer]; }
std::uint32_t TimerDelay(int timer) { return timer > 0 && timer < 4 ? delays[timer] : 0; }

void EnableUpdates() {
    SetEnabledState(MainWindow, Enable);
    ArmTimer(UpdateTimer, 1000);
    ArmTimer(VersionTimer, 2000);
    SetBlinking(ReadShared(RunFailed));
}

void DisableUpdates() {
    SetEnabledState(MainWindow, Disable);
    StopTimer(UpdateTimer);
    StopTimer(VersionTimer);
    SetBlinking(0);
}

void Snooze() {
    {
        SharedDataGuard guard(SharedDataMutex());
        RunFailed = 0;
    }
    SetBlinking(0);
    SetTrayState(MainWindow, Idle, nullptr);
}

void AccountsCommitted() {
    if (ShownTrayState == Enabled) SetTrayState(MainWindow, Enabled, nullptr);
    if (ReadShared(AccountTable.Count) > 0 && !ReadShared(UpdatesDisabled) && !TimerIsArmed(UpdateTimer))
        ArmTimer(UpdateTimer, static_cast<std::uint32_t>(ReadShared(Preferences.FirstCheck)) * 1000u);
}

void ConnectShell() {
    Shell.SetTrayState = ShellSetTrayState;
    Shell.SetBlinking = ShellSetBlinking;
    Shell.PostQuit = ShellPostQuit;
    Shell.TakeVersionMutex = [] {
        return VersionCheckMutex && WaitForSingleObject(VersionCheckMutex, 0) == WAIT_OBJECT_0;
    };
    Shell.ReleaseVersionMutex = [] { ReleaseMutex(VersionCheckMutex); };
    Shell.AskYesNo = [](const char* text, const char* caption) {
        return MessageBoxA(nullptr, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
    };
    Shell.OpenPage = [](const char* url) { OpenWithShell(MainWindow, "open", url, nullptr, nullptr, SW_SHOWNORMAL); };
    GetVersionText = GetOwnVersion;
    Shell.ArmTimer = ArmTimer;
    Shell.Notify = [](const char* text, bool opensAccounts, bool warning) {
        RunOnGuiThread([&] {
            if (MainWindow) ShowTrayNotice(MainWindow, text, opensAccounts, warning);
        });
    };
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_COMMAND:
        Command(LOWORD(wParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        TimerTick(wParam);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Log-off or shutdown ends the process without leaving the loop:
        // keep what this session changed.
        if (wParam) StoreSettings();
        return 0;
    case TrayCallbackMessage:
        if (lParam == WM_LBUTTONDBLCLK) MenuWindows.ShowLog(true);
        if (lParam == WM_RBUTTONDOWN) ShowTrayMenu(window);
        // As the menu's command, so that an open dialog or window comes to the front.
        if (lParam == NIN_BALLOONUSERCLICK)
            PostMessageA(window, WM_COMMAND, NoticeOpensAccounts ? IDM_ACCOUNTS : IDM_VIEWLOG, 0);
        return 0;
    case RunCallMessage:
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    default:
        break;
    }
    if (TaskbarCreatedMessage && message == TaskbarCreatedMessage) {
        // Explorer restarted and every tray icon is gone: add ours again as it was.
        if (PreferenceSnapshot().ShowTrayIcon) {
            TrayState state = ShownTrayState;
            char tooltip[sizeof ShownTooltip];
            lstrcpynA(tooltip, ShownTooltip, sizeof tooltip);
            NotifyTray(window, NIM_ADD, nullptr, nullptr);
            SetTrayState(window, state, tooltip);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
