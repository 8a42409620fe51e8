// The modeless dialogs of the tray menu: About, Properties and Accounts.
// Each exists at most once, has no owner and runs on the GUI thread.
#pragma once

#include <windows.h>

extern HWND AboutBox;
extern HWND PropertiesDialog;
extern HWND AccountsDialog;

void ShowAboutBox();
void OpenHelp();
void ShowPropertiesDialog();
void ShowAccountsDialog();

INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PropertiesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AccountsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills a combo box of a dialog with the acceptable local addresses, in the
// order whose index the "Interface" preference stores.
void FillAddressCombo(HWND dialog, int control);
