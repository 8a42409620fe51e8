// The event log: one call through which every part of the program records events.
#pragma once

#include <cstddef>

// Flag bits: 2 detail and indented, 4 error mark, 8 detail; exactly 8 keeps the
// line out of the log window.
enum LogFlags : int {
    LogMilestone = 1,
    LogStep = 2,
    LogTrace = 8,
    LogDetail = 9,
    LogIndented = 10,
    LogFailure = 12,
};

constexpr std::size_t LogFilePathSize = 260;
// Set once at start-up; empty means no line reaches a file.
extern char LogFilePath[LogFilePathSize];

void WriteLog(int flags, const char* first, const char* second = nullptr, const char* third = nullptr,
              const char* fourth = nullptr, const char* fifth = nullptr);

// Appends one finished line and CR LF to the log file.
void AppendLogFile(const char* line);

// The log window, connected by the shell; null until then.
// EnsureLogWindow creates it hidden when it does not exist yet.
extern void (*EnsureLogWindow)();
extern void (*AddLogWindowLine)(const char* line);

// Platform seam: appends bytes to the file at path, creating it when missing.
void AppendToFile(const char* path, const char* data, std::size_t length);
