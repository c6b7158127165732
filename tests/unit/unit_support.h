// Helpers of the unit tests that run inside the program's process.
#pragma once

#include <windows.h>
#include <string>
#include "common/message_box.h"

// A file C:\ut\<test>\<name> with exactly these bytes, its directories
// created. Tests use their own directory, since they run in parallel, and a
// fresh name per script, since the profile reader may keep a file it has read.
inline std::string WriteTestFile(const std::string &test, const std::string &name, const std::string &bytes)
{
    CreateDirectoryA("C:\\ut", nullptr);
    std::string dir = "C:\\ut\\" + test + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string path = dir + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return written == bytes.size() ? path : std::string();
}

// Catches the message box that a procedure under test shows on this thread:
// a second thread waits for a box of this process, records what it shows and
// presses OK, so the modal loop returns and the procedure goes on.
struct CaughtBox {
    bool shown = false;
    std::string text;
    std::string caption;
    HWND owner = nullptr;
    bool hasOk = false;
    bool hasCancel = false;
    bool errorIcon = false;
};

namespace box_catcher {

struct Watch {
    DWORD threadId;
    volatile LONG done;
    CaughtBox box;
};

inline DWORD WINAPI WatchThread(void *param)
{
    Watch *watch = static_cast<Watch *>(param);
    DWORD start = GetTickCount();
    while (!watch->done && GetTickCount() - start < 20000) {
        if (HWND window = message_box::ThreadBox(watch->threadId)) {
            message_box::Box box = message_box::Read(window);
            CaughtBox &caught = watch->box;
            caught.shown = true;
            caught.text = box.text;
            caught.caption = box.caption;
            caught.owner = box.owner;
            caught.hasOk = GetDlgItem(window, IDOK) != nullptr;
            caught.hasCancel = GetDlgItem(window, IDCANCEL) != nullptr;
            caught.errorIcon = box.icon == "error";
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

}  // namespace box_catcher

// Runs action on this thread and returns the first box it showed (shown is
// false when it showed none).
template <class F> CaughtBox CatchBox(F action)
{
    box_catcher::Watch watch{GetCurrentThreadId(), 0, CaughtBox()};
    HANDLE thread = CreateThread(nullptr, 0, box_catcher::WatchThread, &watch, 0, nullptr);
    action();
    InterlockedExchange(&watch.done, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return watch.box;
}
