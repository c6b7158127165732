// The wizard's destination page seen from outside: its texts, the checks
// made on Next, the trial creation, the free-space question and the folder
// picker.
#include <gtest/gtest.h>
#include "driver.h"

#include <commctrl.h>
#include <prsht.h>

using namespace driver;

namespace {

const char RootMessage[] = "ルートディレクトリにはインストールできません。";
const char FormMessage[] = "「C:\\Soft」のように、ドライブ名も含めた正しいパス名を指定してください。";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const int BackButton = 0x3023, NextButton = 0x3024;

std::string Script(const std::string &title, const std::string &folder, const std::string &more = "")
{
    return InstallScript(title, folder, more + "1=APP.EXE\n");
}

// Types a directory, presses Next and expects one error box owned by the
// page, after which the page stays.
void ExpectRefused(HWND sheet, HWND page, DWORD pid, const std::string &typed, const std::string &message)
{
    SCOPED_TRACE("typed '" + typed + "'");
    SetItemText(page, 1001, typed);
    Press(sheet, PSBTN_NEXT);
    Box box;
    ASSERT_TRUE(WaitBox(box, 10000, pid));
    EXPECT_EQ(message, box.text);
    EXPECT_EQ("エラー", box.caption);
    EXPECT_EQ("error", box.icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
    EXPECT_EQ(GetAncestor(page, GA_ROOT), box.owner);  // a page's box belongs to its sheet
    Answer(box, IDOK);
    Sleep(300);
    EXPECT_EQ(page, CurrentPage(sheet));
    EXPECT_EQ(typed, ItemText(page, 1001));  // the edit keeps what was typed
}

struct PickerSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindPicker(HWND window, LPARAM lParam)
{
    PickerSearch *search = reinterpret_cast<PickerSearch *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window) && GetDlgItem(window, 1121) != nullptr &&
        GetDlgItem(window, 1137) != nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The folder picker: the file dialog with the folder and drive lists. The
// system gives it its own default caption, so it is found by its controls.
HWND WaitPicker(DWORD pid)
{
    PickerSearch search = {pid, nullptr};
    WaitFor([&] {
        EnumWindows(FindPicker, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, 10000);
    return search.found;
}

// Ends SETUP.EXE by the wizard's Cancel button.
void CancelWizard(HWND sheet, Process &process)
{
    Press(sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(process));
    Kill(process);
}

}  // namespace

TEST(Wizard, DestinationPageTextsAndRefusals)
{
    SetWindowsVersion("win7");
    const std::string folder = "WizDestTest";
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    std::string dir = MakeDist("wiz_dest", Script("ウィザード試験", folder).c_str());
    Running running = StartSetupIn(dir);
    Process &process = running.process;
    ASSERT_NE(nullptr, process.handle);
    HWND sheet = WaitWizard(15000, process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = WaitPage(sheet, 1001);
    ASSERT_NE(nullptr, page);

    // The whole sheet is centred on the 1024 × 768 screen.
    RECT rect;
    GetWindowRect(sheet, &rect);
    EXPECT_NEAR(1024, rect.left + rect.right, 2);
    EXPECT_NEAR(768, rect.top + rect.bottom, 2);

    EXPECT_EQ("ウィザード試験のインストール先を指定してください", ItemText(page, 1000));
    EXPECT_TRUE(WaitFor([&] { return Text(sheet) == "ウィザード試験のインストール"; }, 3000)) << Text(sheet);
    EXPECT_EQ("C:\\Program Files\\" + folder + "\\", ItemText(page, 1001));
    EXPECT_TRUE(WaitFor([&] { return ButtonEnabled(sheet, NextButton); }, 5000));
    EXPECT_FALSE(ButtonEnabled(sheet, BackButton));
    // The edit takes at most 259 characters.
    EXPECT_EQ(259, SendMessageA(GetDlgItem(page, 1001), EM_GETLIMITTEXT, 0, 0));

    for (const char *typed : {"", "C:", "C:\\", "\\"})
        ExpectRefused(sheet, page, process.id, typed, RootMessage);
    for (const char *typed : {"D:Soft", "\\\\server\\share\\x", "CC\\Soft\\"})
        ExpectRefused(sheet, page, process.id, typed, FormMessage);

    // Folders that other programs share, however they are written.
    const char Shared[] = " - このフォルダは他のプログラムと共用のため、インストール先にできません。";
    for (const std::string &typed :
         {std::string("C:\\Program Files"), std::string("c:\\program files\\..\\PROGRAM FILES\\"),
          std::string("C:\\Program Files (x86)\\Common Files"), std::string("C:\\users"), std::string("C:\\ProgramData"),
          ShellFolder("Desktop"), ShellFolder("Programs") + "\\..", std::string("C:\\windows\\system32")}) {
        std::string shown = typed.back() == '\\' ? typed.substr(0, typed.size() - 1) : typed;
        ExpectRefused(sheet, page, process.id, typed, shown + Shared);
    }

    // A level that exists as a file.
    WriteFile(dir + "blocker", "a plain file");
    ExpectRefused(sheet, page, process.id, dir + "blocker\\sub",
                  dir + "blocker - 同じ名前のファイルが既に存在するのでフォルダが作成できません。");

    // Missing parents stay made; the last level goes again. C: has room, so
    // nothing is asked and the options page follows.
    SetItemText(page, 1001, dir + "p1\\p2\\last");
    Press(sheet, PSBTN_NEXT);
    EXPECT_NE(nullptr, WaitPage(sheet, 1006, 10000));
    EXPECT_TRUE(NoBox(500, process.id));
    EXPECT_TRUE(IsDirectory(dir + "p1\\p2"));
    EXPECT_FALSE(Exists(dir + "p1\\p2\\last"));
    EXPECT_FALSE(ButtonEnabled(sheet, BackButton));

    CancelWizard(sheet, process);
    EXPECT_TRUE(IsDirectory(dir + "p1\\p2"));  // cancelling undoes nothing
    RemoveTree("C:\\e2e\\wiz_dest");
}

TEST(Wizard, EditShowsThePreviousInstallation)
{
    SetWindowsVersion("win7");
    const std::string folder = "WizPrevTest";
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    RegWrite(HKEY_LOCAL_MACHINE, UninstallKey + folder, "UninstallString",
             "\"C:\\e2e\\wiz_prev\\以前 の場所\\SETUP.EXE\" /r");
    std::string dir = MakeDist("wiz_prev", Script("前回", folder).c_str());
    Running running = StartSetupIn(dir);
    Process &process = running.process;
    HWND sheet = WaitWizard(15000, process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = WaitPage(sheet, 1001);
    ASSERT_NE(nullptr, page);
    EXPECT_EQ("C:\\e2e\\wiz_prev\\以前 の場所\\", ItemText(page, 1001));

    // That directory exists and is empty: the trial on Next leaves it alone,
    // also when the user cancels afterwards.
    CreateDirectoryA("C:\\e2e\\wiz_prev\\以前 の場所", nullptr);
    WaitFor([&] { return ButtonEnabled(sheet, NextButton); }, 5000);
    Press(sheet, PSBTN_NEXT);
    EXPECT_NE(nullptr, WaitPage(sheet, 1006, 10000));
    CancelWizard(sheet, process);
    EXPECT_TRUE(IsDirectory("C:\\e2e\\wiz_prev\\以前 の場所"));
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    RemoveTree("C:\\e2e\\wiz_prev");
}

TEST(Wizard, FreeSpaceQuestionOnASmallDrive)
{
    // The rig maps a 50 MB drive as S: where it may mount one.
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA("S:\\", &available, &total, &free) || free.QuadPart >= 100ULL * 1048576)
        GTEST_SKIP() << "no small drive S: in this rig";
    DWORD sectors, bytes, freeClusters, clusters;
    ASSERT_TRUE(GetDiskFreeSpaceA("S:\\", &sectors, &bytes, &freeClusters, &clusters));
    unsigned megabytes = static_cast<unsigned>(static_cast<unsigned long long>(freeClusters / 10) * sectors *
                                               bytes / 102 / 1024);

    SetWindowsVersion("win7");
    const std::string folder = "WizFreeTest";
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    std::string dir = MakeDist("wiz_free", Script("容量試験", folder).c_str());
    Running running = StartSetupIn(dir);
    Process &process = running.process;
    HWND sheet = WaitWizard(15000, process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = WaitPage(sheet, 1001);
    ASSERT_NE(nullptr, page);

    SetItemText(page, 1001, "S:\\wizfree\\app");
    for (int answer : {IDNO, IDYES}) {
        Press(sheet, PSBTN_NEXT);
        Box box;
        ASSERT_TRUE(WaitBox(box, 10000, process.id));
        EXPECT_EQ("指定されたドライブの残り容量が " + std::to_string(megabytes) +
                      "メガバイトしかありません。かまわずにインストールしますか？",
                  box.text);
        EXPECT_EQ("容量試験", box.caption);
        EXPECT_EQ("question", box.icon);
        EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.buttons);
        EXPECT_EQ(sheet, box.owner);
        Answer(box, answer);
        if (answer == IDNO) {
            Sleep(300);
            EXPECT_EQ(page, CurrentPage(sheet));
        }
    }
    EXPECT_NE(nullptr, WaitPage(sheet, 1006, 10000));
    EXPECT_TRUE(IsDirectory("S:\\wizfree"));
    EXPECT_FALSE(Exists("S:\\wizfree\\app"));
    CancelWizard(sheet, process);
    RemoveTree("S:\\wizfree");
    RemoveTree("C:\\e2e\\wiz_free");
}

TEST(Wizard, FolderPickerStartsAtTheWindowsDriveRoot)
{
    SetWindowsVersion("win7");
    const std::string folder = "WizPickTest";
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    std::string dir = MakeDist("wiz_pick", Script("参照試験", folder).c_str());
    CreateDirectoryA((dir + "chosen").c_str(), nullptr);
    Running running = StartSetupIn(dir);
    Process &process = running.process;
    HWND sheet = WaitWizard(15000, process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = WaitPage(sheet, 1001);
    ASSERT_NE(nullptr, page);
    const std::string before = ItemText(page, 1001);

    auto openPicker = [&]() -> HWND {
        PostMessageA(page, WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page, 1002)));
        return WaitPicker(process.id);
    };
    // Opens at C:\ and Cancel leaves the edit alone.
    HWND picker = openPicker();
    ASSERT_NE(nullptr, picker);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    EXPECT_EQ(0, lstrcmpiA(std::string(windows, 3).c_str(), ItemText(picker, 1088).c_str()))
        << ItemText(picker, 1088);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(picker, 1152)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(picker, 1121)));
    PostMessageA(picker, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(picker); }, 5000));
    Sleep(200);
    EXPECT_EQ(before, ItemText(page, 1001));

    // Choosing a folder: down into e2e\wiz_pick\chosen, then OK.
    picker = openPicker();
    ASSERT_NE(nullptr, picker);
    for (const char *level : {"[e2e]", "[wiz_pick]", "[chosen]"}) {
        HWND list = GetDlgItem(picker, 1121);
        int index = static_cast<int>(SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                  reinterpret_cast<LPARAM>(level)));
        ASSERT_GE(index, 0) << level;
        SendMessageA(list, LB_SETCURSEL, index, 0);
        SendMessageA(picker, WM_COMMAND, MAKEWPARAM(1121, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    }
    PostMessageA(picker, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(picker); }, 5000));
    EXPECT_TRUE(WaitItemText(page, 1001, dir + "chosen\\", 5000)) << ItemText(page, 1001);

    // A drive root chosen in the picker is refused on Next.
    picker = openPicker();
    ASSERT_NE(nullptr, picker);
    PostMessageA(picker, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(picker); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return ItemText(page, 1001).size() == 3; }, 5000)) << ItemText(page, 1001);
    ExpectRefused(sheet, page, process.id, ItemText(page, 1001), RootMessage);

    // Whatever the picker did, relative sources still come from beside
    // SETUP.EXE: install into the chosen folder without shortcuts.
    SetItemText(page, 1001, dir + "chosen\\inst\\");
    Press(sheet, PSBTN_NEXT);
    HWND options = WaitPage(sheet, 1006, 10000);
    ASSERT_NE(nullptr, options);
    SendMessageA(GetDlgItem(options, 1006), BM_SETCHECK, BST_UNCHECKED, 0);
    Press(sheet, PSBTN_NEXT);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    EXPECT_TRUE(WaitItemText(progress, 1008, "インストールが完了しました。「完了」を押すと起動します。", 15000));
    EXPECT_TRUE(NoBox(300, process.id));
    EXPECT_EQ(ReadFile(dir + "APP.EXE"), ReadFile(dir + "chosen\\inst\\APP.EXE"));
    CancelWizard(sheet, process);
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    RemoveTree("C:\\e2e\\wiz_pick");
}
