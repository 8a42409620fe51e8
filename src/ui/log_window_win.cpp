// Windows implementation of ui/log_window.h.
#include <windows.h>

#include <algorithm>

#include "app/app_win.h"
#include "log/log.h"
#include "res/resource.h"
#include "ui/log_window.h"

HWND LogWindow = nullptr;

namespace {
// The smallest client area in dialog units: the button and a few lines.
constexpr int MinimumWidth = 120, MinimumHeight = 70;

// The layout as the template made it, kept at creation: the list's margins
// and the button's distance from the client area's bottom right corner.
RECT listMargins{};
POINT buttonFromCorner{};
POINT minimumSize{};  // of the whole window, in pixels

RECT PlaceOf(HWND dialog, int control) {
    RECT place{};
    GetWindowRect(GetDlgItem(dialog, control), &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

void KeepLayout(HWND dialog) {
    RECT client{};
    GetClientRect(dialog, &client);
    const RECT list = PlaceOf(dialog, IDC_LOG_LIST), button = PlaceOf(dialog, IDOK);
    listMargins = {list.left, list.top, client.right - list.right, client.bottom - list.bottom};
    buttonFromCorner = {client.right - button.left, client.bottom - button.top};
    RECT minimum = {0, 0, MinimumWidth, MinimumHeight};
    MapDialogRect(dialog, &minimum);
    AdjustWindowRectEx(&minimum, static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)));
    minimumSize = {minimum.right - minimum.left, minimum.bottom - minimum.top};
}

// The list fills the window but for its margins; the button keeps to its
// corner and is drawn afresh there, not copied from where it stood.
void FollowSize(HWND dialog, int width, int height) {
    const RECT& m = listMargins;
    MoveWindow(GetDlgItem(dialog, IDC_LOG_LIST), m.left, m.top, std::max<LONG>(0, width - m.left - m.right),
               std::max<LONG>(0, height - m.top - m.bottom), TRUE);
    SetWindowPos(GetDlgItem(dialog, IDOK), nullptr, width - buttonFromCorner.x, height - buttonFromCorner.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

void EnsureHidden() {
    // Created on the GUI thread only; start-up's first line makes it there.
    if (!LogWindow && OnGuiThread()) ShowLogWindow(false);
}

void AddLine(const char* line) {
    // Added, trimmed and scrolled in one call on the GUI thread, so that the
    // lines of two threads never trim each other's. A worker waits here.
    RunOnGuiThread([line] {
        HWND list = LogWindow ? GetDlgItem(LogWindow, IDC_LOG_LIST) : nullptr;
        if (!list || SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line)) < 0) return;
        LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (; count > LogWindowLines; --count) SendMessageA(list, LB_DELETESTRING, 0, 0);
        SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    });
}
}  // namespace

void ConnectLogWindow() {
    EnsureLogWindow = EnsureHidden;
    AddLogWindowLine = AddLine;
}

void ShowLogWindow(bool show) {
    if (!LogWindow) CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_LOG), nullptr, LogWindowProc, 0);
    if (show && LogWindow) ShowWindow(LogWindow, SW_SHOW);
}

INT_PTR CALLBACK LogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        LogWindow = dialog;
        KeepLayout(dialog);
        return TRUE;
    case WM_SIZE:
        // Also sent before WM_INITDIALOG, when there is no layout to follow yet.
        if (dialog == LogWindow && wParam != SIZE_MINIMIZED) FollowSize(dialog, LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_GETMINMAXINFO:
        if (minimumSize.x) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = minimumSize;
        return TRUE;
    case WM_DESTROY:
        LogWindow = nullptr;
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ShowWindow(dialog, SW_HIDE);
        return TRUE;
    default:
        return FALSE;
    }
}
