// The few control calls the dialogs share: check boxes, edit fields with
// their limits, drop-down selections and labels set at run time.
#pragma once

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.h"

inline void Check(HWND dialog, int control, std::int32_t on) {
    CheckDlgButton(dialog, control, on ? BST_CHECKED : BST_UNCHECKED);
}
inline std::int32_t Checked(HWND dialog, int control) {
    return IsDlgButtonChecked(dialog, control) == BST_CHECKED ? 1 : 0;
}
// Sets a field's text and the number of characters that may be typed there.
inline void SetField(HWND dialog, int control, const char* text, int limit) {
    SendDlgItemMessageA(dialog, control, EM_LIMITTEXT, limit, 0);
    SetDlgItemTextA(dialog, control, text);
}
// A number field: the value as unsigned decimal.
inline void SetNumber(HWND dialog, int control, std::int32_t value, int limit) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
    SetField(dialog, control, text, limit);
}
// The selected row of a drop-down list, -1 when none.
inline int Selection(HWND dialog, int control) {
    return static_cast<int>(SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0));
}
// A label set at run time, with an access key so that Alt and the key reach
// the field after it: the first of its letters that no other label or button
// of the dialog has taken, unless the text marks one with "&" itself.
inline void SetLabel(HWND dialog, int control, const char* text) {
    std::string taken, label = text;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char other[128] = "";
        if (child == GetDlgItem(dialog, control) ||
            !(SendMessageA(child, WM_GETDLGCODE, 0, 0) & (DLGC_BUTTON | DLGC_STATIC)) ||
            !GetWindowTextA(child, other, sizeof other))
            continue;
        if (const char* mark = std::strchr(other, '&')) taken += LowerAscii(mark[1]);
    }
    for (std::size_t i = 0; !std::strchr(text, '&') && i < label.size(); ++i) {
        if (std::isalnum(static_cast<unsigned char>(label[i])) && taken.find(LowerAscii(label[i])) == std::string::npos) {
            label.insert(i, "&");
            break;
        }
    }
    SetDlgItemTextA(dialog, control, label.c_str());
}
