// The two removal processes. The registered uninstall command starts the
// installed setup program with "/r": it asks, copies itself into the system
// directory and starts that copy with "x" and its own path, then ends, so
// that nothing of the running removal lies in the directory it removes.
#include "script/state.h"
#include "removal/handoff.h"
#include "removal/seams.h"
#include "resources/resource.h"

static void ReportLaunchFailure()
{
    Ask(nullptr, "アンインストール用プログラムの起動に失敗しました。手動で削除してください。", nullptr,
        MB_ICONERROR | MB_OK);
    State.exitStatus = StatusLeftBehind;
}

UINT GetWow64SystemDirectory(char *dir, UINT size)
{
    // Looked up: the systems before 64-bit Windows lack the call, and 32-bit
    // Windows fails it.
    typedef UINT(WINAPI * Wow64DirectoryProc)(LPSTR, UINT);
    FARPROC found = GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "GetSystemWow64DirectoryA");
    UINT len = found != nullptr ? reinterpret_cast<Wow64DirectoryProc>(reinterpret_cast<void (*)()>(found))(dir, size)
                                : 0;
    return len < size ? len : 0;
}

UINT GetRelocationDirectory(char *dir, UINT size)
{
#ifndef _WIN64
    // A 32-bit program on 64-bit Windows is shown its system files under the
    // name System32, but they lie in SysWOW64. The pending deletion keeps the
    // name it is given and is carried out by the native system at its next
    // start, which would look for the System32 name: the copy would stay for
    // ever, or a native file of that name would go. So the real directory is
    // named from the start.
    UINT len = GetWow64SystemDirectory(dir, size);
    if (len != 0)
        return len;
#endif
    return GetSystemDirectoryA(dir, size);
}

// exeName, or for number 1 and up exeName with the number before its last
// dot (SETUP.EXE, SETUP1.EXE, SETUP2.EXE ...), so the copy still ends in the
// extension that makes it a program.
static int ComposeCopyName(int number, char *name, int size)
{
    if (number == 0)
        return CopyText(name, size, State.exeName);
    const char *dot = nullptr;
    for (const char *p = FindCharMbcs(State.exeName, '.'); p != nullptr; p = FindCharMbcs(p + 1, '.'))
        dot = p;
    int stem = dot != nullptr ? int(dot - State.exeName) : TextLength(State.exeName);
    if (stem >= size)
        return 0;
    CopyMemory(name, State.exeName, stem);
    name[stem] = '\0';
    return AppendText(name, size, FormatIndex(unsigned(number))) &&
           AppendText(name, size, dot != nullptr ? dot : "");
}

int ComposeRelocation(const char *systemDir, int number, char *relocated, int relocatedSize, char *command,
                      int commandSize)
{
    char name[NAME_SIZE + 8];
    if (!ComposeCopyName(number, name, sizeof name) || !CopyText(relocated, relocatedSize, systemDir) ||
        !AppendText(relocated, relocatedSize, "\\") || !AppendText(relocated, relocatedSize, name))
        return 0;
    // The copy's path is quoted: in a system directory with a blank in it the
    // unquoted line would start some other program. The path after x is
    // taken whole by the copy, blanks included, so it stays as it is.
    return CopyText(command, commandSize, "\"") && AppendText(command, commandSize, relocated) &&
           AppendText(command, commandSize, State.silent ? "\" /S x " : "\" x ") &&
           AppendText(command, commandSize, State.modulePath);
}

// Copies the running program into dir under the first free name. The system
// directory belongs to the system and to every other program (NT keeps a
// setup.exe of its own there), so a file already there is never replaced,
// and so never scheduled for deletion either; the copy finds its script
// through the path after x, whatever its own name. The copy is made from the
// program's held file and read back: what runs elevated from the system
// directory is this program and nothing else. 0 when no copy was made.
static int CopyIntoDirectory(const char *dir, char *relocated, char *command)
{
    for (int number = 0; number < RELOCATION_NAMES; ++number) {
        if (!ComposeRelocation(dir, number, relocated, PATH_SIZE, command, RELOCATION_COMMAND_SIZE))
            return 0;
        HANDLE target = TestRefuses("MakeCopy") ? INVALID_HANDLE_VALUE
                                                 : CreateFileA(relocated, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (target != INVALID_HANDLE_VALUE) {
            unsigned char digest[SHA256_SIZE];
            int same = State.programFile != nullptr && CopyOpenFile(State.programFile, target) &&
                       HashOpenFile(target, digest) && memcmp(digest, State.programDigest, SHA256_SIZE) == 0;
            CloseOnce(target);
            if (same)
                return 1;
            DeleteFileA(relocated);
            return 0;
        }
        // Only a name that is taken is worth another try; whatever else
        // failed would fail again under the next name.
        if (GetFileAttributesA(relocated) == INVALID_FILE_ATTRIBUTES)
            return 0;
    }
    return 0;
}

void RequestRemoval()
{
    char question[LABEL_SIZE + 160];
    CopyText(question, sizeof question, State.title);
    AppendText(question, sizeof question, "を削除します。");
    if (State.resident)
        AppendText(question, sizeof question,
                   "まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。");
    // A silent request is its own confirmation.
    if (!State.silent && Ask(nullptr, question, State.title, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return;

    char dir[PATH_SIZE];
    UINT len = GetRelocationDirectory(dir, sizeof dir);
    char relocated[PATH_SIZE];
    char command[RELOCATION_COMMAND_SIZE];
    // Without a copy of its own there is nothing safe to start.
    if (len == 0 || len >= sizeof dir || !CopyIntoDirectory(dir, relocated, command)) {
        ReportLaunchFailure();
        return;
    }

    SetCurrentDirectoryA(dir);
    HANDLE copy = TestRefuses("StartCopy") ? nullptr : StartCommand(command);
    if (copy == nullptr) {
        ReportLaunchFailure();
        return;
    }
    // Whoever started a silent removal hears how the copy's run ended.
    DWORD status = StatusLeftBehind;
    if (State.silent && WaitForSingleObject(copy, INFINITE) == WAIT_OBJECT_0)
        GetExitCodeProcess(copy, &status);
    State.exitStatus = int(status);
    CloseOnce(copy);
}

void RunRemoval()
{
    CopyText(State.installDir, INSTALL_DIR_SIZE, State.setupDir);
    // Scheduled before anything else: a run that is killed or loses its
    // power would otherwise leave a signed copy in the system directory for
    // good. The file itself stays in use until the next start.
    char self[PATH_SIZE];
    DWORD len = GetModuleFileNameA(State.instance, self, sizeof self);
    if (len != 0 && len < sizeof self)
        ScheduleDeleteAtReboot(self);

    if (!State.silent) {
        DialogBoxParamA(State.instance, MAKEINTRESOURCEA(IDD_REMOVAL), nullptr, RemovalDialogProc, 0);
        return;
    }
    if (!RemoveInstallation() && (State.exitStatus == StatusDone || State.exitStatus == StatusRestart))
        State.exitStatus = StatusLeftBehind;
}
