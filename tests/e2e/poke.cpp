// Test helper: sends the running program what a user would, from outside.
//   poke command ID      WM_COMMAND ID to the main window
//   poke tray LPARAM     the tray callback (515 double click, 516 right button)
//   poke close-menu      closes an open popup menu
//   poke running         exit code 0 when the main window exists
//   poke set CAPTION ID TEXT     sets the text of a control of that window
//   poke select CAPTION ID INDEX selects a combo box row, as a user would
//   poke click CAPTION ID        clicks a button of that window
//   poke exists CAPTION  exit code 0 when a window of that caption exists
//   poke answer CAPTION ID   answers the message box of that caption
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "set") == 0) {
        HWND dialog = FindWindowA(nullptr, argv[2]);
        HWND control = dialog ? GetDlgItem(dialog, std::atoi(argv[3])) : nullptr;
        return control && SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4])) ? 0 : 1;
    }
    if (argc >= 5 && std::strcmp(argv[1], "select") == 0) {
        HWND dialog = FindWindowA(nullptr, argv[2]);
        int id = std::atoi(argv[3]);
        HWND control = dialog ? GetDlgItem(dialog, id) : nullptr;
        if (!control || SendMessageA(control, CB_SETCURSEL, std::atoi(argv[4]), 0) == CB_ERR) return 1;
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "click") == 0) {
        HWND dialog = FindWindowA(nullptr, argv[2]);
        HWND control = dialog ? GetDlgItem(dialog, std::atoi(argv[3])) : nullptr;
        return control && IsWindowEnabled(control) && PostMessageA(control, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "exists") == 0) return FindWindowA(nullptr, argv[2]) ? 0 : 1;
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
