// Pieces of the install wizard that its pages share, kept apart from the
// page procedures so that each can be tried on its own.
#pragma once

#include <windows.h>
#include <prsht.h>

// The destination's checks on installDir, as Next makes them (the page is the
// owner of their messages; none in a silent run): 1 when it is taken.
int AcceptInstallDir(HWND page);
// The whole installation without a window, for /S: the exit status.
void RunSilentInstall();

// Suffixes of the texts built from the product's title.
extern const char DestinationLabelSuffix[];
extern const char SheetCaptionSuffix[];

// Sets the sheet's caption again once the page becoming active is shown.
void RepeatSheetCaption();

enum { WIZARD_PAGES = 3 };

void InitWizardPage(PROPSHEETPAGEA_V2 *page, int templateId, DLGPROC procedure);
// The sheet with its three pages in order, as the wizard shows it; pages
// holds WIZARD_PAGES records.
void InitWizardSheet(PROPSHEETHEADERA *header, PROPSHEETPAGEA_V2 *pages);

// title followed by suffix; 0 (and an empty text) when it does not fit.
int ComposeTitleText(char *text, int size, const char *suffix);

// Free space in units of ten bytes, from what GetDiskFreeSpaceA reports; the
// cluster count is rounded down to a multiple of ten first. Saturates rather
// than wraps.
unsigned long long FreeSpaceUnits(DWORD freeClusters, DWORD sectorsPerCluster, DWORD bytesPerSector);

// The question about a nearly full drive, for a figure from GetInstallFreeSpace;
// 0 when the drive has room enough and nothing is to be asked.
int FormatFreeSpaceQuestion(unsigned long long units, char *text, int size);

// One step of the progress bar from position to position + 1 (the bar stops
// at top), redrawn only when its filled width changes.
void AdvanceBar(HWND bar, int position, int top);

// Shows the sheet whose ppsp holds its PROPSHEETPAGEA_V2 pages through show
// (PropertySheetA); when that refuses the sheet with -1 before any page was
// made, shows it once more with the first header and page sizes. The result
// of the last call.
typedef INT_PTR(WINAPI *ShowSheetProc)(LPCPROPSHEETHEADERA header);
INT_PTR ShowWizardSheet(PROPSHEETHEADERA *header, ShowSheetProc show);
