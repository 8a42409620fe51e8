// Who owns the accounts: edits, runs and stores that overlap never lose or
// mix up account data. Runs are held inside their exchange (HeldExchange)
// while the test edits, commits or stores.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "app/update_run.h"
#include "common/text.h"
#include "model/account_edits.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "settings/settings.h"
#include "test_support.h"

namespace {
const char* const Account0 = "Software\\Brannock\\Vastrel\\Accounts\\0";
const char* const Account1 = "Software\\Brannock\\Vastrel\\Accounts\\1";

class AccountOwnershipTest : public ::testing::Test {
protected:
    const std::uint32_t Here = Address("192.0.2.44");
    void SetUp() override {
        ResetSharedState();
        UseFreshSettingsStore();
        InitSettings();
        ResetSharedState();
        InjectInterfaces({{0, Here}});
    }
    void TearDown() override {
        DiscardAccountEdits();
        RestoreInterfaces();
    }
    // The committed table and the store both hold exactly these accounts.
    static void Commit(std::initializer_list<Account> accounts) {
        {
            SharedDataGuard guard(SharedDataMutex());
            AccountTable = AccountSet{};
            for (const Account& a : accounts) AppendAccount(a);
            CreateAccountRegInfo();
        }
        StoreSettings();
    }
    static Account Table(int i) {
        SharedDataGuard guard(SharedDataMutex());
        return AccountTable.Accounts[i];
    }
    static int TableCount() {
        SharedDataGuard guard(SharedDataMutex());
        return AccountTable.Count;
    }
    // What the Accounts dialog's "Update" button does to the working copy.
    template <typename Change>
    static void EditInCopy(int position, Change change) {
        SharedDataGuard guard(SharedDataMutex());
        AccountSet& edits = *AccountEdits();
        Account form = edits.Accounts[position];
        change(form);
        KeepAccountHistory(edits.Accounts[position], form);
        ReplaceAccount(edits, position, form);
    }
    static std::string Full(const char* host) { return std::string(host) + "." + ServerTable[0].Domain; }
};
}  // namespace

TEST_F(AccountOwnershipTest, AnEditCommittedDuringTheExchangeKeepsTheUsersValue) {
    Commit({MakeAccount("home", 0, "alice", "secret")});
    HeldExchange server;
    std::thread run([] { UpdateRun(Forced); });
    ASSERT_NE(server.AwaitRequest().find("host_id=home."), std::string::npos);
    // The user unchecks "Update" and presses OK while the reply is outstanding.
    BeginAccountEdits();
    EditInCopy(0, [](Account& a) { a.Update = 0; });
    CommitAccountEdits();
    server.Reply("NOERROR");
    run.join();
    EXPECT_EQ(Table(0).Update, 0);
    EXPECT_EQ(Table(0).LastIP, Here);  // the run's own result still lands
    EXPECT_EQ(StoredNumber(Account0, "Update"), 0);
    EXPECT_EQ(StoredNumber(Account0, "LastIP"), static_cast<std::int32_t>(Here));
}

TEST_F(AccountOwnershipTest, RecordsThatShareAKeyGetTheirOwnResults) {
    if (!ServerPort()) GTEST_SKIP() << "needs the reference server";
    Commit({MakeAccount("Home", 0, "alice", "secret"), MakeAccount("home", 0, "alice", "wrong")});
    UpdateRun(Forced);
    EXPECT_EQ(Table(0).Update, 1);
    EXPECT_EQ(Table(0).LastIP, Here);
    EXPECT_EQ(Table(1).Update, 0);  // refused: its own password was wrong
    EXPECT_EQ(Table(1).LastIP, 0u);
    EXPECT_EQ(StoredNumber(Account0, "Update"), 1);
    EXPECT_EQ(StoredNumber(Account1, "Update"), 0);
}

TEST_F(AccountOwnershipTest, UnsavedEditsReachNoStoreWhoeverStores) {
    Commit({MakeAccount("a", 0, "u", "p"), MakeAccount("b", 0, "u", "p")});
    BeginAccountEdits();
    {
        SharedDataGuard guard(SharedDataMutex());
        RemoveAccount(*AccountEdits(), 0);
        AppendAccount(*AccountEdits(), MakeAccount("c", 0, "u", "p"));
        AppendAccount(*AccountEdits(), MakeAccount("d", 0, "u", "p"));
    }
    StoreSettings();  // a run's end, or shutdown with the dialog still open
    EXPECT_EQ(StoredNumber(AccountsKey, "Count"), 2);
    EXPECT_EQ(StoredText(Account0, "HostName"), "a");
    EXPECT_EQ(StoredText(Account1, "HostName"), "b");
    DiscardAccountEdits();  // Cancel
    ASSERT_EQ(TableCount(), 2);
    EXPECT_STREQ(Table(0).HostName, "a");
    EXPECT_STREQ(Table(1).HostName, "b");
}

TEST_F(AccountOwnershipTest, NeitherOkNorCancelRollsBackARun) {
    for (bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        Commit({MakeAccount("office", 0, "alice", "wrong"), MakeAccount("home", 0, "alice", "secret")});
        BeginAccountEdits();  // the dialog opens
        HeldExchange server;
        std::thread run([] { UpdateRun(Forced); });
        ASSERT_NE(server.AwaitRequest().find("host_id=office."), std::string::npos);
        server.Reply("401 Authorization Required");
        // office is refused and disabled; the run is held inside home's exchange.
        ASSERT_NE(server.AwaitRequest().find("host_id=home."), std::string::npos);
        if (ok)
            CommitAccountEdits();
        else
            DiscardAccountEdits();
        server.Reply("NOERROR");
        run.join();
        EXPECT_EQ(Table(0).Update, 0);
        EXPECT_EQ(StoredNumber(Account0, "Update"), 0);
        EXPECT_EQ(Table(1).LastIP, Here);
        EXPECT_EQ(StoredNumber(Account1, "LastIP"), static_cast<std::int32_t>(Here));
    }
}

TEST_F(AccountOwnershipTest, ARetrieveDuringTheExchangeDropsTheResultItWouldMisdirect) {
    HeldExchange server;  // first, so that the store keeps its port
    Commit({MakeAccount("home", 0, "alice", "secret")});
    WriteStoredText(Account0, "HostName", "garden");  // the store holds another account there
    std::thread run([] { UpdateRun(Forced); });
    ASSERT_NE(server.AwaitRequest().find("host_id=home."), std::string::npos);
    RetrieveSettings();
    server.Reply("401 Authorization Required");                                   // home's refusal finds no record
    EXPECT_NE(server.AwaitRequest().find("host_id=garden."), std::string::npos);  // new to the run
    server.Reply("NOERROR");
    run.join();
    EXPECT_EQ(Table(0).Update, 1);
}

TEST_F(AccountOwnershipTest, NoCopyEverSeesAHalfRetrievedRecord) {
    // Every field of the record carries the same mark; a retrieval brings
    // back the stored mark over the other one, field by field.
    auto marked = [](int mark) {
        std::string text = "m" + std::to_string(mark);
        Account a = MakeAccount(text.c_str(), mark, text.c_str(), text.c_str());
        CopyText(a.MailExtender, text.c_str());
        a.Wildcards = a.BackupMX = a.LastUpdate = mark;
        a.LastIP = static_cast<std::uint32_t>(mark);
        return a;
    };
    Commit({marked(1)});
    std::atomic<bool> done{false};
    std::atomic<int> retrievals{0};
    std::thread gui([&] {
        for (int mark = 1; !done; mark = 3 - mark) {
            {
                SharedDataGuard guard(SharedDataMutex());
                AccountTable.Accounts[0] = marked(mark);
            }
            StoreSettings();
            {
                SharedDataGuard guard(SharedDataMutex());
                AccountTable.Accounts[0] = marked(3 - mark);
            }
            RetrieveSettings();
            ++retrievals;
        }
    });
    long copies = 0, torn = 0;
    while (copies < 1000000 || retrievals < 100) {
        Account a;
        {
            SharedDataGuard guard(SharedDataMutex());
            a = AccountTable.Accounts[0];
        }
        ++copies;
        const int mark = a.Server;
        const std::string text = "m" + std::to_string(mark);
        if (text != a.HostName || text != a.UserName || text != a.Password || text != a.MailExtender ||
            a.Wildcards != mark || a.BackupMX != mark || a.LastUpdate != mark || a.LastIP != std::uint32_t(mark))
            ++torn;
    }
    done = true;
    gui.join();
    std::cout << "[ figures  ] " << copies << " copies during " << retrievals << " retrievals and stores: " << torn
              << " torn\n";
    EXPECT_EQ(torn, 0);
}

TEST_F(AccountOwnershipTest, AChangeTheServiceWouldSeeIsSentAtTheNextRun) {
    Account stored = MakeAccount("home", 0, "alice", "secret");
    stored.LastIP = Here;
    stored.LastUpdate = 2000000000;  // fresh: unchanged, it would be skipped
    struct Case {
        const char* what;
        void (*change)(Account&);
        bool sent;
    } cases[] = {
        {"nothing", [](Account&) {}, false},
        {"Update only", [](Account& a) { a.Update = 0; }, false},
        {"password", [](Account& a) { CopyText(a.Password, "new"); }, true},
        {"user", [](Account& a) { CopyText(a.UserName, "bob"); }, true},
        {"host letter case", [](Account& a) { CopyText(a.HostName, "Home"); }, true},
        {"mail extender", [](Account& a) { CopyText(a.MailExtender, "mx.example"); }, true},
        {"wildcards", [](Account& a) { a.Wildcards = 1; }, true},
        {"backup MX", [](Account& a) { a.BackupMX = 1; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Commit({stored});
        const std::uint32_t identity = [] {
            SharedDataGuard guard(SharedDataMutex());
            return AccountIdentity(AccountTable, 0);
        }();
        BeginAccountEdits();
        EditInCopy(0, c.change);
        CommitAccountEdits();
        EXPECT_EQ(Table(0).LastIP, c.sent ? 0u : Here);
        EXPECT_EQ(Table(0).LastUpdate, stored.LastUpdate);
        EXPECT_EQ(StoredNumber(Account0, "LastIP"), static_cast<std::int32_t>(c.sent ? 0u : Here));
        SharedDataGuard guard(SharedDataMutex());
        // A changed account is a new one for results still under way.
        EXPECT_EQ(AccountIdentity(AccountTable, 0) == identity, !c.sent);
    }
}
