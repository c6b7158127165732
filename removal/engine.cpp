// Undoing an installation: the [Reg] keys, the installed files from the last
// entry back to the setup program itself, whatever else is left in the
// installation directory (asking about each file), the uninstall
// registration and the shortcuts. Runs in the relocated copy, from inside the
// removal dialog, so every message box is owned by that dialog.
#include "script/state.h"
#include "removal/handoff.h"
#include "removal/regvalue.h"

static const char UninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const char SharedDirectoryKept[] =
    " - このフォルダは他のプログラムと共用のため、インストールしたファイルだけを削除しました。";

// Room for a path of up to 259 bytes, a name of up to 259 bytes and the
// longest fixed text of this file, so a message is never cut.
enum { MESSAGE_SIZE = 2 * PATH_SIZE + 160 };

void DeleteRegistryTree(HKEY root, const char *subkey)
{
    // A symbolic link is opened as itself and deleted, never followed: what
    // it leads to is some other program's. Windows 95 knows no links.
    typedef LONG(WINAPI * DeleteKeyProc)(HANDLE);
    FARPROC deleteKey = GetProcAddress(GetModuleHandleA("NTDLL.DLL"), "NtDeleteKey");
    DWORD asItself = (GetVersion() & 0x80000000) != 0 ? 0 : REG_OPTION_OPEN_LINK;
    HKEY opened;
    if (RegOpenKeyExA(root, subkey, asItself, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
        DWORD type = 0;
        if (RegQueryValueExA(opened, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS ||
            type != REG_LINK) {
            char previous[256] = "";
            char name[256];
            DWORD index = 0;
            while (RegEnumKeyA(opened, index, name, sizeof name) == ERROR_SUCCESS) {
                if (lstrcmpiA(name, previous) == 0) {
                    // The subkey just handed down is still there: pass over it
                    // for good, so a key that resists cannot loop forever.
                    ++index;
                    continue;
                }
                DeleteRegistryTree(opened, name);
                CopyText(previous, sizeof previous, name);
            }
        }
        // Deleted through the handle that was checked, where the system can.
        if (deleteKey != nullptr) {
            reinterpret_cast<DeleteKeyProc>(reinterpret_cast<void (*)()>(deleteKey))(opened);
            CloseKeyOnce(opened);
            return;
        }
        CloseKeyOnce(opened);
    }
    RegDeleteKeyA(root, subkey);
}

int DeleteFileIfPresent(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 1;  // not there counts as removed
    FindClose(search);
    if (DeleteFileA(path))
        return 1;
    ShowPathError(path, "の削除に失敗しました。このファイルをスキップして処理を続行します。");
    return 0;
}

static int IsGidFile(const char *name)
{
    const char *dot = FindCharMbcs(name, '.');
    return dot != nullptr && lstrcmpiA(dot + 1, "gid") == 0;
}

// The installed SETUP.EXE whose process waits for a silent removal: it
// cannot go while that process runs, and goes at the next start.
static char KeptForRestart[PATH_SIZE];

// Removes the directory named by path with its trailing backslash; one that is
// already gone is passed over.
static int RemoveSweptDirectory(char *path)
{
    int len = TextLength(path);
    if (len == 0)
        return 1;
    path[len - 1] = '\0';
    int result = 1;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        // A folder that holds nothing but the file left for the next start
        // goes with it then.
        if (!RemoveDirectoryA(path) &&
            !(KeptForRestart[len - 1] == '\\' && CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, len - 1,
                                                                 KeptForRestart, len - 1) == CSTR_EQUAL &&
              MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))) {
            ShowPathError(path, " - ディレクトリの削除に失敗しました");
            result = 0;
        }
    }
    path[len - 1] = '\\';
    return result;
}

// One entry of a sweep: 1 to go on, 0 when the whole sweep must end.
static int SweepEntry(const char *directory, const WIN32_FIND_DATAA &found, int *result)
{
    const char *name = found.cFileName;
    char path[PATH_SIZE];
    int fits = CopyText(path, sizeof path, directory) && AppendText(path, sizeof path, name);

    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or directory link: the files behind it belong to
            // some other place, so only the link itself goes.
            if (fits && RemoveDirectoryA(path))
                return 1;
            ShowPathError(directory, " - ディレクトリの削除に失敗しました", name);
            return 0;
        }
        // The subdirectory's search pattern needs its backslash and "*.*".
        if (!fits || TextLength(path) + 4 >= PATH_SIZE) {
            ShowPathError(directory, " - ディレクトリの削除に失敗しました", name);
            return 0;
        }
        AppendText(path, sizeof path, "\\");
        return SweepDirectory(path);
    }

    if (!fits) {
        ShowPathError(directory, "の削除に失敗しました。このファイルをスキップして処理を続行します。", name);
        *result = 0;
        return 1;
    }
    if (lstrcmpiA(path, KeptForRestart) == 0)
        return 1;
    if (!IsGidFile(name)) {
        char question[MESSAGE_SIZE];
        CopyText(question, sizeof question, path);
        AppendText(question, sizeof question, " - このファイルを削除してもいいですか？");
        // A silent removal keeps what it would ask about: it is not the product's.
        int answer = Ask(State.ownerWindow, question, State.title, MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return 0;
        if (answer != IDYES) {
            State.exitStatus = StatusLeftBehind;
            return 1;
        }
    }
    if (!DeleteFileIfPresent(path))
        *result = 0;
    return 1;
}

int SweepDirectory(char *directory)
{
    // Held while it is swept: renamed and replaced by a link halfway, it
    // would have its files' names lead into some other directory.
    int link;
    HANDLE held = HoldDirectory(directory, &link);
    int result = 1;
    char pattern[PATH_SIZE];
    if (!link && CopyText(pattern, sizeof pattern, directory) && AppendText(pattern, sizeof pattern, "*.*")) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const char *name = found.cFileName;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                if (!SweepEntry(directory, found, &result)) {
                    result = -1;
                    break;
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    if (held != INVALID_HANDLE_VALUE)
        CloseOnce(held);
    if (result < 0)
        return 0;
    // A link in the directory's place loses only itself.
    if (!RemoveSweptDirectory(directory))
        result = 0;
    return result;
}

static void DeleteListedKeys()
{
    for (unsigned int n = 1;; ++n) {
        // One byte more than the key takes: a value that fills it was cut,
        // and a cut key is some other program's, higher up.
        char value[PATH_SIZE + 1];
        DWORD length = GetPrivateProfileStringA("Reg", FormatIndex(n), "", value, sizeof value, State.scriptPath);
        if (value[0] == '\0')
            return;
        HKEY root;
        char subkey[PATH_SIZE];
        if (length >= PATH_SIZE || !SplitRegValue(value, &root, subkey, sizeof subkey)) {
            ShowError("Regセクションがおかしいです。");
            continue;
        }
        DeleteRegistryTree(root, subkey);
    }
}

// The registration that the installation wrote under the Uninstall key,
// with the empty levels of Folder dropped as the registry dropped them when
// it was written. 0 when it is still there: the Uninstall key itself (a
// Folder of separators only) is never deleted, nor is a key that resists.
static int DeleteRegistration()
{
    char key[sizeof UninstallKeyPrefix + LABEL_SIZE];
    CopyText(key, sizeof key, UninstallKeyPrefix);
    int used = TextLength(key);
    if (NormalizeKeyPath(State.folder, key + used, sizeof key - used) < 1)
        return 0;
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, key);
    HKEY left;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &left) != ERROR_SUCCESS)
        return 1;
    CloseKeyOnce(left);
    return 0;
}

int RemoveInstallation()
{
    int result = 1;

    DeleteListedKeys();

    for (int i = State.fileCount; i >= -1; --i) {
        // An entry that could name a file outside the installation
        // directory, or was cut, is no instruction to delete anything.
        if (i > 0 && !IsFileEntrySound(i)) {
            ShowError(BrokenScriptText);
            continue;
        }
        LoadFileEntry(i);
        // A silent removal's caller waits for its status, and runs from the
        // installed SETUP.EXE: that file goes at the next start.
        if (i < 0 && State.silent && !DeleteFileA(State.entryPath) &&
            GetFileAttributesA(State.entryPath) != INVALID_FILE_ATTRIBUTES &&
            MoveFileExA(State.entryPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            CopyText(KeptForRestart, PATH_SIZE, State.entryPath);
            State.exitStatus = StatusRestart;
            continue;
        }
        if (DeleteFileIfPresent(State.entryPath))
            continue;
        result = 0;
        if (i == 1) {
            // The main program is still running: stop here, keeping the
            // setup copy and the registration, so the user can run the
            // removal again once it has ended.
            char message[MESSAGE_SIZE];
            CopyText(message, sizeof message, State.entryPath);
            AppendText(message, sizeof message, " の削除に失敗しました。");
            AppendText(message, sizeof message, State.title);
            AppendText(message, sizeof message, "を終了して、もう一度アンインストールをやり直してください。");
            ShowError(message);
            State.exitStatus = StatusProgramRunning;
            return 0;
        }
    }

    // A place that cannot be named is no place to sweep.
    if (IsSharedDirectory(State.installDir, 1)) {
        // Everything the installation put there is gone; the rest of the
        // directory is other programs' and stays, and so does the directory.
        char message[MESSAGE_SIZE];
        CopyText(message, sizeof message, State.installDir);
        // Named as the other folder messages name a folder: without its
        // backslash, but for a drive's root, which is nothing without it.
        int length = TextLength(message);
        if (length > 3 && message[length - 1] == '\\')
            message[length - 1] = '\0';
        AppendText(message, sizeof message, SharedDirectoryKept);
        Ask(State.ownerWindow, message, State.title, MB_OK | MB_ICONINFORMATION);
    } else if (!SweepDirectory(State.installDir)) {
        result = 0;
    }

    if (!DeleteRegistration())
        result = 0;

    UpdateShellItems(Programs, TRUE);
    UpdateShellItems(Desktop, TRUE);
    UpdateShellItems(Startup, TRUE);
    return result;
}
