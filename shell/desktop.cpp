// Shared by the program's Finish and the makers' trial, which waits for the
// same window before it starts the program: what one finds, the other does.
#include "shell/desktop.h"
#include <exdisp.h>
#include <shlobj.h>

IDispatch *DesktopWindow()
{
    IShellWindows *windows = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void **>(&windows))))
        return nullptr;
    VARIANT location = {}, root = {};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    LONG window;
    IDispatch *desktop = nullptr;
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) != S_OK) {
        if (desktop != nullptr)
            desktop->Release();
        desktop = nullptr;
    }
    windows->Release();
    return desktop;
}
