// The Windows shell: the hidden main window, its timers and the tray icon.
// Everything here runs on the GUI thread unless it says so.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>

#include "app/shell.h"

extern HINSTANCE AppInstance;
extern HWND MainWindow;
extern HANDLE VersionCheckMutex;
extern DWORD GuiThreadId;  // set first at start-up

constexpr UINT TrayCallbackMessage = WM_USER + 1;

// The GUI thread: the one that started the program. It owns the windows, the
// timers and the tray.
bool OnGuiThread();
// Runs call on the GUI thread and returns once it is done: at once when
// called there, else as a message sent to the main window (sent messages
// keep their order). Every call of a worker that needs the GUI goes here.
void RunOnGuiThread(const std::function<void()>& call);
constexpr UINT RunCallMessage = WM_APP + 1;  // lParam: the std::function to run

// The program's version text (string 104), at most 7 characters.
void GetOwnVersion(char out[8]);

// Window timers of the main window; what is armed is kept for the tests.
void ArmTimer(int timer, std::uint32_t delayMs);
void StopTimer(int timer);
bool TimerIsArmed(int timer);
std::uint32_t TimerDelay(int timer);

// Tray (GUI thread).
enum EnableRequest : int { Keep = -1, Enable = 0, Disable = 1 };
extern int BlinkIcon;
extern int EnableItemLabel;
BOOL NotifyTray(HWND window, DWORD operation, HICON icon, const char* tooltip);
void AddTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);
void ApplyTrayIconPreference(HWND window);
void SetEnabledState(HWND window, EnableRequest request);
void SetTrayState(HWND window, TrayState state, const char* tooltip);
void ShowTrayMenu(HWND window);
void SetBlinking(int on);
void BlinkTick(HWND window);
// A notice in a balloon (or toast) at the icon, without a sound; a click
// on it opens the Accounts dialog when opensAccounts, else the log window.
BOOL ShowTrayNotice(HWND window, const char* text, bool opensAccounts, bool warning);
extern bool NoticeOpensAccounts;  // what a click on the latest notice opens
// The shell's tray call (Shell_NotifyIconA); tests record the records.
extern BOOL(WINAPI* NotifyShell)(DWORD, PNOTIFYICONDATAA);
// What the tray shows now, for the re-add after an Explorer restart and tests.
extern TrayState ShownTrayState;
extern char ShownTooltip[128];

// Main window.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void EnableUpdates();
void DisableUpdates();
void Snooze();
// After Accounts' OK: the enabled globe's tooltip follows the account count,
// and a first account gets the update timer that a start without one left
// unarmed.
void AccountsCommitted();
// Connects the portable shell calls and the settings' timer seam to this window.
void ConnectShell();
// How Shell.OpenPage hands a page to the user's browser (ShellExecuteA);
// tests record the call instead.
extern HINSTANCE(WINAPI* OpenWithShell)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

// The windows the tray menu opens live above the shell (ui/); start-up
// connects them. Each does nothing until then.
struct MenuWindowCalls {
    void (*ShowLog)(bool show);
    void (*ShowAbout)();
    void (*OpenHelp)();
    void (*ShowProperties)();
    void (*ShowAccounts)();
};
extern MenuWindowCalls MenuWindows;
