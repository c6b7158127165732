// The sample product's program. It records where and how it was started in
// its own registry key (the key the sample script removes at uninstall), so a
// test can see that setup launched it in the right directory with the right
// command line. Started with /hold it stays open until killed, keeping its
// file in use.
#include <windows.h>
#include <tlhelp32.h>

// The program file of the process that started this one: SETUP.EXE when it
// started the program itself, the desktop's shell when it asked that to.
static void ParentName(char *name, int size)
{
    lstrcpynA(name, "", size);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && parent != 0; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == parent)
            lstrcpynA(name, entry.szExeFile, size);
    CloseHandle(snapshot);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char directory[MAX_PATH];
    GetCurrentDirectoryA(sizeof directory, directory);
    const char *commandLine = GetCommandLineA();
    char parent[MAX_PATH];
    ParentName(parent, sizeof parent);

    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\SampleApp", 0, nullptr, 0, KEY_WRITE | KEY_READ,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        DWORD starts = 0, size = sizeof starts;
        RegQueryValueExA(key, "Starts", nullptr, nullptr, reinterpret_cast<BYTE *>(&starts), &size);
        ++starts;
        RegSetValueExA(key, "Starts", 0, REG_DWORD, reinterpret_cast<BYTE *>(&starts), sizeof starts);
        RegSetValueExA(key, "LastDirectory", 0, REG_SZ, reinterpret_cast<const BYTE *>(directory),
                       lstrlenA(directory) + 1);
        RegSetValueExA(key, "LastCommandLine", 0, REG_SZ, reinterpret_cast<const BYTE *>(commandLine),
                       lstrlenA(commandLine) + 1);
        RegSetValueExA(key, "LastParent", 0, REG_SZ, reinterpret_cast<const BYTE *>(parent), lstrlenA(parent) + 1);
        RegCloseKey(key);
    }
    for (const char *p = commandLine; *p; ++p)
        if (p[0] == '/' && p[1] == 'h' && p[2] == 'o' && p[3] == 'l' && p[4] == 'd')
            Sleep(INFINITE);
    return 0;
}
