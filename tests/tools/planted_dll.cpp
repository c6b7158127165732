// A COMCTL32.DLL that someone left beside SETUP.EXE, as in a downloads
// folder. It exports nothing: it only leaves PLANTED.LOG beside itself when
// a process loads it, which is when its code would already have run.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (reason != DLL_PROCESS_ATTACH || length == 0 || length >= MAX_PATH)
        return TRUE;
    char *name = path + length;
    while (name > path && name[-1] != '\\')
        --name;
    lstrcpyA(name, "PLANTED.LOG");
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    return TRUE;
}
