#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/key_store.h"
#include "settings/reg_info.h"
#include "test_support.h"

namespace {
class RegInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSharedState();
        UseFreshSettingsStore();
    }
};
const char* const Product = "Software\\Brannock\\VastrelStoreTest";
}  // namespace

TEST(RegInfoKeyPath, DropsEmptyComponents) {
    EXPECT_EQ(RegInfo("Brannock", "Vastrel").KeyPath(""), "Software\\Brannock\\Vastrel");
    EXPECT_EQ(RegInfo("Brannock", "Vastrel").KeyPath("Accounts\\3"), "Software\\Brannock\\Vastrel\\Accounts\\3");
    EXPECT_EQ(RegInfo("", "Vastrel").KeyPath("Sub"), "Software\\Vastrel\\Sub");
    EXPECT_EQ(RegInfo(nullptr, nullptr).KeyPath(nullptr), "Software");
}

TEST_F(RegInfoTest, EmptyListStoresNothingAndRetrievesZero) {
    RegInfo store("Brannock", "VastrelStoreTest");
    store.Store();
    EXPECT_EQ(store.Retrieve(), 0);
    EXPECT_TRUE(store.TestKey());  // creates the product key
    KeyHandle key;
    EXPECT_EQ(store.OpenKey("", &key), 2);
    CloseKey(key);
    EXPECT_EQ(store.OpenKey("New\\Deeper", &key), 1);
    CloseKey(key);
}

TEST_F(RegInfoTest, RoundTripAndDefaults) {
    RegInfo store("Brannock", "VastrelStoreTest");
    std::int32_t number = 0, other = 0, unnamed = 0;
    char text[16] = "", sub[8] = "";
    store.AddNumber("Number", &number, 42);
    store.AddNumber("Deep\\Key", "Other", &other, -7);
    store.AddNumber("", &unnamed, 5);
    store.AddText("Text", text, sizeof text, "default text");
    store.AddText("Deep", "Sub", sub, sizeof sub, "");

    EXPECT_EQ(store.Retrieve(), 1);  // first run: every value from its default
    EXPECT_EQ(number, 42);
    EXPECT_EQ(other, -7);
    EXPECT_STREQ(text, "default text");
    store.Store();
    EXPECT_EQ(StoredNumber("Software\\Brannock\\VastrelStoreTest\\Deep\\Key", "Other"), -7);
    EXPECT_EQ(StoredNumber(Product, ""), 5);  // the unnamed value

    number = 1;
    std::strcpy(text, "changed \"q\"\n");
    std::strcpy(sub, "1234567");  // fills the buffer but for its terminator
    store.Store();
    number = 0;
    text[0] = sub[0] = '\0';
    EXPECT_EQ(store.Retrieve(), 0);
    EXPECT_EQ(number, 1);
    EXPECT_STREQ(text, "changed \"q\"\n");
    EXPECT_STREQ(sub, "1234567");
}

TEST_F(RegInfoTest, BadStoredValuesFallBackAndEndTerminated) {
    RegInfo store("Brannock", "VastrelStoreTest");
    std::int32_t shortNumber = 1, longNumber = 1, textNumber = 1, badText = 1, good = 0;
    char exact[8], tooLong[8], binary[8], fine[8];
    store.AddNumber("Short", &shortNumber, 11);
    store.AddNumber("Long", &longNumber, 22);
    store.AddNumber("AsText", &textNumber, 33);
    store.AddNumber("BadText", &badText, 44);
    store.AddText("Exact", exact, sizeof exact, "d1");
    store.AddText("TooLong", tooLong, sizeof tooLong, "d2");
    store.AddText("Binary", binary, sizeof binary, "d3");
    store.AddText("Fine", fine, sizeof fine, "d4");
    store.AddNumber("Good", &good, 0);

    WriteStoredValue(Product, "Short", TypeBinary, std::string("\x05\x00", 2));
    WriteStoredValue(Product, "Long", TypeBinary, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    WriteStoredText(Product, "AsText", "400000");
    WriteStoredText(Product, "BadText", "12abc");
    WriteStoredValue(Product, "Exact", TypeBinary, "");
    WriteStoredText(Product, "Exact", "12345678");  // eight bytes, no room for the terminator
    WriteStoredText(Product, "TooLong", "123456789012");
    WriteStoredNumber(Product, "Binary", 7);
    WriteStoredText(Product, "Fine", "ok");
    WriteStoredNumber(Product, "Good", 9);

    EXPECT_EQ(store.Retrieve(), 1);
    EXPECT_EQ(shortNumber, 11);
    EXPECT_EQ(longNumber, 22);
    EXPECT_EQ(textNumber, 400000);
    EXPECT_EQ(badText, 44);
    EXPECT_STREQ(exact, "d1");
    EXPECT_STREQ(tooLong, "d2");
    EXPECT_STREQ(binary, "d3");
    EXPECT_STREQ(fine, "ok");  // nothing else is lost
    EXPECT_EQ(good, 9);
}
