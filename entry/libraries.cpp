// Where the program's DLLs come from. It runs elevated from wherever the user
// saved it, often a downloads folder that holds whatever else was saved
// there, and the system looks for a DLL beside the program first. So no DLL
// the system does not always take from its own directory is imported by
// name: the common controls and the common dialogs are loaded here by their
// full system path, and the search is narrowed before any of them loads.
#include "script/state.h"

// DLLs that the system and the shell load on the program's behalf, by name,
// after start-up: the list that 7-Zip's DLL loading guard (DllSecur.c)
// preloads, where it comes from the DLL planting reports against installers.
static const char PreloadedLibraries[] =
    "UXTHEME.DLL\0USERENV.DLL\0SETUPAPI.DLL\0APPHELP.DLL\0PROPSYS.DLL\0DWMAPI.DLL\0CRYPTBASE.DLL\0"
    "OLEACC.DLL\0CLBCATQ.DLL\0VERSION.DLL\0COMCTL32.DLL\0COMDLG32.DLL\0";

HMODULE LoadSystemLibrary(const char *name)
{
    char path[PATH_SIZE];
    UINT len = GetSystemDirectoryA(path, PATH_SIZE - 1);
    if (len == 0 || len >= PATH_SIZE - 1)
        return nullptr;
    AddTrailingBackslash(path);
    if (!AppendText(path, PATH_SIZE, name))
        return nullptr;
    // The DLL's own imports are looked for beside it, in the system
    // directory, and not beside the program, where the search begins
    // wherever the system knows no narrower one.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC GetSystemProc(const char *library, const char *name)
{
    HMODULE module = LoadSystemLibrary(library);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

FIXED_LAYOUT DWORD TrueVersion()
{
    // GetVersion answers what a compatibility layer makes it answer; the
    // system's own count comes from RtlGetVersion, which Windows 2000 and
    // later have. The systems without it tell the truth.
    typedef LONG(WINAPI * VersionProc)(OSVERSIONINFOW *);
    FARPROC found = GetProcAddress(GetModuleHandleA("NTDLL.DLL"), "RtlGetVersion");
    OSVERSIONINFOW info;
    info.dwOSVersionInfoSize = sizeof info;
    if (found == nullptr || reinterpret_cast<VersionProc>(reinterpret_cast<void (*)()>(found))(&info) != 0)
        return GetVersion();
    return info.dwMajorVersion | info.dwMinorVersion << 8;
}

int UsesSearchDirectories(DWORD version)
{
    // 7-Zip's guard leaves the call out on Vista (6.0), with the update that
    // brings it, after which it saw the shell's link object fail to be made;
    // the preloading below serves that system instead.
    return !(LOBYTE(LOWORD(version)) == 6 && HIBYTE(LOWORD(version)) == 0);
}

void RestrictDllSearch()
{
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    // Wherever the system has the call, decided by what it has, not by
    // what it says it is.
    if (UsesSearchDirectories(TrueVersion())) {
        typedef BOOL(WINAPI * SetDirectoriesProc)(DWORD);
        FARPROC set = GetProcAddress(kernel, "SetDefaultDllDirectories");
        if (set != nullptr && reinterpret_cast<SetDirectoriesProc>(reinterpret_cast<void (*)()>(set))(
                                  LOAD_LIBRARY_SEARCH_SYSTEM32))
            return;
    }
    // Older systems: the current directory leaves the search where that can
    // be said, but the program's own directory still comes first, so every
    // DLL that could be taken from there is loaded from the system now, and
    // a later load by name finds it loaded. The systems that lack one of them
    // must not stop to ask for the file.
    typedef BOOL(WINAPI * SetDirectoryProc)(LPCSTR);
    FARPROC setDirectory = GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDirectory != nullptr)
        reinterpret_cast<SetDirectoryProc>(reinterpret_cast<void (*)()>(setDirectory))("");
    UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    for (const char *name = PreloadedLibraries; *name != '\0'; name += TextLength(name) + 1)
        LoadSystemLibrary(name);
    SetErrorMode(mode);
}
