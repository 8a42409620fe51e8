// What the update run and the version check need from the shell: the tray,
// the blink timer and the quit request. The Windows shell hands each call to
// the GUI thread; tests put a recording stand-in here.
#pragma once

enum TrayState : int { Disabled = 0, Enabled = 1, Idle = 2, Busy = 3, Failed = 4 };

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
};

// Calls that do nothing until the shell connects.
extern ShellCalls Shell;

// What a tray state shows: icon and tooltip string ids, and the menu label
// of the Enable/Disable item afterwards. Idle resolves by UpdatesDisabled.
struct TrayDisplay {
    TrayState State;
    int IconId;
    int TooltipId;
    int EnableItemLabel;
};
TrayDisplay ResolveTrayState(TrayState requested, int updatesDisabled, int blinkIcon);
