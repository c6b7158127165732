// Resource and control numbers shared by the resource scripts and the code.
#pragma once

#define IDD_DESTINATION   100
#define IDD_REMOVAL       101
#define IDI_SETUP         102
#define IDD_PROGRESS      103
#define IDD_FOLDER_PICKER 105
#define IDD_OPTIONS       107
// The package's binding: a mark, then the script's SHA-256, zero until the
// package step fills it in place before signing.
#define IDR_BINDING       110
#define BINDING_SIZE      48

#define IDC_DEST_LABEL     1000
#define IDC_DEST_EDIT      1001
#define IDC_DEST_BROWSE    1002
#define IDC_PROGRESS_BAR   1003
#define IDC_OPT_DESKTOP    1005
#define IDC_OPT_STARTMENU  1006
#define IDC_PROGRESS_TEXT  1008
#define IDC_REMOVAL_TEXT   1010
#define IDC_PROGRESS_HINT  1012
