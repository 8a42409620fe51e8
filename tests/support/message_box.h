// Windows tests: answering the message box that the thread under test shows.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// Answers (with answer) the message box, a dialog with the given caption other
// than except, that this thread shows during action(); gives its message.
inline std::string AnswerMessageBox(const char* caption, HWND except, const std::function<void()>& action,
                                    int answer = IDOK) {
    std::string text;
    std::atomic<bool> seen{false};
    std::thread answerer([&] {
        for (int i = 0; i < 200 && !seen; ++i) {
            Sleep(25);
            for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", caption)) != nullptr;) {
                if (w == except) continue;
                char buffer[512] = "";
                EnumChildWindows(
                    w,
                    [](HWND child, LPARAM out) {
                        char piece[512];
                        if (GetWindowTextA(child, piece, sizeof piece) > 10)
                            lstrcpynA(reinterpret_cast<char*>(out), piece, 512);
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(buffer));
                text = buffer;
                seen = true;
                PostMessageA(w, WM_COMMAND, answer, 0);
                break;
            }
        }
    });
    action();
    answerer.join();
    return seen ? text : "<no message box>";
}
