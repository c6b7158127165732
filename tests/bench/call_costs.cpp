// What setup pays per entry besides the file work itself, call by call, so
// that a gap between setup and the bare loops can be traced to its cause.
//   BENCHCALLS DISTDIR COUNT
// DISTDIR (no trailing backslash) holds a product's SETUP.INF and its COUNT
// numbered files. Prints one line per call: name, calls, microseconds per call.
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_files.h"
#include "wizard/wizard.h"

namespace {

double NowUs()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

void Report(const char *what, int calls, double elapsedUs)
{
    std::printf("%-60s %6d %10.1f\n", what, calls, elapsedUs / calls);
}

// One posted message taken and dispatched, as the progress page's steps go.
void PumpOne(HWND window, UINT message)
{
    PostMessageA(window, message, 1, 0);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        DispatchMessageA(&msg);
        if (msg.hwnd == window && msg.message == message)
            break;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: BENCHCALLS DISTDIR COUNT\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "\\";
    const std::string script = dir + "SETUP.INF";
    const int count = std::atoi(argv[2]);
    if (count < 1)
        return 2;
    char value[260];

    double start = NowUs();
    for (int n = 1; n <= count; ++n)
        GetPrivateProfileStringA("Install", std::to_string(n).c_str(), "", value, sizeof value, script.c_str());
    Report("GetPrivateProfileStringA, entries 1 to N in turn", count, NowUs() - start);

    start = NowUs();
    for (int n = 1; n <= count; ++n)
        GetPrivateProfileStringA("Install", "Title", "", value, sizeof value, script.c_str());
    Report("GetPrivateProfileStringA, the same first key again", count, NowUs() - start);

    start = NowUs();
    for (int n = 1; n <= count; ++n) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir + bench::DataFileName(n)).c_str(), &found);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
    Report("FindFirstFileA + FindClose on one file", count, NowUs() - start);

    start = NowUs();
    for (int n = 1; n <= count; ++n)
        GetFileAttributesA((dir + bench::DataFileName(n)).c_str());
    Report("GetFileAttributesA on one file (for comparison)", count, NowUs() - start);

    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 60, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 380, 20, window,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    SendMessageA(bar, PBM_SETRANGE32, 0, count);
    UpdateWindow(window);

    start = NowUs();
    for (int n = 1; n <= count; ++n)
        PumpOne(window, WM_APP);
    Report("PostMessageA + GetMessageA + DispatchMessageA", count, NowUs() - start);

    start = NowUs();
    for (int n = 1; n <= count; ++n) {
        SendMessageA(bar, PBM_DELTAPOS, 1, 0);
        PumpOne(window, WM_APP);
    }
    Report("the same with PBM_DELTAPOS on a shown progress bar", count, NowUs() - start);

    // The step as it was taken before: drawing held off with WM_SETREDRAW,
    // which costs more calls to the window server and drops a repaint the
    // bar still owes, and the whole fill drawn again whenever it grows.
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    UpdateWindow(window);
    RECT inside;
    GetClientRect(bar, &inside);
    const int width = inside.right - inside.left - 2;
    start = NowUs();
    for (int n = 0; n < count; ++n) {
        bool still = MulDiv(n, width, count) == MulDiv(n + 1, width, count);
        if (still)
            SendMessageA(bar, WM_SETREDRAW, FALSE, 0);
        SendMessageA(bar, PBM_DELTAPOS, 1, 0);
        if (still)
            SendMessageA(bar, WM_SETREDRAW, TRUE, 0);
        PumpOne(window, WM_APP);
    }
    Report("the same with the step held off by WM_SETREDRAW (before)", count, NowUs() - start);

    SendMessageA(bar, PBM_SETPOS, 0, 0);
    UpdateWindow(window);
    start = NowUs();
    for (int n = 0; n < count; ++n) {
        AdvanceBar(bar, n, count);
        PumpOne(window, WM_APP);
    }
    Report("the same with setup's step along the bar (AdvanceBar)", count, NowUs() - start);

    // The bar was looked up on every step before; now the page keeps it.
    SetWindowLongPtrA(bar, GWLP_ID, 1003);
    start = NowUs();
    for (int n = 1; n <= count; ++n)
        GetDlgItem(window, 1003);
    Report("GetDlgItemA on the page (once per step before)", count, NowUs() - start);
    DestroyWindow(window);
    return 0;
}
