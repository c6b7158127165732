// Whole installations through the wizard: the files in their order, the
// Uninstall entry, the shortcuts, the launch at Finish, and the variants
// (old shell, no shortcuts, resident product, failures, Cancel).
#include <gtest/gtest.h>
#include "driver.h"
#include "testpaths.h"

#include <algorithm>
#include <commctrl.h>
#include <prsht.h>

using namespace driver;

namespace {

const char Complete[] = "インストールが完了しました。「完了」を押すと起動します。";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char AppKey[] = "Software\\SampleApp";
const int BackButton = 0x3023, NextButton = 0x3024, FinishButton = 0x3025;

DWORD RegDword(HKEY root, const std::string &key, const std::string &value)
{
    DWORD type = 0, size = 0;
    std::string data = RegRead(root, key, value, &type, &size);
    DWORD number = 0;
    if (type == REG_DWORD && data.size() == sizeof number)
        CopyMemory(&number, data.data(), sizeof number);
    return number;
}

// The files below a directory, sorted, with sub-directories as prefixes.
std::vector<std::string> InstalledFiles(const std::string &dir, const std::string &prefix = "")
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                for (const std::string &inner : InstalledFiles(dir + name + "\\", prefix + name + "\\"))
                    names.push_back(inner);
            } else {
                names.push_back(prefix + name);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void CleanInstallation(const std::string &folder, const std::string &title, const std::string &installDir)
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey + folder);
    RemoveShortcuts(title);
    RemoveTree(installDir.substr(0, installDir.size() - 1));
}

// The destination page with the wizard's buttons settled.
HWND FirstPage(HWND sheet)
{
    HWND page = WaitPage(sheet, 1001);
    WaitFor([&] { return ButtonEnabled(sheet, NextButton); }, 5000);
    return page;
}

}  // namespace

TEST(Install, SampleProductOnTheNewShell)
{
    SetWindowsVersion("win7");
    const std::string installDir = "C:\\Program Files\\SampleApp\\";
    const std::string key = std::string(UninstallKey) + "SampleApp";
    CleanInstallation("SampleApp", "サンプル", installDir);
    RegDeleteTree(HKEY_CURRENT_USER, AppKey);
    // A value of the key that setup does not write survives the installation.
    RegWrite(HKEY_LOCAL_MACHINE, key, "Comments", "keep me");

    std::string dir = MakeDist("install_sample", SampleScript().c_str());
    // A copy keeps the time its maker last changed the file, as a system copy does.
    auto lastWrite = [](const std::string &path, const FILETIME *set) {
        FILETIME time = {};
        HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        set != nullptr ? SetFileTime(file, nullptr, nullptr, set) : GetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
        return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    const FILETIME made = {0x2A3B4C00, 0x01D00000};  // in 2014
    lastWrite(dir + "HELP\\APP.HLP", &made);
    Running running = StartSetupIn(dir);
    HWND sheet = WaitWizard(15000, running.process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = FirstPage(sheet);
    ASSERT_NE(nullptr, page);
    EXPECT_EQ(installDir, ItemText(page, 1001));
    Press(sheet, PSBTN_NEXT);

    HWND options = WaitPage(sheet, 1006, 10000);
    ASSERT_NE(nullptr, options);
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(options, 1006), BM_GETCHECK, 0, 0));
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(GetDlgItem(options, 1005), BM_GETCHECK, 0, 0));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options, 1005)));
    EXPECT_FALSE(ButtonEnabled(sheet, BackButton));
    EXPECT_TRUE(ButtonEnabled(sheet, NextButton));
    SendMessageA(GetDlgItem(options, 1005), BM_SETCHECK, BST_CHECKED, 0);
    Press(sheet, PSBTN_NEXT);

    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    ASSERT_TRUE(WaitItemText(progress, 1008, Complete, 30000)) << ItemText(progress, 1008);
    EXPECT_TRUE(NoBox(300, running.process.id));
    HWND bar = GetDlgItem(progress, 1003);
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_EQ(7, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));  // four entries and three more steps
    EXPECT_EQ(7, SendMessageA(bar, PBM_GETPOS, 0, 0));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(progress, 1012)));
    EXPECT_TRUE(WaitFor([&] { return ButtonEnabled(sheet, FinishButton); }, 5000));
    EXPECT_FALSE(ButtonEnabled(sheet, BackButton));
    EXPECT_FALSE(ButtonEnabled(sheet, NextButton));

    // The files, each as its source.
    EXPECT_EQ((std::vector<std::string>{"APP.EXE", "APP.HLP", "DATA\\DATA.DAT", "README.TXT", "SETUP.EXE",
                                        "SETUP.INF"}),
              InstalledFiles(installDir));
    EXPECT_EQ(ReadFile(dir + "README.TXT"), ReadFile(installDir + "README.TXT"));
    EXPECT_EQ(ReadFile(dir + "SETUP.EXE"), ReadFile(installDir + "SETUP.EXE"));
    EXPECT_EQ(ReadFile(dir + "SETUP.INF"), ReadFile(installDir + "SETUP.INF"));
    EXPECT_EQ(ReadFile(dir + "HELP\\APP.HLP"), ReadFile(installDir + "APP.HLP"));
    EXPECT_EQ(0x01D000002A3B4C00ull, lastWrite(installDir + "APP.HLP", nullptr));
    EXPECT_EQ(ReadFile(dir + "DATA.DAT"), ReadFile(installDir + "DATA\\DATA.DAT"));

    // The Uninstall entry.
    DWORD type = 0, size = 0;
    EXPECT_EQ("サンプル", RegRead(HKEY_LOCAL_MACHINE, key, "DisplayName", &type, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(DWORD(lstrlenA("サンプル") + 1), size);
    const std::string command = "\"" + installDir + "SETUP.EXE\" /r";
    EXPECT_EQ(command, RegRead(HKEY_LOCAL_MACHINE, key, "UninstallString", &type, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(command.size() + 1, size);
    EXPECT_EQ("keep me", RegRead(HKEY_LOCAL_MACHINE, key, "Comments"));

    // The shortcuts: the [Group] folder in the Start menu and one on the desktop.
    const std::string group = ShellFolder("Programs") + "\\サンプル\\";
    for (const char *name : {"サンプル.lnk", "サンプル (設定).lnk", "ヘルプ.lnk"})
        EXPECT_TRUE(Exists(group + name)) << name;
    EXPECT_TRUE(Exists(ShellFolder("Desktop") + "\\サンプル.lnk"));
    EXPECT_FALSE(Exists(ShellFolder("Startup") + "\\サンプル.lnk"));

    // Finish starts the program in the installation directory and opens
    // the script's Open document there. Wine's shell would find the
    // distribution's README.TXT beside SETUP.EXE before the current
    // directory, so that copy goes to see the name resolve to the installed one.
    const std::string record = dir + "opened.txt";
    RegisterTextOpener(record);
    DeleteFileA((dir + "README.TXT").c_str());
    Press(sheet, PSBTN_FINISH);
    EXPECT_EQ(1, WaitExit(running.process));
    EXPECT_TRUE(WaitFor([] { return RegDword(HKEY_CURRENT_USER, AppKey, "Starts") >= 1; }, 10000));
    Sleep(500);
    EXPECT_EQ(1u, RegDword(HKEY_CURRENT_USER, AppKey, "Starts"));
    EXPECT_EQ("C:\\Program Files\\SampleApp", RegRead(HKEY_CURRENT_USER, AppKey, "LastDirectory"));
    // Started by the desktop's shell, as the user: this Wine's token reads as
    // elevated, and its desktop serves the route.
    EXPECT_EQ("EXPLORER.EXE", Upper(RegRead(HKEY_CURRENT_USER, AppKey, "LastParent")));
    EXPECT_EQ("C:\\Program Files\\SampleApp\n" + installDir + "README.TXT\n", OpenedRecord(record));
    UnregisterTextOpener();

    RegDeleteTree(HKEY_CURRENT_USER, AppKey);
    CleanInstallation("SampleApp", "サンプル", installDir);
    RemoveTree("C:\\e2e\\install_sample");
}

TEST(Install, OldShellHasNoDesktopChoiceAndNoRemovalHint)
{
    SetWindowsVersion("nt351");
    const std::string installDir = "C:\\e2e\\install_old\\inst\\";
    CleanInstallation("WizOldTest", "旧シェル", installDir);
    std::string dir = MakeDist("install_old", InstallScript("旧シェル", "WizOldTest", "1=APP.EXE\n").c_str());
    Running running = StartSetupIn(dir);
    HWND sheet = WaitWizard(15000, running.process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = FirstPage(sheet);
    ASSERT_NE(nullptr, page);
    SetItemText(page, 1001, installDir);
    Press(sheet, PSBTN_NEXT);
    HWND options = WaitPage(sheet, 1006, 10000);
    ASSERT_NE(nullptr, options);
    EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(options, 1006), BM_GETCHECK, 0, 0));
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(GetDlgItem(options, 1005), BM_GETCHECK, 0, 0));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, 1005)));
    Press(sheet, PSBTN_NEXT);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    ASSERT_TRUE(WaitItemText(progress, 1008, Complete, 60000)) << ItemText(progress, 1008);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(progress, 1012)));
    EXPECT_TRUE(WaitFor([&] { return ButtonEnabled(sheet, FinishButton); }, 5000));
    EXPECT_EQ("旧シェル", RegRead(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "WizOldTest", "DisplayName"));
    EXPECT_EQ("\"" + installDir + "SETUP.EXE\" /r",
              RegRead(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "WizOldTest", "UninstallString"));
    EXPECT_FALSE(Exists(ShellFolder("Desktop") + "\\旧シェル.lnk"));
    const std::string key = std::string(UninstallKey) + "WizOldTest";  // the script has no Publisher, no Version
    for (const char *name : {"DisplayIcon", "InstallLocation", "EstimatedSize", "InstallDate", "NoModify", "NoRepair"})
        EXPECT_NE("<no value>", RegRead(HKEY_LOCAL_MACHINE, key, name)) << name;
    for (const char *name : {"Publisher", "DisplayVersion"})
        EXPECT_EQ("<no value>", RegRead(HKEY_LOCAL_MACHINE, key, name)) << name;
    Press(sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(running.process));
    SetWindowsVersion("win7");
    CleanInstallation("WizOldTest", "旧シェル", installDir);
    RemoveTree("C:\\e2e\\install_old");
}

TEST(Install, ScriptWithoutFilesAndNoShortcutsStillRegisters)
{
    SetWindowsVersion("win7");
    const std::string installDir = "C:\\e2e\\install_empty\\inst\\";
    CleanInstallation("WizEmptyTest", "空の製品", installDir);
    RegDeleteTree(HKEY_CURRENT_USER, AppKey);
    std::string dir = MakeDist("install_empty", InstallScript("空の製品", "WizEmptyTest", "Open=NOTE.TXT\n").c_str());
    Running running = StartSetupIn(dir);
    HWND sheet = WaitWizard(15000, running.process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = FirstPage(sheet);
    ASSERT_NE(nullptr, page);
    SetItemText(page, 1001, installDir);
    Press(sheet, PSBTN_NEXT);
    HWND options = WaitPage(sheet, 1006, 10000);
    ASSERT_NE(nullptr, options);
    SendMessageA(GetDlgItem(options, 1006), BM_SETCHECK, BST_UNCHECKED, 0);
    Press(sheet, PSBTN_NEXT);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    ASSERT_TRUE(WaitItemText(progress, 1008, Complete, 30000));
    EXPECT_TRUE(NoBox(300, running.process.id));
    // Four steps: the directory, the setup program, the script, the registration.
    EXPECT_EQ(3, SendMessageA(GetDlgItem(progress, 1003), PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(3, SendMessageA(GetDlgItem(progress, 1003), PBM_GETPOS, 0, 0));
    EXPECT_EQ((std::vector<std::string>{"SETUP.EXE", "SETUP.INF"}), InstalledFiles(installDir));
    EXPECT_EQ("空の製品", RegRead(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "WizEmptyTest", "DisplayName"));
    const std::string programs = ShellFolder("Programs") + "\\";
    for (const std::string &path : {programs + "空の製品", programs + "空の製品.lnk",
                                    ShellFolder("Desktop") + "\\空の製品.lnk", ShellFolder("Startup") + "\\空の製品.lnk"})
        EXPECT_FALSE(Exists(path)) << path;

    // Finish has no program to start (the directory itself fails quietly)
    // and still opens the document.
    const std::string record = dir + "opened.txt";
    RegisterTextOpener(record);
    WriteFile(installDir + "NOTE.TXT", "note");
    EXPECT_TRUE(WaitFor([&] { return ButtonEnabled(sheet, FinishButton); }, 5000));
    Press(sheet, PSBTN_FINISH);
    EXPECT_EQ(1, WaitExit(running.process));
    EXPECT_EQ("C:\\e2e\\install_empty\\inst\n" + installDir + "NOTE.TXT\n", OpenedRecord(record));
    UnregisterTextOpener();
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, AppKey));
    CleanInstallation("WizEmptyTest", "空の製品", installDir);
    RemoveTree("C:\\e2e\\install_empty");
}

TEST(Install, ResidentProductSkipsTheOptions)
{
    SetWindowsVersion("win7");
    const std::string installDir = "C:\\e2e\\install_tsr\\inst\\";
    CleanInstallation("WizTsrTest", "常駐", installDir);
    std::string dir = MakeDist("install_tsr", InstallScript("常駐", "WizTsrTest", "TSR=1\n1=APP.EXE\n").c_str());
    Running running = StartSetupIn(dir);
    HWND sheet = WaitWizard(15000, running.process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = FirstPage(sheet);
    ASSERT_NE(nullptr, page);
    SetItemText(page, 1001, installDir);
    Press(sheet, PSBTN_NEXT);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    // The options page was never created.
    EXPECT_EQ(0, SendMessageA(sheet, PSM_INDEXTOHWND, 1, 0));
    ASSERT_TRUE(WaitItemText(progress, 1008, Complete, 30000));
    EXPECT_TRUE(Exists(ShellFolder("Startup") + "\\常駐.lnk"));
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\常駐.lnk"));
    EXPECT_FALSE(Exists(ShellFolder("Desktop") + "\\常駐.lnk"));
    EXPECT_EQ("\"" + installDir + "SETUP.EXE\" /r",
              RegRead(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "WizTsrTest", "UninstallString"));
    Press(sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(running.process));
    CleanInstallation("WizTsrTest", "常駐", installDir);
    RemoveTree("C:\\e2e\\install_tsr");
}

TEST(Install, MissingSourceIsReportedAndCancelStopsAfterTheRunningStep)
{
    SetWindowsVersion("win7");
    const std::string key = std::string(UninstallKey) + "WizMissTest";
    const std::string script =
        InstallScript("欠落", "WizMissTest", "1=APP.EXE\n2=MISSING.DAT\n3=DATA.DAT,DATA\\DATA.DAT\n");
    std::string dir = MakeDist("install_missing", script.c_str());
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled at the message" : "carried on");
        const std::string installDir = dir + (cancel ? "cancelled\\" : "inst\\");
        CleanInstallation("WizMissTest", "欠落", installDir);
        Running running = StartSetupIn(dir);
        HWND sheet = WaitWizard(15000, running.process.id);
        ASSERT_NE(nullptr, sheet);
        HWND page = FirstPage(sheet);
        ASSERT_NE(nullptr, page);
        SetItemText(page, 1001, installDir);
        Press(sheet, PSBTN_NEXT);
        HWND options = WaitPage(sheet, 1006, 10000);
        ASSERT_NE(nullptr, options);
        SendMessageA(GetDlgItem(options, 1006), BM_SETCHECK, BST_UNCHECKED, 0);
        Press(sheet, PSBTN_NEXT);
        HWND progress = WaitPage(sheet, 1008, 10000);
        ASSERT_NE(nullptr, progress);

        Box box;
        ASSERT_TRUE(WaitBox(box, 15000, running.process.id));
        EXPECT_EQ("MISSING.DAT のコピーに失敗しました。", box.text);
        EXPECT_EQ("エラー", box.caption);
        EXPECT_EQ("error", box.icon);
        EXPECT_EQ(sheet, box.owner);
        EXPECT_TRUE(Exists(installDir + "APP.EXE"));
        EXPECT_FALSE(Exists(installDir + "DATA"));
        if (cancel) {
            // Cancel while the step is still running: the sheet closes once
            // the message is answered, and nothing after that step happens.
            Press(sheet, PSBTN_CANCEL);
            Sleep(300);
            Answer(box, IDOK);
            EXPECT_EQ(1, WaitExit(running.process));
            Sleep(300);
            EXPECT_FALSE(Exists(installDir + "DATA"));
            EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, key));
        } else {
            Answer(box, IDOK);
            ASSERT_TRUE(WaitItemText(progress, 1008, Complete, 30000));
            EXPECT_TRUE(NoBox(300, running.process.id));
            EXPECT_EQ((std::vector<std::string>{"APP.EXE", "DATA\\DATA.DAT", "SETUP.EXE", "SETUP.INF"}),
                      InstalledFiles(installDir));
            EXPECT_EQ("欠落", RegRead(HKEY_LOCAL_MACHINE, key, "DisplayName"));
            EXPECT_TRUE(WaitFor([&] { return ButtonEnabled(sheet, FinishButton); }, 5000));
            Press(sheet, PSBTN_CANCEL);
            EXPECT_EQ(1, WaitExit(running.process));
        }
        CleanInstallation("WizMissTest", "欠落", installDir);
    }
    RemoveTree("C:\\e2e\\install_missing");
}
