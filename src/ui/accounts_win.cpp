#include <windows.h>

#include <algorithm>
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
#include "app/account_state.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"
#include "update/services.h"

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
bool edited = false;            // an Add, Update or Delete since the dialog opened

bool ChangesField(int id, int code) {
    switch (id) {
    case IDC_ACCOUNT_UPDATE:
    case IDC_ACCOUNT_WILDCARDS:
    case IDC_ACCOUNT_BACKUPMX:
        return code == BN_CLICKED;
    case IDC_ACCOUNT_SERVER:
    case IDC_ACCOUNT_ADDRESSES:
        return code == CBN_SELCHANGE;
    case IDC_ACCOUNT_HOST:
    case IDC_ACCOUNT_USER:
    case IDC_ACCOUNT_PASSWORD:
    case IDC_ACCOUNT_MX:
    case IDC_ACCOUNT_UPDATE_SERVER:
        return code == EN_CHANGE;
    default:
        return false;
    }
}

void TakeUntouchedFields(const Account& stored, Account& form) {
    auto untouched = [](int id) { return touched.count(id) == 0; };
    Account record = stored;
    TerminateAccountTexts(record);
    if (untouched(IDC_ACCOUNT_UPDATE)) form.Update = record.Update;
    if (untouched(IDC_ACCOUNT_SERVER)) {  // one choice: a maker's row or a service
        form.Server = record.Server;
        form.Service = record.Service;
    }
    if (untouched(IDC_ACCOUNT_HOST)) CopyField(form.HostName, record.HostName);
    // Where the form keeps them follows its server, which may be a new one.
    if (untouched(IDC_ACCOUNT_USER)) SetFormUserName(form, AccountUserName(record));
    if (untouched(IDC_ACCOUNT_PASSWORD)) SetFormPassword(form, AccountPassword(record));
    if (untouched(IDC_ACCOUNT_WILDCARDS)) form.Wildcards = record.Wildcards;
    if (untouched(IDC_ACCOUNT_MX)) CopyField(form.MailExtender, record.MailExtender);
    if (untouched(IDC_ACCOUNT_BACKUPMX)) form.BackupMX = record.BackupMX;
    if (untouched(IDC_ACCOUNT_UPDATE_SERVER)) CopyField(form.UpdateServer, record.UpdateServer);
    if (untouched(IDC_ACCOUNT_ADDRESSES)) form.Addresses = record.Addresses;
}

// Told on a run's thread, with the shared lock held and the copy open (so
// the dialog exists): only posts.
void PostRunResult() { PostMessageA(AccountsDialog, RunResultMessage, 0, 0); }

// The Server list and the fixed rows of "Addresses".
void FillServerCombo(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_RESETCONTENT, 0, 0);
    for (int choice = 0; choice < ServerChoiceCount; ++choice) {
        LRESULT item = SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_ADDSTRING, 0,
                                           reinterpret_cast<LPARAM>(ServerChoiceName(choice)));
        if (item >= 0) SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_SETITEMDATA, item, choice);
    }
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_RESETCONTENT, 0, 0);
    for (const char* label : AddressesLabels)
        SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
}

// A field's whole text: one longer than the record keeps is refused on Add, never cut.
std::string FieldText(HWND dialog, int control) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(GetDlgItem(dialog, control))) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetDlgItemTextA(dialog, control, &text[0], static_cast<int>(text.size()))));
    return text;
}

// The last try's outcome and the addresses the service has, for the account the form shows.
void ShowAccountState(HWND dialog, const Account* record) {
    // The blank form says how to fill it: the first thing a new user sees here.
    SetDlgItemTextA(dialog, IDC_ACCOUNT_STATE,
                    record ? AccountStateText(*record).c_str()
                           : "To add an account, choose your service under Server, fill in the fields, then press Add.");
}

// Labels, limits and the fields that take input, for the server or service chosen.
void ShowServerFields(HWND dialog) {
    Account choice{};
    TakeServerChoice(Selection(dialog, IDC_ACCOUNT_SERVER), choice);
    const AccountFormShape shape = AccountFormFor(choice.Server, choice.Service);
    SetLabel(dialog, IDC_ACCOUNT_USER_LABEL, shape.UserLabel);
    SetLabel(dialog, IDC_ACCOUNT_PASSWORD_LABEL, shape.PasswordLabel);
    SetLabel(dialog, IDC_ACCOUNT_UPDATE_SERVER_LABEL, shape.ServerLabel);
    auto enable = [&](int control, unsigned field) {
        EnableWindow(GetDlgItem(dialog, control), (shape.Fields & field) != 0);
    };
    enable(IDC_ACCOUNT_USER, TakesUserName);
    enable(IDC_ACCOUNT_WILDCARDS, TakesWildcards);
    enable(IDC_ACCOUNT_MX, TakesMailExtender);
    enable(IDC_ACCOUNT_BACKUPMX, TakesBackupMX);
    enable(IDC_ACCOUNT_UPDATE_SERVER, TakesUpdateServer);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_ADDRESSES), shape.TakesAddresses);
    // A service that keeps one family an account offers no "IPv4 and IPv6".
    const int selected = Selection(dialog, IDC_ACCOUNT_ADDRESSES);
    const LRESULT rows = shape.AddressChoices == 2 ? 2 : AddressesChoiceCount;
    LRESULT count = SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_GETCOUNT, 0, 0);
    for (; count > rows; --count) SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_DELETESTRING, count - 1, 0);
    for (; count >= 0 && count < rows; ++count)
        SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(AddressesLabels[count]));
    if (selected >= shape.AddressChoices && selected != AddressesIPv4) {
        // Shown as "IPv4", and so stored: the record's other choice must not come back unseen.
        SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_SETCURSEL, AddressesIPv4, 0);
        touched.insert(IDC_ACCOUNT_ADDRESSES);
    } else {
        SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_SETCURSEL, selected, 0);
    }
}

// The form as a record; tooLong, when given, gets why a text does not fit.
Account ReadAccountFields(HWND dialog, std::string* tooLong = nullptr) {
    Account form{};
    form.Update = Checked(dialog, IDC_ACCOUNT_UPDATE);
    TakeServerChoice(Selection(dialog, IDC_ACCOUNT_SERVER), form);
    const FormTexts texts{FieldText(dialog, IDC_ACCOUNT_HOST), FieldText(dialog, IDC_ACCOUNT_USER),
                          FieldText(dialog, IDC_ACCOUNT_PASSWORD), FieldText(dialog, IDC_ACCOUNT_MX),
                          FieldText(dialog, IDC_ACCOUNT_UPDATE_SERVER)};
    const std::string problem = TakeFormTexts(texts, form);
    if (tooLong) *tooLong = problem;
    form.Wildcards = Checked(dialog, IDC_ACCOUNT_WILDCARDS);
    form.BackupMX = Checked(dialog, IDC_ACCOUNT_BACKUPMX);
    form.Addresses = Selection(dialog, IDC_ACCOUNT_ADDRESSES);
    TerminateAccountTexts(form);
    ClearFieldsNotTaken(form);
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
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_SERVER, CB_SETCURSEL, static_cast<WPARAM>(ServerChoiceOf(a)), 0);
    ShowServerFields(dialog);  // the limits of the user name and password
    // No limit while typing: a longer text is refused on Add with its limit named, never cut unseen.
    SetField(dialog, IDC_ACCOUNT_HOST, a.HostName, 0);
    SetField(dialog, IDC_ACCOUNT_USER, AccountUserName(a), 0);
    SetField(dialog, IDC_ACCOUNT_PASSWORD, AccountPassword(a), 0);
    Check(dialog, IDC_ACCOUNT_WILDCARDS, a.Wildcards);
    SetField(dialog, IDC_ACCOUNT_MX, a.MailExtender, 0);
    Check(dialog, IDC_ACCOUNT_BACKUPMX, a.BackupMX);
    SetField(dialog, IDC_ACCOUNT_UPDATE_SERVER, a.UpdateServer, 0);
    ShowAccountState(dialog, identity ? &a : nullptr);
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_ADDRESSES, CB_SETCURSEL, AddressesChoiceOf(a), 0);
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
    // A long host with its state may be wider than the list: it scrolls sideways, never cut.
    HWND list = GetDlgItem(dialog, IDC_ACCOUNT_LIST);
    HDC dc = GetDC(list);
    HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (int i = 0; i < count; ++i) {
        char row[AccountRowSize];
        AccountRowText(table.Accounts[i], row, sizeof row);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
        SIZE extent{};
        if (GetTextExtentPoint32A(dc, row, lstrlenA(row), &extent)) widest = std::max(widest, extent.cx);
    }
    SelectObject(dc, font);
    ReleaseDC(list, dc);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 4), 0);
}

void RefreshAccountList(HWND dialog) {
    HWND focus = GetFocus();  // before the form's buttons are disabled
    FillAccountList(dialog);
    Account blank{};
    blank.Server = -1;
    LoadAccountFields(blank, 0, dialog);
    Check(dialog, IDC_ACCOUNT_UPDATE, 1);
    // The button just pressed is now disabled: the focus goes to a new form's first choice, not nowhere.
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_APPLY), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_DELETE), FALSE);
    if (focus == GetDlgItem(dialog, IDC_ACCOUNT_APPLY) || focus == GetDlgItem(dialog, IDC_ACCOUNT_DELETE))
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_ACCOUNT_SERVER)), TRUE);
}

// A run's result reached the working copy: the rows show it (an account the
// service refused now reads " (disabled)"); the selection and the form stay.
void ShowRunResults(HWND dialog) {
    const LRESULT selected = SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0);
    const LRESULT top = SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETTOPINDEX, 0, 0);
    FillAccountList(dialog);
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_SETCURSEL, selected, 0);
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_SETTOPINDEX, top, 0);
    // The account the form shows tells its new state.
    Account shown;
    bool found = false;
    {
        SharedDataGuard guard(SharedDataMutex());
        const AccountSet* edits = AccountEdits();
        const int position = edits && formAccount ? FindIdentity(*edits, formAccount) : -1;
        if (position >= 0) shown = edits->Accounts[position], found = true;
    }
    if (found) ShowAccountState(dialog, &shown);
}

// Applies the form; false when it was refused, the form keeping what was typed.
bool Apply(HWND dialog) {
    std::string tooLong;
    Account form = ReadAccountFields(dialog, &tooLong);
    if (!tooLong.empty()) {
        MessageBoxA(dialog, tooLong.c_str(), Caption, MB_OK | MB_ICONWARNING);
        return false;  // the form keeps what was typed
    }
    if (!AccountFormComplete(form)) {
        MessageBoxA(dialog, "Choose a server and fill in the fields it needs first.", Caption, MB_OK | MB_ICONWARNING);
        return false;
    }
    if (const AccountTextField* field = UnsafeAccountField(form)) {
        // Pasted text gets past the keyboard; sent, it would break the request.
        std::string message = std::string("The ") + field->Label + " cannot contain " +
                              (field->NoBlanks ? "blanks or control characters." : "control characters.");
        MessageBoxA(dialog, message.c_str(), Caption, MB_OK | MB_ICONWARNING);
        return false;  // the form keeps what was typed
    }
    const std::string problem = AccountFormProblem(form);
    if (!problem.empty()) {
        MessageBoxA(dialog, problem.c_str(), Caption, MB_OK | MB_ICONWARNING);
        return false;
    }
    bool full = false;
    {
        SharedDataGuard guard(SharedDataMutex());
        AccountSet* edits = AccountEdits();
        if (!edits) return false;
        const int shown = FindIdentity(*edits, formAccount);
        if (shown >= 0) TakeUntouchedFields(edits->Accounts[shown], form);
        ClearFieldsNotTaken(form);  // a record's untouched values may belong to its old server
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
        return false;  // the form keeps what was typed
    }
    edited = true;
    RefreshAccountList(dialog);
    return true;
}

void Delete(HWND dialog) {
    const int position = static_cast<int>(SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETCURSEL, 0, 0));
    if (position < 0) return;
    char row[AccountRowSize] = "";
    SendDlgItemMessageA(dialog, IDC_ACCOUNT_LIST, LB_GETTEXT, position, reinterpret_cast<LPARAM>(row));
    const std::string question = std::string("Delete the account ") + row +
                                 "? OK then removes it, with its password or token, from this computer.";
    if (MessageBoxA(dialog, question.c_str(), Caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
    {
        SharedDataGuard guard(SharedDataMutex());
        if (AccountSet* edits = AccountEdits()) RemoveAccount(*edits, position);
    }
    edited = true;
    RefreshAccountList(dialog);
}

// The form holds typing that no Add or Update took yet.
bool FormPending(HWND dialog) {
    if (touched.empty()) return false;
    const Account form = ReadAccountFields(dialog);
    return form.HostName[0] || AccountUserName(form)[0] || AccountPassword(form)[0];
}

// OK with typing not yet added: add it first, drop it, or stay. False: stay.
bool SettleFormBeforeOk(HWND dialog) {
    if (!FormPending(dialog)) return true;
    const std::string question = std::string("The form holds an account that was not ") +
                                 (formAccount ? "updated" : "added") + " yet. " + (formAccount ? "Update" : "Add") +
                                 " it before closing?\n\nNo closes without it; Cancel goes back to the form.";
    switch (MessageBoxA(dialog, question.c_str(), Caption, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
        return Apply(dialog);
    case IDNO:
        return true;
    default:
        return false;
    }
}

// Cancel or the close box with changes not yet stored: asks before they go. False: stay.
bool MayDiscard(HWND dialog) {
    if (!edited && !FormPending(dialog)) return true;
    return MessageBoxA(dialog, "Discard the changes made to the accounts since the dialog opened?", Caption,
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
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
        if (!SettleFormBeforeOk(dialog)) break;
        CommitAccountEdits();
        AccountsCommitted();
        DestroyWindow(dialog);
        break;
    case IDCANCEL:
        if (!MayDiscard(dialog)) break;
        // The table already holds what is committed, runs' results included.
        DiscardAccountEdits();
        DestroyWindow(dialog);
        break;
    case IDC_ACCOUNT_USER:
    case IDC_ACCOUNT_PASSWORD:
    case IDC_ACCOUNT_HOST:
    case IDC_ACCOUNT_UPDATE_SERVER:
        if (code == EN_UPDATE) UpdateAccountButtons(dialog);
        break;
    case IDC_ACCOUNT_SERVER:
        if (code == CBN_SELCHANGE) {
            ShowServerFields(dialog);
            UpdateAccountButtons(dialog);
        }
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
        edited = false;
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
