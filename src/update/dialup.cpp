#include "update/dialup.h"

#include <cstring>
#include <mutex>
#include <new>

#include "log/log.h"

const char* RasLibraryName = "RASAPI32.DLL";

namespace {
void* Library = nullptr;
void* EnumConnections = nullptr;

// Two runs may ask at once; one question waits for the other so that neither
// releases the library while the other still uses it.
std::mutex& QuestionMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

int LoadRasLibrary() {
    Library = OpenRasLibrary(RasLibraryName);
    if (!Library) {
        WriteLog(LogTrace, "Could not load RASAPI32.DLL!");
        return -1;
    }
    WriteLog(LogTrace, "RASAPI32.DLL loaded.");
    EnumConnections = FindRasEntry(Library, "RasEnumConnectionsA");
    void* status = FindRasEntry(Library, "RasGetConnectStatusA");
    if (!EnumConnections || !status) {
        WriteLog(LogTrace, "Get not get ProcAddresses from RASAPI32.DLL!");
        UnloadRasLibrary();
        return -1;
    }
    return 0;
}

void UnloadRasLibrary() {
    if (!Library) return;
    if (CloseRasLibrary(Library)) {
        Library = nullptr;
        EnumConnections = nullptr;
    }
    WriteLog(LogTrace, "RASAPI32.DLL unloaded.");
}

int CheckDialUp() {
    std::lock_guard<std::mutex> guard(QuestionMutex());
    WriteLog(LogIndented, "Checking for RAS...");
    if (LoadRasLibrary() == -1) {
        WriteLog(LogIndented, "No RAS available, LAN connection?");
        return -1;
    }
    unsigned char* buffer = new (std::nothrow) unsigned char[RasConnectionRecordSize]();
    if (!buffer) {
        UnloadRasLibrary();
        return -1;
    }
    std::uint32_t size = RasConnectionRecordSize, count = 1;
    std::memcpy(buffer, &size, sizeof size);  // the record's dwSize
    int answer;
    if (EnumerateRasConnections(EnumConnections, buffer, &size, &count) != 0) {
        WriteLog(LogIndented, "Failed to enumerate RAS connections!");
        answer = -1;
    } else if (count > 0) {
        WriteLog(LogIndented, "RAS connection available");
        answer = 1;
    } else {
        WriteLog(LogIndented, "No RAS connection available");
        answer = 0;
    }
    delete[] buffer;
    UnloadRasLibrary();
    return answer;
}
