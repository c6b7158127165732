// Folders that are never one product's own: the drive roots, Windows' own
// folders, the Program Files and Common Files folders, the profiles and the
// shell's folders of every user. The destination page refuses them, the
// removal deletes only what the script lists there, and the permissions of
// the levels an installation makes are judged against the same places. Each
// is compared in its full form, as the system resolves it, never as typed:
// "C:\Program Files\..\Program Files" is Program Files.
#include "script/state.h"
#include "removal/handoff.h"

int CanonicalDirectory(const char *path, char *full)
{
    // Room for the longest installation directory the page takes, with the
    // backslash it may lack.
    char *name;
    DWORD length = GetFullPathNameA(path, FULL_PATH_SIZE - 1, full, &name);
    if (length == 0 || length >= FULL_PATH_SIZE - 1)
        return 0;
    AddTrailingBackslash(full);
    return 1;
}

// Whether full, a canonical directory, is the directory other names (or,
// within, lies in it). The same place may be written in its short form.
static int IsSameOrWithin(const char *full, const char *other, int within)
{
    char candidate[FULL_PATH_SIZE];
    if (!CanonicalDirectory(other, candidate))
        return 0;
    int length = TextLength(candidate);
    if (within)
        return TextLength(full) >= length &&
               CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, full, length, candidate, length) == CSTR_EQUAL;
    if (lstrcmpiA(full, candidate) == 0)
        return 1;
    char shortFull[PATH_SIZE], shortOther[PATH_SIZE];
    DWORD a = GetShortPathNameA(full, shortFull, sizeof shortFull);
    DWORD b = GetShortPathNameA(candidate, shortOther, sizeof shortOther);
    return a != 0 && a < sizeof shortFull && b != 0 && b < sizeof shortOther && lstrcmpiA(shortFull, shortOther) == 0;
}

// Whether one of the values names (a list ended by an empty name) of key is
// that folder; environment variables in them are expanded.
static int ValuesName(const char *full, HKEY key, const char *names, int within)
{
    for (; *names != '\0'; names += TextLength(names) + 1) {
        char value[PATH_SIZE], expanded[PATH_SIZE];
        DWORD size = PATH_SIZE - 1;
        if (RegQueryValueExA(key, names, nullptr, nullptr, reinterpret_cast<BYTE *>(value), &size) != ERROR_SUCCESS)
            continue;
        value[size] = '\0';
        DWORD length = ExpandEnvironmentStringsA(value, expanded, PATH_SIZE);
        if (length != 0 && length <= PATH_SIZE && IsSameOrWithin(full, expanded, within))
            return 1;
    }
    return 0;
}

// The same for the values of root\subkey, as 64-bit Windows keeps them for
// its own programs (where both Program Files folders are named) or, on the
// systems that know no such view, as they are; with profiles set, for the
// folder of every profile listed below it too.
static int KeyNames(const char *full, HKEY root, const char *subkey, const char *names, int within, int profiles = 0)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS &&
        RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    int found = ValuesName(full, key, names, within);
    char name[PATH_SIZE];
    for (DWORD i = 0; profiles && !found && RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        HKEY profile;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &profile) == ERROR_SUCCESS) {
            found = ValuesName(full, profile, "ProfileImagePath\0", 0);
            CloseKeyOnce(profile);
        }
    }
    CloseKeyOnce(key);
    return found;
}

static const char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
static const char ProgramFolders[] = "ProgramFilesDir\0CommonFilesDir\0ProgramFilesDir (x86)\0CommonFilesDir (x86)\0";
static const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

int IsInProgramFiles(const char *full)
{
    return KeyNames(full, HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFolders, 1);
}

int IsSharedDirectory(const char *directory, int unnamed)
{
    char full[FULL_PATH_SIZE];
    if (!CanonicalDirectory(directory, full))
        return unnamed;
    if (TextLength(full) <= 3)
        return 1;  // a drive root
    if (full[0] == '\\' && full[1] == '\\') {
        // \\server\share\ and nothing below it
        int separators = 0;
        for (const char *p = FindCharMbcs(full + 2, '\\'); p != nullptr; p = FindCharMbcs(p + 1, '\\'))
            ++separators;
        if (separators <= 2)
            return 1;
    }
    char system[PATH_SIZE];
    UINT got = GetWindowsDirectoryA(system, sizeof system);
    if (got != 0 && got < sizeof system && IsSameOrWithin(full, system, 0))
        return 1;
    got = GetSystemDirectoryA(system, sizeof system);
    if (got != 0 && got < sizeof system && IsSameOrWithin(full, system, 0))
        return 1;
    // 64-bit Windows keeps the 32-bit system files in a directory of their own.
    got = GetWow64SystemDirectory(system, sizeof system);
    return (got != 0 && IsSameOrWithin(full, system, 0)) ||
           KeyNames(full, HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFolders, 0) ||
           KeyNames(full, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                    "ProfilesDirectory\0ProgramData\0Default\0Public\0", 0, 1) ||
           KeyNames(full, HKEY_CURRENT_USER, ShellFoldersKey, "Desktop\0Personal\0Start Menu\0Programs\0", 0) ||
           KeyNames(full, HKEY_LOCAL_MACHINE, ShellFoldersKey,
                    "Common Desktop\0Common Documents\0Common Start Menu\0Common Programs\0", 0);
}

FIXED_LAYOUT HANDLE HoldDirectory(char *path, int *link)
{
    // Opened as itself, never as what a link leads to (the systems before
    // Windows 2000 know no links, and their file systems pass over the
    // request); the systems of the Windows 95 line open no directory and
    // sweep as before.
    *link = 0;
    int length = TextLength(path);
    char *end = length > 0 && path[length - 1] == '\\' ? path + length - 1 : nullptr;
    if (end != nullptr)
        *end = '\0';
    HANDLE held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (end != nullptr)
        *end = '\\';
    // Only its attributes are asked for, as every NT has done since the
    // first: GetFileInformationByHandle would ask the volume for its serial
    // number too, one more request for each folder swept (on Wine a question
    // to the mount manager, during which the emulators of 32-bit code lose
    // the process's other threads). Unreadable, it counts as a link:
    // nothing is swept through it.
    typedef LONG(WINAPI * QueryFileProc)(HANDLE, ULONG_PTR *, void *, ULONG, int);
    FARPROC query = GetProcAddress(GetModuleHandleA("NTDLL.DLL"), "NtQueryInformationFile");
    ULONG_PTR status[2];
    struct {
        LARGE_INTEGER times[4];
        DWORD attributes;
    } info;
    info.attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    if (held != INVALID_HANDLE_VALUE &&
        (query == nullptr ||
         reinterpret_cast<QueryFileProc>(reinterpret_cast<void (*)()>(query))(held, status, &info, sizeof info,
                                                                               4 /* FileBasicInformation */) < 0 ||
         (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(info.attributes & FILE_ATTRIBUTE_DIRECTORY))) {
        *link = (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        CloseOnce(held);
        held = INVALID_HANDLE_VALUE;
    }
    return held;
}
