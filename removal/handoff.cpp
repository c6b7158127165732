// The two removal processes. The registered uninstall command starts the
// installed setup program with "/r": it asks, copies itself into the system
// directory and starts that copy with "x" and its own path, then ends, so
// that nothing of the running removal lies in the directory it removes.
#include "script/state.h"
#include "removal/handoff.h"
#include "resources/resource.h"

static void ReportLaunchFailure()
{
    MessageBoxA(nullptr, "アンインストール用プログラムの起動に失敗しました。手動で削除してください。", nullptr,
                MB_ICONERROR | MB_OK);
}

int ComposeRelocation(const char *systemDir, char *relocated, int relocatedSize, char *command, int commandSize)
{
    if (!CopyText(relocated, relocatedSize, systemDir) || !AppendText(relocated, relocatedSize, "\\") ||
        !AppendText(relocated, relocatedSize, State.exeName))
        return 0;
    // The copy's path is quoted: in a system directory with a blank in it the
    // unquoted line would start some other program. The path after x is
    // taken whole by the copy, blanks included, so it stays as it is.
    return CopyText(command, commandSize, "\"") && AppendText(command, commandSize, relocated) &&
           AppendText(command, commandSize, "\" x ") && AppendText(command, commandSize, State.modulePath);
}

void RequestRemoval()
{
    char question[LABEL_SIZE + 160];
    CopyText(question, sizeof question, State.title);
    AppendText(question, sizeof question, "を削除します。");
    if (State.resident)
        AppendText(question, sizeof question,
                   "まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。");
    if (MessageBoxA(nullptr, question, State.title, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return;

    char systemDir[PATH_SIZE];
    UINT len = GetSystemDirectoryA(systemDir, sizeof systemDir);
    char relocated[PATH_SIZE];
    char command[RELOCATION_COMMAND_SIZE];
    if (len == 0 || len >= sizeof systemDir ||
        !ComposeRelocation(systemDir, relocated, sizeof relocated, command, sizeof command)) {
        ReportLaunchFailure();
        return;
    }
    CopyFileA(State.modulePath, relocated, FALSE);

    SetCurrentDirectoryA(systemDir);
    if (WinExec(command, SW_SHOWNORMAL) < 32)
        ReportLaunchFailure();
}

void RunRemoval()
{
    CopyText(State.installDir, INSTALL_DIR_SIZE, State.setupDir);
    DialogBoxParamA(State.instance, MAKEINTRESOURCEA(IDD_REMOVAL), nullptr, RemovalDialogProc, 0);

    char self[PATH_SIZE];
    DWORD len = GetModuleFileNameA(State.instance, self, sizeof self);
    if (len != 0 && len < sizeof self)
        ScheduleDeleteAtReboot(self);
}
