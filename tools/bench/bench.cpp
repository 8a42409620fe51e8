// Benchmark: one update run over 32 accounts against the reference server on
// loopback, beside a bare request/answer baseline measured in the same run,
// with the run's parts apart: the exchanges, the store and the log; and the
// steady run that timers make all day, where no address changed. On
// Windows, given the program, also its peak memory during an /autoexit run
// of the same accounts (through the server as their proxy).
//   usage: vastrel_bench PORT [RUNS] [TIMEOUT_MS] [PROGRAM]
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
#include "log/log.h"
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

template <class Work>
double Time(Work work) {
    auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What a forced run minutes after the last one finds: every account updated
// a minute ago, so that its store writes each account's new LastUpdate.
void AgeAccounts() {
    SharedDataGuard guard(SharedDataMutex());
    for (int i = 0; i < AccountTable.Count; ++i) AccountTable.Accounts[i].LastUpdate -= 60;
}
double TimeRun(UpdateMode mode = Forced) {
    if (mode == Forced) AgeAccounts();
    return Time([mode] { UpdateRun(mode); });
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

#ifdef _WIN32
double PeakMemoryMiB(HANDLE process = GetCurrentProcess()) {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    return counters.PeakWorkingSetSize / 1048576.0;
}

// The program's peak memory over an /autoexit run of the stored accounts; 0
// when it could not be started.
double ProgramPeakMiB(const char* program) {
    std::string command = std::string("\"") + program + "\" /autoexit";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return 0;
    WaitForSingleObject(started.hProcess, 60000);
    const double peak = PeakMemoryMiB(started.hProcess);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return peak;
}
#else
double PeakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}
#endif
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
    std::vector<double> runTimes, quietTimes, storeTimes, baseTimes, steadyTimes;
    const std::string logFile = "bench.log";
    TimeRun();  // warm-up
    std::uint32_t opens = 0, writes = 0, lookUps = 0, steadyOpens = 0, steadyWrites = 0;
    for (int i = 0; i < runs; ++i) {
        // Whatever follows other work by the benchmark runs slower (whether a
        // run with its log or without); an untimed run first puts each timed
        // one, like each baseline, after exchanges of its own kind.
        LogFilePath[0] = '\0';
        TimeRun();
        CopyText(LogFilePath, logFile.c_str());
        lookUps = HostLookUps;
        runTimes.push_back(TimeRun());
        lookUps = HostLookUps - lookUps;
        LogFilePath[0] = '\0';  // the same run without its log file
        quietTimes.push_back(TimeRun());
        AgeAccounts();
        const std::uint32_t before = KeyOpens, written = ValueWrites;
        storeTimes.push_back(Time(StoreSettings));
        opens = KeyOpens - before;
        writes = ValueWrites - written;
        baseTimes.push_back(TimeBaseline(port, request));
    }
    // Timers' runs with every address as registered: nothing to send, nothing to store.
    CopyText(LogFilePath, logFile.c_str());
    for (int i = 0; i < runs; ++i) {
        const std::uint32_t before = KeyOpens, written = ValueWrites;
        steadyTimes.push_back(TimeRun(Timer));
        steadyOpens += KeyOpens - before;
        steadyWrites += ValueWrites - written;
    }
    LogFilePath[0] = '\0';
    std::remove(logFile.c_str());
    double run = Median(runTimes), base = Median(baseTimes), store = Median(storeTimes);
    double log = run - Median(quietTimes);
    std::printf(
        "update run, %d accounts:      median %6.1f ms over %d runs = %.3f ms an account"
        " (each storing 32 new LastUpdate)\n",
        MaxAccounts, run, runs, run / MaxAccounts);
    std::printf("  the %d exchanges:           %6.1f ms (the run less its store and its log; %u host lookups)\n",
                MaxAccounts, run - store - log, static_cast<unsigned>(lookUps));
    std::printf("  the store:                  %6.1f ms (median alone, %u keys opened, %u values written)\n", store,
                static_cast<unsigned>(opens), static_cast<unsigned>(writes));
    std::printf("  the log:                    %6.1f ms (the run with its log file less the run without)\n", log);
    std::printf("bare loopback exchanges, %d:  median %6.1f ms = %.3f ms an exchange\n", MaxAccounts, base,
                base / MaxAccounts);
    std::printf("ratio run / baseline:         %.2f, the program's own cost %.3f ms an account\n", run / base,
                (run - base) / MaxAccounts);
    std::printf(
        "steady run, %d accounts:      median %6.1f ms over %d runs (no address changed); in all of them"
        " keys opened: %u, values written: %u\n",
        MaxAccounts, Median(steadyTimes), runs, static_cast<unsigned>(steadyOpens),
        static_cast<unsigned>(steadyWrites));

    UseAccounts("silent");
    CreateAccountRegInfo();
    double silent = TimeRun();
    std::printf("one of %d never answers:      %.1f ms (time limit %d ms)\n", MaxAccounts, silent, NetworkTimeoutMs);
    std::printf("peak memory of the process:   %.1f MiB\n", PeakMemoryMiB());
#ifdef _WIN32
    if (argc > 4) {
        UseAccounts(nullptr);
        CreateAccountRegInfo();
        {
            // The program finds the maker's host through the server as its proxy.
            SharedDataGuard guard(SharedDataMutex());
            Preferences.UseProxy = 1;
            CopyText(Preferences.ProxyServer, "127.0.0.1");
            Preferences.ProxyPort = port;
        }
        StoreSettings();
        std::printf("peak memory of %s /autoexit: %.1f MiB\n", argv[4], ProgramPeakMiB(argv[4]));
    }
#endif
    return 0;
}
