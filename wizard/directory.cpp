// Putting the installation on disk: directories level by level, and the copy
// of the current file entry. Each operation reports its own failure in a box
// owned by State.ownerWindow and returns 0; callers add nothing.
#include "script/state.h"

static const char FileInTheWay[] = " - 同じ名前のファイルが既に存在するのでフォルダが作成できません。";
static const char CreateFailed[] = " のフォルダ作成に失敗しました。";
static const char InUse[] = " は他で使用中のため上書きできません。";
static const char CopyFailed[] = " のコピーに失敗しました。";

// A path followed directly by one of the texts above, or another.
void ShowPathError(const char *path, const char *suffix, const char *name)
{
    // Room for a path, a name of a path's length and the longest text.
    char text[2 * PATH_SIZE + 160];
    if (!CopyText(text, sizeof text, path) || !AppendText(text, sizeof text, name) ||
        !AppendText(text, sizeof text, suffix))
        CopyText(text, sizeof text, suffix);
    ShowError(text);
}

static int IsDriveRooted(const char *path)
{
    return path[0] != '\0' && path[1] == ':' && path[2] == '\\';
}

int CreateOneDirectory(char *path)
{
    if (IsDriveRooted(path) && path[3] == '\0')
        return 1;

    // The level is the path without its trailing backslash, which is put
    // back before returning so that the caller's text is unchanged.
    int len = TextLength(path);
    char *cut = len > 0 ? path + len - 1 : path;
    char saved = *cut;
    *cut = '\0';

    int made;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        made = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!made)
            ShowPathError(path, FileInTheWay);
    } else {
        SECURITY_DESCRIPTOR descriptor;
        SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
        // Judged with its backslash, as the installation directory is written.
        *cut = saved;
        int own = FolderSecurity(path, GetVersion(), &descriptor);
        *cut = '\0';
        made = CreateDirectoryA(path, own ? &security : nullptr) != 0;
        if (made)
            NoteMade('D', path);
        else
            ShowPathError(path, CreateFailed);
    }

    *cut = saved;
    return made;
}

int CreateDirectoryPath(char *path)
{
    if (!IsDriveRooted(path))
        return CreateOneDirectory(path);

    // Each prefix that ends in a backslash is one level. The text is ended
    // just past the separator for the call and restored afterwards, on
    // failure too: callers keep using the whole path.
    char *from = path + 3;
    while (char *slash = FindCharMbcs(from, '\\')) {
        char saved = slash[1];
        slash[1] = '\0';
        int made = CreateOneDirectory(path);
        slash[1] = saved;
        if (!made)
            return 0;
        from = slash + 1;
    }
    return 1;
}

int CopyCurrentEntry()
{
    if (State.entryTail == nullptr)
        State.entryTail = State.entryPath;

    // The levels below installDir that the entry's destination names.
    while (char *slash = FindCharMbcs(State.entryTail, '\\')) {
        State.entryTail = slash + 1;
        char saved = *State.entryTail;
        *State.entryTail = '\0';
        int made = CreateOneDirectory(State.entryPath);
        *State.entryTail = saved;
        if (!made)
            return 0;
    }

    // The copy is made here rather than by the system's CopyFileA: from the
    // very file that was checked, when the entry is the program or the
    // packaged script, and with the main stream only, so that no mark of the
    // web that came with a downloaded distribution reaches the installed
    // files. One create, the writes and the time: the least a file costs.
    int kind;
    HANDLE source = OpenEntrySource(&kind);
    if (source == INVALID_HANDLE_VALUE) {
        ShowPathError(State.entryName, CopyFailed);
        return 0;
    }
    // The installed copy is plain and writable whatever the source was.
    // Whether it was there before tells whose it is (the oldest systems
    // leave the last error alone when they make a new file).
    SetLastError(0);
    HANDLE target = CreateFileA(State.entryPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    int copied = 0;
    if (target != INVALID_HANDLE_VALUE) {
        copied = CopyOpenFile(source, target);
        if (copied)
            NoteCopiedFile(target, kind);
        CloseOnce(target);
        if (!copied) {
            // Half a file is no file: it goes.
            DeleteFileA(State.entryPath);
        } else if (error != ERROR_ALREADY_EXISTS) {
            NoteMade('F', State.entryPath);
        } else {
            // A file that was there may keep its streams when it is
            // overwritten: the mark of the web of an earlier copy among them.
            // (Systems without streams find no such name.)
            char stream[PATH_SIZE + 16];
            if (CopyText(stream, sizeof stream, State.entryPath) && AppendText(stream, sizeof stream, ":Zone.Identifier"))
                DeleteFileA(stream);
        }
    }
    if (kind == SourceNamed)
        CloseOnce(source);
    if (copied)
        return 1;
    ShowPathError(error == ERROR_SHARING_VIOLATION ? State.entryPath : State.entryName,
                  error == ERROR_SHARING_VIOLATION ? InUse : CopyFailed);
    return 0;
}

unsigned long long CopiedBytes;

int CopyOpenFile(HANDLE source, HANDLE target)
{
    CopiedBytes = 0;
    if (SetFilePointer(source, 0, nullptr, FILE_BEGIN) != 0)
        return 0;
    DWORD got, put;
    int read;
    while ((read = ReadFile(source, FileBuffer, sizeof FileBuffer, &got, nullptr)) != 0 && got != 0) {
        if (!WriteFile(target, FileBuffer, got, &put, nullptr) || put != got)
            return 0;
        CopiedBytes += got;
    }
    // The installed file shows when its maker last changed it, as a copy by
    // the system would. (Not from GetFileInformationByHandle: its volume
    // serial number costs a question to the mount manager per file.)
    FILETIME written;
    if (read && GetFileTime(source, nullptr, nullptr, &written))
        SetFileTime(target, nullptr, nullptr, &written);
    return read;
}
