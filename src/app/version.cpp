#include "app/version.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "app/shell.h"
#include "build_version.h"
#include "common/text.h"
#include "log/log.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "update/connection.h"
#include "update/request.h"

namespace {
void BuiltInVersion(char out[8]) { CopyText(out, 8, VASTREL_VERSION_TEXT); }

// atoi's reading of one component, without its overflow.
int ComponentNumber(const char* text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Leaves the mutex on every way out of a check.
struct VersionMutexHold {
    bool held;
    VersionMutexHold() : held(Shell.TakeVersionMutex()) {}
    ~VersionMutexHold() {
        if (held) Shell.ReleaseVersionMutex();
    }
};
}  // namespace

void (*GetVersionText)(char out[8]) = BuiltInVersion;

char* BuildVersionRequest(char* buffer, std::size_t size, const PreferenceSet& preferences) {
    CopyText(buffer, size, "GET ###SERVER###/Products/Vastrel/Version.html HTTP/1.1\r\n");
    AppendText(buffer, size, "Host: ");
    AppendText(buffer, size, MakerHost);
    AppendText(buffer, size, "\r\nContent-Type: application/x-www-form-urlencoded\r\n");
    AppendText(buffer, size, "Cache-Control: no-cache\r\nUser-Agent: Vastrel/" VASTREL_VERSION_TEXT "\r\n\r\n");
    std::string server;
    if (ProxyForm(preferences)) server = MakerUrl("");
    ReplacePlaceholder(buffer, size, "###SERVER###", server.c_str());
    return buffer;
}

int CompareVersions(const char* a, const char* b) {
    char left[16], right[16];
    CopyText(left, a ? a : "");
    CopyText(right, b ? b : "");
    const char* restA = left;   // never absent inside the loop
    const char* restB = right;  // null when absent
    for (;;) {
        if (*restA == '\0' || !restB || *restB == '\0') {
            if (*restA != '\0') return 1;
            break;
        }
        int numberA = ComponentNumber(restA), numberB = ComponentNumber(restB);
        if (numberA > numberB) return 1;
        if (numberA < numberB) return -1;
        const char* dotA = std::strchr(restA, '.');
        const char* dotB = std::strchr(restB, '.');
        restB = dotB ? dotB + 1 : nullptr;
        if (!dotA) break;
        restA = dotA + 1;
    }
    return restB && *restB != '\0' ? -1 : 0;
}

bool FindVersionToken(const char* reply, char token[16]) {
    const char* found = std::strstr(reply, "VERSION:");
    if (!found) return false;
    // Only a version's own characters: the token is shown in the prompt and
    // kept as "LastVersion", so nothing else of the reply gets that far.
    const char* start = found + 8;
    std::size_t length = std::strspn(start, "0123456789.");
    if (length > 15) length = 15;  // the size of "LastVersion"
    std::memcpy(token, start, length);
    token[length] = '\0';
    return true;
}

void StartVersionCheck(int manual) {
    if (!PreferenceSnapshot().VersionCheck) return;
    try {
        std::thread([manual] { VersionCheck(manual); }).detach();
    } catch (const std::system_error&) {}
}

int VersionCheck(int manual) {
    VersionMutexHold hold;
    if (!hold.held) return -1;
    WriteLog(LogMilestone, "Checking for new version...");
    char buffer[ReplyLimit + 1];
    char token[16];
    bool found = false;
    // The connection is closed before the user is asked anything.
    ExchangeOnce(
        MakerHost, buffer, sizeof buffer,
        [](char* request, std::size_t size, const PreferenceSet& preferences) {
            BuildVersionRequest(request, size, preferences);
            return true;
        },
        [&](int received) {
            if (received <= 0) return;
            WriteLog(LogTrace, "Received from server:", ServerTextForLog(buffer).c_str());
            found = FindVersionToken(buffer, token);
            if (!found)
                WriteLog(LogFailure, "No version information found!");
            else
                WriteLog(LogTrace, "Version info found.");
        });
    if (!found) return -1;

    char own[8];
    GetVersionText(own);
    if (CompareVersions(own, token) >= 0) {
        WriteLog(LogMilestone, "Program is up-to-date");
        return 0;
    }
    WriteLog(LogMilestone, "New version", token, "is available");
    char lastVersion[16];
    {
        SharedDataGuard guard(SharedDataMutex());
        CopyField(lastVersion, Preferences.LastVersion);
    }
    if (manual == 1 || CompareVersions(lastVersion, token) == -1) {
        std::string prompt = std::string("A new version of Vastrel is available!\nThe new version is ") + token +
                             " and your version is " + own + "\nDo you want to open the download page?";
        if (Shell.AskYesNo(prompt.c_str(), "New version")) {
            // Whoever asked for secure requests gets the download page over HTTPS too.
            Shell.OpenPage(MakerUrl("/Products/Vastrel/", ReadShared(Preferences.UseHTTPS) != 0).c_str());
        }
        SharedDataGuard guard(SharedDataMutex());
        CopyText(Preferences.LastVersion, token);
    }
    return 0;
}
