// The wizard's templates, the texts and figures its pages compute, and the
// install steps run against a real progress page.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "script/state.h"
#include <commctrl.h>
#include <dlgs.h>
#include <prsht.h>
#include "resources/resource.h"
#include "wizard/wizard.h"

namespace wizard_ut {
struct SeenBox {
    std::string text;
    std::string caption;
    HWND owner = nullptr;
    std::string icon;
    std::vector<int> buttons;
};
std::vector<SeenBox> RunWithBoxes(void (*action)(void *), void *context, std::vector<int> answers);
HWND MakeOwnerWindow();
std::string FreshDir(const std::string &name);
void WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);
std::vector<std::string> ListDir(const std::string &dir);
bool IsDir(const std::string &path);
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
                     "デスクトップにショットカットを作成する"}});
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
    CopyText(State.installDir, INSTALL_DIR_SIZE, "Q:\\nowhere\\");  // no such drive
    if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR) {
        EXPECT_EQ(0u, GetInstallFreeSpace());
    }
}
