// What the code below the shell needs from it: the tray, the timers, the quit
// request, the version check's mutex, a question and a web page. The Windows
// shell hands each call to the GUI thread; tests put a recording stand-in
// here. Declared at the bottom so that the settings (start-up's first timers)
// and the update run can call up without including the shell.
#pragma once

#include <cstdint>

enum TrayState : int { Disabled = 0, Enabled = 1, Idle = 2, Busy = 3, Failed = 4 };

// The window timers of the main window.
enum WindowTimer : int { UpdateTimer = 1, BlinkTimer = 2, VersionTimer = 3 };

struct ShellCalls {
    void (*SetTrayState)(TrayState state, const char* tooltip);  // tooltip may be null
    void (*SetBlinking)(int on);
    void (*PostQuit)();
    // The version check: only one at a time, taken without waiting.
    bool (*TakeVersionMutex)();
    void (*ReleaseVersionMutex)();
    // A Yes/No question without owner; true for Yes. The caller waits.
    bool (*AskYesNo)(const char* text, const char* caption);
    void (*OpenPage)(const char* url);
    // Arms a timer of the main window (start-up's first timers); GUI thread.
    void (*ArmTimer)(int timer, std::uint32_t delayMs);
    // Shows a notice at the tray icon; a click on it opens the Accounts
    // dialog (opensAccounts) or the log window. warning: something is wrong.
    void (*Notify)(const char* text, bool opensAccounts, bool warning);
};

// Calls that do nothing until the shell connects.
extern ShellCalls Shell;
