// Page 2 of the wizard: the installation itself, one small step per posted
// command so that the sheet repaints and answers Cancel in between, then
// Finish, which starts the installed program.
#include "script/state.h"
#include "resources/resource.h"
#include "wizard/wizard.h"

#include <commctrl.h>
#include <shellapi.h>

static const char CompleteText[] = "インストールが完了しました。「完了」を押すと起動します。";
static const char NotStartedText[] = "のインストールは完了しました。スタートメニューから起動してください。";

static void SetStepRange(HWND bar, int top)
{
    // PBM_SETRANGE carries 16-bit bounds; a longer script would wrap them.
    if (top >= 0 && top <= 0xFFFF)
        SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, top));
    else
        SendMessageA(bar, PBM_SETRANGE32, 0, top);
}

// The bar's position as the steps counted it, which the bar answers for
// itself: the control is told of a step only when its fill moves.
static WNDPROC BarProcedure;
static LRESULT CountedPosition;

static LRESULT CALLBACK SteppedBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_GETPOS)
        return CountedPosition;
    if (message == PBM_SETPOS)
        CountedPosition = LRESULT(wParam);
    return CallWindowProcA(BarProcedure, bar, message, wParam, lParam);
}

// One step along the bar. Every change of its position costs the control a
// repaint, and the platform a round of requests, about as much as copying a
// small file; with a long script most steps move the fill by less than a
// pixel, so those steps are only counted. A repaint the bar still owes
// (after a message box covered it, say) is left owed.
void AdvanceBar(HWND bar, int position, int top)
{
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(bar, GWLP_WNDPROC)) != SteppedBarProc)
        BarProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SteppedBarProc)));
    RECT inside;
    GetClientRect(bar, &inside);
    int width = inside.right - inside.left - 2;
    int next = position < top ? position + 1 : top;
    CountedPosition = next;
    if (top <= 0 || width <= 0 || MulDiv(position, width, top) != MulDiv(next, width, top))
        CallWindowProcA(BarProcedure, bar, PBM_SETPOS, WPARAM(next), 0);
}

static void MakeShortcuts()
{
    if (State.resident) {
        UpdateShellItems(Startup, FALSE);
        return;
    }
    if (State.wantStartMenu)
        UpdateShellItems(Programs, FALSE);
    if (State.wantDesktop)
        UpdateShellItems(Desktop, FALSE);
}

// The work of step `step` of an installation whose last step is `last`:
// StatusDone, or what went wrong. Failures have been reported by then.
static int DoInstallStep(int step, int last)
{
    // Step 0 makes the directory; the copy steps take entry -1 (the setup
    // program), 0 (the script), then the script's entries in order; the
    // last step makes the shortcuts and registers.
    if (step == 0)
        return CreateDirectoryPath(State.installDir) ? StatusDone : StatusCopyFailed;
    if (step < last) {
        LoadFileEntry(step - 2);
        int copied = CopyCurrentEntry();
        if (copied && !CheckCopiedEntry(step - 2))
            return StatusNotPackaged;
        AddInstalledSize(copied);
        return copied ? StatusDone : StatusCopyFailed;
    }
    MakeShortcuts();
    RegisterUninstall();
    return StatusDone;
}

void RunSilentInstall()
{
    // The wizard's own choices: the proposed folder (or /D=), the options'
    // defaults, and no start at the end. Every error ends the run, and
    // leaves nothing of it behind.
    if (!AcceptInstallDir(nullptr)) {
        State.exitStatus = StatusFolderRefused;
        return;
    }
    State.wantStartMenu = 1;
    int last = State.fileCount + 3;
    for (int step = 0; step <= last; ++step) {
        int status = DoInstallStep(step, last);
        if (status != StatusDone) {
            UndoInstallation();
            State.exitStatus = status;
            return;
        }
    }
}

void RunInstallStep()
{
    HWND page = State.ownerWindow;
    // The bar, as the page kept it when it opened: on some systems every
    // lookup of a control asks the window server, once per step.
    HWND bar = reinterpret_cast<HWND>(GetWindowLongPtrA(page, DWLP_USER));
    int step = State.stepIndex;
    int last = State.fileCount + 3;
    if (step == 0)
        SetStepRange(bar, last);
    // A failed copy has been reported and the sequence goes on; a file that
    // is not what the maker packaged ends it: nothing more is installed,
    // registered, linked or started.
    if (DoInstallStep(step, last) == StatusNotPackaged) {
        PostMessageA(State.sheetWindow, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        return;
    }

    AdvanceBar(bar, step, last);
    State.stepIndex = step + 1;
    if (State.stepIndex <= last) {
        PostMessageA(page, WM_COMMAND, 1, 0);
        return;
    }
    ShowWindow(bar, SW_HIDE);
    SetDlgItemTextA(page, IDC_PROGRESS_TEXT, CompleteText);
    if (State.newShell)
        ShowWindow(GetDlgItem(page, IDC_PROGRESS_HINT), SW_SHOW);
    PostMessageA(State.sheetWindow, PSM_SETWIZBUTTONS, 0, PSWIZB_FINISH);
}

// Whether path names a file that is there. Only such a file goes to the
// desktop's shell: for anything else that shell shows its own error in the
// desktop's process, and Finish would wait until someone closes it.
static int IsFilePresent(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void StartInstalledProgram(HWND page)
{
    LoadFileEntry(1);
    SetCurrentDirectoryA(State.installDir);
    // An elevated run starts nothing itself: the product, and through it an
    // elevated shell in its file dialogs, would have the administrator's
    // rights. The desktop's shell starts it as the signed-in user; where
    // that cannot be reached, the user hears where to start it.
    int elevated = RunsElevated();
    if (elevated) {
        if (IsFilePresent(State.entryPath) && !StartAsUser(State.entryPath, State.installDir)) {
            char text[LABEL_SIZE + 128];
            ComposeTitleText(text, sizeof text, NotStartedText);
            Ask(page, text, State.title, MB_OK | MB_ICONINFORMATION);
            return;
        }
    } else {
        // Quoted, so that a blank in the path (C:\Program Files\...) cannot
        // make the system start some other program such as C:\Program.exe.
        char command[PATH_SIZE + 2];
        CopyText(command, sizeof command, "\"");
        AppendText(command, sizeof command, State.entryPath);
        AppendText(command, sizeof command, "\"");
        CloseOnce(StartCommand(command));
    }

    char document[PATH_SIZE];
    GetPrivateProfileStringA("Install", "Open", "", document, sizeof document, State.scriptPath);
    if (document[0] == '\0')
        return;
    // The shell resolves a relative name against its own directory, not
    // ours: an installed file is named in full. A file elsewhere goes as it
    // is; so does an address (a scheme before its colon).
    char path[INSTALL_DIR_SIZE + PATH_SIZE];
    const char *target = document;
    const char *colon = FindCharMbcs(document, ':');
    if (document[0] != '\\' && colon == nullptr && CopyText(path, sizeof path, State.installDir) &&
        AppendText(path, sizeof path, document))
        target = path;
    if (!elevated)
        ShellExecuteA(page, "open", document, nullptr, nullptr, SW_SHOWNORMAL);
    else if (IsFilePresent(target) || (colon != nullptr && colon - document > 1))
        StartAsUser(target, State.installDir);
}

INT_PTR CALLBACK ProgressPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        State.ownerWindow = window;
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(GetDlgItem(window, IDC_PROGRESS_BAR)));
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR *>(lParam)->code) {
        case PSN_SETACTIVE:
            SendMessageA(State.sheetWindow, PSM_SETWIZBUTTONS, 0, 0);
            RepeatSheetCaption();
            SetTimer(window, 1, 300, nullptr);
            return FALSE;
        case PSN_WIZFINISH:
            StartInstalledProgram(window);
            return FALSE;
        }
        return FALSE;
    case WM_TIMER:
        KillTimer(window, 1);
        PostMessageA(window, WM_COMMAND, 1, 0);
        return FALSE;
    case WM_COMMAND:
        if (wParam == 1)
            RunInstallStep();
        return FALSE;
    }
    return FALSE;
}
