// The sample as tools/package.sh packs it, SETUP.EXE signed: the host's
// test (tests/package/package_test.py) extracts the archive into the prefix
// and runs this case, which it alone can prepare, then verifies the kept
// copy of the installed SETUP.EXE.
#include <gtest/gtest.h>
#include "driver.h"

#include <prsht.h>

using namespace driver;

namespace {

const char Dist[] = "C:\\e2e\\signed_package\\";
const char InstallDir[] = "C:\\e2e\\signed_install\\";
const char KeptCopy[] = "C:\\e2e\\signed_installed.EXE";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp";

void Clean()
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
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

    // The wizard with its defaults, left with Cancel once complete: Finish
    // would open README.TXT in the prefix's text editor.
    Running setup = StartSetupIn(Dist);
    HWND sheet = WaitWizard(15000, setup.process.id);
    ASSERT_NE(nullptr, sheet);
    HWND page = WaitPage(sheet, 1001);
    ASSERT_NE(nullptr, page);
    WaitFor([&] { return ButtonEnabled(sheet, 0x3024); }, 5000);
    SetItemText(page, 1001, InstallDir);
    Press(sheet, PSBTN_NEXT);
    ASSERT_NE(nullptr, WaitPage(sheet, 1006, 10000));
    Press(sheet, PSBTN_NEXT);
    HWND progress = WaitPage(sheet, 1008, 10000);
    ASSERT_NE(nullptr, progress);
    ASSERT_TRUE(WaitItemText(progress, 1008, "インストールが完了しました。「完了」を押すと起動します。", 60000))
        << ItemText(progress, 1008);
    EXPECT_TRUE(NoBox(300, setup.process.id));
    Press(sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(setup.process));

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
