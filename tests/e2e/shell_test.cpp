// Shortcuts made and removed by SETUP.EXE itself, on both shells: the links'
// properties as the shell reads them back, and the Program Manager group
// that the prefix's own shell makes from the DDE commands. On the way, each
// page and the removal dialog as the user sees them on that shell.
#include <gtest/gtest.h>
#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>
#include "common/prefix_files.h"
#include "driver.h"
#include "testpaths.h"

using namespace driver;

namespace {

const char Complete[] = "インストールが完了しました。「完了」を押すと起動します。";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp";

using prefix_files::Link;
using prefix_files::ReadLink;

std::string LongPath(const std::string &path)
{
    char text[MAX_PATH];
    DWORD length = GetLongPathNameA(path.c_str(), text, MAX_PATH);
    return length != 0 && length < MAX_PATH ? text : path;
}

void RemoveSampleShortcuts()
{
    RemoveTree(ShellFolder("Programs") + "\\サンプル");
    for (const char *kind : {"Programs", "Desktop", "Startup"})
        DeleteFileA((ShellFolder(kind) + "\\サンプル.lnk").c_str());
}

void Clean(const std::string &dist, const std::string &installDir)
{
    RemoveSampleShortcuts();
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    RemoveTree(installDir.substr(0, installDir.size() - 1));
    RemoveTree(dist.substr(0, dist.size() - 1));
}

// Every page shows the sheet's caption and every control whole.
void ExpectShownWhole(HWND sheet, const char *page)
{
    SCOPED_TRACE(page);
    EXPECT_TRUE(WaitFor([&] { return Text(sheet) == "サンプルのインストール"; }, 3000))
        << "caption '" << Text(sheet) << "'";
    EXPECT_EQ("", ControlsOutside(sheet));
}

// The sample product through the wizard, into installDir, with the desktop
// option as given; the wizard is left at its last page.
void Install(Process &process, const std::string &dist, const std::string &installDir, bool desktop)
{
    process = Start("\"" + dist + "SETUP.EXE\"", dist);
    HWND sheet = WaitWizard(15000, process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = WaitPage(sheet, 1001);
    ASSERT_NE(nullptr, page);
    WaitFor([&] { return ButtonEnabled(sheet, 0x3024); }, 5000);
    ExpectShownWhole(sheet, "destination");
    SetItemText(page, 1001, installDir);
    Press(sheet, PSBTN_NEXT);
    HWND options = WaitPage(sheet, 1006, 10000);
    ASSERT_NE(nullptr, options);
    if (desktop)
        SendMessageA(GetDlgItem(options, 1005), BM_SETCHECK, BST_CHECKED, 0);
    ExpectShownWhole(sheet, "options");
    Press(sheet, PSBTN_NEXT);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    ASSERT_TRUE(WaitItemText(progress, 1008, Complete, 60000)) << ItemText(progress, 1008);
    EXPECT_TRUE(NoBox(300, process.id));
    ExpectShownWhole(sheet, "progress");
    Press(sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(process));
    Kill(process);
}

// The registered uninstall command, confirmed, up to the copy's outcome.
void Remove(const std::string &installDir)
{
    Process request = Start("\"" + installDir + "SETUP.EXE\" /r", installDir);
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, request.id));
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(request));
    Kill(request);
    HWND dialog = WaitDialog("サンプルの削除");
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(WaitItemText(dialog, 1010, "サンプルは正常に削除されました。", 30000)) << ItemText(dialog, 1010);
    EXPECT_EQ("", ControlsOutside(dialog));
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    Process copy;
    copy.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(1, WaitExit(copy));
    Kill(copy);
}

}  // namespace

TEST(Shell, NewShellLinksCarryTheirPropertiesAndGoWithTheRemoval)
{
    SetWindowsVersion("win7");
    const std::string installDir = "C:\\e2e\\shell_new_inst\\";
    std::string dist = MakeDist("shell_new", SampleScript().c_str());
    Clean("C:\\e2e\\shell_new_unused\\", installDir);
    Process process;
    Install(process, dist, installDir, true);

    const std::string group = ShellFolder("Programs") + "\\サンプル\\";
    struct Expected {
        const char *name, *target, *arguments;
    } expected[] = {{"サンプル", "APP.EXE", ""}, {"サンプル (設定)", "APP.EXE", "/setup"}, {"ヘルプ", "APP.HLP", ""}};
    for (const Expected &entry : expected) {
        Link link = ReadLink(group + entry.name + ".lnk");
        ASSERT_TRUE(link.loaded) << entry.name;
        EXPECT_EQ(installDir + entry.target, link.path) << entry.name;
        EXPECT_EQ(entry.arguments, link.arguments) << entry.name;
        EXPECT_EQ(entry.name, link.description) << entry.name;
        EXPECT_EQ(installDir, link.workingDirectory) << entry.name;
    }
    Link desktop = ReadLink(ShellFolder("Desktop") + "\\サンプル.lnk");
    ASSERT_TRUE(desktop.loaded);
    EXPECT_EQ(installDir + "APP.EXE", desktop.path);
    EXPECT_EQ("", desktop.arguments);
    EXPECT_EQ("サンプル", desktop.description);
    EXPECT_EQ(installDir, desktop.workingDirectory);
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\サンプル.lnk"));
    EXPECT_FALSE(Exists(ShellFolder("Startup") + "\\サンプル.lnk"));

    // Whatever else the user put into the program's folder goes with it.
    WriteFile(group + "メモ.txt", "note");
    Remove(installDir);
    EXPECT_FALSE(Exists(group));
    EXPECT_FALSE(Exists(ShellFolder("Desktop") + "\\サンプル.lnk"));
    Clean(dist, installDir);
}

TEST(Shell, OldShellGroupIsMadeAndDeletedByTheShellsProgramManager)
{
    SetWindowsVersion("nt351");
    const std::string installDir = "C:\\e2e\\shell_old_inst\\";
    std::string dist = MakeDist("shell_old", SampleScript().c_str());
    Clean("C:\\e2e\\shell_old_unused\\", installDir);
    Process process;
    Install(process, dist, installDir, false);

    // The shell may open a group it creates in a folder window (whether it
    // does depends on the desktop it runs on); if so it is closed here so
    // that it does not stay behind in the prefix.
    HWND window = nullptr;
    WaitFor([&] { return (window = FindWindowA("ExplorerWClass", "サンプル")) != nullptr; }, 3000);
    if (window != nullptr)
        PostMessageA(window, WM_CLOSE, 0, 0);

    // The shell's Program Manager cannot find a program named together with
    // its arguments, so it refuses the item for "/setup"; the others are its
    // links to the short paths that setup sent.
    const std::string group = ShellFolder("Programs") + "\\サンプル\\";
    for (const char *name : {"サンプル", "ヘルプ"}) {
        Link link = ReadLink(group + name + ".lnk");
        ASSERT_TRUE(link.loaded) << name;
        EXPECT_EQ(name, link.description);
    }
    EXPECT_EQ(installDir + "APP.EXE", LongPath(ReadLink(group + "サンプル.lnk").path));
    EXPECT_EQ(installDir + "APP.HLP", LongPath(ReadLink(group + "ヘルプ.lnk").path));
    EXPECT_FALSE(Exists(ShellFolder("Desktop") + "\\サンプル.lnk"));

    Remove(installDir);
    EXPECT_FALSE(Exists(group));
    SetWindowsVersion("win7");
    Clean(dist, installDir);
}
