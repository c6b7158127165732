// Page 1 of the wizard: whether the program gets a Start menu entry and a
// desktop shortcut. The old shell has no desktop to put one on.
#include "script/state.h"
#include "resources/resource.h"
#include "wizard/wizard.h"

#include <commctrl.h>

INT_PTR CALLBACK OptionsPageProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(window, IDC_OPT_STARTMENU, BST_CHECKED);
        if (!State.newShell)
            EnableWindow(GetDlgItem(window, IDC_OPT_DESKTOP), FALSE);
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR *>(lParam)->code) {
        case PSN_SETACTIVE:
            SendMessageA(State.sheetWindow, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
            RepeatSheetCaption();
            return FALSE;
        case PSN_WIZNEXT:
            State.wantStartMenu = IsDlgButtonChecked(window, IDC_OPT_STARTMENU) == BST_CHECKED;
            State.wantDesktop = IsDlgButtonChecked(window, IDC_OPT_DESKTOP) == BST_CHECKED;
            return FALSE;
        }
        return FALSE;
    }
    return FALSE;
}
