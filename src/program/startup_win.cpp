#include <windows.h>

#include "program/program_win.h"

#include "app/app_win.h"
#include "app/startup.h"
#include "common/program_path.h"
#include "log/log.h"
#include "model/account.h"
#include "model/preferences.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "ui/dialogs.h"
#include "ui/log_window.h"

bool StartProgram(HINSTANCE instance, const char* commandLine) {
    AppInstance = instance;
    GuiThreadId = GetCurrentThreadId();
    AutoExit = IsAutoExitCommandLine(commandLine) ? 1 : 0;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_GLOBE));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "VastrelApp";
    if (!RegisterClassA(&windowClass)) {
        WriteLog(LogTrace, "Couldn't register window class");
        return false;
    }
    if (HWND running = FindWindowA("VastrelApp", "Vastrel")) {
        WriteLog(LogTrace, "Signal previous instance of application");
        PostMessageA(running, WM_COMMAND, IDM_VIEWLOG, 0);
        return false;
    }
    MainWindow = CreateWindowExA(0, "VastrelApp", "Vastrel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 100, 100, nullptr,
                                 nullptr, instance, nullptr);
    if (!MainWindow) {
        WriteLog(LogTrace, "Couldn't create window");
        return false;
    }
    VersionCheckMutex = CreateMutexA(nullptr, FALSE, "VastrelVersionCheck");
    if (!VersionCheckMutex) {
        WriteLog(LogTrace, "Couldn't create mutex");
        return false;
    }
    char programPath[LogFilePathSize];
    if (OwnProgramPath(programPath, sizeof programPath))
        DeriveLogFilePath(programPath, LogFilePath, sizeof LogFilePath);
    ConnectLogWindow();
    ConnectShell();
    MenuWindows = {ShowLogWindow, ShowAboutBox, OpenHelp, ShowPropertiesDialog, ShowAccountsDialog};
    WriteLog(LogTrace, "Initialized program");
    InitSettings();
    ApplyTrayIconPreference(MainWindow);
    char version[8];
    GetOwnVersion(version);
    WriteLog(LogMilestone, "Vastrel", version, "initialized properly.");
    // Nothing is updated before an account exists: a first start shows where to add one.
    if (!AutoExit && ReadShared(AccountTable.Count) <= 0) ShowAccountsDialog();
    return true;
}

void RouteMessage(MSG& message) {
    for (HWND dialog : {AccountsDialog, PropertiesDialog, AboutBox, LogWindow})
        if (dialog && IsDialogMessageA(dialog, &message)) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) RouteMessage(message);
}

void ShutDownProgram() {
    RemoveTrayIcon(MainWindow);
    StopTimer(UpdateTimer);
    StopTimer(BlinkTimer);
    if (!ReadShared(AutoExit)) StopTimer(VersionTimer);
    CloseHandle(VersionCheckMutex);
    VersionCheckMutex = nullptr;
    StoreSettings();
    WriteLog(LogMilestone, "Vastrel", "terminated properly.");
}
