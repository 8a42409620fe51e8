// Loads the linked resources the way the program does and checks ids, texts,
// layout and icon images against what the program relies on.
#include <gtest/gtest.h>
#include <windows.h>
#include <uxtheme.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"

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

TEST(Strings, TrayAndVersionTexts) {
    EXPECT_EQ(LoadText(IDS_ENABLED), "Vastrel is enabled");
    EXPECT_EQ(LoadText(IDS_VERSION), "1.5.7");
    EXPECT_EQ(LoadText(IDS_DISABLED), "Vastrel is disabled");
    EXPECT_EQ(LoadText(IDS_ENABLE), "Enable");
    EXPECT_EQ(LoadText(IDS_DISABLE), "Disable");
    EXPECT_EQ(LoadText(IDS_FAILED), "Update failed");
    EXPECT_EQ(LoadText(IDS_CONNECTING), "Connecting to server...");
    EXPECT_EQ(LoadText(IDS_FORCEWARNING),
              "BE WARNED: too many updates in a short period of time WILL cause your accounts "
              "to be blocked due to abuse! Are you really REALLY sure you want to force an update?");
}

TEST(Strings, NumbersAreTheFixedOnes) {
    EXPECT_EQ(IDS_ENABLED, 103);
    EXPECT_EQ(IDS_VERSION, 104);
    EXPECT_EQ(IDS_DISABLED, 105);
    EXPECT_EQ(IDS_ENABLE, 106);
    EXPECT_EQ(IDS_DISABLE, 107);
    EXPECT_EQ(IDS_FAILED, 108);
    EXPECT_EQ(IDS_CONNECTING, 109);
    EXPECT_EQ(IDS_FORCEWARNING, 110);
}

TEST(Strings, VersionFitsTheEightByteBuffer) {
    char buf[8] = {};
    ASSERT_EQ(LoadStringA(Self(), 104, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "1.5.7");
}

TEST(Strings, TheWarningFitsItsBuffer) {
    EXPECT_LT(LoadText(110).size(), 1024u);
}

struct MenuRow {
    UINT id;
    const char* text;  // nullptr: separator
};

const MenuRow kTrayMenu[] = {
    {40012, "View log..."}, {40007, "Check now"},   {40013, "Force update"},
    {40009, "Snooze"},      {40006, "Disable"},     {40008, "Accounts..."},
    {40002, "Properties..."}, {0, nullptr},         {40003, "Help..."},
    {40004, "About..."},    {40005, "Exit"},
};

TEST(Menu, CommandNumbers) {
    EXPECT_EQ(IDR_TRAYMENU, 106);
    EXPECT_EQ(IDM_PROPERTIES, 40002);
    EXPECT_EQ(IDM_HELP, 40003);
    EXPECT_EQ(IDM_ABOUT, 40004);
    EXPECT_EQ(IDM_EXIT, 40005);
    EXPECT_EQ(IDM_ENABLEDISABLE, 40006);
    EXPECT_EQ(IDM_CHECKNOW, 40007);
    EXPECT_EQ(IDM_ACCOUNTS, 40008);
    EXPECT_EQ(IDM_SNOOZE, 40009);
    EXPECT_EQ(IDM_VIEWLOG, 40012);
    EXPECT_EQ(IDM_FORCEUPDATE, 40013);
}

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

// What the tray does before tracking the menu: the default item, the Snooze
// state and the Enable/Disable label, all addressed by command.
TEST(Menu, ItemsCanBeAdjustedByCommand) {
    HMENU menu = LoadMenuA(Self(), MAKEINTRESOURCEA(106));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, 0), static_cast<UINT>(-1));

    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = MFS_DEFAULT;
    ASSERT_TRUE(SetMenuItemInfoA(menu, 40012, FALSE, &info));
    EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, 0), 40012u);

    info.fState = MFS_ENABLED;
    ASSERT_TRUE(SetMenuItemInfoA(menu, 40009, FALSE, &info));
    EXPECT_EQ(GetMenuState(popup, 40009, MF_BYCOMMAND) & MF_GRAYED, 0u);

    char label[] = "Enable";
    MENUITEMINFOA text = {};
    text.cbSize = sizeof text;
    text.fMask = MIIM_TYPE;
    text.fType = MFT_STRING;
    text.dwTypeData = label;
    text.cch = static_cast<UINT>(strlen(label));
    ASSERT_TRUE(SetMenuItemInfoA(menu, 40006, FALSE, &text));
    char shown[64] = {};
    GetMenuStringA(popup, 40006, shown, sizeof shown, MF_BYCOMMAND);
    EXPECT_STREQ(shown, "Enable");
    DestroyMenu(menu);
}

const UINT kIcons[] = {124, 125, 126, 128};
// The small-icon and icon sizes from 100 % to 200 % scaling.
const int kIconSizes[] = {16, 20, 24, 32, 48};

TEST(Icons, NumbersAreTheFixedOnes) {
    EXPECT_EQ(IDI_GLOBE, 124);
    EXPECT_EQ(IDI_GLOBE_BUSY, 125);
    EXPECT_EQ(IDI_GLOBE_FAILED, 126);
    EXPECT_EQ(IDI_GLOBE_DISABLED, 128);
}

TEST(Icons, LoadAtEverySize) {
    for (UINT id : kIcons) {
        for (int size : kIconSizes) {
            SCOPED_TRACE(std::to_string(id) + " at " + std::to_string(size));
            HICON icon = static_cast<HICON>(
                LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
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
        EXPECT_GT(globe.b, globe.r + 40);   // blue ocean
        EXPECT_GT(globe.g, globe.r + 40);   // green land
        EXPECT_EQ(globe.semi, 0);
        EXPECT_GT(busy.semi, size);         // washed-out stripes
        EXPECT_GT(failed.r, failed.g + 40);
        EXPECT_GT(failed.r, failed.b + 40);
        EXPECT_TRUE(disabled.grey);
        EXPECT_FALSE(globe.grey);
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

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

TEST(LogDialog, Template) {
    const BYTE* raw = RawResource(121, 5);  // RT_DIALOG
    ASSERT_NE(raw, nullptr);
    DLGTEMPLATE head;
    memcpy(&head, raw, sizeof head);
    EXPECT_EQ(head.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(head.dwExtendedStyle, 0u);
    EXPECT_EQ(head.cdit, 2);
    EXPECT_EQ(head.x, 0);
    EXPECT_EQ(head.y, 0);
    EXPECT_EQ(head.cx, 306);
    EXPECT_EQ(head.cy, 177);

    // Menu, class and title follow as ordinal-or-string fields, then the font.
    const WORD* p = reinterpret_cast<const WORD*>(raw + 18);
    auto skip = [&p] {
        if (*p == 0xFFFF) {
            p += 2;
        } else {
            while (*p++) {
            }
        }
    };
    auto read = [&p] {
        std::string s;
        while (*p) s += static_cast<char>(*p++);
        ++p;
        return s;
    };
    EXPECT_EQ(*p, 0);  // no menu
    skip();
    EXPECT_EQ(*p, 0);  // the standard dialog class
    skip();
    EXPECT_EQ(read(), "Vastrel Update Log");
    EXPECT_EQ(*p++, 8);
    EXPECT_EQ(read(), "MS Sans Serif");

    // The two controls, each DWORD aligned: list box (class 0x83), button (0x80).
    struct Item {
        DWORD style;
        short x, y, cx, cy;
        WORD id, kind;
        std::string text;
    };
    std::vector<Item> items;
    for (int i = 0; i < head.cdit; ++i) {
        auto at = reinterpret_cast<uintptr_t>(p);
        p = reinterpret_cast<const WORD*>((at + 3) & ~uintptr_t(3));
        DLGITEMTEMPLATE t;
        memcpy(&t, p, sizeof t);
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + 18);
        Item item = {t.style, t.x, t.y, t.cx, t.cy, t.id, 0, {}};
        if (*p == 0xFFFF) {
            item.kind = p[1];
            p += 2;
        } else {
            read();
        }
        if (*p == 0xFFFF) {
            p += 2;
        } else {
            item.text = read();
        }
        p += 1 + *p / 2;  // creation data
        items.push_back(item);
    }
    ASSERT_EQ(items.size(), 2u);
    const Item& list = items[0];
    EXPECT_EQ(list.id, 1034);
    EXPECT_EQ(list.kind, 0x83);
    EXPECT_EQ(list.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER | WS_TABSTOP |
                                             LBS_NOTIFY | LBS_NOINTEGRALHEIGHT));
    EXPECT_EQ(list.x, 7);
    EXPECT_EQ(list.y, 7);
    EXPECT_EQ(list.cx, 292);
    EXPECT_EQ(list.cy, 139);
    const Item& ok = items[1];
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_EQ(ok.kind, 0x80);
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(ok.style & 0x0F, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(ok.x, 126);
    EXPECT_EQ(ok.y, 156);
    EXPECT_EQ(ok.cx, 50);
    EXPECT_EQ(ok.cy, 14);
}

TEST(LogDialog, CreatesHiddenWithListAndButton) {
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(121), nullptr, QuietDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(IDD_LOG, 121);
    EXPECT_EQ(TextOf(dialog), "Vastrel Update Log");
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(GetParent(dialog), nullptr);
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(style & WS_POPUP, WS_POPUP);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & WS_SYSMENU, WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
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
    EXPECT_EQ(IDC_LOG_LIST, 1034);
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
    ExpectRect(ChildRect(dialog, ok), DialogUnits(dialog, 126, 156, 50, 14));

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
    for (int i = 0; i < 40; ++i)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("another line"));
    style = GetWindowLongA(list, GWL_STYLE);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & WS_HSCROLL);

    EXPECT_TRUE(DestroyWindow(dialog));
}

// Every label of the tray dialogs shows whole in its control with the dialog's
// font: a longer text or a wider font would be cut off.
TEST(Dialogs, LabelsFitTheirControls) {
    for (UINT id : {IDD_PROPERTIES, IDD_ABOUT, IDD_ACCOUNTS}) {
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
    ACTCTX_SECTION_KEYED_DATA redirected = {};
    redirected.cbSize = sizeof redirected;
    EXPECT_TRUE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_WINDOW_CLASS_REDIRECTION, "Button",
                                         &redirected));
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(IDD_PROPERTIES), nullptr, QuietDialogProc, 0);
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
