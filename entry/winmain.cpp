// Process entry. The program is linked without the C runtime: it needs only
// the system's own functions, and the runtime's start-up code and the
// import of its DLL would be a good part of the file. Kept apart from
// start-up so that the tests link everything else with the usual runtime.
#include "script/state.h"

// The compiler may emit calls to these four for copies, clears and
// comparisons of records; with no runtime linked they are ours. The loops
// must not be turned back into calls to themselves.
extern "C" {
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memset(void *dest, int value, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(dest);
    while (count--)
        *d++ = static_cast<unsigned char>(value);
    return dest;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memcpy(void *dest, const void *src,
                                                                          size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(dest);
    const unsigned char *s = static_cast<const unsigned char *>(src);
    while (count--)
        *d++ = *s++;
    return dest;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memmove(void *dest, const void *src,
                                                                           size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(dest);
    const unsigned char *s = static_cast<const unsigned char *>(src);
    if (d < s) {
        while (count--)
            *d++ = *s++;
    } else {
        while (count--)
            d[count] = s[count];
    }
    return dest;
}

int memcmp(const void *a, const void *b, size_t count)
{
    const unsigned char *x = static_cast<const unsigned char *>(a);
    const unsigned char *y = static_cast<const unsigned char *>(b);
    for (; count--; ++x, ++y)
        if (*x != *y)
            return *x - *y;
    return 0;
}

size_t strlen(const char *text)
{
    return static_cast<size_t>(TextLength(text));
}

// Stack protection without the runtime's support library: the canary that
// every protected function checks on return, and what happens when a check
// fails. A smashed stack ends the process at once; nothing it holds is used.
uintptr_t __stack_chk_guard;

void __stack_chk_fail()
{
    TerminateProcess(reinterpret_cast<HANDLE>(-1), 0xC0000409);  // this process; STATUS_STACK_BUFFER_OVERRUN
    for (;;) {
    }
}

#if defined(__x86_64__)
// The loader's settings for this program, as far as the DLLs that the
// system's own DLLs import on its behalf: looked for in the system
// directory only (LOAD_LIBRARY_SEARCH_SYSTEM32), from the first one on,
// before any code of the program runs. Windows 10 reads it; older systems
// read the fields before it, all zero here, or nothing. The 32-bit build
// has none: the loaders of its oldest systems read this record's fields
// with other meanings.
struct LoadSettings {
    DWORD size;
    DWORD unused[4];
    ULONGLONG unusedWide[6];
    DWORD heapFlags;
    WORD version;
    WORD dependentLoadFlags;
};
__attribute__((used)) extern const LoadSettings _load_config_used = {sizeof(LoadSettings), {}, {}, 0, 0,
                                                                     LOAD_LIBRARY_SEARCH_SYSTEM32};
static_assert(sizeof(LoadSettings) == 80, "the record up to its dependent load flags");
#endif

// The entry point the linker is told about. The exit status is 1 in every
// mode. It has no array of its own, so it keeps no canary that the new guard
// value would mismatch.
void WinMainCRTStartup()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uintptr_t guard = static_cast<uintptr_t>(counter.QuadPart) ^ GetTickCount() ^
                      (static_cast<uintptr_t>(GetCurrentProcessId()) << 16) ^
                      reinterpret_cast<uintptr_t>(&counter);
    __stack_chk_guard = guard != 0 ? guard : 0x2B992DDF;
    // The DLL search is narrowed before anything could load one; then the
    // program's own file is held before anything else is read or written.
    RestrictDllSearch();
    const char *tail = GetCommandTail(GetCommandLineA());
    if (const char *fault = HoldRunningProgram()) {
        // Read only for the silent switch: a silent run says so in its status.
        const char *path, *folder;
        ReadCommand(tail, &path, &folder);
        ShowPathError(State.modulePath, fault);
        ExitProcess(State.silent ? StatusNotPackaged : 1);
    }
    ExitProcess(StartSetup(GetModuleHandleA(nullptr), tail));
}
}
