// Test helper: sends the running program what a user would, from outside.
//   poke command ID      WM_COMMAND ID to the main window
//   poke tray LPARAM     the tray callback (515 double click, 516 right button)
//   poke close-menu      closes an open popup menu
//   poke running         exit code 0 when the main window exists
//   poke set CAPTION ID TEXT     sets the text of a control of that window
//   poke select CAPTION ID INDEX selects a combo box or list box row, as a user would
//   poke click CAPTION ID        clicks a button of that window
//   poke exists CAPTION  exit code 0 when a window of that caption exists
//   poke hover X Y       moves the mouse pointer there, as over the tray icon for its tooltip
//   poke answer CAPTION ID   answers the message box of that caption
//   poke visible CAPTION     exit code 0 when a visible window of that caption exists
//   poke control CAPTION ID  prints "enabled TEXT" or "disabled TEXT" of a control
//   poke rows CAPTION ID     prints the rows of a list box, one a line
//   poke key CAPTION ID VK   focuses a control and presses a key there
//   poke focused CAPTION     prints the id of the control that has the focus
//   poke size CAPTION W H    resizes that window to W by H pixels
//   poke start PROGRAM ARGS  starts PROGRAM with exactly ARGS after its quoted
//                            name (wine itself would quote an argument with blanks)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
HWND Control(const char* caption, const char* id) {
    HWND dialog = FindWindowA(nullptr, caption);
    return dialog ? GetDlgItem(dialog, std::atoi(id)) : nullptr;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "start") == 0) {
        std::string line = std::string("\"") + argv[2] + "\" " + argv[3];
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "visible") == 0) {
        HWND window = FindWindowA(nullptr, argv[2]);
        return window && IsWindowVisible(window) ? 0 : 1;
    }
    if (argc >= 4 && std::strcmp(argv[1], "control") == 0) {
        HWND control = Control(argv[2], argv[3]);
        if (!control) return 1;
        char text[256] = "";
        GetWindowTextA(control, text, sizeof text);
        std::printf("%s %s\n", IsWindowEnabled(control) ? "enabled" : "disabled", text);
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "rows") == 0) {
        HWND list = Control(argv[2], argv[3]);
        if (!list) return 1;
        // Read as UTF-16: Wine hands another process's ANSI list text back as such.
        LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t row[256] = L"";
            if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < LRESULT(sizeof row / sizeof row[0]))
                SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
            std::printf("%ls\n", row);
        }
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "set") == 0) {
        HWND control = Control(argv[2], argv[3]);
        return control && SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4])) ? 0 : 1;
    }
    if (argc >= 5 && std::strcmp(argv[1], "select") == 0) {
        HWND dialog = FindWindowA(nullptr, argv[2]);
        int id = std::atoi(argv[3]);
        HWND control = dialog ? GetDlgItem(dialog, id) : nullptr;
        char kind[16] = "";
        if (control) GetClassNameA(control, kind, sizeof kind);
        const bool list = lstrcmpiA(kind, "ListBox") == 0;  // LBN_SELCHANGE is CBN_SELCHANGE's number
        if (!control || SendMessageA(control, list ? LB_SETCURSEL : CB_SETCURSEL, std::atoi(argv[4]), 0) == CB_ERR)
            return 1;
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "click") == 0) {
        HWND control = Control(argv[2], argv[3]);
        return control && IsWindowEnabled(control) && PostMessageA(control, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (argc >= 5 && std::strcmp(argv[1], "key") == 0) {  // the dialog moves the focus: no other process can
        HWND control = Control(argv[2], argv[3]);
        return control && PostMessageA(GetParent(control), WM_NEXTDLGCTL, WPARAM(control), TRUE) &&
                       PostMessageA(control, WM_KEYDOWN, std::atoi(argv[4]), 0)
                   ? 0
                   : 1;
    }
    HWND named = argc >= 3 ? FindWindowA(nullptr, argv[2]) : nullptr;
    if (argc >= 3 && std::strcmp(argv[1], "focused") == 0) {
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        if (!named || !GetGUIThreadInfo(GetWindowThreadProcessId(named, nullptr), &gui)) return 1;
        std::printf("%d\n", GetDlgCtrlID(gui.hwndFocus));
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "size") == 0)
        return named && SetWindowPos(named, nullptr, 0, 0, std::atoi(argv[3]), std::atoi(argv[4]), SWP_NOMOVE) ? 0 : 1;
    if (argc >= 3 && std::strcmp(argv[1], "exists") == 0) return FindWindowA(nullptr, argv[2]) ? 0 : 1;
    if (argc >= 4 && std::strcmp(argv[1], "hover") == 0) {  // a move within the icon shows its tooltip
        SetCursorPos(std::atoi(argv[2]) - 3, std::atoi(argv[3]) - 3);
        Sleep(200);
        return SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3])) ? 0 : 1;
    }
    if (argc >= 4 && std::strcmp(argv[1], "answer") == 0) {
        HWND box = FindWindowA(nullptr, argv[2]);
        return box && PostMessageA(box, WM_COMMAND, std::atoi(argv[3]), 0) ? 0 : 1;
    }
    HWND window = FindWindowA("VastrelApp", "Vastrel");
    if (argc >= 2 && std::strcmp(argv[1], "running") == 0) return window ? 0 : 1;
    if (!window) return 2;
    if (argc >= 3 && std::strcmp(argv[1], "command") == 0)
        return PostMessageA(window, WM_COMMAND, std::atoi(argv[2]), 0) ? 0 : 3;
    if (argc >= 3 && std::strcmp(argv[1], "tray") == 0)
        return PostMessageA(window, WM_USER + 1, 1, std::atoi(argv[2])) ? 0 : 3;
    if (argc >= 2 && std::strcmp(argv[1], "close-menu") == 0) {
        if (HWND menu = FindWindowA("#32768", nullptr)) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageA(window, WM_CANCELMODE, 0, 0);
        return 0;
    }
    return 4;
}
