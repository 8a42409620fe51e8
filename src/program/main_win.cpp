#include <windows.h>

#include "app/app_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (StartProgram(instance, commandLine)) {
        RunMessageLoop();
        ShutDownProgram();
    }
    return 0;
}
