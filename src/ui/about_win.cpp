#include <windows.h>
#include <shellapi.h>

#include "app/app_win.h"
#include "common/text.h"
#include "res/resource.h"
#include "settings/preferences.h"
#include "ui/dialogs.h"
#include "update/server_table.h"

HWND AboutBox = nullptr;

bool RouteDialogMessage(MSG* message) {
    for (HWND dialog : {AboutBox, PropertiesDialog, AccountsDialog})
        if (dialog && IsDialogMessageA(dialog, message)) return true;
    return false;
}

void ShowAboutBox() {
    if (!AboutBox) CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutBoxProc, 0);
    if (AboutBox) ShowWindow(AboutBox, SW_SHOW);
}

void OpenHelp() {
    const PreferenceSet preferences = PreferenceSnapshot();
    char url[sizeof preferences.HelpURL];
    CopyField(url, preferences.HelpURL);
    ShellExecuteA(MainWindow, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
}

INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        AboutBox = dialog;
        char version[8];
        GetOwnVersion(version);
        char title[128];
        CopyText(title, "Vastrel dynamic DNS updater ");
        AppendText(title, version);
        SetDlgItemTextA(dialog, IDC_ABOUT_TITLE, title);
        // The web address follows the maker's host chosen at build time.
        char web[128];
        CopyText(web, "http://");
        AppendText(web, MakerHost);
        AppendText(web, "/");
        SetDlgItemTextA(dialog, IDC_ABOUT_WEB, web);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        AboutBox = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}
