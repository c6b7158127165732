// Page 0 of the wizard: the installation directory, with its folder picker
// and the checks made before the sheet moves on.
#include "script/state.h"
#include "resources/resource.h"
#include "wizard/wizard.h"

#include <commdlg.h>
#include <stddef.h>

const char DestinationLabelSuffix[] = "のインストール先を指定してください";
const char SheetCaptionSuffix[] = "のインストール";

static const char RootRefused[] = "ルートディレクトリにはインストールできません。";
static const char SharedRefused[] = " - このフォルダは他のプログラムと共用のため、インストール先にできません。";
static const char FormRefused[] = "「C:\\Soft」のように、ドライブ名も含めた正しいパス名を指定してください。";
static const char FreeSpaceQuestion[] =
    "指定されたドライブの残り容量が %uメガバイトしかありません。かまわずにインストールしますか？";

// 100 × 1,048,576 bytes in units of ten bytes.
static const unsigned long long EnoughFreeSpace = 0xA00000;

// The file dialog record without the members added after lpTemplateName
// (the platform's own size macro is not a constant expression).
static const DWORD PickerRecordSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(PickerRecordSize == 76, "file dialog record without the later members");
#endif

unsigned long long FreeSpaceUnits(DWORD freeClusters, DWORD sectorsPerCluster, DWORD bytesPerSector)
{
    unsigned long long units = freeClusters / 10;
    if (__builtin_mul_overflow(units, static_cast<unsigned long long>(sectorsPerCluster), &units) ||
        __builtin_mul_overflow(units, static_cast<unsigned long long>(bytesPerSector), &units))
        return ~0ULL;
    return units;
}

unsigned long long GetInstallFreeSpace()
{
    char full[PATH_SIZE];
    char *name;
    DWORD length = GetFullPathNameA(State.installDir, sizeof full, full, &name);
    if (length == 0 || length >= sizeof full || full[1] != ':' || full[2] != '\\')
        return 0;
    full[3] = '\0';
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(full, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return 0;
    return FreeSpaceUnits(freeClusters, sectorsPerCluster, bytesPerSector);
}

int FormatFreeSpaceQuestion(unsigned long long units, char *text, int size)
{
    if (units >= EnoughFreeSpace || size < static_cast<int>(sizeof FreeSpaceQuestion) + 8)
        return 0;
    // Below the threshold the figure is at most 100, so it fits the text; the
    // units themselves fit 32 bits there, which keeps 64-bit division out.
    wsprintfA(text, FreeSpaceQuestion, static_cast<unsigned>(units) / 102 / 1024);
    return 1;
}

// Refuses the move to the next page and keeps this one.
static INT_PTR KeepPage(HWND page)
{
    SetWindowLongPtrA(page, DWLP_MSGRESULT, -1);
    return TRUE;
}

int AcceptInstallDir(HWND page)
{
    AddTrailingBackslash(State.installDir);
    State.ownerWindow = page;

    // An empty field, a lone backslash or a bare drive root.
    if (TextLength(State.installDir) <= 3) {
        ShowError(RootRefused);
        return 0;
    }
    if (State.installDir[1] != ':' || State.installDir[2] != '\\') {
        ShowError(FormRefused);
        return 0;
    }

    // A folder that other programs share (Program Files itself, a profile,
    // the desktop) is never the product's: its removal would take theirs.
    char *backslash = State.installDir + TextLength(State.installDir) - 1;
    if (IsSharedDirectory(State.installDir, 0)) {
        *backslash = '\0';
        ShowPathError(State.installDir, SharedRefused);
        *backslash = '\\';
        return 0;
    }

    // A trial creation: the user hears about a level that cannot be made
    // now, not halfway through the copying. The last level goes again, but
    // only when the trial made it: a directory that was there before stays.
    // (A search for the path with its trailing backslash never finds it.)
    *backslash = '\0';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(State.installDir, &found);
    *backslash = '\\';
    int existed = 0;
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        existed = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    if (!existed) {
        if (!CreateDirectoryPath(State.installDir))
            return 0;
        RemoveDirectoryA(State.installDir);
    }

    // A silent run takes No for an answer: too little room refuses it.
    char question[sizeof FreeSpaceQuestion + 16];
    return !FormatFreeSpaceQuestion(GetInstallFreeSpace(), question, sizeof question) ||
           Ask(page, question, State.title, MB_YESNO | MB_ICONQUESTION) != IDNO;
}

static INT_PTR LeaveDestination(HWND page)
{
    GetDlgItemTextA(page, IDC_DEST_EDIT, State.installDir, PATH_SIZE);
    if (!AcceptInstallDir(page))
        return KeepPage(page);

    // A resident program gets no shortcut choice: straight to the progress page.
    if (State.resident) {
        SendMessageA(State.sheetWindow, PSM_SETCURSEL, 2, 0);
        return KeepPage(page);
    }
    return FALSE;
}

static void PickFolder(HWND page)
{
    // The picker opens at the root of the Windows drive.
    char root[PATH_SIZE];
    if (GetWindowsDirectoryA(root, sizeof root) >= 3)
        root[3] = '\0';
    SetCurrentDirectoryA(root);

    char file[PATH_SIZE] = "dummy";
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = PickerRecordSize;
    dialog.hwndOwner = page;
    dialog.hInstance = State.instance;
    dialog.lpstrFilter = "*.*\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.Flags = OFN_ENABLETEMPLATE | OFN_NOCHANGEDIR;
    dialog.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER_PICKER);
    typedef BOOL(WINAPI * PickerProc)(LPOPENFILENAMEA);
    FARPROC picker = GetSystemProc("COMDLG32.DLL", "GetSaveFileNameA");
    if (picker != nullptr && reinterpret_cast<PickerProc>(reinterpret_cast<void (*)()>(picker))(&dialog) &&
        dialog.nFileOffset < sizeof file) {
        // What stands after the folder is the placeholder name: it falls away.
        file[dialog.nFileOffset] = '\0';
        SetDlgItemTextA(page, IDC_DEST_EDIT, file);
    }
    SetCurrentDirectoryA(State.setupDir);
}

INT_PTR CALLBACK DestinationPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    char text[LABEL_SIZE + sizeof DestinationLabelSuffix];
    switch (message) {
    case WM_INITDIALOG:
        State.sheetWindow = GetParent(window);
        CenterWindow(State.sheetWindow);
        SendDlgItemMessageA(window, IDC_DEST_EDIT, EM_LIMITTEXT, PATH_SIZE - 1, 0);
        ComposeTitleText(text, sizeof text, DestinationLabelSuffix);
        SetDlgItemTextA(window, IDC_DEST_LABEL, text);
        ComposeTitleText(State.sheetCaption, sizeof State.sheetCaption, SheetCaptionSuffix);
        SetWindowTextA(State.sheetWindow, State.sheetCaption);
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR *>(lParam)->code) {
        case PSN_SETACTIVE:
            PostMessageA(State.sheetWindow, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
            RepeatSheetCaption();
            SetDlgItemTextA(window, IDC_DEST_EDIT, State.installDir);
            return FALSE;
        case PSN_WIZNEXT:
            return LeaveDestination(window);
        }
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DEST_BROWSE)
            PickFolder(window);
        return FALSE;
    }
    return FALSE;
}
