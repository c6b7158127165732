// Tells tools/wine-run.sh that Wine brought the test program up: a failure
// after this file was written is the program's own, one before it is Wine's.
#include <windows.h>

static const bool Started = [] {
    char path[MAX_PATH];
    DWORD got = GetEnvironmentVariableA("WINE_RUN_STARTED", path, sizeof path);
    return got != 0 && got < sizeof path &&
           CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}();
