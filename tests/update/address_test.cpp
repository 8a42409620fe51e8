#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "update/address.h"

namespace {
class AddressTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
    void TearDown() override { RestoreInterfaces(); }
};
InterfaceEntry Entry(const char* dotted, std::uint32_t flags = 0) { return {flags, Address(dotted)}; }
}  // namespace

TEST_F(AddressTest, VerdictsFollowFlagAndPrivateRanges) {
    struct Case {
        const char* address;
        std::uint32_t flags;
        bool accepted;
        const char* verdict;
    } cases[] = {
        {"127.0.0.1", InterfaceLoopback, false, "is the local loopback and will be ignored"},
        {"192.0.2.7", InterfaceLoopback, false, "is the local loopback and will be ignored"},
        {"127.0.0.1", 0, true, "is OK"},  // loopback is known by the flag alone
        {"10.0.0.5", 0, false, "is in a private range and will be ignored"},
        {"10.255.255.255", 0, false, "is in a private range and will be ignored"},
        {"11.0.0.1", 0, true, "is OK"},
        {"172.15.0.1", 0, true, "is OK"},
        {"172.16.0.1", 0, false, "is in a private range and will be ignored"},
        {"172.31.255.255", 0, false, "is in a private range and will be ignored"},
        {"172.32.0.1", 0, true, "is OK"},
        {"192.167.255.255", 0, true, "is OK"},
        {"192.168.0.1", 0, false, "is in a private range and will be ignored"},
        {"192.168.255.1", 0, false, "is in a private range and will be ignored"},
        {"192.169.0.1", 0, true, "is OK"},
        {"169.254.3.4", 0, false, "is a link-local address and will be ignored"},
        {"100.64.0.1", 0, false, "is behind a carrier's NAT and will be ignored"},
        // Where no host of the Internet reaches an address: the edges on both sides.
        // clang-format off
        {"100.63.255.255", 0, true, "is OK"}, {"100.64.0.0", 0, false, "is behind a carrier's NAT and will be ignored"},
        {"100.127.255.255", 0, false, "is behind a carrier's NAT and will be ignored"},
        {"100.128.0.0", 0, true, "is OK"},
        {"169.253.255.255", 0, true, "is OK"}, {"169.254.0.0", 0, false, "is a link-local address and will be ignored"},
        {"169.255.0.0", 0, true, "is OK"},
        {"198.17.255.255", 0, true, "is OK"}, {"198.18.0.0", 0, false, "is a benchmarking address and will be ignored"},
        {"198.19.255.255", 0, false, "is a benchmarking address and will be ignored"}, {"198.20.0.0", 0, true, "is OK"},
        {"223.255.255.255", 0, true, "is OK"}, {"224.0.0.0", 0, false, "is a multicast address and will be ignored"},
        {"0.255.255.255", 0, false, "is no host's address and will be ignored"}, {"1.0.0.0", 0, true, "is OK"},
        {"255.255.255.255", 0, false, "is no host's address and will be ignored"},
        // clang-format on
    };
    for (const Case& c : cases) {
        LogCapture log(true);
        EXPECT_EQ(IsAcceptableAddress(Entry(c.address, c.flags)), c.accepted) << c.address;
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0], FileOnly(std::string("IP number ") + c.address + " " + c.verdict));
    }
}

TEST_F(AddressTest, IndexSelectsAmongAcceptableAddresses) {
    InjectInterfaces(
        {Entry("10.0.0.5"), Entry("192.0.2.1"), Entry("127.0.0.1", InterfaceLoopback), Entry("198.51.100.9")});
    EXPECT_EQ(GetLocalAddress(0), Address("192.0.2.1"));
    EXPECT_EQ(GetLocalAddress(1), Address("198.51.100.9"));
    EXPECT_EQ(GetLocalAddress(5), Address("198.51.100.9"));   // beyond the count: the last one
    EXPECT_EQ(GetLocalAddress(-1), Address("198.51.100.9"));  // never reaches 0
    std::uint32_t found[MaxInterfaces];
    ASSERT_EQ(ListAcceptableAddresses(found), 2);
    EXPECT_EQ(found[0], Address("192.0.2.1"));
    EXPECT_EQ(found[1], Address("198.51.100.9"));
}

TEST_F(AddressTest, VerdictLinesStopAfterTheChosenEntry) {
    InjectInterfaces({Entry("10.0.0.5"), Entry("192.0.2.1"), Entry("198.51.100.9")});
    LogCapture log(true);
    GetLocalAddress(0);
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], FileOnly("IP number 192.0.2.1 is OK"));
}

TEST_F(AddressTest, NoAcceptableAddressGivesZero) {
    InjectInterfaces({Entry("127.0.0.1", InterfaceLoopback), Entry("192.168.1.2"), Entry("100.64.0.5")});
    for (int n : {0, 1, 7}) EXPECT_EQ(GetLocalAddress(n), 0u);
    std::uint32_t found[MaxInterfaces];
    EXPECT_EQ(ListAcceptableAddresses(found), 0);
    InjectInterfaces({});
    EXPECT_EQ(GetLocalAddress(0), 0u);
}

TEST_F(AddressTest, SystemListHoldsFlaggedLoopback) {
    InterfaceEntry list[MaxInterfaces];
    int count = GetInterfaceList(list);
    ASSERT_GT(count, 0);
    ASSERT_LE(count, MaxInterfaces);
    bool loopback = false;
    for (int i = 0; i < count; ++i)
        if ((list[i].Flags & InterfaceLoopback) && list[i].Address == Address("127.0.0.1")) loopback = true;
    EXPECT_TRUE(loopback);
}

#ifndef _WIN32
// In the namespace of in-namespace.sh: loopback and nine addresses of vastrel0.
TEST(TestNamespace, MoreThanTenInterfacesGiveAnEmptyList) {
    if (!std::getenv("VASTREL_TEST_NAMESPACE")) GTEST_SKIP() << "runs in tests/update/in-namespace.sh";
    ResetSharedState();
    InterfaceEntry list[MaxInterfaces];
    EXPECT_EQ(GetInterfaceList(list), 10);
    EXPECT_EQ(GetLocalAddress(0), Address("198.51.100.1"));
    ASSERT_EQ(std::system("ip addr add 198.51.100.10/32 dev vastrel0"), 0);
    EXPECT_EQ(GetInterfaceList(list), 0);  // as the system's list call, no partial list
    EXPECT_EQ(GetLocalAddress(0), 0u);
    std::system("ip addr del 198.51.100.10/32 dev vastrel0");
}
#endif
