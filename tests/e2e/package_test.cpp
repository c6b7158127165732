// The sample as tools/package.sh packs it, SETUP.EXE signed: the host's
// test (tests/package/package_test.py) extracts the archive into the prefix,
// and two copies altered by one byte, runs these cases, which it alone can
// prepare, then verifies the kept copy of the installed SETUP.EXE.
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

void Clean()
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, AppKey);
    RemoveShortcuts("サンプル");
    RemoveTree(std::string(InstallDir, sizeof InstallDir - 2));
}

}  // namespace

TEST(Package, DISABLED_SignedSetupInstallsAndRemoves)
{
    ASSERT_TRUE(Exists(std::string(Dist) + "SETUP.EXE")) << "laid out by tests/package/package_test.py";
    SetWindowsVersion("win7");
    Clean();
    DeleteFileA(KeptCopy);

    ASSERT_TRUE(InstallSample(Dist, InstallDir));
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
    const std::string dist(Dist, sizeof Dist - 2);
    Running script = StartSetupIn(dist + "_script\\");
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, script.process.id));
    EXPECT_EQ("設定ファイルが壊れているか、または見つかりません。", box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(script.process));

    Running file = StartSetupIn(dist + "_file\\");
    HWND sheet = WaitWizard(15000, file.process.id);
    ASSERT_NE(nullptr, sheet);
    WaitFor([&] { return ButtonEnabled(sheet, 0x3024); }, 5000);
    SetItemText(WaitPage(sheet, 1001), 1001, InstallDir);
    Press(sheet, PSBTN_NEXT);
    ASSERT_NE(nullptr, WaitPage(sheet, 1006, 10000));
    Press(sheet, PSBTN_NEXT);
    ASSERT_TRUE(WaitBox(box, 60000, file.process.id));
    const std::string altered = std::string(InstallDir) + "DATA\\DATA.DAT";
    EXPECT_EQ(altered + " - このファイルはパッケージの作成後に変更されているため、削除しました。インストールを中止します。",
              box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(file.process));
    Sleep(Scaled(500));
    EXPECT_FALSE(Exists(altered));
    EXPECT_FALSE(Exists(std::string(InstallDir) + "README.TXT"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\サンプル"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, AppKey)) << "started";
    Clean();
}
