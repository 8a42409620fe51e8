#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "test_support.h"
#include "update/request.h"

namespace {
class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
    std::string Build(const Account& a) {
        char out[TransferBufferSize];
        std::memset(out, 'x', sizeof out);
        return BuildUpdateRequest(a, out, sizeof out);
    }
};

Account Sample() {
    Account a = MakeAccount("office", 0, "bob", "pwd");
    a.CurrentIP = Address("192.0.2.1");
    a.Wildcards = 1;
    a.BackupMX = 0;
    return a;
}
}  // namespace

TEST_F(RequestTest, DirectFormHasExactBytes) {
    std::string host = ServerTable[0].UpdateHost, domain = ServerTable[0].Domain;
    EXPECT_EQ(Build(Sample()), "GET /nic/dyndns?action=edit&started=1&hostname=YES&host_id=office." + domain +
                                   "&myip=192.0.2.1&wildcard=ON&mx=&backmx=OFF HTTP/1.1\r\n"
                                   "Host: " +
                                   host +
                                   "\r\n"
                                   "Authorization: Basic Ym9iOnB3ZA==\r\n"
                                   "Content-Type: application/x-www-form-urlencoded\r\n"
                                   "User-Agent: Vastrel/1.5.7\r\n"
                                   "\r\n");
}

TEST_F(RequestTest, ProxyFormCarriesAbsoluteUrl) {
    Preferences.UseProxy = 1;
    Account a = Sample();
    a.Server = 3;
    CopyText(a.MailExtender, "mx.example.net");
    a.BackupMX = 7;
    std::string host = ServerTable[3].UpdateHost, domain = ServerTable[3].Domain;
    EXPECT_EQ(Build(a), "GET http://" + host + "/nic/dyndns?action=edit&started=1&hostname=YES&host_id=office." +
                            domain +
                            "&myip=192.0.2.1&wildcard=ON&mx=mx.example.net&backmx=ON HTTP/1.1\r\n"
                            "Host: " +
                            host +
                            "\r\n"
                            "Authorization: Basic Ym9iOnB3ZA==\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n"
                            "User-Agent: Vastrel/1.5.7\r\n"
                            "\r\n");
}

TEST_F(RequestTest, ValuesGoInAsStoredAndLaterPlaceholdersSeeThem) {
    Account a = Sample();
    CopyText(a.HostName, "");                        // full name starts with the dot
    CopyText(a.MailExtender, "a b&###BACKUPMX###");  // no encoding; replaced by a later step
    std::string r = Build(a);
    EXPECT_NE(r.find("host_id=." + std::string(ServerTable[0].Domain) + "&"), std::string::npos);
    EXPECT_NE(r.find("&mx=a b&OFF&backmx=OFF"), std::string::npos);
}

TEST_F(RequestTest, UnusableAccountsGiveNoRequest) {
    Account badRow = Sample();
    badRow.Server = 10;
    EXPECT_EQ(Build(badRow), "");
    badRow.Server = -1;
    EXPECT_EQ(Build(badRow), "");

    // Texts that fill their fields with no terminator are read within the field.
    Account full = Sample();
    std::memset(full.HostName, 'h', sizeof full.HostName);
    std::memset(full.UserName, 'u', sizeof full.UserName);
    std::memset(full.Password, 'p', sizeof full.Password);
    std::string r = Build(full);
    EXPECT_NE(r.find("host_id=" + std::string(80, 'h') + "."), std::string::npos);
    EXPECT_EQ(r.find(std::string(81, 'h')), std::string::npos);
    EXPECT_NE(r.find(std::string("Basic ") + EncodeBase64((std::string(32, 'u') + ":" + std::string(32, 'p')).c_str()) +
                     "\r\n"),
              std::string::npos);
}

TEST_F(RequestTest, LongestValidAccountFits) {
    Account a = Sample();
    std::memset(a.HostName, 'h', 80);
    std::memset(a.UserName, 'u', 32);
    std::memset(a.Password, 'p', 32);
    std::memset(a.MailExtender, 'm', 80);
    a.CurrentIP = Address("255.255.255.255");
    Preferences.UseProxy = 1;
    std::string r = Build(a);
    ASSERT_FALSE(r.empty());
    EXPECT_LT(r.size(), 800u);
    EXPECT_EQ(r.substr(r.size() - 4), "\r\n\r\n");
}

TEST(EncodeBase64, MatchesStandardForm) {
    const char* cases[][2] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"abc:def", "YWJjOmRlZg=="},  // seven bytes: twelve characters, two '='
        {"ab:cde", "YWI6Y2Rl"},       // six bytes: eight, none
        {"\xff\xfe\x80", "//6A"},     // bytes read unsigned
    };
    for (auto& c : cases) EXPECT_STREQ(EncodeBase64(c[0]), c[1]) << c[0];
    std::string longest(65, 'z');
    EXPECT_EQ(std::strlen(EncodeBase64(longest.c_str())), 88u);
}

TEST(ReplacePlaceholder, ReplacesLeftToRightWithoutRescanning) {
    struct Case {
        const char* text;
        const char* placeholder;
        const char* value;
        const char* expected;
    } cases[] = {
        {"a#X#b#X#", "#X#", "1", "a1b1"}, {"#X##X#", "#X#", "#X#", "#X##X#"},  // a written value is not searched again
        {"##X#", "#X#", "v", "#v"},       {"", "#X#", "v", ""},
        {"none", "#X#", "v", "none"},     {"#X#", "#X#", "", ""},
    };
    for (const Case& c : cases) {
        char buffer[64];
        std::strcpy(buffer, c.text);
        EXPECT_TRUE(ReplacePlaceholder(buffer, sizeof buffer, c.placeholder, c.value));
        EXPECT_STREQ(buffer, c.expected) << c.text;
    }
}

TEST(ReplacePlaceholder, RefusesResultsThatDoNotFit) {
    char small[8] = "ab#X#";
    EXPECT_FALSE(ReplacePlaceholder(small, sizeof small, "#X#", "123456"));
    EXPECT_STREQ(small, "ab#X#");  // unchanged
    EXPECT_TRUE(ReplacePlaceholder(small, sizeof small, "#X#", "12345"));
    EXPECT_STREQ(small, "ab12345");

    static char big[2048];
    std::memset(big, 'a', 1000);
    std::strcpy(big + 1000, "#X#");
    EXPECT_FALSE(ReplacePlaceholder(big, sizeof big, "#X#", "0123456789012345678901234"));
}

TEST(OnOffText, AnyNonZeroIsOn) {
    EXPECT_STREQ(OnOffText(0), "OFF");
    EXPECT_STREQ(OnOffText(1), "ON");
    EXPECT_STREQ(OnOffText(-5), "ON");
}
