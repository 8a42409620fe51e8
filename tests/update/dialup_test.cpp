#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#endif
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
const std::vector<std::string> MissingLibrary = {"   Checking for RAS...", FileOnly("Could not load RASAPI32.DLL!"),
                                                 "   No RAS available, LAN connection?"};
#ifdef _WIN32
std::string Beside(const char* name) {
    char path[MAX_PATH];
    const std::string self(path, GetModuleFileNameA(nullptr, path, sizeof path));
    return self.substr(0, self.find_last_of('\\') + 1) + name;
}
#endif
}  // namespace

#ifdef _WIN32
// The real library under Wine, and stand-ins built beside the tests that
// report the connections the test asks for.
TEST_F(DialUpTest, AnswerFollowsTheLibraryAndItsConnections) {
    struct Case {
        const char* what;
        const char* library;
        const char* connections;
        int answer;
        std::vector<std::string> lines;
    } cases[] = {
        {"Wine's library, not the stand-in planted beside the tests",
         "RASAPI32.DLL",
         "1",
         0,
         {"   Checking for RAS...", FileOnly("RASAPI32.DLL loaded."), "   No RAS connection available",
          FileOnly("RASAPI32.DLL unloaded.")}},
        {"one connection",
         "vastrel_fake_ras.dll",
         "1",
         1,
         {"   Checking for RAS...", FileOnly("RASAPI32.DLL loaded."), "   RAS connection available",
          FileOnly("RASAPI32.DLL unloaded.")}},
        // The one-record buffer is too small for two: the platform refuses.
        {"two connections",
         "vastrel_fake_ras.dll",
         "2",
         -1,
         {"   Checking for RAS...", FileOnly("RASAPI32.DLL loaded."), "   Failed to enumerate RAS connections!",
          FileOnly("RASAPI32.DLL unloaded.")}},
        {"no status entry",
         "vastrel_fake_ras_enum_only.dll",
         "1",
         -1,
         {"   Checking for RAS...", FileOnly("RASAPI32.DLL loaded."),
          FileOnly("Get not get ProcAddresses from RASAPI32.DLL!"), FileOnly("RASAPI32.DLL unloaded."),
          "   No RAS available, LAN connection?"}},
        {"no library", "C:\\nowhere\\NORAS.DLL", "0", -1, MissingLibrary},
    };
    const std::string planted = Beside("rasapi32.dll");
    EXPECT_TRUE(CopyFileA(Beside("vastrel_fake_ras.dll").c_str(), planted.c_str(), FALSE));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string library = std::strncmp(c.library, "vastrel_", 8) == 0 ? Beside(c.library) : c.library;
        RasLibraryName = library.c_str();
        _putenv_s("VASTREL_FAKE_RAS_CONNECTIONS", c.connections);
        LogCapture log(true);
        EXPECT_EQ(CheckDialUp(), c.answer);
        EXPECT_EQ(log.Lines(), c.lines);
        EXPECT_EQ(GetModuleHandleA(library.c_str()), nullptr) << "the library is held only during the question";
    }
    DeleteFileA(planted.c_str());
    _putenv_s("VASTREL_FAKE_RAS_CONNECTIONS", "");
}
#else
TEST_F(DialUpTest, NoLibraryHereCannotTell) {
    LogCapture log(true);
    EXPECT_EQ(CheckDialUp(), -1);
    EXPECT_EQ(log.Lines(), MissingLibrary);
    EXPECT_EQ(LoadRasLibrary(), -1);
}
#endif
