// A stand-in for RASAPI32.DLL that reports as many dial-up connections as
// VASTREL_FAKE_RAS_CONNECTIONS says, refusing a buffer too small for them as
// the real library does. Its .def file names the entry points it exports.
#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include <cstdlib>

extern "C" DWORD WINAPI FakeEnumConnections(LPRASCONNA connections, LPDWORD size, LPDWORD count) {
    if (!connections || !size || !count) return ERROR_INVALID_PARAMETER;
    if (connections->dwSize != sizeof(RASCONNA)) return ERROR_INVALID_SIZE;
    char text[16] = "0";
    GetEnvironmentVariableA("VASTREL_FAKE_RAS_CONNECTIONS", text, sizeof text);
    const DWORD active = static_cast<DWORD>(std::atoi(text));
    const DWORD needed = active * sizeof(RASCONNA);
    if (*size < needed) {
        *size = needed;
        *count = active;
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (DWORD i = 0; i < active; ++i) {
        ZeroMemory(&connections[i], sizeof(RASCONNA));
        connections[i].dwSize = sizeof(RASCONNA);
        lstrcpyA(connections[i].szEntryName, "Fake dial-up");
    }
    *count = active;
    return 0;
}

extern "C" DWORD WINAPI FakeGetConnectStatus(HRASCONN, LPRASCONNSTATUSA) {
    return ERROR_INVALID_HANDLE;  // looked up, never called
}
