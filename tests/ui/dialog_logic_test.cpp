// The dialogs' window-free rules: interval choice, list texts, form
// completeness and number fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "common/text.h"
#include "model/server_table.h"
#include "ui/dialog_logic.h"

TEST(IntervalTable, ShowsTheNearestLowerRow) {
    struct Case {
        std::int32_t sleepTime;
        const char* label;
        std::int32_t stored;
    };
    const Case cases[] = {
        {300000, "5 mins", 300000},
        {400000, "5 mins", 300000},
        {30000, "1 min", 60000},
        {0, "1 min", 60000},
        {59999, "1 min", 60000},
        {60000, "1 min", 60000},
        {2699999, "30 mins", 1800000},
        {86400000, "24 hours", 86400000},
        {2000000000, "24 hours", 86400000},
        // Negative values: the timer runs them every minute.
        {-1, "1 min", 60000},
    };
    for (const Case& c : cases) {
        int row = IntervalRowFor(c.sleepTime);
        ASSERT_GE(row, 0);
        ASSERT_LT(row, IntervalCount);
        EXPECT_STREQ(IntervalTable[row].Label, c.label) << c.sleepTime;
        std::int32_t stored = 0;
        EXPECT_TRUE(IntervalOfRow(row, &stored));
        EXPECT_EQ(stored, c.stored) << c.sleepTime;
    }
}

TEST(IntervalTable, IsAscendingAndClosedByAnEmptyRow) {
    for (int row = 1; row < IntervalCount; ++row)
        EXPECT_LT(IntervalTable[row - 1].Milliseconds, IntervalTable[row].Milliseconds) << row;
    EXPECT_EQ(IntervalTable[IntervalCount].Label, nullptr);
    for (int row : {-1, IntervalCount, 1000}) {
        std::int32_t kept = 1234;
        EXPECT_FALSE(IntervalOfRow(row, &kept));
        EXPECT_EQ(kept, 1234);
    }
}

TEST(AccountRow, NamesTheHostAndMarksDisabledAccounts) {
    Account a{};
    CopyText(a.HostName, "office");
    a.Server = 0;
    a.Update = 0;
    char row[AccountRowSize];
    AccountRowText(a, row, sizeof row);
    EXPECT_EQ(std::string(row), std::string("office.") + ServerTable[0].Domain + " (disabled)");
    a.Update = 1;
    AccountRowText(a, row, sizeof row);
    EXPECT_EQ(std::string(row), std::string("office.") + ServerTable[0].Domain);
}

TEST(AccountRow, LongestNameAndSmallBuffersStayWithinBounds) {
    Account a{};
    std::memset(a.HostName, 'h', sizeof a.HostName);  // unterminated, as a damaged record might be
    a.Server = ServerCount - 1;
    a.Update = 0;
    char row[AccountRowSize];
    AccountRowText(a, row, sizeof row);
    const std::string text = row;
    EXPECT_EQ(text.size(), 80 + 1 + std::strlen(ServerTable[ServerCount - 1].Domain) + 11);
    EXPECT_EQ(text.substr(text.size() - 11), " (disabled)");

    char small[12];
    std::memset(small, 'x', sizeof small);
    AccountRowText(a, small, sizeof small);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);

    a.Server = 99;  // no row: the name alone, never a read past the table
    a.Update = 1;
    AccountRowText(a, row, sizeof row);
    EXPECT_EQ(std::string(row), std::string(80, 'h') + ".");
}

TEST(AccountForm, NeedsHostUserPasswordAndAServerRow) {
    struct Case {
        const char* host;
        const char* user;
        const char* password;
        int server;
        bool complete;
    };
    const Case cases[] = {
        {"home", "alice", "secret", 0, true},
        {"home", "alice", "secret", ServerCount - 1, true},
        {"", "alice", "secret", 0, false},
        {"home", "", "secret", 0, false},
        {"home", "alice", "", 0, false},
        {"home", "alice", "secret", -1, false},
        {"home", "alice", "secret", ServerCount, false},
    };
    for (const Case& c : cases) {
        Account a{};
        CopyText(a.HostName, c.host);
        CopyText(a.UserName, c.user);
        CopyText(a.Password, c.password);
        a.Server = c.server;
        EXPECT_EQ(AccountFormComplete(a), c.complete)
            << c.host << "/" << c.user << "/" << c.password << "/" << c.server;
    }
}

// Each drop-down item: what the form asks for, and what completes it.
TEST(AccountForm, FollowsTheServerOrServiceChosen) {
    const unsigned maker = TakesUserName | NeedsUserName | TakesWildcards | TakesMailExtender | TakesBackupMX;
    // The item; labels and limits of the user name and password; the fields taken; the "Addresses" rows.
    const std::tuple<int, const char*, unsigned, int> cases[] = {
        {-1, "User name/Password 32/32", maker, 1},  // nothing chosen: never complete
        {ServiceCount, "User name/Password 32/32", maker, 1},  // the maker's first row
        {0, "User name/Password 64/128", TakesUserName | NeedsUserName, 3},     // No-IP
        {1, "User name/Token 64/128", 0, 3},                                // DuckDNS
        {2, "Zone/API token 64/128", TakesUserName, 3},                     // Cloudflare
        {4, "User name/Token 64/128", 0, 2},                                // FreeDNS: one family
        {5, "Domain/Password 64/128", TakesUserName | NeedsUserName, 1},    // Namecheap: IPv4 only
        {8, "Domain/API token 64/128", TakesUserName | NeedsUserName, 3},    // DigitalOcean
        {9, "User name/Password 64/128", TakesUserName | NeedsUserName, 1},  // DNS-O-Matic: IPv4 only
        {10, "User name/Token 64/128", 0, 3},                                // dynv6
        {11, "Domain/Token 64/128", TakesUserName | NeedsUserName, 3},       // Gandi LiveDNS
        {ServiceCount - 1, "User name/Password 64/128", maker | TakesUpdateServer, 3},  // Other dyndns2 server
    };
    for (auto [item, shape, fields, choices] : cases) {
        SCOPED_TRACE(item);
        Account a{};
        TakeServerChoice(item, a);
        EXPECT_EQ(ServerChoiceOf(a), item);
        const AccountFormShape f = AccountFormFor(a.Server, a.Service);
        EXPECT_EQ(std::string(f.UserLabel) + "/" + f.PasswordLabel + " " + std::to_string(f.UserLimit) + "/" +
                      std::to_string(f.PasswordLimit),
                  shape);
        EXPECT_EQ(f.Fields, fields);
        EXPECT_EQ(f.AddressChoices, choices);
        EXPECT_EQ(f.TakesAddresses, choices > 1);
        CopyText(a.HostName, "home");
        SetFormUserName(a, "alice");
        SetFormPassword(a, "secret");
        a.Addresses = AddressesBoth;
        ClearFieldsNotTaken(a);  // a field shown disabled is stored empty, or "IPv4"
        EXPECT_STREQ(AccountUserName(a), fields & TakesUserName ? "alice" : "");
        EXPECT_EQ(a.Addresses, choices == 3 ? AddressesBoth : AddressesIPv4);
        a.Addresses = 3;  // damaged
        EXPECT_EQ(AddressesChoiceOf(a), AddressesIPv4);
        EXPECT_EQ(AccountFormComplete(a), item >= 0 && !(fields & TakesUpdateServer));
        CopyText(a.UpdateServer, "dyn.example");
        a.UserName[0] = a.ServiceUserName[0] = '\0';
        EXPECT_EQ(AccountFormComplete(a), item >= 0 && !(fields & NeedsUserName));
    }
    // The newer services by name, between the most used and "Other dyndns2 server".
    std::string names;
    for (int item = 7; item < ServiceCount; ++item) names += std::string(ServerChoiceName(item)) + "/";
    EXPECT_EQ(names, "Hurricane Electric/DigitalOcean/DNS-O-Matic/dynv6/Gandi LiveDNS/Hetzner DNS/nsupdate.info/OVH DynHost/Porkbun/spDYN/Other dyndns2 server/");
    // What a complete form may still not be: the service would refuse it, or the request would break.
    const std::tuple<int, const char*, const char*, const char*, const char*> problems[] = {
        {5, "www.example.co.uk", "example.co.uk", "", ""},
        {5, "xexample.co.uk", "example.co.uk", "", "domain example.co.uk itself or a name within"},
        {ServiceCount - 1, "h", "u", "dyn.example/u%zz", "starts no escape"},
    };
    for (auto [item, host, user, server, problem] : problems) {
        Account a{};
        TakeServerChoice(item, a);
        CopyText(a.HostName, host);
        SetFormUserName(a, user);
        CopyText(a.UpdateServer, server);
        const std::string said = AccountFormProblem(a);
        EXPECT_EQ(said.empty(), !problem[0]) << said;
        EXPECT_NE(said.find(problem), std::string::npos) << said;
    }
}

// What is typed is tidied, never cut: a blank pasted with a token, a host pasted as an address, a text too long.
TEST(AccountForm, TakesTypedTextsForgivingly) {
    const std::string token129(129, 't');
    struct Case {
        int item;
        FormTexts typed;
        const char *host, *user, *password, *problem;
    } cases[] = {
        {1, {" https://myhome.duckdns.org/path?x ", "", " tok\t", "", ""}, "myhome.duckdns.org", "", "tok", ""},
        {ServiceCount, {"home", " alice ", " pw ", "", ""}, "home", " alice ", " pw ", ""},  // the maker's as typed
        {0, {"h", "u", token129, "", ""}, "h", "u", "", "The password is longer than 128 characters"},
        {2, {"h", "", token129, "", ""}, "h", "", "", "The API token is longer than 128 characters"},
        {0, {std::string(81, 'h'), "u", "p", "", ""}, "", "u", "p", "The host is longer than 80 characters"},
        {ServiceCount, {"h", std::string(33, 'u'), "p", "", ""}, "", "", "", "The user name is longer than 32 characters"},
        {ServiceCount, {"h", "u", "p", std::string(81, 'm'), ""}, "", "", "", "The mail extender is longer than 80"},
        {1, {"h", "", "t", std::string(81, 'm'), ""}, "h", "", "t", ""},  // a field not taken is not stored
    };
    for (const Case& c : cases) {
        Account a{};
        TakeServerChoice(c.item, a);
        const std::string problem = TakeFormTexts(c.typed, a);
        EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        EXPECT_EQ(problem.empty(), !c.problem[0]) << problem;
        if (!problem.empty()) continue;
        EXPECT_STREQ(a.HostName, c.host);
        EXPECT_STREQ(AccountUserName(a), c.user);
        EXPECT_STREQ(AccountPassword(a), c.password);
    }
}

TEST(NumberField, ReadsDigitsWithinTheBound) {
    struct Case {
        const char* text;
        std::uint32_t maximum;
        NumberField result;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"", 99999, NumberField::Ok, 0},
        {"   ", 99, NumberField::Ok, 0},
        {"0", 99, NumberField::Ok, 0},
        {"99999", 99999, NumberField::Ok, 99999},
        {"007", 99, NumberField::Ok, 7},
        {" 42 ", 99, NumberField::Ok, 42},
        {"100", 99, NumberField::TooLarge, 7777},
        {"100000", 99999, NumberField::TooLarge, 7777},
        {"99999999999999999999999999", 99999, NumberField::TooLarge, 7777},
        {"12a", 99999, NumberField::NotANumber, 7777},
        {"-1", 99999, NumberField::NotANumber, 7777},
        {"1 2", 99999, NumberField::NotANumber, 7777},
        {"+5", 99999, NumberField::NotANumber, 7777},
    };
    for (const Case& c : cases) {
        std::uint32_t value = 7777;
        EXPECT_EQ(ReadNumberField(c.text, c.maximum, &value), c.result) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}
