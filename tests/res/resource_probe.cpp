// Loads the linked resources by number, as the program does, and checks ids,
// texts, the dialogs' templates and the icon images against the layouts the
// program follows; none of the program's own names for them is used here.
#include <gtest/gtest.h>
#include <windows.h>
#include <uxtheme.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

HINSTANCE Self() { return GetModuleHandleA(nullptr); }

std::string LoadText(UINT id, int size = 1024) {
    std::vector<char> buf(size, '\0');
    int n = LoadStringA(Self(), id, buf.data(), size);
    return std::string(buf.data(), n > 0 ? n : 0);
}

// The raw bytes of a resource of the program.
const BYTE* RawResource(UINT id, WORD type, DWORD* size = nullptr) {
    HRSRC found = FindResourceA(Self(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
    if (!found) return nullptr;
    if (size) *size = SizeofResource(Self(), found);
    return static_cast<const BYTE*>(LockResource(LoadResource(Self(), found)));
}

// Loaded by number, as the program loads them, into buffers of the sizes it
// uses: a text that did not fit would come back cut.
TEST(Strings, TrayMenuAndVersionTexts) {
    struct Row {
        UINT id;
        int buffer;
        const char* text;
    } strings[] = {
        {103, 64, "Vastrel is enabled"},
        {104, 8, "1.5.7"},
        {105, 64, "Vastrel is disabled"},
        {106, 64, "Enable"},
        {107, 64, "Disable"},
        {108, 64, "Update failed"},
        {109, 64, "Connecting to server..."},
        {111, 128, "Vastrel: no accounts yet. Right-click, Accounts... to add one"},
        {110, 1024,
         "BE WARNED: too many updates in a short period of time WILL cause your accounts to be blocked due to "
         "abuse! Are you really REALLY sure you want to force an update?"},
    };
    for (const Row& row : strings) EXPECT_EQ(LoadText(row.id, row.buffer), row.text) << row.id;
}

struct MenuRow {
    UINT id;
    const char* text;  // nullptr: separator
};

const MenuRow kTrayMenu[] = {
    {40012, "View log..."}, {40007, "Check now"},   {40013, "Force update"},  {40009, "Snooze"},
    {40006, "Disable"},     {40008, "Accounts..."}, {40002, "Properties..."}, {0, nullptr},
    {40003, "Help..."},     {40004, "About..."},    {40005, "Exit"},
};

TEST(Menu, TrayPopupItemsInOrder) {
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(106));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    char caption[32] = {};
    GetMenuStringA(menu, 0, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, "Tray");

    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    const int count = sizeof kTrayMenu / sizeof kTrayMenu[0];
    ASSERT_EQ(GetMenuItemCount(popup), count);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        char text[64] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
        EXPECT_EQ(info.hSubMenu, nullptr);
        if (!kTrayMenu[i].text) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR);
            continue;
        }
        EXPECT_FALSE(info.fType & MFT_SEPARATOR);
        EXPECT_EQ(info.wID, kTrayMenu[i].id);
        EXPECT_STREQ(text, kTrayMenu[i].text);
        EXPECT_FALSE(info.fState & MFS_DEFAULT);  // the default is set when shown
        EXPECT_FALSE(info.fState & MFS_CHECKED);
        if (kTrayMenu[i].id == 40009)
            EXPECT_TRUE(info.fState & MFS_GRAYED);
        else
            EXPECT_FALSE(info.fState & MFS_GRAYED);
    }
    DestroyMenu(menu);
}

const UINT kIcons[] = {124, 125, 126, 128};
// The small-icon and icon sizes from 100 % to 200 % scaling.
const int kIconSizes[] = {16, 20, 24, 32, 48};

TEST(Icons, LoadAtEverySize) {
    for (UINT id : kIcons) {
        for (int size : kIconSizes) {
            SCOPED_TRACE(std::to_string(id) + " at " + std::to_string(size));
            HICON icon =
                static_cast<HICON>(LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
            ASSERT_NE(icon, nullptr);
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            EXPECT_TRUE(info.fIcon);
            BITMAP bm = {};
            HBITMAP colour = info.hbmColor ? info.hbmColor : info.hbmMask;
            ASSERT_TRUE(GetObjectA(colour, sizeof bm, &bm));
            EXPECT_EQ(bm.bmWidth, size);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            EXPECT_TRUE(DestroyIcon(icon));
        }
    }
}

// One image of an icon group as stored: its header and top-down pixel access.
struct IconImage {
    const BITMAPINFOHEADER* header = nullptr;
    int size = 0;
    const BYTE* Pixel(int x, int y) const {  // BGRA, y counted from the top
        const BYTE* bits = reinterpret_cast<const BYTE*>(header) + header->biSize;
        return bits + ((size - 1 - y) * size + x) * 4;
    }
};

IconImage FindImage(UINT group, int size) {
    IconImage image;
    const BYTE* dir = RawResource(group, 14);  // RT_GROUP_ICON
    if (!dir) return image;
    int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, size, size, LR_DEFAULTCOLOR);
    const BYTE* raw = id ? RawResource(id, 3) : nullptr;  // RT_ICON
    image.header = reinterpret_cast<const BITMAPINFOHEADER*>(raw);
    image.size = size;
    return image;
}

TEST(Icons, EachGroupHoldsEverySizeIn32Bits) {
    for (UINT id : kIcons) {
        for (int size : kIconSizes) {
            SCOPED_TRACE(std::to_string(id) + " at " + std::to_string(size));
            IconImage image = FindImage(id, size);
            ASSERT_NE(image.header, nullptr);
            EXPECT_EQ(image.header->biWidth, size);
            EXPECT_EQ(image.header->biHeight, 2 * size);
            EXPECT_EQ(image.header->biBitCount, 32);
            // Clear outside the disc, solid in its middle.
            EXPECT_EQ(image.Pixel(0, 0)[3], 0);
            EXPECT_EQ(image.Pixel(size - 1, size - 1)[3], 0);
            EXPECT_EQ(image.Pixel(size / 2, size / 2)[3], 255);
        }
    }
}

struct Tint {
    double r = 0, g = 0, b = 0;
    int semi = 0;      // pixels inside the rim that are partly see-through
    bool grey = true;  // every pixel has r == g == b
};

Tint Measure(UINT id, int size) {
    Tint t;
    IconImage image = FindImage(id, size);
    if (!image.header) return t;
    int solid = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const BYTE* p = image.Pixel(x, y);
            if (p[0] != p[1] || p[1] != p[2]) t.grey = false;
            int dx = 2 * x + 1 - size, dy = 2 * y + 1 - size;
            bool inner = dx * dx + dy * dy < (size - 6) * (size - 6);
            if (inner && p[3] < 200) ++t.semi;
            if (p[3] == 255) {
                t.b += p[0];
                t.g += p[1];
                t.r += p[2];
                ++solid;
            }
        }
    }
    if (solid) {
        t.r /= solid;
        t.g /= solid;
        t.b /= solid;
    }
    return t;
}

// The four states must be told apart at a glance, at tray size too.
TEST(Icons, StatesLookDifferent) {
    for (int size : kIconSizes) {
        SCOPED_TRACE(size);
        Tint globe = Measure(124, size), busy = Measure(125, size);
        Tint failed = Measure(126, size), disabled = Measure(128, size);
        EXPECT_GT(globe.b, globe.r + 40);  // blue ocean
        EXPECT_GT(globe.g, globe.r + 40);  // green land
        EXPECT_EQ(globe.semi, 0);
        EXPECT_GT(busy.semi, size);  // washed-out stripes
        EXPECT_GT(failed.r, failed.g + 40);
        EXPECT_GT(failed.r, failed.b + 40);
        EXPECT_TRUE(disabled.grey);
        EXPECT_FALSE(globe.grey);
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG ? TRUE : FALSE; }

// A child's rectangle in the dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Position and size in pixels, each converted on its own as the dialog
// manager does when it creates the controls.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT r = {x, y, cx, cy};
    MapDialogRect(dialog, &r);
    return r;
}

void ExpectRect(const RECT& got, const RECT& want) {
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right - got.left, want.right);
    EXPECT_EQ(got.bottom - got.top, want.bottom);
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// A dialog resource as compiled: the DLGTEMPLATE header, then menu, class,
// title and font, then each DWORD-aligned DLGITEMTEMPLATE with its class,
// text and creation data. Names and ordinals read as text; an ordinal as
// "#number" (the About picture's icon), a control's class ordinal by name.
struct TemplateControl {
    WORD id;
    std::string kind;
    DWORD style;
    short x, y, cx, cy;
    std::string text;
    DWORD exStyle;
};
struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, windowClass, title, font;
    WORD fontSize = 0;
    std::vector<TemplateControl> controls;
};

DialogTemplate ReadDialogTemplate(UINT id) {
    DialogTemplate dialog;
    const BYTE* raw = RawResource(id, 5);  // RT_DIALOG
    if (!raw) return dialog;
    DLGTEMPLATE head;
    memcpy(&head, raw, sizeof head);
    dialog.style = head.style;
    dialog.exStyle = head.dwExtendedStyle;
    dialog.x = head.x;
    dialog.y = head.y;
    dialog.cx = head.cx;
    dialog.cy = head.cy;
    const WORD* p = reinterpret_cast<const WORD*>(raw + 18);
    auto field = [&p] {
        std::string text;
        if (*p == 0xFFFF) {
            text = "#" + std::to_string(p[1]);
            p += 2;
            return text;
        }
        while (*p) text += static_cast<char>(*p++);
        ++p;
        return text;
    };
    dialog.menu = field();
    dialog.windowClass = field();
    dialog.title = field();
    if (head.style & DS_SETFONT) {
        dialog.fontSize = *p++;
        dialog.font = field();
    }
    for (int i = 0; i < head.cdit; ++i) {
        p = reinterpret_cast<const WORD*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t(3));
        DLGITEMTEMPLATE item;
        memcpy(&item, p, sizeof item);
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + 18);
        static const char* const classes[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
        std::string kind = field();
        for (int atom = 0x80; atom <= 0x85; ++atom)  // by ordinal, or by name in any case
            if (kind == "#" + std::to_string(atom) || lstrcmpiA(kind.c_str(), classes[atom - 0x80]) == 0)
                kind = classes[atom - 0x80];
        std::string text = field();
        p += 1 + *p / 2;  // creation data: its byte count, then the bytes
        dialog.controls.push_back(
            {item.id, kind, item.style, item.x, item.y, item.cx, item.cy, text, item.dwExtendedStyle});
    }
    return dialog;
}

// The layouts the program's dialogs follow, one table each, controls in
// template order. What the resource compiler adds to every control of a kind
// is in these styles too.
constexpr WORD NoId = 0xFFFF;
constexpr DWORD Child = WS_CHILD | WS_VISIBLE;
constexpr DWORD AutoCheckBox = Child | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD PushButton = Child | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD DefaultButton = Child | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD Label = Child | WS_GROUP | SS_LEFT;
// Ours beyond the given layouts: every drop-down list has a scroll bar (the
// eighteen intervals would not fit otherwise) and every edit field scrolls
// its text (an 80-character proxy server or host name is wider than its box).
constexpr DWORD DropDownList = Child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
constexpr DWORD EditField = Child | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL;
// Ours: the lists keep the height given (no integral height) and take the
// keyboard focus.
constexpr DWORD ListOfLines = Child | WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
constexpr DWORD TrayDialog = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;

struct DialogLayout {
    UINT resource;
    DWORD style;
    short cx, cy;
    const char* title;
    std::vector<TemplateControl> controls;
};

TemplateControl Control(WORD id, const char* kind, DWORD style, short x, short y, short cx, short cy,
                        const char* text = "") {
    return {id, kind, style, x, y, cx, cy, text, 0};
}

// Ours: the Properties labels reach to the fields (66 units instead of 41) so
// that "Proxy server" and "Port number" fit on one line.
constexpr short WiderLabel = 66 - 41;
// Ours: the boxes of "UseHTTPS" and "UsePublicAddress" sit above OK and
// Cancel, which move down by as much, and the dialog grows by as much.
constexpr short TwoMoreBoxes = 219 - 197;
// Ours: the check-IP page's label and field below them, by as much again.
constexpr short ThePageField = 247 - 219;
// Ours: the box of "ShowNotifications" below the page, by as much again.
constexpr short NoticesBox = 260 - 247;

const DialogLayout PropertiesLayout = {
    102,
    TrayDialog | DS_CONTEXTHELP,
    163,
    240 + ThePageField + NoticesBox,
    "Vastrel Properties",
    {
        Control(1002, "Button", AutoCheckBox, 7, 7, 149, 8, "Start automatically"),
        Control(1001, "Button", AutoCheckBox, 7, 18, 149, 8, "Start disabled"),
        Control(NoId, "Static", Label, 7, 33, 68, 11, "First check after"),
        Control(1018, "Edit", EditField | ES_NUMBER | ES_RIGHT, 76, 31, 60, 12),
        Control(NoId, "Static", Label, 140, 33, 16, 11, "sec."),
        Control(NoId, "Static", Label, 7, 49, 41 + WiderLabel, 11, "Check every"),
        Control(1012, "ComboBox", DropDownList, 76, 47, 80, 58),
        Control(NoId, "Static", Label, 7, 65, 68, 11, "Force update after"),
        Control(1019, "Edit", EditField | ES_NUMBER | ES_RIGHT, 76, 63, 60, 12),
        Control(NoId, "Static", Label, 140, 65, 16, 11, "days"),
        Control(NoId, "Static", Label, 7, 81, 41 + WiderLabel, 11, "Connection"),
        Control(1015, "ComboBox", DropDownList, 76, 79, 80, 58),
        Control(NoId, "Static", Label, 7, 97, 41 + WiderLabel, 11, "Interface"),
        Control(1022, "ComboBox", DropDownList, 76, 95, 80, 58),
        Control(1020, "Button", AutoCheckBox, 7, 113, 149, 10, "Use proxy server"),
        Control(NoId, "Static", Label, 7, 126, 41 + WiderLabel, 11, "Proxy server"),
        Control(1016, "Edit", EditField | WS_DISABLED, 76, 124, 80, 12),
        Control(NoId, "Static", Label, 7, 140, 41 + WiderLabel, 11, "Port number"),
        Control(1017, "Edit", EditField | ES_NUMBER | WS_DISABLED, 76, 140, 80, 12),
        Control(1003, "Button", AutoCheckBox, 7, 159, 149, 8, "Check for new versions"),
        Control(1004, "Button", AutoCheckBox, 7, 172, 149, 8, "Detailed logging"),
        // Ours: the two options beyond the original set, above OK and Cancel.
        Control(1035, "Button", AutoCheckBox, 7, 185, 149, 8, "Use a secure connection (HTTPS)"),
        Control(1040, "Button", AutoCheckBox | BS_MULTILINE | BS_TOP, 7, 198, 149, 16,
                "Find the public address on the web (behind a router)"),
        Control(NoId, "Static", Label, 7, 218, 149, 8, "Check-IP page"),
        Control(1045, "Edit", EditField, 7, 228, 149, 12),
        Control(1047, "Button", AutoCheckBox, 7, 245, 149, 8, "Show notifications"),
        Control(IDOK, "Button", DefaultButton, 7, 197 + TwoMoreBoxes + ThePageField + NoticesBox, 50, 14, "OK"),
        Control(IDCANCEL, "Button", PushButton, 106, 197 + TwoMoreBoxes + ThePageField + NoticesBox, 50, 14, "Cancel"),
    }};

// Ours: the notice line (the layout leaves its text to us), and the web
// address as the template holds it before the box puts the build's host in.
const DialogLayout AboutLayout = {
    103,
    TrayDialog,
    233,
    65,
    "About Vastrel",
    {
        Control(NoId, "Static", Child | SS_ICON | SS_CENTERIMAGE, 13, 14, 20, 20, "#124"),
        Control(IDOK, "Button", DefaultButton, 177, 7, 49, 16, "OK"),
        Control(1007, "Static", Label, 43, 14, 125, 8, "Vastrel dynamic DNS updater"),
        Control(1008, "Static", Label, 43, 26, 110, 8, "(C) 2026 Brannock, MIT License"),
        Control(1009, "Static", Label, 43, 39, 168, 8, "http://www.brannock.example/"),
    }};

// The layout places each field's label at x 123 and gives no more; ours sit
// two units below their field's top, 46 units wide. The check boxes carry no
// text of their own. Ours: "Update server" below the others, 48 wide for room;
// the buttons 16 units lower, the list and the dialog 16 taller for it; and
// "Addresses" below "Password", everything under it 16 lower again; the
// shown account's state under the fields, the buttons 26 lower for it.
const DialogLayout AccountsLayout = {119,
                                     TrayDialog,
                                     299,
                                     252,
                                     "Vastrel Accounts",
                                     {
                                         Control(1028, "ListBox", ListOfLines | WS_HSCROLL, 7, 7, 108, 211),
                                         Control(NoId, "Static", Label, 123, 9, 46, 8, "Update"),
                                         Control(1034, "Button", AutoCheckBox, 171, 7, 11, 12),
                                         Control(NoId, "Static", Label, 123, 22, 46, 8, "Server"),
                                         Control(1029, "ComboBox", DropDownList, 172, 20, 120, 220),
                                         Control(NoId, "Static", Label, 123, 38, 46, 8, "Host"),
                                         Control(1015, "Edit", EditField, 172, 36, 120, 12),
                                         Control(1041, "Static", Label, 123, 54, 46, 8, "User name"),
                                         Control(1013, "Edit", EditField, 172, 52, 120, 12),
                                         Control(1042, "Static", Label, 123, 70, 46, 8, "Password"),
                                         Control(1014, "Edit", EditField | ES_PASSWORD, 172, 68, 120, 12),
                                         Control(NoId, "Static", Label, 123, 86, 46, 8, "Addresses"),
                                         Control(1046, "ComboBox", DropDownList | WS_DISABLED, 172, 84, 120, 58),
                                         Control(NoId, "Static", Label, 123, 102, 46, 8, "Wildcards"),
                                         Control(1033, "Button", AutoCheckBox, 171, 100, 11, 12),
                                         Control(NoId, "Static", Label, 123, 116, 46, 8, "Mail Extender"),
                                         Control(1016, "Edit", EditField, 172, 114, 120, 12),
                                         Control(NoId, "Static", Label, 123, 132, 46, 8, "Backup MX"),
                                         Control(1032, "Button", AutoCheckBox, 171, 130, 11, 12),
                                         Control(1043, "Static", Label, 123, 148, 48, 8, "Update server"),
                                         Control(1044, "Edit", EditField | WS_DISABLED, 172, 146, 120, 12),
                                         Control(1048, "Static", Label | SS_NOPREFIX, 123, 164, 169, 32),
                                         Control(1030, "Button", PushButton, 121, 203, 50, 14, "Add"),
                                         Control(1031, "Button", PushButton, 242, 203, 50, 14, "Delete"),
                                         Control(IDOK, "Button", DefaultButton, 7, 231, 50, 14, "OK"),
                                         Control(IDCANCEL, "Button", PushButton, 242, 231, 50, 14, "Cancel"),
                                     }};

// Hidden until shown, and placed at the screen's corner (no DS_CENTER).
const DialogLayout LogLayout = {121,
                                WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CLIPCHILDREN |
                                    DS_MODALFRAME | DS_SETFONT,
                                306,
                                177,
                                "Vastrel Update Log",
                                {
                                    Control(1034, "ListBox", ListOfLines, 7, 7, 292, 139),
                                    Control(IDOK, "Button", DefaultButton, 249, 156, 50, 14, "OK"),
                                }};

std::string Describe(const TemplateControl& c) {
    std::string plain = c.text;  // without the "&" before an access key
    plain.erase(std::remove(plain.begin(), plain.end(), '&'), plain.end());
    char text[160];
    std::snprintf(text, sizeof text, "id %u %s style 0x%08lx at %d,%d %dx%d \"%s\"", c.id, c.kind.c_str(),
                  static_cast<unsigned long>(c.style), c.x, c.y, c.cx, c.cy, plain.c_str());
    return text;
}

TEST(Dialogs, TemplatesFollowTheirLayouts) {
    for (const DialogLayout* layout : {&PropertiesLayout, &AboutLayout, &AccountsLayout, &LogLayout}) {
        SCOPED_TRACE(layout->title);
        const DialogTemplate got = ReadDialogTemplate(layout->resource);
        EXPECT_EQ(got.style, layout->style);
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.x, 0);
        EXPECT_EQ(got.y, 0);
        EXPECT_EQ(got.cx, layout->cx);
        EXPECT_EQ(got.cy, layout->cy);
        EXPECT_EQ(got.menu, "");
        EXPECT_EQ(got.windowClass, "");  // the standard dialog class
        EXPECT_EQ(got.title, layout->title);
        EXPECT_EQ(got.fontSize, 8);
        EXPECT_EQ(got.font, "MS Sans Serif");
        ASSERT_EQ(got.controls.size(), layout->controls.size());
        for (std::size_t i = 0; i < got.controls.size(); ++i)
            EXPECT_EQ(Describe(got.controls[i]), Describe(layout->controls[i])) << "control " << i;
        std::string keys;  // no two controls share an access key
        for (const TemplateControl& c : got.controls) {
            EXPECT_EQ(c.exStyle, 0u) << Describe(c);
            const std::size_t mark = c.text.find('&') + 1;
            EXPECT_TRUE(!mark || keys.find(char(tolower(c.text[mark]))) == keys.npos) << c.text;
            if (mark) keys += char(tolower(c.text[mark]));
        }
    }
}

TEST(LogDialog, CreatesHiddenWithListAndButton) {
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(121), nullptr, QuietDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog), "Vastrel Update Log");
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(GetParent(dialog), nullptr);
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(style & WS_POPUP, WS_POPUP);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & WS_SYSMENU, WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_THICKFRAME | WS_MAXIMIZEBOX);
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    RECT frame = {};
    GetWindowRect(dialog, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    RECT client = {};
    GetClientRect(dialog, &client);
    ExpectRect(client, DialogUnits(dialog, 0, 0, 306, 177));

    HWND list = GetDlgItem(dialog, 1034);
    ASSERT_NE(list, nullptr);
    EXPECT_STRCASEEQ(ClassOf(list).c_str(), "ListBox");
    style = GetWindowLongA(list, GWL_STYLE);
    // The scroll bar style bit only shows while the bar is needed; see below.
    const LONG wanted = WS_CHILD | WS_VISIBLE | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
    EXPECT_EQ(style & wanted, wanted);
    // The dialog manager turns a flat border into a sunken edge.
    EXPECT_TRUE((style & WS_BORDER) || (GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
    EXPECT_EQ(style & (WS_HSCROLL | LBS_SORT | LBS_MULTIPLESEL | LBS_EXTENDEDSEL), 0);
    ExpectRect(ChildRect(dialog, list), DialogUnits(dialog, 7, 7, 292, 139));

    HWND ok = GetDlgItem(dialog, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_STRCASEEQ(ClassOf(ok).c_str(), "Button");
    EXPECT_EQ(TextOf(ok), "OK");
    EXPECT_EQ(GetWindowLongA(ok, GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
    ExpectRect(ChildRect(dialog, ok), DialogUnits(dialog, 249, 156, 50, 14));

    // Lines stay in the order they are added.
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("zulu: first"));
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("alpha: second"));
    char line[64] = {};
    SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, "zulu: first");
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 2);

    // Many lines bring the vertical scroll bar; a long line no horizontal one.
    std::string wide(400, 'w');
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    for (int i = 0; i < 40; ++i) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("another line"));
    style = GetWindowLongA(list, GWL_STYLE);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & WS_HSCROLL);

    EXPECT_TRUE(DestroyWindow(dialog));
}

// Every label of the tray dialogs shows whole in its control with the dialog's
// font: a longer text or a wider font would be cut off.
TEST(Dialogs, LabelsFitTheirControls) {
    for (UINT id : {102u, 103u, 119u}) {
        HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(id), nullptr, QuietDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        HDC dc = GetDC(dialog);
        HGDIOBJ font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            std::string text = TextOf(child);
            LONG type = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
            if (lstrcmpiA(ClassOf(child).c_str(), "Static") != 0 || type > SS_RIGHT || text.empty()) continue;
            SCOPED_TRACE(std::to_string(id) + ": " + text);
            RECT box = {};
            GetClientRect(child, &box);
            RECT need = box;
            DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
            EXPECT_LE(need.right, box.right);
            EXPECT_LE(need.bottom, box.bottom);
        }
        SelectObject(dc, font);
        ReleaseDC(dialog, dc);
        DestroyWindow(dialog);
    }
}

// The manifest in force: the dialogs' controls are those of version 6 of the
// common controls and draw with the theme, and Windows does not stretch them.
TEST(Manifest, ThemedControlsAndDpiAwareness) {
    EXPECT_TRUE(IsProcessDPIAware());
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));  // any letter in a path or a registry text
    ACTCTX_SECTION_KEYED_DATA redirected = {};
    redirected.cbSize = sizeof redirected;
    EXPECT_TRUE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_WINDOW_CLASS_REDIRECTION, "Button",
                                         &redirected));
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(102), nullptr, QuietDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(GetWindowTheme(GetDlgItem(dialog, IDOK)), nullptr);
    DestroyWindow(dialog);
}

TEST(VersionInfo, NamesAndNumbers) {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010005u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00070000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010005u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00070000u);

    auto value = [&block](const char* name) {
        std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
        char* text = nullptr;
        UINT n = 0;
        if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &n) || !text)
            return std::string();
        return std::string(text);
    };
    EXPECT_EQ(value("CompanyName"), "Brannock");
    EXPECT_EQ(value("ProductName"), "Vastrel");
    EXPECT_EQ(value("FileVersion"), "1.5.7");
    EXPECT_EQ(value("ProductVersion"), "1.5.7");
}

}  // namespace
