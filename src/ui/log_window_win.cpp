// Windows implementation of ui/log_window.h.
#include <windows.h>

#include "app/app_win.h"
#include "log/log.h"
#include "res/resource.h"
#include "ui/log_window.h"

HWND LogWindow = nullptr;

namespace {
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

INT_PTR CALLBACK LogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        LogWindow = dialog;
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
