#include "log/log.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "common/text.h"
#include "log/clock.h"
#include "log/log_file.h"
#include "model/preferences.h"

char LogFilePath[LogFilePathSize];
void (*EnsureLogWindow)() = nullptr;
void (*AddLogWindowLine)(const char* line) = nullptr;

namespace {
// Writers are serialised so that no line is lost from the file when two
// threads log at once, and none is written while the file moves aside.
std::mutex& LogFileMutex() {
    static std::mutex mutex;
    return mutex;
}

// A plain buffer: a thread-local object with a destructor is not safe in
// the detached run threads under every runtime (MinGW's crashed at exit).
thread_local char LastFailure[512];

// The pieces of a line after the first, each after a blank.
void AppendPieces(std::string& line, const char* const (&more)[4]) {
    for (const char* piece : more) {
        if (!piece) continue;
        line += ' ';
        line += piece;
    }
}

// A line as the log writes it: time stamp, indent and mark as flags say,
// and the pieces. Throws std::bad_alloc.
std::string FormatLine(int flags, const char* first, const char* const (&more)[4]) {
    std::string line;
    std::size_t size = std::strlen(first) + 128;
    for (const char* piece : more)
        if (piece) size += std::strlen(piece);
    line.reserve(size);
    char stamp[18];
    FormatTimeStamp(CurrentTime(), stamp);
    line += stamp;
    line += ": ";
    if (flags & LogBitIndentedDetail) line += "   ";
    if (flags & LogBitErrorMark) line += "*** ";
    line += first;
    AppendPieces(line, more);
    return line;
}

// The file past its limit moves aside to its name with ".1". An older file
// there that cannot be replaced (held open by a viewer, read-only) is
// removed first; failing that too, the file starts afresh with a line that
// says why, then line (the one that passed the limit): it never grows on.
void MoveAside(const std::string& line) {
    const std::string older = std::string(LogFilePath) + ".1";
    if (MoveFileOver(LogFilePath, older.c_str())) return;
    if (RemoveFile(older.c_str()) && MoveFileOver(LogFilePath, older.c_str())) return;
    const std::size_t folder = older.find_last_of("\\/");
    const std::string why = "The log passed " + std::to_string(LogFileLimit >> 20) + " MiB and could not be moved to " +
                            older.substr(folder == std::string::npos ? 0 : folder + 1) + "; it starts afresh.";
    const std::string text = FormatLine(LogShownFailure, why.c_str(), {}) + "\r\n" + line;
    RewriteFile(LogFilePath, text.data(), text.size());
}
}  // namespace

std::string TakeLastFailure() {
    std::string taken = LastFailure;
    LastFailure[0] = '\0';
    return taken;
}

void ReplaceLastFailure(const char* plain) { CopyUtf8Text(LastFailure, plain); }

void AppendLogFile(const char* line) {
    std::lock_guard<std::mutex> guard(LogFileMutex());
    if (LogFilePath[0] == '\0') return;
    try {
        std::string data(line);
        data += "\r\n";
        if (AppendToFile(LogFilePath, data.data(), data.size()) > LogFileLimit) MoveAside(data);
    } catch (const std::bad_alloc&) {}
}

std::string ServerTextForLog(const char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
    std::string shown;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && text[i + 1] == '\n') ++i;
            shown += "\r\n    ";
        } else if ((c < 32 && c != '\t') || c == 127) {
            static const char Hex[] = "0123456789ABCDEF";
            shown += {'\\', 'x', Hex[c >> 4], Hex[c & 15]};
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string ServerFirstLineForLog(const char* answer) {
    std::string line(answer, std::strcspn(answer, "\r\n"));
    line.resize(Utf8FitLength(line.data(), line.size(), 120));
    return ServerTextForLog(line.c_str());
}

void WriteLog(int flags, const char* first, const char* second, const char* third, const char* fourth,
              const char* fifth) {
    const char* const more[] = {second, third, fourth, fifth};
    if (flags & LogBitErrorMark) {
        LastFailure[0] = '\0';
        try {
            std::string text = first;
            AppendPieces(text, more);
            CopyUtf8Text(LastFailure, text.c_str());  // a longer reason is cut
        } catch (const std::bad_alloc&) {}
    }
    if (flags & (LogBitIndentedDetail | LogBitDetail)) {
        SharedDataGuard guard(SharedDataMutex());
        if (Preferences.DetailedLogging == 0) return;
    }
    if (EnsureLogWindow) EnsureLogWindow();

    std::string line;
    try {
        line = FormatLine(flags, first, more);
    } catch (const std::bad_alloc&) {
        return;  // no memory for the line: it is lost
    }
    AppendLogFile(line.c_str());
    if (flags != LogBitDetail && AddLogWindowLine) AddLogWindowLine(line.c_str());
}
