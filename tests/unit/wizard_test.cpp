// The wizard's templates, the texts and figures its pages compute, and the
// install steps run against a real progress page.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>
#include "script/state.h"
#include <commctrl.h>
#include <dlgs.h>
#include <prsht.h>
#include "resources/resource.h"
#include "wizard/wizard.h"
#include "common/message_box.h"
#include "common/prefix_files.h"

namespace wizard_ut {
using SeenBox = message_box::Box;
std::vector<SeenBox> RunWithBoxes(void (*action)(void *), void *context, std::vector<int> answers);
HWND MakeOwnerWindow();
std::string FreshDir(const std::string &name);
void WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);
bool IsDir(const std::string &path);
using prefix_files::ListDir;
}  // namespace wizard_ut

using namespace wizard_ut;

namespace {

// ---- Dialog templates, read back from the linked resources ----

struct Control {
    int id;
    std::string cls;  // lower case
    DWORD style;
    short x, y, cx, cy;
    std::string text;  // code page 932
};

struct Template {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int points = 0;
    std::string font;
    std::vector<Control> controls;
};

std::string Narrow(const WCHAR *text, int length)
{
    char buffer[512];
    int n = WideCharToMultiByte(932, 0, text, length, buffer, sizeof buffer, nullptr, nullptr);
    return std::string(buffer, n);
}

// A name or ordinal field: an ordinal becomes "#n" (class atoms by their names).
const WORD *ReadField(const WORD *p, std::string &out)
{
    if (*p == 0xFFFF) {
        static const char *const atoms[] = {"button", "edit", "static", "listbox", "scrollbar", "combobox"};
        WORD ordinal = p[1];
        out = ordinal >= 0x80 && ordinal <= 0x85 ? atoms[ordinal - 0x80] : "#" + std::to_string(ordinal);
        return p + 2;
    }
    int length = 0;
    while (p[length] != 0)
        ++length;
    out = Narrow(reinterpret_cast<const WCHAR *>(p), length);
    return p + length + 1;
}

bool LoadTemplate(int id, Template &result)
{
    HRSRC found = FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    if (found == nullptr)
        return false;
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found)));
    const DLGTEMPLATE *head = reinterpret_cast<const DLGTEMPLATE *>(data);
    if (HIWORD(head->style) == 0xFFFF)
        return false;  // an extended template
    result.style = head->style;
    result.x = head->x;
    result.y = head->y;
    result.cx = head->cx;
    result.cy = head->cy;
    const WORD *p = reinterpret_cast<const WORD *>(head + 1);
    std::string menu, cls;
    p = ReadField(p, menu);
    p = ReadField(p, cls);
    p = ReadField(p, result.caption);
    if (head->style & DS_SETFONT) {
        result.points = *p++;
        p = ReadField(p, result.font);
    }
    for (int i = 0; i < head->cdit; ++i) {
        p = reinterpret_cast<const WORD *>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        const DLGITEMTEMPLATE *item = reinterpret_cast<const DLGITEMTEMPLATE *>(p);
        Control control;
        control.id = static_cast<short>(item->id);
        control.style = item->style;
        control.x = item->x;
        control.y = item->y;
        control.cx = item->cx;
        control.cy = item->cy;
        p = reinterpret_cast<const WORD *>(item + 1);
        p = ReadField(p, control.cls);
        CharLowerA(&control.cls[0]);
        p = ReadField(p, control.text);
        p += 1 + (*p + 1) / 2;  // creation data
        result.controls.push_back(control);
    }
    return true;
}

void ExpectTemplate(int id, DWORD style, short x, short y, short cx, short cy, const char *caption,
                    const std::vector<Control> &controls)
{
    SCOPED_TRACE("template " + std::to_string(id));
    Template t;
    ASSERT_TRUE(LoadTemplate(id, t));
    EXPECT_EQ(style, t.style);
    EXPECT_EQ(x, t.x);
    EXPECT_EQ(y, t.y);
    EXPECT_EQ(cx, t.cx);
    EXPECT_EQ(cy, t.cy);
    EXPECT_EQ(caption, t.caption);
    EXPECT_EQ(9, t.points);
    EXPECT_EQ("ＭＳ Ｐゴシック", t.font);
    ASSERT_EQ(controls.size(), t.controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const Control &want = controls[i], &got = t.controls[i];
        EXPECT_EQ(want.id, got.id);
        EXPECT_EQ(want.cls, got.cls);
        EXPECT_EQ(want.style, got.style) << std::hex << (want.style ^ got.style);
        EXPECT_EQ(want.x, got.x);
        EXPECT_EQ(want.y, got.y);
        EXPECT_EQ(want.cx, got.cx);
        EXPECT_EQ(want.cy, got.cy);
        EXPECT_EQ(want.text, got.text);
    }
}

const DWORD Child = WS_CHILD | WS_VISIBLE;
const DWORD Hidden = WS_CHILD;

}  // namespace

TEST(WizardTemplates, DestinationPage)
{
    ExpectTemplate(IDD_DESTINATION, WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT, 0, 0, 227, 101, "",
                   {{-1, "static", Child | SS_LEFT | WS_GROUP, 43, 54, 133, 16,
                     "古いバージョンが起動されている場合は終了させてから「次へ」を押してください。"},
                    {1000, "static", Child | SS_LEFT | WS_GROUP, 14, 11, 167, 8, ""},
                    {1001, "edit", Child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 13, 27, 168, 12, ""},
                    {1002, "button", Child | WS_TABSTOP | BS_PUSHBUTTON, 185, 25, 35, 15, "参照(&B)..."},
                    {-1, "static", Child | SS_LEFT | WS_GROUP, 18, 54, 21, 8, "注意："}});
}

TEST(WizardTemplates, FolderPicker)
{
    const DWORD list = WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_SORT | LBS_OWNERDRAWFIXED |
                       LBS_HASSTRINGS | LBS_DISABLENOSCROLL;
    ExpectTemplate(
        IDD_FOLDER_PICKER, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT, 36, 24,
        179, 162, "参照",
        {{-1, "static", Child | SS_LEFT | WS_GROUP, 10, 5, 92, 9, "フォルダ(&D):"},
         {stc1, "static", Child | SS_LEFT | SS_NOPREFIX, 15, 15, 92, 9, ""},
         {lst2, "listbox", Child | list, 10, 31, 92, 76, ""},
         {stc4, "static", Child | SS_LEFT | WS_GROUP, 10, 125, 92, 9, "ドライブ(&V):"},
         {cmb2, "combobox",
          Child | WS_BORDER | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_AUTOHSCROLL |
              CBS_SORT | CBS_HASSTRINGS,
          10, 135, 92, 68, ""},
         {IDOK, "button", Child | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 115, 11, 50, 15, "OK"},
         {IDCANCEL, "button", Child | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, 115, 29, 50, 15, "ｷｬﾝｾﾙ"},
         {stc3, "static", Hidden | SS_LEFT | WS_GROUP, 110, 81, 15, 9, "ファイル名(&N):"},
         {edt1, "edit", Hidden | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_OEMCONVERT, 135, 85, 20, 12, ""},
         {lst1, "listbox", Hidden | list, 110, 91, 15, 4, ""},
         {stc2, "static", Hidden | SS_LEFT | WS_GROUP, 110, 105, 20, 9, "ファイルの種類(&T):"},
         {cmb1, "combobox", Hidden | WS_BORDER | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_AUTOHSCROLL, 135,
          105, 25, 62, ""},
         {pshHelp, "button", Hidden | WS_GROUP | BS_PUSHBUTTON, 110, 121, 50, 15, "ﾍﾙﾌﾟ(&H)"},
         {chx1, "button", Hidden | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, 110, 141, 50, 12, "上書き禁止(&R)"}});
}

TEST(WizardTemplates, OptionsAndProgressPages)
{
    const DWORD page = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
    ExpectTemplate(IDD_OPTIONS, page, 0, 0, 227, 95, "",
                   {{1006, "button", Child | WS_TABSTOP | BS_AUTOCHECKBOX, 16, 13, 95, 10,
                     "スタートメニューに登録する"},
                    {1005, "button", Child | WS_TABSTOP | BS_AUTOCHECKBOX, 16, 32, 125, 10,
                     "デスクトップにショートカットを作成する"}});
    ExpectTemplate(IDD_PROGRESS, page, 0, 0, 227, 95, "",
                   {{1008, "static", Child | SS_LEFT | WS_GROUP, 18, 12, 203, 8, "ファイルをコピーしています..."},
                    {1003, "msctls_progress32", Child | WS_BORDER, 17, 36, 195, 14, "Progress1"},
                    {1012, "static", Hidden | SS_LEFT | WS_GROUP, 25, 59, 177, 16,
                     "このソフトを削除するにはコントロールパネルの「アプリケーションの追加と削除」を使ってください。"}});
}

TEST(InitWizardPage, ClearsTheRecordAndNamesTemplateAndProcedure)
{
    ResetSetupState();
    State.instance = GetModuleHandleA(nullptr);
    PROPSHEETPAGEA_V2 page;
    FillMemory(&page, sizeof page, 0xA5);
    InitWizardPage(&page, IDD_OPTIONS, OptionsPageProc);
#ifndef _WIN64
    EXPECT_EQ(48u, page.dwSize);
#endif
    EXPECT_EQ(sizeof page, page.dwSize);
    EXPECT_EQ(0u, page.dwFlags);
    EXPECT_EQ(State.instance, page.hInstance);
    EXPECT_EQ(MAKEINTRESOURCEA(IDD_OPTIONS), page.pszTemplate);
    EXPECT_EQ(reinterpret_cast<DLGPROC>(OptionsPageProc), page.pfnDlgProc);
    EXPECT_EQ(0, page.lParam);
    EXPECT_EQ(nullptr, page.pszTitle);
    EXPECT_EQ(nullptr, page.pfnCallback);
    EXPECT_EQ(nullptr, page.pcRefParent);
    EXPECT_EQ(nullptr, page.pszHeaderTitle);
    EXPECT_EQ(nullptr, page.pszHeaderSubTitle);
}

// A 64-bit sheet is offered once, in the later sizes.
#ifndef _WIN64
namespace {

// The first common controls refuse the later header and page sizes with -1;
// the sheet must then come again in the first sizes, its pages laid out at
// that stride, and open.
struct SheetCall {
    DWORD headerSize;
    std::vector<DWORD> pageSizes;
    std::vector<LPCSTR> templates;
};
std::vector<SheetCall> SheetCalls;
HWND OpenedSheet;
bool EndAbnormally;

INT_PTR WINAPI FirstCommonControls(LPCPROPSHEETHEADERA header)
{
    SheetCall call{header->dwSize, {}, {}};
    const BYTE *at = reinterpret_cast<const BYTE *>(header->ppsp);
    for (UINT i = 0; i < header->nPages; ++i) {
        const PROPSHEETPAGEA *page = reinterpret_cast<const PROPSHEETPAGEA *>(at);
        call.pageSizes.push_back(page->dwSize);
        call.templates.push_back(page->pszTemplate);
        at += page->dwSize;  // as the library walks them
    }
    SheetCalls.push_back(call);
    if (EndAbnormally && SheetCalls.size() == 1)
        PropertySheetA(header);  // shown, then ended with -1 as by a WM_QUIT in its loop
    return SheetCalls.size() == 1 || EndAbnormally ? -1 : PropertySheetA(header);
}

BOOL CALLBACK FindSheet(HWND window, LPARAM found)
{
    if (GetDlgItem(window, 0x3024) == nullptr)  // the Next button
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

DWORD WINAPI CloseTheSheet(void *thread)
{
    for (int i = 0; i < 500 && OpenedSheet == nullptr; ++i) {
        Sleep(20);
        HWND sheet = nullptr;
        EnumThreadWindows(DWORD(reinterpret_cast<UINT_PTR>(thread)), FindSheet, reinterpret_cast<LPARAM>(&sheet));
        HWND page = sheet ? reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) : nullptr;
        if (page != nullptr && GetDlgItem(page, IDC_DEST_EDIT) != nullptr)
            OpenedSheet = sheet;
    }
    if (OpenedSheet != nullptr)
        PostMessageA(OpenedSheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    return 0;
}

}  // namespace

TEST(ShowWizardSheet, RefusedSizesAreOfferedAgainInTheFirstOnes)
{
    ResetSetupState();
    State.instance = GetModuleHandleA(nullptr);
    CopyText(State.title, LABEL_SIZE, "テスト");
    CopyText(State.installDir, INSTALL_DIR_SIZE, "C:\\ut\\sheet\\");
    PROPSHEETPAGEA_V2 pages[WIZARD_PAGES];
    PROPSHEETHEADERA header;
    InitWizardSheet(&header, pages);
    EXPECT_EQ(DWORD(PSH_PROPSHEETPAGE | PSH_WIZARD | PSH_NOAPPLYNOW), header.dwFlags);

    SheetCalls.clear();
    OpenedSheet = nullptr;
    HANDLE closer = CreateThread(nullptr, 0, CloseTheSheet, reinterpret_cast<void *>(UINT_PTR(GetCurrentThreadId())), 0, nullptr);
    ShowWizardSheet(&header, FirstCommonControls);
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);

    ASSERT_EQ(2u, SheetCalls.size());
    const std::vector<LPCSTR> order = {MAKEINTRESOURCEA(IDD_DESTINATION), MAKEINTRESOURCEA(IDD_OPTIONS),
                                       MAKEINTRESOURCEA(IDD_PROGRESS)};
    EXPECT_EQ(order, SheetCalls[0].templates);
    EXPECT_EQ(order, SheetCalls[1].templates);
    EXPECT_EQ(std::vector<DWORD>(3, sizeof(PROPSHEETPAGEA_V2)), SheetCalls[0].pageSizes);
    EXPECT_EQ(std::vector<DWORD>(3, sizeof(PROPSHEETPAGEA_V1)), SheetCalls[1].pageSizes);
    EXPECT_EQ(offsetof(PROPSHEETHEADERA, hbmHeader) + sizeof(HBITMAP), SheetCalls[0].headerSize);
    EXPECT_EQ(offsetof(PROPSHEETHEADERA, pfnCallback) + sizeof(void *), SheetCalls[1].headerSize);
    EXPECT_EQ(52u, SheetCalls[0].headerSize);
    EXPECT_EQ(40u, SheetCalls[1].headerSize);
    EXPECT_EQ(std::vector<DWORD>(3, 40), SheetCalls[1].pageSizes);
    // And the library took the sheet in those sizes: the destination page showed.
    EXPECT_NE(nullptr, OpenedSheet);
    // The caller's pages are still its own.
    EXPECT_EQ(reinterpret_cast<LPCPROPSHEETPAGEA>(pages), header.ppsp);
    // A sheet that was shown is never shown again, whatever it returned.
    SheetCalls.clear();
    OpenedSheet = nullptr;
    EndAbnormally = true;
    closer = CreateThread(nullptr, 0, CloseTheSheet, reinterpret_cast<void *>(UINT_PTR(GetCurrentThreadId())), 0, nullptr);
    EXPECT_EQ(-1, ShowWizardSheet(&header, FirstCommonControls));
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
    EndAbnormally = false;
    EXPECT_NE(nullptr, OpenedSheet);
    EXPECT_EQ(1u, SheetCalls.size());
}
#endif

TEST(ComposeTitleText, TitleFollowedBySuffix)
{
    ResetSetupState();
    CopyText(State.title, LABEL_SIZE, "サンプル");
    char text[LABEL_SIZE + 40];
    EXPECT_EQ(1, ComposeTitleText(text, sizeof text, SheetCaptionSuffix));
    EXPECT_STREQ("サンプルのインストール", text);
    EXPECT_EQ(1, ComposeTitleText(text, sizeof text, DestinationLabelSuffix));
    EXPECT_STREQ("サンプルのインストール先を指定してください", text);

    // The longest title fits the page's buffer with the longer suffix.
    std::string longest(LABEL_SIZE - 1, 'T');
    CopyText(State.title, LABEL_SIZE, longest.c_str());
    EXPECT_EQ(1, ComposeTitleText(text, sizeof text, DestinationLabelSuffix));
    EXPECT_EQ(longest + "のインストール先を指定してください", text);
    // A buffer too small gets nothing rather than a cut text.
    char small[20];
    EXPECT_EQ(0, ComposeTitleText(small, sizeof small, SheetCaptionSuffix));
    EXPECT_STREQ("", small);
}

TEST(FreeSpace, UnitsRoundClustersDownAndNeverWrap)
{
    EXPECT_EQ(0u, FreeSpaceUnits(9, 8, 512));
    EXPECT_EQ(4096u, FreeSpaceUnits(19, 8, 512));
    // 2 TB free in 4 KB clusters is far beyond 32 bits of ten-byte units.
    EXPECT_EQ(53687091ULL * 4096, FreeSpaceUnits(536870912, 8, 512));
    EXPECT_EQ(~0ULL, FreeSpaceUnits(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF));
}

TEST(FreeSpace, QuestionAndItsFigureAtTheBoundaries)
{
    char text[200];
    const std::string before = "指定されたドライブの残り容量が ";
    const std::string after = "メガバイトしかありません。かまわずにインストールしますか？";
    EXPECT_EQ(1, FormatFreeSpaceQuestion(0xA00000 - 1, text, sizeof text));
    EXPECT_EQ(before + "100" + after, text);
    EXPECT_EQ(1, FormatFreeSpaceQuestion(104447, text, sizeof text));
    EXPECT_EQ(before + "0" + after, text);
    EXPECT_EQ(1, FormatFreeSpaceQuestion(104448, text, sizeof text));
    EXPECT_EQ(before + "1" + after, text);
    EXPECT_EQ(1, FormatFreeSpaceQuestion(0, text, sizeof text));  // unreadable drive
    EXPECT_EQ(before + "0" + after, text);
    EXPECT_EQ(0, FormatFreeSpaceQuestion(0xA00000, text, sizeof text));
    EXPECT_EQ(0, FormatFreeSpaceQuestion(0x100000000ULL * 10, text, sizeof text));  // no 32-bit wrap to small
}

TEST(FreeSpace, ReadFromTheDriveOfInstallDir)
{
    ResetSetupState();
    std::string dir = FreshDir("freespace");
    CopyText(State.installDir, INSTALL_DIR_SIZE, (dir + "not\\made\\yet\\").c_str());
    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
    unsigned long long units = GetInstallFreeSpace();
    // The figure is the drive's free space within a cluster's rounding and
    // what other tests write meanwhile.
    EXPECT_NEAR(static_cast<double>(free.QuadPart / 10), static_cast<double>(units), 64.0 * 1024 * 1024);
    EXPECT_GT(units, 0u);

    CopyText(State.installDir, INSTALL_DIR_SIZE, "\\\\server\\share\\x\\");
    EXPECT_EQ(0u, GetInstallFreeSpace());
}

// Apart from the others: Wine asks its mount manager about a drive it does
// not know, which 32-bit programs under qemu-user do not survive (tests/emulation).
TEST(FreeSpace, NoneOnADriveThatDoesNotExist)
{
    ResetSetupState();
    CopyText(State.installDir, INSTALL_DIR_SIZE, "Q:\\nowhere\\");  // no such drive
    if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR) {
        EXPECT_EQ(0u, GetInstallFreeSpace());
    }
}

namespace {

const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ReadValue(const std::string &key, const char *value, DWORD *size)
{
    char data[1024];
    DWORD type = 0;
    *size = sizeof data;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, &type, data, size) !=
        ERROR_SUCCESS)
        return "<none>";
    EXPECT_EQ(DWORD(REG_SZ), type);
    return std::string(data, *size > 0 ? *size - 1 : 0);
}

// The record as start-up leaves it for a distribution in C:\ut\<name>\ with
// the given [Install] entries, installing into its inst\ directory; the
// progress page exists, as the sheet would have made it.
HWND PrepareInstall(const std::string &name, const std::string &folder, const std::string &entries)
{
    ResetSetupState();
    std::string dir = FreshDir(name);
    WriteBytes(dir + "SETUP.EXE", "the setup program");
    WriteBytes(dir + "SETUP.INF", "[Install]\r\nTitle=手順\r\nFolder=" + folder + "\r\n" + entries);
    CreateDirectoryA((dir + "HELP").c_str(), nullptr);
    for (const char *file : {"a.txt", "HELP\\b.txt", "c.txt"})
        WriteBytes(dir + file, file);
    State.instance = GetModuleHandleA(nullptr);
    CopyText(State.setupDir, PATH_SIZE, dir.c_str());
    CopyText(State.exeName, NAME_SIZE, "SETUP.EXE");
    CopyText(State.scriptName, NAME_SIZE, "SETUP.INF");
    CopyText(State.scriptPath, PATH_SIZE, (dir + "SETUP.INF").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (UninstallKey + folder).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UninstallKey + folder).c_str());
    EXPECT_EQ(1, LoadSetupScript());
    CopyText(State.installDir, INSTALL_DIR_SIZE, (dir + "inst\\").c_str());
    SetCurrentDirectoryA(dir.c_str());
    InitCommonControls();
    State.sheetWindow = MakeOwnerWindow();
    CreateDialogParamA(State.instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressPageProc, 0);
    return State.ownerWindow;  // the page made itself the owner of messages
}

// Takes the command that a step posted to the page for the next one.
bool TakeNextStepCommand(HWND page)
{
    MSG msg;
    if (!PeekMessageA(&msg, page, WM_COMMAND, WM_COMMAND, PM_REMOVE))
        return false;
    return msg.wParam == 1 && msg.lParam == 0;
}

LPARAM TakeWizardButtons()
{
    MSG msg;
    if (!PeekMessageA(&msg, State.sheetWindow, PSM_SETWIZBUTTONS, PSM_SETWIZBUTTONS, PM_REMOVE))
        return -1;
    return msg.lParam;
}

bool Shown(HWND page, int id)
{
    return (GetWindowLongA(GetDlgItem(page, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

}  // namespace

TEST(RunInstallStep, OneStepPerCommandInOrder)
{
    const std::string folder = "UtStepsFolder";
    HWND page = PrepareInstall("steps", folder, "1=a.txt\r\n2=HELP\\b.txt,b.txt\r\n3=c.txt,DATA\\c.txt\r\n");
    ASSERT_NE(nullptr, page);
    ASSERT_EQ(3, State.fileCount);
    const std::string inst = State.installDir;
    HWND bar = GetDlgItem(page, IDC_PROGRESS_BAR);

    // What the installation directory holds after each of the N + 4 steps.
    const std::vector<std::vector<std::string>> after = {
        {},
        {"SETUP.EXE"},
        {"SETUP.EXE", "SETUP.INF"},
        {"SETUP.EXE", "SETUP.INF", "a.txt"},
        {"SETUP.EXE", "SETUP.INF", "a.txt", "b.txt"},
        {"DATA", "SETUP.EXE", "SETUP.INF", "a.txt", "b.txt"},
        {"DATA", "SETUP.EXE", "SETUP.INF", "a.txt", "b.txt"},
    };
    for (size_t step = 0; step < after.size(); ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        std::vector<SeenBox> boxes = RunWithBoxes([](void *) { RunInstallStep(); }, nullptr, {});
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(int(step + 1), State.stepIndex);
        EXPECT_TRUE(IsDir(inst));
        EXPECT_EQ(after[step], ListDir(inst));
        EXPECT_EQ(std::min(int(step + 1), 6), SendMessageA(bar, PBM_GETPOS, 0, 0));  // stops at the top
        EXPECT_EQ(6, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
        EXPECT_EQ(0, SendMessageA(bar, PBM_GETRANGE, TRUE, 0));
        bool last = step + 1 == after.size();
        EXPECT_EQ(!last, TakeNextStepCommand(page));
        EXPECT_EQ(last, RegGetValueA(HKEY_LOCAL_MACHINE, (UninstallKey + folder).c_str(), "DisplayName",
                                     RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
        EXPECT_EQ(last ? LPARAM(PSWIZB_FINISH) : -1, TakeWizardButtons());
        EXPECT_EQ(!last, Shown(page, IDC_PROGRESS_BAR));
    }
    EXPECT_EQ(std::vector<std::string>{"c.txt"}, ListDir(inst + "DATA\\"));
    EXPECT_EQ("HELP\\b.txt", ReadBytes(inst + "b.txt"));
    char text[200];
    GetDlgItemTextA(page, IDC_PROGRESS_TEXT, text, sizeof text);
    EXPECT_STREQ("インストールが完了しました。「完了」を押すと起動します。", text);
    EXPECT_FALSE(Shown(page, IDC_PROGRESS_HINT));  // the old shell has no removal hint
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UninstallKey + folder).c_str());
}

TEST(RunInstallStep, FailuresAreReportedByThePageAndTheSequenceGoesOn)
{
    const std::string folder = "UtFailFolder";
    HWND page = PrepareInstall("steps_fail", folder, "1=missing.txt\r\n2=a.txt\r\n");
    ASSERT_NE(nullptr, page);
    State.newShell = 1;
    std::vector<SeenBox> boxes;
    for (int step = 0; step < 6; ++step) {
        for (const SeenBox &box : RunWithBoxes([](void *) { RunInstallStep(); }, nullptr, {}))
            boxes.push_back(box);
        EXPECT_EQ(step < 5, TakeNextStepCommand(page));
    }
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("missing.txt のコピーに失敗しました。", boxes[0].text);
    EXPECT_EQ(page, boxes[0].owner);
    EXPECT_EQ((std::vector<std::string>{"SETUP.EXE", "SETUP.INF", "a.txt"}), ListDir(State.installDir));
    EXPECT_TRUE(Shown(page, IDC_PROGRESS_HINT));
    DWORD size;
    EXPECT_EQ("手順", ReadValue(UninstallKey + folder, "DisplayName", &size));
    DWORD kib = 0, kibSize = sizeof kib;  // a KiB each for SETUP.EXE, SETUP.INF and a.txt; none for missing.txt
    RegGetValueA(HKEY_LOCAL_MACHINE, (UninstallKey + folder).c_str(), "EstimatedSize", RRF_RT_DWORD, nullptr, &kib,
                 &kibSize);
    EXPECT_EQ(3u, kib);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UninstallKey + folder).c_str());
}

TEST(RunInstallStep, RangeAbove65535DoesNotWrap)
{
    HWND page = PrepareInstall("steps_range", "UtRangeFolder", "");
    ASSERT_NE(nullptr, page);
    State.fileCount = 70000;
    RunInstallStep();
    HWND bar = GetDlgItem(page, IDC_PROGRESS_BAR);
    EXPECT_EQ(70003, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(1, SendMessageA(bar, PBM_GETPOS, 0, 0));
    EXPECT_TRUE(TakeNextStepCommand(page));
    EXPECT_TRUE(IsDir(State.installDir));
}

namespace {

int BarPaints;
WNDPROC BarProcedure;

LRESULT CALLBACK CountPaints(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        ++BarPaints;
    return CallWindowProcA(BarProcedure, window, message, wParam, lParam);
}

}  // namespace

TEST(AdvanceBar, CountsEveryStepAndRepaintsOnlyWhenTheFillMoves)
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 300, 40, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 202, 20, window,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, bar);
    UpdateWindow(window);
    BarProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountPaints)));
    RECT inside;
    GetClientRect(bar, &inside);
    const int width = inside.right - inside.left - 2;  // the fill's extent inside the bar's frame
    ASSERT_GT(width, 100);

    // Many more steps than pixels, as a long script gives; and one step past the top.
    const int top = 1000;
    SendMessageA(bar, PBM_SETRANGE32, 0, top);
    // A bar beside it that is always drawn whole shows what the stepped one must look like.
    HWND whole = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_BORDER, 10, 10, 202, 20, window, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    SendMessageA(whole, PBM_SETRANGE32, 0, top);
    UpdateWindow(bar);  // the new range is drawn: the bar owes nothing
    auto drawnAlike = [&](int position) {
        SendMessageA(whole, PBM_SETPOS, position, 0);
        HDC a = GetDC(bar), b = GetDC(whole);
        HDC copy = CreateCompatibleDC(a);
        HBITMAP bits = CreateCompatibleBitmap(a, inside.right, inside.bottom);
        SelectObject(copy, bits);
        // The reference is drawn off screen, into a bitmap of its own.
        SendMessageA(whole, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(copy), PRF_CLIENT);
        int differing = 0;
        for (int y = 0; y < inside.bottom; ++y)
            for (int x = 0; x < inside.right; ++x)
                differing += GetPixel(a, x, y) != GetPixel(copy, x, y);
        DeleteDC(copy);
        DeleteObject(bits);
        ReleaseDC(bar, a);
        ReleaseDC(whole, b);
        return differing;
    };
    int moves = 0;
    for (int position = 0; position <= top; ++position) {
        int before = BarPaints;
        AdvanceBar(bar, position, top);
        int next = std::min(position + 1, top);
        bool moved = MulDiv(position, width, top) != MulDiv(next, width, top);
        moves += moved;
        ASSERT_EQ(next, SendMessageA(bar, PBM_GETPOS, 0, 0)) << "position " << position;
        ASSERT_TRUE(GetWindowLongA(bar, GWL_STYLE) & WS_VISIBLE) << "position " << position;
        // Painted at once whenever the fill grows; never for a step inside one pixel.
        ASSERT_EQ(moved ? before + 1 : before, BarPaints) << "position " << position;
        if (moved && (position % 37 == 0 || position >= top - 1)) {
            ASSERT_EQ(0, drawnAlike(next)) << "pixels differing from a whole bar at position " << next;
        }
    }
    EXPECT_EQ(width, moves);

    // A bar that owes a repaint, as when a message box has covered it, keeps
    // owing it through a step that does not move the fill, and gets it.
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    UpdateWindow(bar);
    InvalidateRect(bar, nullptr, TRUE);
    BarPaints = 0;
    AdvanceBar(bar, 0, top);
    UpdateWindow(bar);
    EXPECT_EQ(1, BarPaints);
    EXPECT_EQ(0, drawnAlike(1));

    // A short script moves the fill on every step.
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 6));
    BarPaints = 0;
    for (int position = 0; position < 6; ++position)
        AdvanceBar(bar, position, 6);
    EXPECT_EQ(6, BarPaints);
    EXPECT_EQ(6, SendMessageA(bar, PBM_GETPOS, 0, 0));
    DestroyWindow(window);
}

TEST(RegisterUninstall, WritesNameAndQuotedCommandAndKeepsOtherValues)
{
    ResetSetupState();
    const std::string key = std::string(UninstallKey) + "UtRegisterFolder";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &opened, nullptr));
    RegSetValueExA(opened, "Publisher", 0, REG_SZ, reinterpret_cast<const BYTE *>("keep"), 5);
    RegSetValueExA(opened, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE *>("old name"), 9);
    RegCloseKey(opened);

    CopyText(State.folder, LABEL_SIZE, "UtRegisterFolder");
    CopyText(State.title, LABEL_SIZE, "登録試験");
    CopyText(State.installDir, INSTALL_DIR_SIZE, "D:\\Tools\\Viewer\\");
    CopyText(State.exeName, NAME_SIZE, "SETUP.EXE");
    RegisterUninstall();
    DWORD size;
    EXPECT_EQ("登録試験", ReadValue(key, "DisplayName", &size));
    EXPECT_EQ(DWORD(lstrlenA("登録試験") + 1), size);
    std::string command = ReadValue(key, "UninstallString", &size);
    EXPECT_EQ("\"D:\\Tools\\Viewer\\SETUP.EXE\" /r", command);
    EXPECT_EQ(31u, size);
    EXPECT_EQ("keep", ReadValue(key, "Publisher", &size));  // the script has none
    EXPECT_EQ("<none>", ReadValue(key, "DisplayIcon", &size));  // nor a file entry
    // The loader reads the same directory back.
    char dir[INSTALL_DIR_SIZE];
    ASSERT_EQ(1, ReadPreviousInstallDir(command.c_str(), dir, sizeof dir));
    EXPECT_STREQ("D:\\Tools\\Viewer\\", dir);

    // The longest directory and name are written whole.
    std::string longDir = "C:\\" + std::string(256, 'd') + "\\";
    std::string longName(NAME_SIZE - 1, 'N');
    CopyText(State.installDir, INSTALL_DIR_SIZE, longDir.c_str());
    CopyText(State.exeName, NAME_SIZE, longName.c_str());
    RegisterUninstall();
    EXPECT_EQ("\"" + longDir + longName + "\" /r", ReadValue(key, "UninstallString", &size));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST(OptionsPageProc, StartMenuCheckedAndDesktopOnlyOnTheNewShell)
{
    for (int newShell : {0, 1}) {
        SCOPED_TRACE(newShell ? "new shell" : "old shell");
        ResetSetupState();
        State.newShell = newShell;
        State.sheetWindow = MakeOwnerWindow();
        HWND page = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_OPTIONS), nullptr,
                                       OptionsPageProc, 0);
        ASSERT_NE(nullptr, page);
        EXPECT_EQ(UINT(BST_CHECKED), IsDlgButtonChecked(page, IDC_OPT_STARTMENU));
        EXPECT_EQ(UINT(BST_UNCHECKED), IsDlgButtonChecked(page, IDC_OPT_DESKTOP));
        EXPECT_EQ(newShell != 0, IsWindowEnabled(GetDlgItem(page, IDC_OPT_DESKTOP)) != 0);

        NMHDR next = {page, 0, static_cast<UINT>(PSN_WIZNEXT)};
        EXPECT_EQ(FALSE, SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&next)));
        EXPECT_EQ(1, State.wantStartMenu);
        EXPECT_EQ(0, State.wantDesktop);
        CheckDlgButton(page, IDC_OPT_STARTMENU, BST_UNCHECKED);
        CheckDlgButton(page, IDC_OPT_DESKTOP, BST_CHECKED);
        SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&next));
        EXPECT_EQ(0, State.wantStartMenu);
        EXPECT_EQ(1, State.wantDesktop);
        DestroyWindow(page);
    }
}
