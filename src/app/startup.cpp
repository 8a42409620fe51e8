#include "app/startup.h"

#include <cstring>

#include "common/text.h"

bool IsAutoExitCommandLine(const char* commandLine) { return commandLine && EqualNoCase(commandLine, "/autoexit"); }

void DeriveLogFilePath(const char* programPath, char* out, std::size_t size) {
    CopyUtf8Text(out, size, programPath);
    std::size_t length = std::strlen(out);
    if (length == 0) return;
    // A path shorter than four characters loses what it has; a cut keeps
    // whole characters, as a name without ".exe" may end in any letter.
    out[Utf8FitLength(out, length, length >= 4 ? length - 4 : 0)] = '\0';
    AppendText(out, size, ".log");
}
