#include <windows.h>

#include "program/program_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (StartProgram(instance, commandLine)) {
        RunMessageLoop();
        ShutDownProgram();
    }
    return 0;
}
