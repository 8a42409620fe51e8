#include <windows.h>

#include <cstring>
#include <string>

#include "app/app_win.h"
#include "common/program_path.h"
#include "common/text.h"
#include "log/log.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "res/resource.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"

HWND AboutBox = nullptr;

namespace {
// The largest image the icons carry: a larger system icon size would stretch it.
constexpr int LargestIconImage = 48;
HICON AboutGlobe = nullptr;  // ours to destroy with the box

// The template's picture control has no id of its own; it is the one icon.
HWND PictureControl(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    return nullptr;
}

// The static control loads the globe at the system's icon size, 64 pixels at
// 200 %; it gets our own image of the nearest size instead, so it stays crisp.
void SetCrispGlobe(HWND dialog) {
    HWND picture = PictureControl(dialog);
    int size = GetSystemMetrics(SM_CXICON);
    if (size > LargestIconImage) size = LargestIconImage;
    HICON icon = static_cast<HICON>(
        LoadImageA(AppInstance, MAKEINTRESOURCEA(IDI_GLOBE), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (!picture || !icon) {
        if (icon) DestroyIcon(icon);
        return;
    }
    SendMessageA(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    AboutGlobe = icon;
}

void DestroyGlobe() {
    if (AboutGlobe) DestroyIcon(AboutGlobe);
    AboutGlobe = nullptr;
}

// A host under the reserved .example domain, which no browser reaches: what a
// build that names no help page of its own has.
bool NamesExampleHost(const std::string& url) {
    std::string host = url.substr(url.find("//") + 2);
    host = host.substr(0, host.find_first_of("/?#"));
    host = host.substr(host.rfind('@') + 1);  // past a user name, if any
    host = host.substr(0, host.find(':'));
    while (!host.empty() && host.back() == '.') host.pop_back();
    const std::size_t tail = std::strlen(".example");
    return EqualNoCase(host.c_str(), "example") ||
           (host.size() > tail && EqualNoCase(host.c_str() + host.size() - tail, ".example"));
}

// The README.txt that the zip and the installer put beside the program.
std::string ReadmeBesideProgram() {
    char path[ProgramPathSize];
    const std::size_t length = OwnProgramPath(path, sizeof path);
    if (length == 0) return "";
    std::string readme(path, length);
    return readme.erase(readme.find_last_of('\\') + 1) + "README.txt";
}
}  // namespace

void ShowAboutBox() {
    if (!AboutBox) CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutBoxProc, 0);
    if (AboutBox) ShowWindow(AboutBox, SW_SHOW);
}

void OpenHelp() {
    const PreferenceSet preferences = PreferenceSnapshot();
    char url[sizeof preferences.HelpURL];
    CopyField(url, preferences.HelpURL);
    // The shell would run a program or open a file named here just as well.
    if (!IsWebAddress(url)) {
        WriteLog(LogShownFailure,
                 "The help address (\"HelpURL\") is not an http:// or https:// address; it was not opened.");
        return;
    }
    // A build that names no help page of its own opens the README instead.
    if (!NamesExampleHost(url)) {
        Shell.OpenPage(url);
        return;
    }
    const std::string readme = ReadmeBesideProgram();
    if (readme.empty() || GetFileAttributesA(readme.c_str()) == INVALID_FILE_ATTRIBUTES) {
        WriteLog(LogShownFailure,
                 "This build names no help page of its own, and README.txt is not beside the program.");
        return;
    }
    Shell.OpenPage(readme.c_str());
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
        SetDlgItemTextA(dialog, IDC_ABOUT_WEB, MakerUrl("/").c_str());
        SetCrispGlobe(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        DestroyGlobe();
        AboutBox = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}
