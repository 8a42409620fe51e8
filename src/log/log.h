// The event log: one call through which every part of the program records events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/program_path.h"

// The bits of a log call's flags.
enum LogFlagBit : int {
    LogBitPlain = 1,           // no detail: written whatever "DetailedLogging" says
    LogBitIndentedDetail = 2,  // a detail, indented by three blanks
    LogBitErrorMark = 4,       // "*** " before the text
    LogBitDetail = 8,          // a detail; on its own (exactly 8) it stays out of the log window
};

// The flag values in use.
enum LogFlags : int {
    LogMilestone = LogBitPlain,                         // 1
    LogStep = LogBitIndentedDetail,                     // 2
    LogTrace = LogBitDetail,                            // 8, the log file only
    LogDetail = LogBitPlain | LogBitDetail,             // 9
    LogIndented = LogBitIndentedDetail | LogBitDetail,  // 10
    LogFailure = LogBitErrorMark | LogBitDetail,        // 12
    // Damaged stored data or a bad setting: marked, and shown even without details.
    LogShownFailure = LogBitPlain | LogBitErrorMark,  // 5
};

// Beside the program, so as long as the program's path may be.
constexpr std::size_t LogFilePathSize = ProgramPathSize;
// Set once at start-up; empty means no line reaches a file.
extern char LogFilePath[LogFilePathSize];
// Once the log file passes this size it moves aside to its name with ".1"
// (replacing the older one there), and the next line starts a new file.
// When the older one can be neither replaced nor removed, the file starts
// afresh with a line saying so: it never grows past the limit by more than a line.
constexpr std::uint64_t LogFileLimit = 4u * 1024 * 1024;

// A server's text as the log shows it: each line break (CR LF, CR or LF)
// begins a continuation line indented by four blanks, any other control
// character but the tab reads \xHH, and line breaks at the end are dropped:
// no line of the log comes from a server.
std::string ServerTextForLog(const char* text);
// The first line of a server's answer, at most 120 characters, the same way.
std::string ServerFirstLineForLog(const char* answer);

void WriteLog(int flags, const char* first, const char* second = nullptr, const char* third = nullptr,
              const char* fourth = nullptr, const char* fifth = nullptr);

// The text of the latest marked line ("*** ...") this thread wrote since the
// last call, whether "DetailedLogging" let it reach the log or not; "" when
// none. The update run tells the user its reasons in these words.
std::string TakeLastFailure();
// Puts plain words in place of the latest marked line this thread wrote, for
// a line that quotes a server: the user is told the program's own words.
void ReplaceLastFailure(const char* plain);

// Appends one finished line and CR LF to the log file.
void AppendLogFile(const char* line);

// The log window, connected by the shell; null until then.
// EnsureLogWindow creates it hidden when it does not exist yet.
extern void (*EnsureLogWindow)();
extern void (*AddLogWindowLine)(const char* line);
