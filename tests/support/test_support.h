// Shared helpers of the core tests: a captured log, the reference server,
// injected interface lists and a fixed clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/account.h"
#include "update/address.h"
#include "update/address6.h"

// The program's keys, as the tests read them.
constexpr const char* ProductKey = "Software\\Brannock\\Vastrel";
constexpr const char* AccountsKey = "Software\\Brannock\\Vastrel\\Accounts";

// The test process's own folder below the temporary folder, where every file
// a test writes goes; removed with all it holds when the process ends.
const std::string& TestFolder();

// Points the log at a fresh file of its own for the test's lifetime, records
// what reaches the log window, and turns detailed logging on or off.
class LogCapture {
public:
    explicit LogCapture(bool detailed = true);
    ~LogCapture();
    std::string Text() const;
    // The text of each line after the time stamp and ": ", as the file has
    // them, each marked where it went: a line the log window did not get
    // reads FileOnly(text), and a line that reached the window but not the
    // file is added at the end as WindowOnly(text).
    std::vector<std::string> Lines() const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    void (*savedWindowLine_)(const char*);
};
// How Lines() shows a line that went to the log file alone (flags 8), and one
// that reached the window without reaching the file.
std::string FileOnly(const std::string& text);
std::string WindowOnly(const std::string& text);

// Resets preferences and accounts to their initial state, with short network
// time limits and the "Connection" LAN setting the tests use.
void ResetSharedState();

// The reference server started by the test runner, or 0 when none runs.
int ServerPort();
// A TLS listener of the reference server ("valid", "wrong-name", "expired",
// "unknown-authority", "stall"), or 0 when it has none.
int TlsTestPort(const std::string& kind);
// Whether this system trusts the reference server's test authority (the
// suite runner arranges it where it can).
bool TestAuthorityTrusted();
// GET path from the reference server; the body of its answer ("" on failure).
std::string ServerGet(const std::string& path);
// How many update requests the server recorded for a full host name.
int ServerRequestCount(const std::string& fullHost);

// Replaces the system's interface list by the given one until reset.
void InjectInterfaces(const std::vector<InterfaceEntry>& list);
void RestoreInterfaces();
// Replaces the system's IPv6 list by the given one until reset (RestoreInterfaces).
void InjectInterfaces6(const std::vector<Interface6Entry>& list);
std::uint32_t Address(const char* dotted);

// A clock fixed at the given time until reset.
void FixClock(std::int64_t now);
void RestoreClock();

Account MakeAccount(const char* host, int server, const char* user, const char* password);

// A loopback listener for tests that need a peer of their own.
class TestListener {
public:
    explicit TestListener(const char* address = "127.0.0.1");
    ~TestListener();
    int Port() const { return port_; }
    // Accepts one connection; gives its socket or -1.
    std::intptr_t Accept(int timeoutMs);
    static void Close(std::intptr_t socket);
    // Reads until the peer closes or limit bytes arrived, slowly when asked.
    static std::string ReadAll(std::intptr_t socket, std::size_t limit, int pauseMs);
    void Stop();

private:
    std::intptr_t socket_;
    int port_;
};

// An update server of the test's own that holds each exchange at a known
// point: the request has arrived and the reply waits until the test sends it.
// Points "PortNumber" at itself while it lives.
class HeldExchange {
public:
    HeldExchange();
    ~HeldExchange();
    // Waits for the next request, calling idle between polls (a GUI test
    // pumps its messages there); "" when none comes within 20 s.
    std::string AwaitRequest(void (*idle)() = nullptr);
    // Answers the held request with status 200 and body, and closes.
    void Reply(const std::string& body);

private:
    TestListener listener_;
    std::intptr_t peer_ = -1;
    std::int32_t savedPort_;
    int savedTimeout_;
};

// Threads of this process, and the memory it holds (resident bytes).
int ThreadCount();
std::size_t ResidentBytes();

// Starts every settings test on an empty store: natively a file of the
// test's own, on Windows the test prefix's registry with the program's keys
// and the Run value removed. Also clears the schema's descriptor lists.
void UseFreshSettingsStore();
// Reads a value through the key store: type and bytes; false when missing.
bool ReadStoredValue(const char* path, const char* name, std::uint32_t* type, std::string* data);
void WriteStoredValue(const char* path, const char* name, std::uint32_t type, const std::string& data);
void WriteStoredNumber(const char* path, const char* name, std::int32_t value);
void WriteStoredText(const char* path, const char* name, const std::string& text);
// A key the program can neither open nor create while this lives. On Windows
// the key's access list refuses reading and writing; natively, where the
// store fails only as a whole, the store moves to a file that cannot be made,
// so that no key can be created (path must not exist yet).
class UnopenableKey {
public:
    explicit UnopenableKey(const char* path);
    ~UnopenableKey();
    UnopenableKey(const UnopenableKey&) = delete;
    UnopenableKey& operator=(const UnopenableKey&) = delete;

private:
    std::string path_;
};
std::int32_t StoredNumber(const char* path, const char* name);  // -999999 when missing
std::string StoredText(const char* path, const char* name);     // "<missing>" when missing
