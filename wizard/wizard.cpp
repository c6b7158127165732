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

void RunInstallWizard()
{
    // Relative source names in the script resolve beside the setup program.
    SetCurrentDirectoryA(State.setupDir);

    PROPSHEETPAGEA_V2 pages[3];
    InitWizardPage(&pages[0], IDD_DESTINATION, DestinationPageProc);
    InitWizardPage(&pages[1], IDD_OPTIONS, OptionsPageProc);
    InitWizardPage(&pages[2], IDD_PROGRESS, ProgressPageProc);

    PROPSHEETHEADERA header;
    ZeroMemory(&header, sizeof header);
    header.dwSize = SheetHeaderSize;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD | PSH_NOAPPLYNOW;
    header.nPages = 3;
    header.nStartPage = 0;
    header.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);
    PropertySheetA(&header);
}
