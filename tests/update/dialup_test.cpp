#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "update/dialup.h"

namespace {
class DialUpTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
    void TearDown() override { RasLibraryName = "RASAPI32.DLL"; }
};
const std::vector<std::string> MissingLibrary = {"   Checking for RAS...", "Could not load RASAPI32.DLL!",
                                                 "   No RAS available, LAN connection?"};
}  // namespace

#ifdef _WIN32
TEST_F(DialUpTest, RealLibraryReportsNoConnection) {
    LogCapture log(true);
    EXPECT_EQ(CheckDialUp(), 0);
    std::vector<std::string> expected = {"   Checking for RAS...", "RASAPI32.DLL loaded.",
                                         "   No RAS connection available", "RASAPI32.DLL unloaded."};
    EXPECT_EQ(log.Lines(), expected);
}

TEST_F(DialUpTest, MissingLibraryCannotTell) {
    RasLibraryName = "C:\\nowhere\\NORAS.DLL";
    LogCapture log(true);
    EXPECT_EQ(CheckDialUp(), -1);
    EXPECT_EQ(log.Lines(), MissingLibrary);
}

TEST_F(DialUpTest, LibraryWithoutTheEntryPointsCannotTell) {
    RasLibraryName = "KERNEL32.DLL";
    LogCapture log(true);
    EXPECT_EQ(CheckDialUp(), -1);
    std::vector<std::string> expected = {"   Checking for RAS...", "RASAPI32.DLL loaded.",
                                         "Get not get ProcAddresses from RASAPI32.DLL!", "RASAPI32.DLL unloaded.",
                                         "   No RAS available, LAN connection?"};
    EXPECT_EQ(log.Lines(), expected);
}
#else
TEST_F(DialUpTest, NoLibraryHereCannotTell) {
    LogCapture log(true);
    EXPECT_EQ(CheckDialUp(), -1);
    EXPECT_EQ(log.Lines(), MissingLibrary);
    EXPECT_EQ(LoadRasLibrary(), -1);
}
#endif
