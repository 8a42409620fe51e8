#include <windows.h>
#include <shellapi.h>

#include "app/app_win.h"
#include "common/text.h"
#include "model/account.h"
#include "model/preferences.h"
#include "res/resource.h"
#include "settings/settings.h"

int BlinkIcon = IDI_GLOBE;
int EnableItemLabel = IDS_DISABLE;
TrayState ShownTrayState = Enabled;
char ShownTooltip[128];
// The failed state's tooltip with its detail, kept for the blink's ticks.
char FailedTooltip[128];
BOOL(WINAPI* NotifyShell)(DWORD, PNOTIFYICONDATAA) = Shell_NotifyIconA;
bool NoticeOpensAccounts = false;

BOOL NotifyTray(HWND window, DWORD operation, HICON icon, const char* tooltip) {
    NOTIFYICONDATAA data{};
    // The second form of the record: a tooltip of 127 characters, room for the detail.
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = TrayCallbackMessage;
    data.hIcon = icon;
    CopyUtf8Text(data.szTip, sizeof data.szTip, tooltip);
    BOOL done = NotifyShell(operation, &data);
    if (icon) DestroyIcon(icon);
    return done;
}

BOOL ShowTrayNotice(HWND window, const char* text, bool opensAccounts, bool warning) {
    NOTIFYICONDATAA data{};
    // The balloon's fields come with the second form; the icon's other
    // operations keep the first.
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_INFO;
    CopyUtf8Text(data.szInfo, sizeof data.szInfo, text);
    CopyText(data.szInfoTitle, sizeof data.szInfoTitle, "Vastrel");
    data.uTimeout = 10000;
    // The system's own notice sound is left out: the program makes none.
    data.dwInfoFlags = (warning ? NIIF_WARNING : NIIF_INFO) | NIIF_NOSOUND;
    NoticeOpensAccounts = opensAccounts;
    return NotifyShell(NIM_MODIFY, &data);
}

void AddTrayIcon(HWND window) {
    NotifyTray(window, NIM_ADD, nullptr, nullptr);
    SetEnabledState(window, Keep);
}

void RemoveTrayIcon(HWND window) { NotifyTray(window, NIM_DELETE, nullptr, nullptr); }

void ApplyTrayIconPreference(HWND window) {
    if (PreferenceSnapshot().ShowTrayIcon)
        AddTrayIcon(window);
    else
        RemoveTrayIcon(window);
}

void SetEnabledState(HWND window, EnableRequest request) {
    TrayState state;
    {
        SharedDataGuard guard(SharedDataMutex());
        if (request == Enable) UpdatesDisabled = 0;
        if (request == Disable) UpdatesDisabled = 1;
        state = UpdatesDisabled ? Disabled : (RunFailed ? Failed : Enabled);
    }
    SetTrayState(window, state, nullptr);
}

void SetTrayState(HWND window, TrayState state, const char* tooltip) {
    TrayDisplay display =
        ResolveTrayState(state, ReadShared(UpdatesDisabled), BlinkIcon, ReadShared(AccountTable.Count));
    EnableItemLabel = display.EnableItemLabel;
    char tip[128] = "";
    if (tooltip && display.State == Failed) CopyUtf8Text(FailedTooltip, tooltip);
    if (tooltip)
        CopyUtf8Text(tip, tooltip);
    else if (display.State == Failed && FailedTooltip[0])
        CopyText(tip, FailedTooltip);
    else if (LoadStringA(AppInstance, display.TooltipId, tip, sizeof tip) <= 0)
        tip[0] = '\0';
    // The shell's small-icon size: 16 at 100 %, larger when scaled; each
    // icon carries images for those sizes, so none is stretched.
    HICON icon =
        static_cast<HICON>(LoadImageA(AppInstance, MAKEINTRESOURCEA(display.IconId), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (!icon) return;
    ShownTrayState = display.State;
    CopyText(ShownTooltip, tip);
    NotifyTray(window, NIM_MODIFY, icon, tip);
}

void ShowTrayMenu(HWND window) {
    HMENU menu = LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    if (!menu) return;
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STATE;
    item.fState = MFS_DEFAULT;
    SetMenuItemInfoA(menu, IDM_VIEWLOG, FALSE, &item);
    item.fState = ReadShared(RunFailed) ? MFS_ENABLED : MFS_GRAYED;
    SetMenuItemInfoA(menu, IDM_SNOOZE, FALSE, &item);
    char label[64] = "";
    if (LoadStringA(AppInstance, EnableItemLabel, label, sizeof label) <= 0) label[0] = '\0';
    MENUITEMINFOA text{};
    text.cbSize = sizeof text;
    text.fMask = MIIM_TYPE;
    text.fType = MFT_STRING;
    text.dwTypeData = label;
    text.cch = static_cast<UINT>(lstrlenA(label));
    SetMenuItemInfoA(menu, IDM_ENABLEDISABLE, FALSE, &text);
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    TrackPopupMenuEx(GetSubMenu(menu, 0), TPM_VERTICAL | TPM_VCENTERALIGN | TPM_RIGHTALIGN, cursor.x, cursor.y, window,
                     nullptr);
    DestroyMenu(menu);
}

void SetBlinking(int on) {
    if (on)
        ArmTimer(BlinkTimer, 500);
    else
        StopTimer(BlinkTimer);
}

void BlinkTick(HWND window) {
    BlinkIcon = BlinkIcon == IDI_GLOBE ? IDI_GLOBE_FAILED : IDI_GLOBE;
    SetTrayState(window, Failed, nullptr);
}
