// The sample as tools/package.sh packs it, SETUP.EXE signed: the host's
// test (tests/package/package_test.py) extracts the archive into the prefix,
// with two copies altered by one byte, and runs these cases, which it alone
// can prepare, then verifies the kept copy of the installed SETUP.EXE.
#include <gtest/gtest.h>
#include "driver.h"

#include <prsht.h>

using namespace driver;

namespace {

const char Dist[] = "C:\\e2e\\signed_package\\";
const char InstallDir[] = "C:\\e2e\\signed_install\\";
const char KeptCopy[] = "C:\\e2e\\signed_installed.EXE";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp";
const char AppKey[] = "Software\\SampleApp";
// Finish opens README.TXT: a file type that does nothing stands in for the
// prefix's text editor.
const char TextClass[] = "Software\\Classes\\.txt";
const char TextType[] = "Software\\Classes\\PackageText";

void Clean()
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, AppKey);
    RegDeleteTree(HKEY_LOCAL_MACHINE, TextType);
    RegDeleteTree(HKEY_LOCAL_MACHINE, TextClass);
    RemoveShortcuts("サンプル");
    RemoveTree(std::string(InstallDir, sizeof InstallDir - 2));
}

// The wizard with its defaults into InstallDir, up to the copy steps.
HWND InstallUpToCopying(Running &setup)
{
    HWND sheet = WaitWizard(15000, setup.process.id);
    HWND page = sheet != nullptr ? WaitPage(sheet, 1001) : nullptr;
    if (page == nullptr)
        return nullptr;
    WaitFor([&] { return ButtonEnabled(sheet, 0x3024); }, 5000);
    SetItemText(page, 1001, InstallDir);
    Press(sheet, PSBTN_NEXT);
    if (WaitPage(sheet, 1006, 10000) == nullptr)
        return nullptr;
    Press(sheet, PSBTN_NEXT);
    return sheet;
}

}  // namespace

TEST(Package, DISABLED_SignedSetupInstallsAndRemoves)
{
    ASSERT_TRUE(Exists(std::string(Dist) + "SETUP.EXE")) << "laid out by tests/package/package_test.py";
    SetWindowsVersion("win7");
    Clean();
    DeleteFileA(KeptCopy);

    Running setup = StartSetupIn(Dist);
    HWND sheet = InstallUpToCopying(setup);
    ASSERT_NE(nullptr, sheet);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    ASSERT_TRUE(WaitItemText(progress, 1008, "インストールが完了しました。「完了」を押すと起動します。", 60000))
        << ItemText(progress, 1008);
    EXPECT_TRUE(NoBox(300, setup.process.id));
    RegWrite(HKEY_LOCAL_MACHINE, TextClass, "", "PackageText");
    RegWrite(HKEY_LOCAL_MACHINE, std::string(TextType) + "\\shell\\open\\command", "",
             "C:\\windows\\system32\\cmd.exe /c rem");
    Press(sheet, PSBTN_FINISH);
    EXPECT_EQ(1, WaitExit(setup.process));
    EXPECT_TRUE(WaitFor([] { return RegKeyExists(HKEY_CURRENT_USER, AppKey); }, 10000)) << "not started";

    // The installed copy is the signed file itself, byte for byte.
    const std::string installed = std::string(InstallDir) + "SETUP.EXE";
    EXPECT_EQ(ReadFile(std::string(Dist) + "SETUP.EXE"), ReadFile(installed));
    EXPECT_TRUE(CopyFileA(installed.c_str(), KeptCopy, FALSE));
    EXPECT_EQ("\"" + installed + "\" /r", RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString"));

    // Removed through its registered command, as the system's list would.
    Running request{Start(RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString"), InstallDir)};
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, request.process.id));
    EXPECT_EQ("サンプルを削除します。", box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(request.process));
    HWND dialog = WaitDialog("サンプルの削除");
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(WaitItemText(dialog, 1010, "サンプルは正常に削除されました。", 30000)) << ItemText(dialog, 1010);
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    Running copy;
    copy.process.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(1, WaitExit(copy.process));

    EXPECT_FALSE(Exists(InstallDir));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\サンプル"));
    Clean();
}

// One byte added to the packaged script, or changed in one of its files:
// nothing is installed, registered or started.
TEST(Package, DISABLED_AlteredPackageIsRefused)
{
    SetWindowsVersion("win7");
    Clean();
    Running script = StartSetupIn(std::string(Dist, sizeof Dist - 2) + "_script\\");
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, script.process.id));
    EXPECT_EQ("設定ファイルが壊れているか、または見つかりません。", box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(script.process));

    Running file = StartSetupIn(std::string(Dist, sizeof Dist - 2) + "_file\\");
    ASSERT_NE(nullptr, InstallUpToCopying(file));
    ASSERT_TRUE(WaitBox(box, 60000, file.process.id));
    const std::string altered = std::string(InstallDir) + "DATA\\DATA.DAT";
    EXPECT_EQ(altered + " - このファイルはパッケージの作成後に変更されているため、削除しました。インストールを中止します。",
              box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(file.process));
    EXPECT_FALSE(Exists(altered));
    EXPECT_FALSE(Exists(std::string(InstallDir) + "README.TXT"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\サンプル"));
    Sleep(500);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, AppKey)) << "started";
    Clean();
}
