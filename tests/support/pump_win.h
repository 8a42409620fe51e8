// The GUI tests' message pump: the test thread is the program's GUI thread,
// so it dispatches messages as the program's loop would while it waits.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

// Dispatches this thread's messages until done() or the limit; gives done().
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        Sleep(5);
    }
    return done();
}
inline void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}
inline void PumpBriefly() { Pump(5); }
