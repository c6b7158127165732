// Window helpers shared by the wizard and the removal dialog.
#include "script/state.h"

void CenterWindow(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    // The primary screen, not the work area; signed division truncates towards
    // zero, so a window larger than the screen gets a small negative offset.
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Ask(HWND owner, const char *text, const char *caption, UINT type)
{
    if (!State.silent)
        return MessageBoxA(owner, text, caption, type);
    return (type & MB_TYPEMASK) == MB_OK ? IDOK : IDNO;
}

int ShowError(const char *text)
{
    // No caption of its own: the system's default caption is shown.
    return Ask(State.ownerWindow, text, nullptr, MB_ICONERROR | MB_OK);
}

HANDLE StartCommand(char *command)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return nullptr;
    CloseOnce(started.hThread);
    return started.hProcess;
}

// One place that calls each of these: every place that calls an imported
// function directly costs the 32-bit program an entry among its relocations.
__attribute__((noinline)) void CloseOnce(HANDLE handle)
{
    CloseHandle(handle);
}

__attribute__((noinline)) void CloseKeyOnce(HKEY key)
{
    RegCloseKey(key);
}
