#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "model/account.h"
#include "model/server_table.h"
#include "test_support.h"

namespace {
class AccountTableTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
    void Add(const char* host, int server) { ASSERT_EQ(AppendAccount(MakeAccount(host, server, "u", "p")), 1); }
};
}  // namespace

TEST_F(AccountTableTest, FindComparesRowThenHostWithoutCase) {
    int position = 7;
    EXPECT_EQ(FindAccount(MakeAccount("x", 0, "", ""), &position), 0);
    EXPECT_EQ(position, -1);  // empty table

    Add("first", 3);
    Add("myhost", 3);
    EXPECT_EQ(FindAccount(MakeAccount("MyHost", 3, "", ""), &position), 1);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(FindAccount(MakeAccount("myhost", 4, "", ""), &position), 0);
    EXPECT_EQ(position, -1);
    EXPECT_EQ(FindAccount(MakeAccount("MYHOST", 3, "", ""), nullptr), 1);
    // Only ASCII letters fold.
    Add("caf\xc9", 1);
    EXPECT_EQ(FindAccount(MakeAccount("CAF\xe9", 1, "", ""), nullptr), 0);
}

TEST_F(AccountTableTest, RemoveClosesTheGap) {
    Add("a", 0);
    Add("b", 0);
    Add("c", 0);
    ASSERT_EQ(RemoveAccount(0), 1);
    EXPECT_EQ(AccountTable.Count, 2);
    EXPECT_STREQ(AccountTable.Accounts[0].HostName, "b");
    EXPECT_STREQ(AccountTable.Accounts[1].HostName, "c");
    ASSERT_EQ(RemoveAccount(1), 1);
    EXPECT_EQ(AccountTable.Count, 1);
    EXPECT_STREQ(AccountTable.Accounts[0].HostName, "b");
    EXPECT_EQ(RemoveAccount(1), 0);
    EXPECT_EQ(RemoveAccount(-1), 0);
    EXPECT_EQ(AccountTable.Count, 1);
}

TEST_F(AccountTableTest, FullTableRefusesAppendAndBadPositionsAreRefused) {
    for (int i = 0; i < MaxAccounts; ++i) Add(("h" + std::to_string(i)).c_str(), 0);
    Account extra = MakeAccount("extra", 0, "", "");
    EXPECT_EQ(AppendAccount(extra), 0);
    EXPECT_EQ(AccountTable.Count, MaxAccounts);
    EXPECT_EQ(ReplaceAccount(MaxAccounts, extra), 0);
    EXPECT_EQ(ReplaceAccount(5, extra), 1);
    EXPECT_STREQ(AccountTable.Accounts[5].HostName, "extra");
}

TEST_F(AccountTableTest, DamagedCountNeverReachesPastTheTable) {
    AccountTable.Count = 40;
    EXPECT_EQ(ValidAccountCount(), MaxAccounts);
    EXPECT_EQ(FindAccount(MakeAccount("nothing", 0, "", ""), nullptr), 0);
    EXPECT_EQ(AppendAccount(MakeAccount("x", 0, "", "")), 0);
    AccountTable.Count = -3;
    EXPECT_EQ(ValidAccountCount(), 0);
    EXPECT_EQ(RemoveAccount(0), 0);
    EXPECT_EQ(AppendAccount(MakeAccount("x", 0, "", "")), 1);
    EXPECT_EQ(AccountTable.Count, 1);
}

TEST_F(AccountTableTest, StoredTextsAreAlwaysTerminated) {
    Account a = MakeAccount("", 0, "", "");
    std::memset(a.HostName, 'h', sizeof a.HostName);
    std::memset(a.Password, 'p', sizeof a.Password);
    ASSERT_EQ(AppendAccount(a), 1);
    EXPECT_EQ(std::strlen(AccountTable.Accounts[0].HostName), 80u);
    EXPECT_EQ(std::strlen(AccountTable.Accounts[0].Password), 32u);
}

TEST(FullHostName, JoinsHostAndRowDomain) {
    char out[164];
    FullHostName(MakeAccount("office", 0, "", ""), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string("office.") + ServerTable[0].Domain);
    FullHostName(MakeAccount("", 9, "", ""), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(".") + ServerTable[9].Domain);
    FullHostName(MakeAccount("bad", 12, "", ""), out, sizeof out);
    EXPECT_STREQ(out, "bad.");
}

TEST(ServerTable, TenDistinctRowsThenEndRow) {
    for (int i = 0; i < ServerCount; ++i) {
        ASSERT_NE(ServerTable[i].Domain, nullptr);
        EXPECT_STREQ(ServerTable[i].UpdateHost, ServerTable[0].UpdateHost);
        EXPECT_STREQ(ServerTable[i].Template, ServerTable[0].Template);
        EXPECT_LE(std::strlen(ServerTable[i].Domain), 82u);
        for (int j = 0; j < i; ++j) EXPECT_STRNE(ServerTable[i].Domain, ServerTable[j].Domain);
    }
    EXPECT_EQ(ServerTable[ServerCount].Domain, nullptr);
    EXPECT_EQ(ServerTable[ServerCount].UpdateHost, nullptr);
    EXPECT_EQ(ServerTable[ServerCount].Template, nullptr);
    EXPECT_EQ(ServerRow(-1), nullptr);
    EXPECT_EQ(ServerRow(10), nullptr);
    EXPECT_EQ(ServerRow(9), &ServerTable[9]);
}
