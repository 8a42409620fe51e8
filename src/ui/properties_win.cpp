#include <windows.h>

#include <cstdio>
#include <string>

#include "app/app_win.h"
#include "common/text.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "ui/dialog_controls_win.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"
#include "update/public_address.h"

HWND PropertiesDialog = nullptr;

namespace {
const char* const Caption = "Vastrel Properties";

void EnableProxyFields(HWND dialog) {
    const BOOL on = Checked(dialog, IDC_USE_PROXY);
    EnableWindow(GetDlgItem(dialog, IDC_PROXY_SERVER), on);
    EnableWindow(GetDlgItem(dialog, IDC_PROXY_PORT), on);
}

// The public address replaces the interface choice; the choice is kept.
void EnableInterfaceList(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDC_INTERFACE), !Checked(dialog, IDC_USE_PUBLIC_ADDRESS));
}

void Open(HWND dialog) {
    PropertiesDialog = dialog;
    SendDlgItemMessageA(dialog, IDC_SLEEP_TIME, CB_RESETCONTENT, 0, 0);
    for (int row = 0; IntervalTable[row].Label; ++row)
        SendDlgItemMessageA(dialog, IDC_SLEEP_TIME, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(IntervalTable[row].Label));
    SendDlgItemMessageA(dialog, IDC_CONNECTION, CB_RESETCONTENT, 0, 0);
    for (const char* label : ConnectionLabels)
        SendDlgItemMessageA(dialog, IDC_CONNECTION, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    FillAddressCombo(dialog, IDC_INTERFACE);

    const PreferenceSet p = PreferenceSnapshot();
    Check(dialog, IDC_AUTOSTART, p.AutoStart);
    Check(dialog, IDC_START_DISABLED, p.StartDisabled);
    SetNumber(dialog, IDC_FIRST_CHECK, p.FirstCheck, 5);
    SetNumber(dialog, IDC_FORCE_DAYS, p.DaysToForcedUpdate, 2);
    SendDlgItemMessageA(dialog, IDC_SLEEP_TIME, CB_SETCURSEL, IntervalRowFor(p.SleepTime), 0);
    // An index with no row leaves the list without a selection.
    SendDlgItemMessageA(dialog, IDC_CONNECTION, CB_SETCURSEL, static_cast<WPARAM>(p.Connection), 0);
    SendDlgItemMessageA(dialog, IDC_INTERFACE, CB_SETCURSEL, static_cast<WPARAM>(p.Interface), 0);
    Check(dialog, IDC_USE_PROXY, p.UseProxy);
    char proxy[sizeof p.ProxyServer];
    CopyField(proxy, p.ProxyServer);
    SetField(dialog, IDC_PROXY_SERVER, proxy, sizeof proxy - 1);
    SetNumber(dialog, IDC_PROXY_PORT, p.ProxyPort, 5);
    Check(dialog, IDC_VERSION_CHECK, p.VersionCheck);
    Check(dialog, IDC_DETAILED_LOGGING, p.DetailedLogging);
    Check(dialog, IDC_USE_HTTPS, p.UseHTTPS);
    Check(dialog, IDC_USE_PUBLIC_ADDRESS, p.UsePublicAddress);
    char page[sizeof p.CheckIPAddress];
    CopyField(page, p.CheckIPAddress);
    SetField(dialog, IDC_CHECKIP_ADDRESS, page, sizeof page - 1);
    Check(dialog, IDC_SHOW_NOTIFICATIONS, p.ShowNotifications);
    EnableProxyFields(dialog);
    EnableInterfaceList(dialog);
    SetForegroundWindow(dialog);
}

// Tells the user why a field's text cannot be taken and selects it for correction.
void Refuse(HWND dialog, int control, const char* message) {
    MessageBoxA(dialog, message, Caption, MB_OK | MB_ICONWARNING);
    HWND field = GetDlgItem(dialog, control);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
}

// Reads one number field into *out; on bad text tells the user and puts the
// caret there. A disabled field the user cannot correct never blocks "OK":
// with bad text it keeps the value *out holds.
bool ReadNumber(HWND dialog, int control, const char* label, std::uint32_t maximum, std::int32_t* out) {
    char text[64] = "";
    GetDlgItemTextA(dialog, control, text, sizeof text);
    std::uint32_t value = 0;
    if (ReadNumberField(text, maximum, &value) == NumberField::Ok) {
        *out = static_cast<std::int32_t>(value);
        return true;
    }
    if (!IsWindowEnabled(GetDlgItem(dialog, control))) return true;
    char message[160];
    std::snprintf(message, sizeof message, "\"%s\" must be a whole number from 0 to %u.", label,
                  static_cast<unsigned>(maximum));
    Refuse(dialog, control, message);
    return false;
}

// Gives false, changing nothing, when a field cannot be taken as it is.
bool Accept(HWND dialog) {
    const PreferenceSet now = PreferenceSnapshot();
    std::int32_t firstCheck = now.FirstCheck, days = now.DaysToForcedUpdate, proxyPort = now.ProxyPort;
    if (!ReadNumber(dialog, IDC_FIRST_CHECK, "First check after", 99999, &firstCheck)) return false;
    if (!ReadNumber(dialog, IDC_FORCE_DAYS, "Force update after", 99, &days)) return false;
    if (!ReadNumber(dialog, IDC_PROXY_PORT, "Port number", 99999, &proxyPort)) return false;
    char proxy[sizeof Preferences.ProxyServer] = "";
    GetDlgItemTextA(dialog, IDC_PROXY_SERVER, proxy, sizeof proxy);
    // Empty: the build's own check-IP host, as before the page could be chosen.
    char page[sizeof Preferences.CheckIPAddress] = "";
    GetDlgItemTextA(dialog, IDC_CHECKIP_ADDRESS, page, sizeof page);
    ServiceTarget target;
    const char* why = nullptr;
    if (page[0] && !FindCheckIpPage(page, target, why)) {
        std::string message = "\"Check-IP page\" must be an http:// or https:// address with a host of at most ";
        message = message + "253 characters, such as " + DefaultCheckIpPage + ".";
        Refuse(dialog, IDC_CHECKIP_ADDRESS, message.c_str());
        return false;
    }
    const int interval = Selection(dialog, IDC_SLEEP_TIME);
    const int connection = Selection(dialog, IDC_CONNECTION);
    const int address = Selection(dialog, IDC_INTERFACE);
    {
        SharedDataGuard guard(SharedDataMutex());
        PreferenceSet& p = Preferences;
        p.AutoStart = Checked(dialog, IDC_AUTOSTART);
        p.StartDisabled = Checked(dialog, IDC_START_DISABLED);
        p.FirstCheck = firstCheck;
        p.DaysToForcedUpdate = days;
        IntervalOfRow(interval, &p.SleepTime);  // no row chosen: the interval stays
        p.Connection = connection;
        if (address >= 0) p.Interface = address;
        p.UseProxy = Checked(dialog, IDC_USE_PROXY);
        CopyText(p.ProxyServer, proxy);
        p.ProxyPort = proxyPort;
        p.VersionCheck = Checked(dialog, IDC_VERSION_CHECK);
        p.DetailedLogging = Checked(dialog, IDC_DETAILED_LOGGING);
        p.UseHTTPS = Checked(dialog, IDC_USE_HTTPS);
        p.UsePublicAddress = Checked(dialog, IDC_USE_PUBLIC_ADDRESS);
        CopyText(p.CheckIPAddress, page);
        p.ShowNotifications = Checked(dialog, IDC_SHOW_NOTIFICATIONS);
    }
    StoreSettings();
    return true;
}
}  // namespace

void ShowPropertiesDialog() {
    if (!PropertiesDialog)
        CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_PROPERTIES), nullptr, PropertiesDialogProc, 0);
    if (PropertiesDialog) ShowWindow(PropertiesDialog, SW_SHOW);
}

INT_PTR CALLBACK PropertiesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        Open(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (Accept(dialog)) DestroyWindow(dialog);
            break;
        case IDCANCEL:
            // Nothing was changed before OK; what runs stored meanwhile stays.
            ApplyTrayIconPreference(MainWindow);
            DestroyWindow(dialog);
            break;
        case IDC_USE_PROXY:
            EnableProxyFields(dialog);
            break;
        case IDC_USE_PUBLIC_ADDRESS:
            EnableInterfaceList(dialog);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_DESTROY:
        PropertiesDialog = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}
