// The removal dialog: it opens, waits a moment so that the process that
// started it has ended, then removes the installation inside its first timer
// tick and shows the outcome until the user closes it.
#include "script/state.h"
#include "resources/resource.h"

static void ShowOutcome(HWND window, int removed)
{
    char text[INSTALL_DIR_SIZE + 80];
    if (removed) {
        CopyText(text, sizeof text, State.title);
        AppendText(text, sizeof text, "は正常に削除されました。");
    } else {
        CopyText(text, sizeof text, State.installDir);
        AppendText(text, sizeof text, " にはまだファイルが残っています。後で削除してください。");
    }
    SetDlgItemTextA(window, IDC_REMOVAL_TEXT, text);
}

INT_PTR CALLBACK RemovalDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        State.ownerWindow = window;
        CenterWindow(window);
        SetTimer(window, 1, 300, nullptr);
        char caption[LABEL_SIZE + 16];
        CopyText(caption, sizeof caption, State.title);
        AppendText(caption, sizeof caption, "の削除");
        SetWindowTextA(window, caption);
        return FALSE;
    }
    case WM_TIMER: {
        KillTimer(window, 1);
        SetForegroundWindow(window);
        ShowOutcome(window, RemoveInstallation());
        HWND close = GetDlgItem(window, IDCANCEL);
        EnableWindow(close, TRUE);
        SetFocus(close);
        SetForegroundWindow(window);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(window, 1);
        return FALSE;
    }
    return FALSE;
}
