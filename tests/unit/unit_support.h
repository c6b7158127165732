// Helpers of the unit tests that run inside the program's process.
#pragma once

#include <windows.h>
#include <string>

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

inline BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    HWND *found = reinterpret_cast<HWND *>(param);
    char className[16];
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr && IsWindowVisible(window)) {
        *found = window;
        return FALSE;
    }
    return TRUE;
}

inline std::string TextOf(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline DWORD WINAPI WatchThread(void *param)
{
    Watch *watch = static_cast<Watch *>(param);
    DWORD start = GetTickCount();
    while (!watch->done && GetTickCount() - start < 20000) {
        HWND box = nullptr;
        EnumThreadWindows(watch->threadId, FindBox, reinterpret_cast<LPARAM>(&box));
        if (box != nullptr) {
            CaughtBox &caught = watch->box;
            caught.shown = true;
            caught.text = TextOf(GetDlgItem(box, 0xFFFF));
            caught.caption = TextOf(box);
            caught.owner = GetWindow(box, GW_OWNER);
            caught.hasOk = GetDlgItem(box, IDOK) != nullptr;
            caught.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
            // The system's icons are shared handles, so the one the box shows
            // is the very handle that LoadIcon gives here. Wine keeps it in
            // control 0x440, Windows in 0x14.
            HWND icon = GetDlgItem(box, 0x440);
            if (icon == nullptr)
                icon = GetDlgItem(box, 0x14);
            HICON shown = icon ? reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)) : nullptr;
            caught.errorIcon = shown != nullptr && shown == LoadIconA(nullptr, IDI_ERROR);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
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
