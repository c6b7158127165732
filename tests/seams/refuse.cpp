// The test build's side of removal/seams.h, linked into SETUP_SEAMS.EXE only.
// It runs without the C runtime, like SETUP.EXE.
#include "script/state.h"
#include "removal/seams.h"

int TestRefuses(const char *call)
{
    char names[256];
    DWORD got = GetEnvironmentVariableA("SETUP_TEST_REFUSE", names, sizeof names);
    if (got == 0 || got >= sizeof names)
        return 0;
    // A comma-separated list of call names.
    int length = lstrlenA(call);
    for (char *name = names; *name != '\0';) {
        char *end = name;
        while (*end != '\0' && *end != ',')
            ++end;
        char kept = *end;
        *end = '\0';
        if (end - name == length && lstrcmpA(name, call) == 0)
            return 1;
        if (kept == '\0')
            break;
        name = end + 1;
    }
    return 0;
}

void TestPause(const char *point)
{
    char name[64], marker[96];
    DWORD got = GetEnvironmentVariableA("SETUP_TEST_PAUSE", name, sizeof name);
    if (got == 0 || got >= sizeof name || lstrcmpA(name, point) != 0)
        return;
    wsprintfA(marker, "C:\\e2e\\%s.paused", point);
    CloseHandle(CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    wsprintfA(marker, "C:\\e2e\\%s.go", point);
    for (int i = 0; i < 600 && GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
}
