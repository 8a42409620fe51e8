#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "update/address6.h"

namespace {
class Address6Test : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
    void TearDown() override { RestoreInterfaces(); }
};
std::string Text(const Address6& a) {
    char text[Address6TextSize];
    FormatAddress6(a, text);
    return text;
}
Interface6Entry E(const char* text, std::uint32_t flags = 0, std::vector<const char*> adapter = {"198.51.100.1"}) {
    Interface6Entry e{flags, {}, static_cast<int>(adapter.size()), {}};
    EXPECT_TRUE(ParseAddress6(text, e.Address)) << text;
    for (std::size_t i = 0; i < adapter.size(); ++i) e.Adapter4[i] = Address(adapter[i]);
    return e;
}
std::string Choose(std::uint32_t adapter4) {
    Address6 chosen{};
    const char* why = "";
    return GetLocalAddress6(adapter4, chosen, why) ? Text(chosen) : why;
}
const std::uint32_t Temp = Interface6Temporary, Old = Interface6Deprecated;
const char* const NoneAnywhere = "no interface has a global IPv6 address";
const char* const NoneThere = "the chosen interface has no global IPv6 address";
}  // namespace

TEST(Address6Text, CompressedFormAndMalformedTexts) {
    // clang-format off
    const char* cases[][2] = {  // a text and its compressed form, null when refused
        {"2001:DB8:0:0:0:0:2:1", "2001:db8::2:1"}, {"2001:0db8:0000:0000:0000:0000:0002:0001", "2001:db8::2:1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"}, {"::", "::"}, {"1::", "1::"}, {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"::ffff:192.0.2.1", "::ffff:192.0.2.1"}, {"::FFFF:c000:201", "::ffff:192.0.2.1"},
        {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"}, {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304"},
        {"", nullptr}, {":::", nullptr}, {":1::", nullptr}, {"1::2::3", nullptr}, {"1::2:", nullptr},
        {"1:2:3:4:5:6:7", nullptr}, {"1:2:3:4:5:6:7:8:9", nullptr}, {"1:2:3:4:5:6:7:8::", nullptr},
        {"12345::", nullptr}, {"fe80::1%eth0", nullptr}, {" ::1", nullptr}, {"::1.2.3", nullptr},
        {"::1.2.3.256", nullptr}, {"::01.2.3.4", nullptr}, {"1:2:3:4:5:6:7:1.2.3.4", nullptr}};
    // clang-format on
    for (const auto& c : cases) {
        Address6 a;
        std::memset(a.Bytes, 0xAA, 16);
        bool read = ParseAddress6(c[0], a);
        EXPECT_EQ(read, c[1] != nullptr) << c[0];
        EXPECT_EQ(Text(a), read ? c[1] : "aaaa:aaaa:aaaa:aaaa:aaaa:aaaa:aaaa:aaaa") << c[0];  // else untouched
    }
    Address6 a;
    EXPECT_TRUE(ParseAddress6("::1 and more", a, 3));  // a token within a longer answer
    EXPECT_FALSE(ParseAddress6("1::1", a, 2));
}

TEST_F(Address6Test, VerdictsRefuseWhatTheInternetCannotReach) {
    // clang-format off
    struct Case { const char* address; std::uint32_t flags; const char* verdict; } cases[] = {
        {"::", 0, "is unspecified"}, {"::1", 0, "is the local loopback"},
        {"::c000:201", 0, "is an IPv4-compatible address"}, {"::ffff:192.0.2.1", 0, "is an IPv4-mapped address"},
        {"fe80::1", 0, "is link-local"}, {"febf::1", Temp, "is link-local"},
        {"fec0::1", 0, "is not a global unicast address"}, {"fc00::1", 0, "is unique-local (private)"},
        {"fdff::1", 0, "is unique-local (private)"}, {"ff0e::1", 0, "is multicast"},
        {"2001:db8::1", 0, "is a documentation address"},
        {"3fff:fff::1", 0, "is a documentation address"}, {"2002:c000:201::1", 0, "is a 6to4 address"},
        {"2001:0:4136:e378::1", 0, "is a Teredo address"}, {"1fff::1", 0, "is not a global unicast address"},
        {"4000::1", 0, "is not a global unicast address"}, {"2001:470::1", Old, "is deprecated"},
        {"2001:470::1", Interface6Unusable | Temp, "is tentative or duplicate"},
        {"2001:470::1", Temp, "is temporary and will be used only when no stable one is found"},
        {"2001:470::1", 0, "is OK"}, {"3fff:1000::1", 0, "is OK"}, {"2001:db9::1", 0, "is OK"}, {"2003::1", 0, "is OK"}};
    // clang-format on
    for (const Case& c : cases) {
        InjectInterfaces6({E(c.address, c.flags)});
        LogCapture log(true);
        bool accepted = std::strncmp(c.verdict, "is OK", 5) == 0 || std::strncmp(c.verdict, "is temp", 7) == 0;
        EXPECT_EQ(Choose(0), accepted ? c.address : NoneAnywhere);
        std::string line = std::string("IPv6 address ") + c.address + " " + c.verdict;
        EXPECT_EQ(log.Lines(), std::vector<std::string>{FileOnly(accepted ? line : line + " and will be ignored")});
    }
}

TEST_F(Address6Test, ChoicePrefersStableAddressesOfTheNamedAdapter) {
    Interface6Entry wild = E("2001:470:3::5");
    wild.Adapter4Count = 1000;  // read within the array all the same
    // A stable address past the bound is not judged.
    std::vector<Interface6Entry> many(MaxInterfaces6, E("2001:470::7", Temp));
    many.push_back(E("2001:470::5"));
    // clang-format off
    struct Case {  // the list, the "Interface" address (null: any), the address chosen or why there is none
        std::vector<Interface6Entry> list;
        const char *adapter, *result;
    } cases[] = {
        {{E("fe80::1"), E("2001:470::7", Temp), E("2001:470::5"), E("2001:470::6")}, nullptr, "2001:470::5"},
        {{E("2001:470::7", Temp), E("2001:470::8", Temp), E("2001:470::6", Old)}, nullptr, "2001:470::7"},
        {{E("2001:470::5"), E("2001:470:2::5", 0, {"192.0.2.1", "203.0.113.6"})}, "203.0.113.6", "2001:470:2::5"},
        {{E("2001:470::5"), E("2001:470:2::5", Temp, {"203.0.113.6"})}, "203.0.113.6", "2001:470:2::5"},
        {{E("2001:470::5"), E("fe80::5", 0, {"203.0.113.6"})}, "203.0.113.6", NoneThere},
        {{E("::1"), E("fe80::1"), E("2001:db8::1")}, nullptr, NoneAnywhere}, {{}, nullptr, NoneAnywhere},
        {{E("2001:470::5"), wild}, "192.0.2.98", NoneThere}, {many, nullptr, "2001:470::7"}};
    // clang-format on
    for (const Case& c : cases) {
        InjectInterfaces6(c.list);
        EXPECT_EQ(Choose(c.adapter ? Address(c.adapter) : 0), c.result);
    }
}

// In tools/in-netns.sh's namespace, whose interface holds 192.0.2.10 and a
// global IPv6 address.
TEST_F(Address6Test, SystemListPairsTheNamespaceAddresses) {
    const char* expected = std::getenv("VASTREL_NETNS_IPV6");
    if (!expected || !*expected) GTEST_SKIP() << "runs in tools/in-netns.sh";
    LogCapture log(true);
    EXPECT_EQ(Choose(Address("192.0.2.10")), expected);
    EXPECT_NE(log.Text().find(std::string("IPv6 address ") + expected + " is OK"), std::string::npos);  // stable
    EXPECT_EQ(Choose(Address("192.0.2.11")), NoneThere);
}

#ifndef _WIN32
// In the namespace of in-namespace.sh, where vastrel0 holds 198.51.100.1 to
// .9; a link without carrier keeps an address added without "nodad" tentative.
TEST(TestNamespace, Ipv6ListCarriesStatesAndAdapters) {
    if (!std::getenv("VASTREL_TEST_NAMESPACE")) GTEST_SKIP() << "runs in tests/update/in-namespace.sh";
    ResetSharedState();
    ASSERT_EQ(std::system("ip -6 addr add 2001:470:1f0b::10/64 dev vastrel0 nodad && ip link add vastrel6 type veth "
                          "peer name vastrel7 && ip addr add 203.0.113.6/32 dev vastrel6 && ip link set vastrel6 up && "
                          "ip -6 addr add 2001:470:1f0b::11/64 dev vastrel6 nodad preferred_lft 0 && "
                          "ip -6 addr add 2001:470:1f0b::12/64 dev vastrel6"),
              0);
    LogCapture log(true);
    EXPECT_EQ(Choose(Address("198.51.100.9")), "2001:470:1f0b::10");
    EXPECT_EQ(Choose(Address("203.0.113.6")), NoneThere);
    EXPECT_NE(log.Text().find("IPv6 address 2001:470:1f0b::11 is deprecated and"), std::string::npos);
    EXPECT_NE(log.Text().find("IPv6 address 2001:470:1f0b::12 is tentative or duplicate and"), std::string::npos);
    std::system("ip link del vastrel6; ip -6 addr flush dev vastrel0 scope global");
}
#endif
