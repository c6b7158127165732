// The README's main job: installs the sample product through the wizard as a
// user would, saves a picture of each wizard page and prints what the
// installation left behind. Disabled in the test run; tools/main-job.sh runs it.
#include <gtest/gtest.h>
#include <stdio.h>
#include "driver.h"
#include "testpaths.h"

using namespace driver;

namespace {

const char InstallDir[] = "C:\\Program Files\\SampleApp\\";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp";
const char AppKey[] = "Software\\SampleApp";
const char Title[] = "サンプル";

// Prints every file below dir with its size; returns how many there were.
int PrintFiles(const std::string &dir, const std::string &shown)
{
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            count += PrintFiles(dir + name + "\\", shown + name + "\\");
        } else {
            printf("    %-24s %10lu bytes\n", (shown + name).c_str(), static_cast<unsigned long>(found.nFileSizeLow));
            ++count;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

void PrintShortcut(const std::string &path)
{
    printf("    %s%s\n", path.c_str(), Exists(path) ? "" : "  (missing)");
}

}  // namespace

TEST(MainJob, DISABLED_InstallSample)
{
    SetWindowsVersion("win7");
    // Start from a clean slate, whatever an earlier run left.
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, AppKey);
    RemoveTree(std::string(InstallDir).substr(0, sizeof InstallDir - 2));
    const std::string programs = ShellFolder("Programs") + "\\";
    const std::string desktop = ShellFolder("Desktop") + "\\";
    RemoveTree(programs + Title);
    RemoveTree(desktop + Title + ".lnk");

    std::string dir = MakeDist("mainjob", SampleScript().c_str());
    const std::string shots = TEST_BUILD_DIR "\\mainjob\\";
    RemoveTree(shots.substr(0, shots.size() - 1));
    CreateDirectoryA(shots.c_str(), nullptr);
    printf("distribution: %s\n", dir.c_str());
    printf("installing with the wizard's defaults and a desktop shortcut...\n");

    bool finished = InstallSample(dir, "", true, shots + "page");
    EXPECT_TRUE(finished) << "the wizard did not reach Finish cleanly";
    printf("wizard pages saved as %spage1-destination.bmp, page2-options.bmp, page3-progress.bmp\n",
           shots.c_str());

    printf("\ninstalled into %s:\n", InstallDir);
    int files = PrintFiles(InstallDir, "");
    EXPECT_EQ(5, files);

    printf("\nshortcuts:\n");
    for (const char *name : {"サンプル.lnk", "サンプル (設定).lnk", "ヘルプ.lnk"})
        PrintShortcut(programs + Title + "\\" + name);
    PrintShortcut(desktop + Title + ".lnk");
    EXPECT_TRUE(Exists(programs + Title + "\\サンプル.lnk"));
    EXPECT_TRUE(Exists(desktop + Title + ".lnk"));

    printf("\nUninstall entry HKLM\\%s:\n", UninstallKey);
    const std::string name = RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName");
    const std::string command = RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString");
    printf("    DisplayName     = %s\n", name.c_str());
    printf("    UninstallString = %s\n", command.c_str());
    EXPECT_EQ(Title, name);
    EXPECT_EQ("\"" + std::string(InstallDir) + "SETUP.EXE\" /r", command);

    // Finish started APP.EXE, which records how it was started.
    WaitFor([] { return RegKeyExists(HKEY_CURRENT_USER, AppKey); }, 10000);
    Sleep(300);
    printf("\nstarted at Finish (HKCU\\%s):\n", AppKey);
    printf("    LastDirectory   = %s\n", RegRead(HKEY_CURRENT_USER, AppKey, "LastDirectory").c_str());
    printf("    LastCommandLine = %s\n", RegRead(HKEY_CURRENT_USER, AppKey, "LastCommandLine").c_str());
    EXPECT_EQ("C:\\Program Files\\SampleApp", RegRead(HKEY_CURRENT_USER, AppKey, "LastDirectory"));

    // Left in place on purpose: the removal of the sample follows on this
    // installation. A fresh prefix is made for every run of the main job.
    printf("\nThe installation is left in place for the removal that follows.\n");
}
