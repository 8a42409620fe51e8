#include <windows.h>

#include "ui/dialogs.h"
#include "update/address.h"

void FillAddressCombo(HWND dialog, int control) {
    std::uint32_t addresses[MaxInterfaces] = {};
    const int count = ListAcceptableAddresses(addresses);
    SendDlgItemMessageA(dialog, control, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count && i < MaxInterfaces; ++i) {
        char dotted[16];
        FormatAddress(addresses[i], dotted);
        SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(dotted));
    }
}
