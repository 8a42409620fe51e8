// Benchmark: one update run over 32 accounts against the reference server on
// loopback, beside a bare request/answer baseline measured in the same run.
//   usage: vastrel_bench PORT [RUNS] [TIMEOUT_MS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include "app/update_run.h"
#include "common/text.h"
#include "model/preferences.h"
#include "settings/key_store.h"
#include "settings/settings.h"
#include "update/address.h"
#include "update/connection.h"
#include "update/request.h"
#include "update/sockets.h"

namespace {
using Clock = std::chrono::steady_clock;

int OneAddress(InterfaceEntry list[MaxInterfaces]) {
    list[0] = {0, TextToAddress("192.0.2.1")};
    return 1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void UseAccounts(const char* odd) {
    SharedDataGuard guard(SharedDataMutex());
    AccountTable = AccountSet{};
    for (int i = 0; i < MaxAccounts; ++i) {
        Account a{};
        CopyText(a.HostName, i == 16 && odd ? odd : "home");
        CopyText(a.UserName, "alice");
        CopyText(a.Password, "secret");
        a.Update = 1;
        AppendAccount(a);
    }
}

double TimeRun() {
    auto start = Clock::now();
    UpdateRun(Forced);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The same exchanges with nothing of the program around them.
double TimeBaseline(int port, const std::string& request) {
    auto start = Clock::now();
    for (int i = 0; i < MaxAccounts; ++i) {
        StartSockets(0x0101);
        SocketHandle s = CreateStreamSocket();
        ConnectSocket(s, TextToAddress("127.0.0.1"), static_cast<std::uint16_t>(port), 30000);
        SendSome(s, request.data(), static_cast<int>(request.size()), 30000);
        char reply[1025];
        ReceiveSome(s, reply, 1024, 30000);
        CloseSocket(s);
        StopSockets();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double PeakMemoryMiB() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize / 1048576.0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
#endif
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [RUNS] [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    int port = std::atoi(argv[1]);
    int runs = argc > 2 ? std::atoi(argv[2]) : 15;
    NetworkTimeoutMs = argc > 3 ? std::atoi(argv[3]) : 30000;
#ifndef _WIN32
    CopyText(KeyStoreFile, "bench-settings.txt");
#endif
    InitSettings();
    {
        SharedDataGuard guard(SharedDataMutex());
        Preferences.Connection = 1;
        Preferences.UseProxy = 0;
        Preferences.PortNumber = port;
        Preferences.DetailedLogging = 0;
    }
    InterfaceListSource = OneAddress;
    UseAccounts(nullptr);
    CreateAccountRegInfo();

    char request[TransferBufferSize];
    BuildUpdateRequest(AccountTable.Accounts[0], request, sizeof request);
    std::vector<double> runTimes, baseTimes;
    TimeRun();  // warm-up
    for (int i = 0; i < runs; ++i) {
        runTimes.push_back(TimeRun());
        baseTimes.push_back(TimeBaseline(port, request));
    }
    double run = Median(runTimes), base = Median(baseTimes);
    std::printf(
        "update run, %d accounts:      median %6.1f ms over %d runs = %.3f ms an account"
        " (settings stored each run)\n",
        MaxAccounts, run, runs, run / MaxAccounts);
    std::printf("bare loopback exchanges, %d:  median %6.1f ms = %.3f ms an exchange\n", MaxAccounts, base,
                base / MaxAccounts);
    std::printf("ratio run / baseline:         %.2f, the program's own cost %.3f ms an account\n", run / base,
                (run - base) / MaxAccounts);

    UseAccounts("silent");
    CreateAccountRegInfo();
    double silent = TimeRun();
    std::printf("one of %d never answers:      %.1f ms (time limit %d ms)\n", MaxAccounts, silent, NetworkTimeoutMs);
    std::printf("peak memory of the process:   %.1f MiB\n", PeakMemoryMiB());
    return 0;
}
