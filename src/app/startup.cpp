#include "app/startup.h"

#include <cstring>

#include "common/text.h"

bool IsAutoExitCommandLine(const char* commandLine) { return commandLine && EqualNoCase(commandLine, "/autoexit"); }

void DeriveLogFilePath(const char* programPath, char* out, std::size_t size) {
    CopyText(out, size, programPath);
    std::size_t length = std::strlen(out);
    if (length == 0) return;
    // A path shorter than four characters loses what it has.
    std::size_t keep = length >= 4 ? length - 4 : 0;
    out[keep] = '\0';
    AppendText(out, size, ".log");
}
