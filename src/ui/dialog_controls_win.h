// The few control calls the dialogs share: check boxes, edit fields with
// their limits, and drop-down selections.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

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
