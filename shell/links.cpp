// Shortcuts on the new shell: shell-link files in the current user's shell
// folders, made through the shell's ShellLink class. On the old shell the same
// request goes to Program Manager instead.
#include "script/state.h"
#include "removal/seams.h"
#include <objbase.h>
#include <shlobj.h>

static const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char *const ShellFolderValues[] = {"Programs", "Desktop", "Startup"};

// An unreadable or empty value gives no folder at all: guessing one would put
// shortcuts, or deletions, where the user never pointed.
static int ReadShellFolder(int kind, char *path, int size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ShellFoldersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD bytes = size;
    LONG result = RegQueryValueExA(key, ShellFolderValues[kind], nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(path), &bytes);
    CloseKeyOnce(key);
    if (result != ERROR_SUCCESS)
        return 0;
    // The stored value need not carry its terminator; one that fills the
    // buffer without it is not a path we can use.
    if (bytes < DWORD(size))
        path[bytes] = '\0';
    else if (path[size - 1] != '\0')
        return 0;
    return path[0] != '\0';
}

// The title and the captions become names inside a shell folder. A separator,
// a drive colon or a name of dots only would reach outside that folder: a
// caption "..\StartUp\x" would plant a start-up shortcut, and a title ".."
// would have the removal sweep the whole Start menu. Wildcards name every
// file of the folder wherever a name is expanded as a pattern.
int IsPlainName(const char *name)
{
    if (HasAnyOf(name, "\\/:*?"))
        return 0;
    for (const char *p = name; *p != '\0'; ++p) {
        if (*p != '.' && *p != ' ')
            return 1;
    }
    return 0;
}

// Ends a file path just behind its directory's backslash. Stepping over
// double-byte characters matters here: a Japanese file name such as ソフト.EXE
// holds the byte 0x5C inside ソ, and cutting there would name no directory.
void EndAtDirectory(char *path)
{
    char *last = nullptr;
    for (char *p = FindCharMbcs(path, '\\'); p != nullptr; p = FindCharMbcs(p + 1, '\\'))
        last = p;
    if (last != nullptr)
        last[1] = '\0';
    else
        path[0] = '\0';
}

// Every file of the program's Start-menu folder goes, whoever put it there;
// a sub-folder keeps the folder itself in place. A junction or directory link,
// in the folder's place or in it, leads somewhere else: as in the sweep of
// the installation directory, only the link itself goes.
static void RemoveGroupFolder(char *folder)
{
    // Held while it is emptied, so that it cannot be swapped for a link to
    // some other directory halfway.
    int link;
    HANDLE held = HoldDirectory(folder, &link);
    TestPause("StartMenuSweep");
    char path[PATH_SIZE];
    int nameAt = TextLength(folder) + 1;
    DWORD attributes = GetFileAttributesA(folder);
    if (!link && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        CopyText(path, PATH_SIZE, folder) &&
        AppendText(path, PATH_SIZE, "\\*.*")) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                path[nameAt] = '\0';
                if (!AppendText(path, PATH_SIZE, found.cFileName))
                    continue;
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA(path);
                else if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveDirectoryA(path);
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    if (held != INVALID_HANDLE_VALUE)
        CloseOnce(held);
    RemoveDirectoryA(folder);
}

// Saves one shortcut for the entry in entryName and entryPath; the link file
// is named entryName + ".lnk" at nameAt in linkPath.
static void SaveCurrentLink(char *linkPath, int nameAt)
{
    // An entry refused as too long when it was loaded has no target to point at.
    if (State.entryPath[0] == '\0' || !IsPlainName(State.entryName))
        return;
    linkPath[nameAt] = '\0';
    if (!AppendText(linkPath, PATH_SIZE, State.entryName) || !AppendText(linkPath, PATH_SIZE, ".lnk"))
        return;
    WCHAR wideLinkPath[PATH_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideLinkPath, PATH_SIZE) == 0)
        return;

    IShellLinkA *link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&link))))
        return;
    char *comma = FindCharMbcs(State.entryPath, ',');
    if (comma != nullptr) {
        *comma = '\0';
        link->SetArguments(comma + 1);
    }
    link->SetPath(State.entryPath);
    link->SetDescription(State.entryName);
    EndAtDirectory(State.entryPath);
    link->SetWorkingDirectory(State.entryPath);

    IPersistFile *file;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        file->Save(wideLinkPath, TRUE);
        file->Release();
    }
    link->Release();
}

static void CreateLinks(int kind, char *linkPath)
{
    int nameAt = TextLength(linkPath);
    int count = 1;
    if (kind != Programs || State.groupCount == 0) {
        LoadFileEntry(1);
        CopyText(State.entryName, PATH_SIZE, State.title);
    } else {
        LoadGroupEntry(1);
        count = State.groupCount;
    }

    // Only an initialisation of our own is undone: pulling one that the
    // thread already had in another model would end it under its owner.
    HRESULT initialised = CoInitialize(nullptr);
    for (int n = 1;; ++n) {
        SaveCurrentLink(linkPath, nameAt);
        if (n >= count)
            break;
        LoadGroupEntry(n + 1);
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
}

void UpdateShellItems(int kind, int remove)
{
    if (!State.newShell) {
        UpdateProgmanItems(kind, remove);
        return;
    }
    char linkPath[PATH_SIZE];
    if (kind < Programs || kind > Startup || !ReadShellFolder(kind, linkPath, PATH_SIZE))
        return;
    if (!IsPlainName(State.title) || !AppendText(linkPath, PATH_SIZE, "\\"))
        return;

    if (kind == Programs && State.groupCount != 0) {
        if (!AppendText(linkPath, PATH_SIZE, State.title))
            return;
        if (remove) {
            RemoveGroupFolder(linkPath);
            return;
        }
        if (!AppendText(linkPath, PATH_SIZE, "\\"))
            return;
        CreateOneDirectory(linkPath);
    } else if (remove) {
        if (AppendText(linkPath, PATH_SIZE, State.title) && AppendText(linkPath, PATH_SIZE, ".lnk"))
            DeleteFileA(linkPath);
        return;
    }
    CreateLinks(kind, linkPath);
}
