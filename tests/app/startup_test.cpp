#include <gtest/gtest.h>

#include <string>

#include "app/shell.h"
#include "app/startup.h"
#include "common/text.h"
#include "res/resource.h"

TEST(StartupCommandLine, OnlyTheWholeWordInAnyCaseCounts) {
    const std::pair<const char*, bool> cases[] = {
        {"/autoexit", true},   {"/AutoExit", true},  {"/AUTOEXIT", true},     {"/autoexit ", false},
        {" /autoexit", false}, {"-autoexit", false}, {"/autoexit /x", false}, {"", false},
        {"/auto", false},      {nullptr, false},
    };
    for (auto& c : cases) EXPECT_EQ(IsAutoExitCommandLine(c.first), c.second) << (c.first ? c.first : "(null)");
}

TEST(StartupLogPath, LastFourCharactersBecomeDotLog) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Tools\\updater.exe", "C:\\Tools\\updater.log"},
        {"C:\\Tools\\updater", "C:\\Tools\\upd.log"},  // no extension: still four characters go
        {"abc", ".log"},
        {"", ""},
        {"C:\\Łódź-测试\\vastrel.exe", "C:\\Łódź-测试\\vastrel.log"},
    };
    for (auto& c : cases) {
        char out[260];
        DeriveLogFilePath(c.first, out, sizeof out);
        EXPECT_STREQ(out, c.second) << c.first;
    }
    char small[12];
    DeriveLogFilePath("C:\\a\\verylongname.exe", small, sizeof small);
    EXPECT_LT(std::string(small).size(), sizeof small);
}

// A text the user reads is cut between characters ("é" is two bytes, "测" three, "😀" four), bytes that are
// no UTF-8 where they stand: each case marks with | what six bytes keep.
TEST(Utf8Cut, KeepsWholeCharacters) {
    for (std::string c : {"abcd|é", "abc|测", "ab测|试", "ab|😀", "a😀|", "a\x80\x80\x80\x80|\x80"}) {
        const std::size_t cut = c.find('|');
        c.erase(cut, 1);
        char out[6];
        EXPECT_EQ(CopyUtf8Text(out, sizeof out, c.c_str()), cut == c.size()) << c;
        EXPECT_EQ(out, c.substr(0, cut));
    }
}

TEST(TrayStates, EachStateShowsItsIconTooltipAndLabel) {
    struct Case {
        TrayState requested;
        int disabled;
        int blinkIcon;
        TrayDisplay expected;
        int accounts = 1;
    } cases[] = {
        {Disabled, 0, IDI_GLOBE, {Disabled, IDI_GLOBE_DISABLED, IDS_DISABLED, IDS_ENABLE}},
        {Enabled, 1, IDI_GLOBE, {Enabled, IDI_GLOBE, IDS_ENABLED, IDS_DISABLE}},
        {Idle, 0, IDI_GLOBE, {Enabled, IDI_GLOBE, IDS_ENABLED, IDS_DISABLE}},
        {Idle, 1, IDI_GLOBE, {Disabled, IDI_GLOBE_DISABLED, IDS_DISABLED, IDS_ENABLE}},
        {Busy, 0, IDI_GLOBE, {Busy, IDI_GLOBE_BUSY, IDS_CONNECTING, IDS_DISABLE}},
        {Busy, 1, IDI_GLOBE, {Busy, IDI_GLOBE_BUSY, IDS_CONNECTING, IDS_ENABLE}},
        {Failed, 0, IDI_GLOBE_FAILED, {Failed, IDI_GLOBE_FAILED, IDS_FAILED, IDS_DISABLE}},
        {Failed, 1, IDI_GLOBE, {Failed, IDI_GLOBE, IDS_FAILED, IDS_ENABLE}},
        {Idle, 0, IDI_GLOBE, {Enabled, IDI_GLOBE, IDS_NO_ACCOUNTS, IDS_DISABLE}, 0},  // says where to add one
        {Idle, 1, IDI_GLOBE, {Disabled, IDI_GLOBE_DISABLED, IDS_DISABLED, IDS_ENABLE}, 0},
    };
    for (const Case& c : cases) {
        TrayDisplay d = ResolveTrayState(c.requested, c.disabled, c.blinkIcon, c.accounts);
        EXPECT_EQ(d.State, c.expected.State);
        EXPECT_EQ(d.IconId, c.expected.IconId);
        EXPECT_EQ(d.TooltipId, c.expected.TooltipId);
        EXPECT_EQ(d.EnableItemLabel, c.expected.EnableItemLabel);
    }
}
