// The program: start-up connects every layer's seams (the shell calls, the
// log window, the tray menu's windows), then the message loop runs until
// "Exit". Split so that tests can drive a real window.
#pragma once

#include <windows.h>

// StartProgram gives false when the program is to end at once.
bool StartProgram(HINSTANCE instance, const char* commandLine);
void RunMessageLoop();
// One message of the loop: the keys of an open dialog (Tab, Enter, Esc,
// Alt and a letter) go to its dialog manager, everything else is dispatched.
void RouteMessage(MSG& message);
void ShutDownProgram();
