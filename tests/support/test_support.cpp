#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <process.h>
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>
#define PSAPI_VERSION 2
#include <psapi.h>
#define getpid _getpid
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "common/text.h"
#include "log/clock.h"
#include "log/log.h"
#include "model/preferences.h"
#include "update/connection.h"
#include "update/sockets.h"

namespace {
std::atomic<int> captureNumber{0};
std::vector<InterfaceEntry> injected;
std::vector<Interface6Entry> injected6;
std::int64_t fixedNow = 0;

int InjectedList(InterfaceEntry list[MaxInterfaces]) {
    int count = 0;
    for (const InterfaceEntry& e : injected) {
        if (count == MaxInterfaces) return 0;
        list[count++] = e;
    }
    return count;
}
int InjectedList6(Interface6Entry list[MaxInterfaces6]) {
    for (std::size_t i = 0; i < injected6.size() && i < MaxInterfaces6; ++i) list[i] = injected6[i];
    return static_cast<int>(injected6.size());
}
std::int64_t FixedTime() { return fixedNow; }

// What the log window got during a capture, in full (time stamp included).
std::mutex windowMutex;
std::vector<std::string> windowLines;
void RecordWindowLine(const char* line) {
    std::lock_guard<std::mutex> guard(windowMutex);
    windowLines.push_back(line);
}

// A file line with its time stamp: one entry of the log; the other lines of
// the file continue a piece that holds line breaks.
bool Stamped(const std::string& line) {
    return line.size() >= 19 && line[2] == '/' && line[5] == '/' && line[17] == ':';
}

struct SocketsStarted {
    SocketsStarted() { StartSockets(0x0202); }
};
void EnsureSockets() { static SocketsStarted started; }
}  // namespace

const std::string& TestFolder() {
    // Forked children end with _exit and leave it to their parent.
    static const struct Folder {
        std::string path =
            (std::filesystem::temp_directory_path() / "vastrel-tests-").string() + std::to_string(getpid());
        Folder() { std::filesystem::create_directories(path, error); }
        ~Folder() { std::filesystem::remove_all(path, error); }
        std::error_code error;
    } folder;
    return folder.path;
}

LogCapture::LogCapture(bool detailed) : savedWindowLine_(AddLogWindowLine) {
    path_ = TestFolder() + "/capture-" + std::to_string(++captureNumber) + ".log";
    std::remove(path_.c_str());
    CopyText(LogFilePath, path_.c_str());
    {
        std::lock_guard<std::mutex> guard(windowMutex);
        windowLines.clear();
    }
    AddLogWindowLine = RecordWindowLine;
    SharedDataGuard guard(SharedDataMutex());
    Preferences.DetailedLogging = detailed ? 1 : 0;
}

LogCapture::~LogCapture() {
    AddLogWindowLine = savedWindowLine_;
    LogFilePath[0] = '\0';
    std::remove(path_.c_str());
    std::remove((path_ + ".1").c_str());
}

std::string FileOnly(const std::string& text) { return "(file only) " + text; }
std::string WindowOnly(const std::string& text) { return "(window only) " + text; }

std::string LogCapture::Text() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> LogCapture::Lines() const {
    std::vector<std::string> entries;  // whole, stamp included
    std::string text = Text();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (Stamped(line) || entries.empty())
            entries.push_back(line);
        else
            entries.back() += "\r\n" + line;
        start = end + 2;
    }
    std::vector<std::string> window;
    {
        std::lock_guard<std::mutex> guard(windowMutex);
        window = windowLines;
    }
    // Each window line pairs with one equal file entry; threads may have
    // reached the two in different orders.
    std::vector<std::string> lines;
    for (const std::string& entry : entries) {
        auto found = std::find(window.begin(), window.end(), entry);
        std::string shown = entry.size() >= 19 ? entry.substr(19) : entry;
        if (found == window.end()) {
            lines.push_back(FileOnly(shown));
        } else {
            window.erase(found);
            lines.push_back(shown);
        }
    }
    for (const std::string& rest : window) lines.push_back(WindowOnly(rest.size() >= 19 ? rest.substr(19) : rest));
    return lines;
}

void ResetSharedState() {
    SharedDataGuard guard(SharedDataMutex());
    Preferences = InitialPreferences();
    Preferences.Connection = 1;
    Preferences.DaysToForcedUpdate = 28;
    Preferences.PortNumber = ServerPort() ? ServerPort() : 80;
    AccountTable = AccountSet{};
    NetworkTimeoutMs = 2000;
    LogFilePath[0] = '\0';
    RestoreInterfaces();
    RestoreClock();
}

int ServerPort() {
    const char* text = std::getenv("VASTREL_TEST_PORT");
    return text ? std::atoi(text) : 0;
}

int TlsTestPort(const std::string& kind) {
    // "valid=1234 wrong-name=1235 ..."
    const char* text = std::getenv("VASTREL_TEST_TLS_PORTS");
    std::istringstream entries(text ? text : "");
    std::string entry;
    while (entries >> entry)
        if (entry.compare(0, kind.size() + 1, kind + "=") == 0) return std::atoi(entry.c_str() + kind.size() + 1);
    return 0;
}

bool TestAuthorityTrusted() { return std::getenv("VASTREL_TEST_CA_TRUSTED") != nullptr; }

std::string ServerGet(const std::string& path) {
    EnsureSockets();
    SocketHandle s = CreateStreamSocket();
    if (s == InvalidSocket) return "";
    std::string reply;
    if (ConnectSocket(s, Address("127.0.0.1"), static_cast<std::uint16_t>(ServerPort()), 5000) == 0) {
        std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        SendSome(s, request.data(), static_cast<int>(request.size()), 5000);
        char buffer[4096];
        int n;
        while ((n = ReceiveSome(s, buffer, sizeof buffer, 5000)) > 0) reply.append(buffer, n);
    }
    CloseSocket(s);
    std::size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? "" : reply.substr(body + 4);
}

int ServerRequestCount(const std::string& fullHost) {
    return std::atoi(ServerGet("/__count?host=" + fullHost).c_str());
}

void InjectInterfaces(const std::vector<InterfaceEntry>& list) {
    injected = list;
    InterfaceListSource = InjectedList;
}
void InjectInterfaces6(const std::vector<Interface6Entry>& list) {
    injected6 = list;
    Interface6ListSource = InjectedList6;
}
void RestoreInterfaces() {
    InterfaceListSource = GetInterfaceList;
    Interface6ListSource = GetInterface6List;
}

std::uint32_t Address(const char* dotted) { return TextToAddress(dotted); }

void FixClock(std::int64_t now) {
    fixedNow = now;
    CurrentTime = FixedTime;
}
void RestoreClock() { CurrentTime = SystemTime; }

Account MakeAccount(const char* host, int server, const char* user, const char* password) {
    Account a{};
    CopyText(a.HostName, host);
    CopyText(a.UserName, user);
    CopyText(a.Password, password);
    a.Update = 1;
    a.Server = server;
    return a;
}

TestListener::TestListener(const char* dotted) : socket_(-1), port_(0) {
    EnsureSockets();
    std::vector<SocketAddress> found;  // IPv4 or IPv6
    if (LookUpHostAddresses(dotted, 0, found) != 0) return;
    auto* address = reinterpret_cast<sockaddr*>(found[0].Bytes);
    auto s = ::socket(address->sa_family, SOCK_STREAM, 0);
    socklen_t length = found[0].Length;
    if (bind(s, address, length) != 0 || listen(s, 4) != 0) return;
    getsockname(s, address, &length);
    port_ = ntohs(reinterpret_cast<sockaddr_in*>(address)->sin_port);  // where sin6_port is too
    socket_ = static_cast<std::intptr_t>(s);
}

TestListener::~TestListener() { Stop(); }

void TestListener::Stop() {
    if (socket_ != -1) Close(socket_);
    socket_ = -1;
}

std::intptr_t TestListener::Accept(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
#ifdef _WIN32
        fd_set set;
        FD_ZERO(&set);
        FD_SET(static_cast<SOCKET>(socket_), &set);
        timeval wait{0, 50000};
        if (select(0, &set, nullptr, nullptr, &wait) > 0)
            return static_cast<std::intptr_t>(accept(static_cast<SOCKET>(socket_), nullptr, nullptr));
#else
        pollfd entry{static_cast<int>(socket_), POLLIN, 0};
        if (poll(&entry, 1, 50) > 0) return accept(static_cast<int>(socket_), nullptr, nullptr);
#endif
    }
    return -1;
}

void TestListener::Close(std::intptr_t socket) {
#ifdef _WIN32
    closesocket(static_cast<SOCKET>(socket));
#else
    close(static_cast<int>(socket));
#endif
}

std::string TestListener::ReadAll(std::intptr_t socket, std::size_t limit, int pauseMs) {
    std::string data;
    char buffer[512];
    while (data.size() < limit) {
        if (pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        int n = ReceiveSome(socket, buffer, sizeof buffer, 5000);
        if (n <= 0) break;
        data.append(buffer, n);
    }
    return data;
}

HeldExchange::HeldExchange() : savedTimeout_(NetworkTimeoutMs) {
    NetworkTimeoutMs = 30000;  // the run waits for as long as the test holds it
    SharedDataGuard guard(SharedDataMutex());
    savedPort_ = Preferences.PortNumber;
    Preferences.PortNumber = listener_.Port();
}

HeldExchange::~HeldExchange() {
    if (peer_ != -1) TestListener::Close(peer_);
    NetworkTimeoutMs = savedTimeout_;
    SharedDataGuard guard(SharedDataMutex());
    Preferences.PortNumber = savedPort_;
}

std::string HeldExchange::AwaitRequest(void (*idle)()) {
    if (peer_ != -1) TestListener::Close(peer_);
    peer_ = -1;
    for (int round = 0; round < 400 && peer_ < 0; ++round) {
        if (idle) idle();
        std::intptr_t s = listener_.Accept(50);
        if (s >= 0) peer_ = s;
    }
    // The program may log between connecting and sending, which on Windows
    // waits for the GUI thread: keep calling idle while the request arrives.
    std::string request;
    char buffer[512];
    for (int round = 0; round < 400 && peer_ >= 0 && request.find("\r\n\r\n") == std::string::npos; ++round) {
        if (idle) idle();
        int n = ReceiveSome(peer_, buffer, sizeof buffer, 50);
        if (n == 0) break;
        if (n > 0) request.append(buffer, n);
    }
    return request;
}

void HeldExchange::Reply(const std::string& body) {
    if (peer_ < 0) return;
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    SendSome(peer_, reply.data(), static_cast<int>(reply.size()), 5000);
    TestListener::Close(peer_);
    peer_ = -1;
}

int ThreadCount() {
    int count = 0;
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
#else
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        closedir(tasks);
    }
#endif
    return count;
}

std::size_t ResidentBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
#else
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

#include "settings/key_store.h"
#include "settings/settings.h"

void UseFreshSettingsStore() {
    static int number = 0;
#ifdef _WIN32
    (void)number;
    DeleteKeyTree("Software\\Brannock");
    KeyHandle run;
    if (OpenOrCreateKey(RunKeyPath, &run)) {
        DeleteValue(run, RunValueName);
        CloseKey(run);
    }
#else
    std::string path = TestFolder() + "/settings-" + std::to_string(++number) + ".txt";
    std::remove(path.c_str());
    std::remove((path + ".damaged").c_str());
    CopyText(KeyStoreFile, path.c_str());
#endif
    ForgetStoredValues();
    SharedDataGuard guard(SharedDataMutex());
    PreferenceRegInfo.Clear();
    AccountRegInfo.Clear();
    UpdatesDisabled = 0;
    RunFailed = 0;
    AutoExit = 0;
}

bool ReadStoredValue(const char* path, const char* name, std::uint32_t* type, std::string* data) {
    KeyHandle key;
    if (!OpenOrCreateKey(path, &key)) return false;
    char area[4096];
    std::uint32_t size = sizeof area;
    bool read = ReadValue(key, name, type, area, &size);
    CloseKey(key);
    if (read) data->assign(area, size);
    return read;
}

void WriteStoredValue(const char* path, const char* name, std::uint32_t type, const std::string& data) {
    KeyHandle key;
    if (!OpenOrCreateKey(path, &key)) return;
    WriteValue(key, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
    CloseKey(key);
}

void WriteStoredNumber(const char* path, const char* name, std::int32_t value) {
    WriteStoredValue(path, name, TypeNumber, std::string(reinterpret_cast<const char*>(&value), 4));
}

void WriteStoredText(const char* path, const char* name, const std::string& text) {
    WriteStoredValue(path, name, TypeText, text);
}

#ifdef _WIN32
namespace {
void SetKeyAccess(const char* path, const char* access) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(access, SDDL_REVISION_1, &descriptor, nullptr)) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
}
}  // namespace

// Reading and writing refused to everyone; changing the list stays allowed.
UnopenableKey::UnopenableKey(const char* path) : path_(path) { SetKeyAccess(path, "D:(D;;KRKW;;;WD)(A;;KA;;;WD)"); }
UnopenableKey::~UnopenableKey() { SetKeyAccess(path_.c_str(), "D:(A;;KA;;;WD)"); }
#else
UnopenableKey::UnopenableKey(const char* path) : path_(KeyStoreFile) {
    (void)path;
    CopyText(KeyStoreFile, "/proc/vastrel-no-such-folder/settings.txt");
}
UnopenableKey::~UnopenableKey() { CopyText(KeyStoreFile, path_.c_str()); }
#endif

std::int32_t StoredNumber(const char* path, const char* name) {
    std::uint32_t type;
    std::string data;
    if (!ReadStoredValue(path, name, &type, &data) || data.size() != 4) return -999999;
    std::int32_t value;
    std::memcpy(&value, data.data(), 4);
    return value;
}

std::string StoredText(const char* path, const char* name) {
    std::uint32_t type;
    std::string data;
    if (!ReadStoredValue(path, name, &type, &data)) return "<missing>";
    return data.substr(0, data.find('\0'));
}
