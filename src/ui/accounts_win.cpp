#include <windows.h>

#include <set>
#include <string>

#include "app/app_win.h"
#include "common/text.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "ui/dialog_controls_win.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"

HWND AccountsDialog = nullptr;

namespace {
const char* const Caption = "Vastrel Accounts";
// The dialog's own message: a run's result reached the working copy.
constexpr UINT RunResultMessage = WM_APP + 2;

// The form knows which record it shows and which of its fields the user
// changed since it was filled. Apply takes the others from that record as it
// is then, so that a result a run brought meanwhile (a refused account
// disabled) is not undone by a form that still shows the old value.
std::uint32_t formAccount = 0;  // identity in the working copy; 0: a blank form
std::set<int> touched;          // control ids

bool ChangesField(int id, int code) {
    switch (id) {
    case IDC_ACCOUNT_UPDATE:
    case IDC_ACCOUNT_WILDCARDS:
    case IDC_ACCOUNT_BACKUPMX:
        return code == BN_CLICKED;
    case IDC_ACCOUNT_SERVER:
        return code == CBN_SELCHANGE;
    case IDC_ACCOUNT_HOST:
    case IDC_ACCOUNT_USER:
    case IDC_ACCOUNT_PASSWORD:
    case IDC_ACCOUNT_MX:
        return code == EN_CHANGE;
    default:
        return false;
    }
}

void TakeUntouchedFields(const Account& record, Account& form) {
    auto untouched = [](int id) { return touched.count(id) == 0; };
    if (untouched(IDC_ACCOUNT_UPDATE)) form.Update = record.Update;
    if (untouched(IDC_ACCOUNT_SERVER)) form.Server = record.Server;
    if (untouched(IDC_ACCOUNT_HOST)) CopyField(form.HostName, record.HostName);
    if (untouched(IDC_ACCOUNT_USER)) CopyField(form.UserName, record.UserName);
    if (untouched(IDC_ACCOUNT_PASSWORD)) CopyField(form.Password, record.Password);
    if (untouched(IDC_ACCOUNT_WILDCARDS)) form.Wildcards = record.Wildcards;
    if (untouched(IDC_ACCOUNT_MX)) CopyField(form.MailExtender, record.MailExtender);
    if (untouched(IDC_ACCOUNT_BACKUPMX)) form.BackupMX = record.BackupMX;
}

// Told on a run's thread, with the shared lock held and the copy open (so
// the dialog exists): only posts.
void PostRunResult() { PostMessageA(AccountsDialog, RunResultMessage, 0, 0); }

void FillServerCombo(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_RESETCONTENT, 0, 0);
    for (int row = 0; ServerTable[row].Domain; ++row) {
        LRESULT item = SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_ADDSTRING, 0,
                                           reinterpret_cast<LPARAM>(ServerTable[row].Domain));
        if (item >= 0) SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_SETITEMDATA, item, row);
    }
}

Account ReadAccountFields(HWND dialog) {
    Account form{};
    form.Update = Checked(dialog, IDC_ACCOUNT_UPDATE);
    form.Server = Selection(dialog, IDC_ACCOUNT_SERVER);
    GetDlgItemTextA(dialog, IDC_ACCOUNT_HOST, form.HostName, sizeof form.HostName);
    GetDlgItemTextA(dialog, IDC_ACCOUNT_USER, form.UserName, sizeof form.UserName);
    GetDlgItemTextA(dialog, IDC_ACCOUNT_PASSWORD, form.Password, sizeof form.Password);
    form.Wildcards = Checked(dialog, IDC_ACCOUNT_WILDCARDS);
    GetDlgItemTextA(dialog, IDC_ACCOUNT_MX, form.MailExtender, sizeof form.MailExtender);
    form.BackupMX = Checked(dialog, IDC_ACCOUNT_BACKUPMX);
    TerminateAccountTexts(form);
    return form;
}

// The dialog works on the working copy of the table (see account_edits.h);
// these read and change it under the lock, as run results may arrive.
int Find(const Account& form) {
    SharedDataGuard guard(SharedDataMutex());
    int position = -1;
    if (AccountSet* edits = AccountEdits()) FindAccount(*edits, form, &position);
    return position;
}

void UpdateAccountButtons(HWND dialog) {
    const Account form = ReadAccountFields(dialog);
    const bool complete = AccountFormComplete(form);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_APPLY), complete);
    if (complete) SetDlgItemTextA(dialog, IDC_ACCOUNT_APPLY, Find(form) >= 0 ? "Update" : "Add");
    const bool selected = SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0) >= 0;
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_DELETE), selected);
}

// Fills the form from the record with that identity (0 for the blank form).
void LoadAccountFields(const Account& record, std::uint32_t identity, HWND dialog) {
    Account a = record;
    TerminateAccountTexts(a);
    Check(dialog, IDC_ACCOUNT_UPDATE, a.Update);
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_SETCURSEL, static_cast<WPARAM>(a.Server), 0);
    SetField(dialog, IDC_ACCOUNT_HOST, a.HostName, sizeof a.HostName - 1);
    SetField(dialog, IDC_ACCOUNT_USER, a.UserName, sizeof a.UserName - 1);
    SetField(dialog, IDC_ACCOUNT_PASSWORD, a.Password, sizeof a.Password - 1);
    Check(dialog, IDC_ACCOUNT_WILDCARDS, a.Wildcards);
    SetField(dialog, IDC_ACCOUNT_MX, a.MailExtender, sizeof a.MailExtender - 1);
    Check(dialog, IDC_ACCOUNT_BACKUPMX, a.BackupMX);
    UpdateAccountButtons(dialog);
    formAccount = identity;
    touched.clear();  // setting the fields above notified as if typed
}

// One row per account of the working copy, in table order.
void FillAccountList(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_RESETCONTENT, 0, 0);
    AccountSet table{};
    int count = 0;
    {
        SharedDataGuard guard(SharedDataMutex());
        if (AccountSet* edits = AccountEdits()) {
            table = *edits;
            count = ValidAccountCount(table);
        }
    }
    for (int i = 0; i < count; ++i) {
        char row[AccountRowSize];
        AccountRowText(table.Accounts[i], row, sizeof row);
        SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
    }
}

void RefreshAccountList(HWND dialog) {
    FillAccountList(dialog);
    Account blank{};
    blank.Server = -1;
    LoadAccountFields(blank, 0, dialog);
    Check(dialog, IDC_ACCOUNT_UPDATE, 1);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_APPLY), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_DELETE), FALSE);
}

// A run's result reached the working copy: the rows show it (an account the
// service refused now reads " (disabled)"); the selection and the form stay.
void ShowRunResults(HWND dialog) {
    const LRESULT selected = SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0);
    const LRESULT top = SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETTOPINDEX, 0, 0);
    FillAccountList(dialog);
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_SETCURSEL, selected, 0);
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_SETTOPINDEX, top, 0);
}

void Apply(HWND dialog) {
    Account form = ReadAccountFields(dialog);
    if (!AccountFormComplete(form)) {
        MessageBoxA(dialog, "Choose a server and type the host name, user name and password first.", Caption,
                    MB_OK | MB_ICONWARNING);
        return;
    }
    if (const AccountTextField* field = UnsafeAccountField(form)) {
        // Pasted text gets past the keyboard; sent, it would break the request.
        std::string message = std::string("The ") + field->Label + " cannot contain " +
                              (field->NoBlanks ? "blanks or control characters." : "control characters.");
        MessageBoxA(dialog, message.c_str(), Caption, MB_OK | MB_ICONWARNING);
        return;  // the form keeps what was typed
    }
    bool full = false;
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountSet* edits = AccountEdits();
        if (!edits) return;
        const int shown = FindIdentity(*edits, formAccount);
        if (shown >= 0) TakeUntouchedFields(edits->Accounts[shown], form);
        int position = -1;
        if (FindAccount(*edits, form, &position) && position >= 0) {
            // Unchanged for the service, the account keeps its history and an
            // unchanged address is not sent again; changed, it is sent next run.
            KeepAccountHistory(edits->Accounts[position], form);
            ReplaceAccount(*edits, position, form);
        } else {
            full = AppendAccount(*edits, form) == 0;
        }
    }
    if (full) {
        MessageBoxA(dialog, "The account cannot be added: Vastrel keeps at most 32 accounts. Delete one first.",
                    Caption, MB_OK | MB_ICONWARNING);
        return;  // the form keeps what was typed
    }
    RefreshAccountList(dialog);
}

void Delete(HWND dialog) {
    const int position = static_cast<int>(SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0));
    if (position < 0) return;
    {
        SharedDataGuard guard(SharedDataMutex());
        if (AccountSet* edits = AccountEdits()) RemoveAccount(*edits, position);
    }
    RefreshAccountList(dialog);
}

void SelectionChanged(HWND dialog) {
    const int position = static_cast<int>(SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0));
    if (position < 0) return;
    Account record;
    std::uint32_t identity;
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountSet* edits = AccountEdits();
        if (!edits || position >= ValidAccountCount(*edits)) return;
        record = edits->Accounts[position];
        identity = AccountIdentity(*edits, position);
    }
    LoadAccountFields(record, identity, dialog);
}

void Command(HWND dialog, int id, int code) {
    if (ChangesField(id, code)) touched.insert(id);
    switch (id) {
    case IDOK:
        CommitAccountEdits();
        DestroyWindow(dialog);
        break;
    case IDCANCEL:
        // The table already holds what is committed, runs' results included.
        DiscardAccountEdits();
        DestroyWindow(dialog);
        break;
    case IDC_ACCOUNT_USER:
    case IDC_ACCOUNT_PASSWORD:
    case IDC_ACCOUNT_HOST:
        if (code == EN_UPDATE) UpdateAccountButtons(dialog);
        break;
    case IDC_ACCOUNT_SERVER:
        if (code == CBN_SELCHANGE) UpdateAccountButtons(dialog);
        break;
    case IDC_ACCOUNT_LIST:
        if (code == LBN_SELCHANGE) SelectionChanged(dialog);
        break;
    case IDC_ACCOUNT_APPLY:
        Apply(dialog);
        break;
    case IDC_ACCOUNT_DELETE:
        Delete(dialog);
        break;
    default:
        break;
    }
}
}  // namespace

void ShowAccountsDialog() {
    if (!AccountsDialog)
        CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_ACCOUNTS), nullptr, AccountsDialogProc, 0);
    if (AccountsDialog) ShowWindow(AccountsDialog, SW_SHOW);
}

INT_PTR CALLBACK AccountsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        AccountsDialog = dialog;
        BeginAccountEdits(PostRunResult);
        FillServerCombo(dialog);
        RefreshAccountList(dialog);
        SetForegroundWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        Command(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case RunResultMessage:
        ShowRunResults(dialog);
        return TRUE;
    case WM_DESTROY:
        // Closed without "OK" (at shutdown, say): its edits are not kept.
        DiscardAccountEdits();
        AccountsDialog = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}
