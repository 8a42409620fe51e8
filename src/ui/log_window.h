// The log window: a hidden dialog with one list that shows the log's lines
// as they are written. It lives on the GUI thread; workers' lines reach it
// as sent messages.
#pragma once

#include <windows.h>

extern HWND LogWindow;
// The list keeps the newest lines only; the log file has them all.
constexpr LRESULT LogWindowLines = 5000;
// Creates the window (hidden) when it does not exist, and shows it when asked.
void ShowLogWindow(bool show);
INT_PTR CALLBACK LogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Connects WriteLog to the log window; call on the GUI thread.
void ConnectLogWindow();
