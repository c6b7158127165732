// The wizard frame: three pages in one modal property sheet.
#include "script/state.h"
#include "resources/resource.h"
#include "wizard/wizard.h"

#include <stddef.h>

// The page and header versions that carry the header-title and watermark
// members, whatever the platform headers default to. The header's own size
// macro does not compile with these headers, so it is spelt out.
static const DWORD SheetHeaderSize = offsetof(PROPSHEETHEADERA, hbmHeader) + sizeof(HBITMAP);
#ifndef _WIN64
static_assert(sizeof(PROPSHEETPAGEA_V2) == 48, "page record of the wizard");
static_assert(SheetHeaderSize == 52, "sheet header of the wizard");
#endif
// The first versions, which every common controls library takes.
static const DWORD FirstSheetHeaderSize = offsetof(PROPSHEETHEADERA, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK);
#ifndef _WIN64
static_assert(sizeof(PROPSHEETPAGEA_V1) == 40, "first page record");
static_assert(FirstSheetHeaderSize == 40, "first sheet header");
#endif

void InitWizardPage(PROPSHEETPAGEA_V2 *page, int templateId, DLGPROC procedure)
{
    ZeroMemory(page, sizeof *page);
    page->dwSize = sizeof *page;
    page->dwFlags = 0;
    page->hInstance = State.instance;
    page->pszTemplate = MAKEINTRESOURCEA(static_cast<WORD>(templateId));
    page->pfnDlgProc = procedure;
}

int ComposeTitleText(char *text, int size, const char *suffix)
{
    if (CopyText(text, size, State.title) && AppendText(text, size, suffix))
        return 1;
    if (size > 0)
        text[0] = '\0';
    return 0;
}

void RepeatSheetCaption()
{
    // Wine gives a wizard the caption of the page's template each time it
    // shows a page, which comes after the page's activation; a caption posted
    // from there arrives after that and stays.
    PostMessageA(State.sheetWindow, PSM_SETTITLEA, 0, reinterpret_cast<LPARAM>(State.sheetCaption));
}

INT_PTR ShowWizardSheet(PROPSHEETHEADERA *header, ShowSheetProc show)
{
    // The destination page names the sheet when it is made, and it is made
    // first: without that name no page was ever created.
    State.sheetWindow = nullptr;
    INT_PTR result = show(header);
    // Every 64-bit system's common controls take the later sizes.
#if !defined(_WIN64)
    if (result != -1 || State.sheetWindow != nullptr)
        return result;
    // The common controls of Windows 95 and NT 4.0 as first shipped refuse
    // a header or page size they do not know, and the wizard would never
    // open. None of the later members is used, so the same sheet goes again
    // in the first sizes. The sheet walks its pages by their own size, so
    // they are laid out again at that stride. A sheet that was shown and
    // then ended abnormally (a WM_QUIT in its loop) gives -1 as well; shown
    // again, the wizard would come back after it may have installed.
    PROPSHEETPAGEA_V1 pages[WIZARD_PAGES];
    const PROPSHEETPAGEA_V2 *later = reinterpret_cast<const PROPSHEETPAGEA_V2 *>(header->ppsp);
    UINT count = header->nPages < UINT(WIZARD_PAGES) ? header->nPages : UINT(WIZARD_PAGES);
    for (UINT i = 0; i < count; ++i) {
        CopyMemory(&pages[i], &later[i], sizeof pages[i]);
        pages[i].dwSize = sizeof pages[i];
    }
    header->dwSize = FirstSheetHeaderSize;
    header->ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);
    result = show(header);
    header->ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(later);
#endif
    return result;
}

void InitWizardSheet(PROPSHEETHEADERA *header, PROPSHEETPAGEA_V2 *pages)
{
    InitWizardPage(&pages[0], IDD_DESTINATION, DestinationPageProc);
    InitWizardPage(&pages[1], IDD_OPTIONS, OptionsPageProc);
    InitWizardPage(&pages[2], IDD_PROGRESS, ProgressPageProc);
    ZeroMemory(header, sizeof *header);
    header->dwSize = SheetHeaderSize;
    header->dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD | PSH_NOAPPLYNOW;
    header->nPages = WIZARD_PAGES;
    header->nStartPage = 0;
    header->ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);
}

void RunInstallWizard()
{
    // Relative source names in the script resolve beside the setup program.
    SetCurrentDirectoryA(State.setupDir);
    if (State.silent) {
        RunSilentInstall();
        return;
    }

    PROPSHEETPAGEA_V2 pages[WIZARD_PAGES];
    PROPSHEETHEADERA header;
    InitWizardSheet(&header, pages);
    // Taken from the system's own library (see entry/libraries.cpp).
    FARPROC show = GetSystemProc("COMCTL32.DLL", "PropertySheetA");
    if (show != nullptr)
        ShowWizardSheet(&header, reinterpret_cast<ShowSheetProc>(reinterpret_cast<void (*)()>(show)));
}
