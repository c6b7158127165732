// Unattended runs: /S installs and /r /S removes with no window and no
// question, and the exit status says what happened.
#include <gtest/gtest.h>
#include "driver.h"
#include "testpaths.h"

#include <set>

using namespace driver;

namespace {

const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp";
const char DefaultDir[] = "C:\\Program Files\\SampleApp\\";

BOOL CALLBACK Visible(HWND window, LPARAM seen)
{
    if (IsWindowVisible(window))
        reinterpret_cast<std::set<HWND> *>(seen)->insert(window);
    return TRUE;
}

// Wine's explorer, as the old shell's Program Manager, shows each group it
// makes, as Windows' own does: that window is the shell's, not the run's.
bool Shells(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        QueryFullProcessImageNameA(process, 0, path, &size);
        CloseHandle(process);
    }
    const char *name = strrchr(path, '\\');
    return name != nullptr && lstrcmpiA(name + 1, "explorer.exe") == 0;
}

// Runs a command to its end: its exit status, and the class and title of
// every top-level window that was not there before and showed up meanwhile
// (any process's but the shell's: the removal's copy runs as a process of its own).
std::pair<int, std::string> RunUnattended(const std::string &command)
{
    std::set<HWND> before, shown;
    std::string names;
    EnumWindows(Visible, reinterpret_cast<LPARAM>(&before));
    Running running{Start(command, "C:\\")};
    DWORD start = GetTickCount();
    while (WaitForSingleObject(running.process.handle, 20) == WAIT_TIMEOUT && GetTickCount() - start < 60000) {
        std::set<HWND> now;
        EnumWindows(Visible, reinterpret_cast<LPARAM>(&now));
        for (HWND window : now)
            if (!before.count(window) && shown.insert(window).second && !Shells(window)) {
                char name[128] = "", text[128] = "";
                GetClassNameA(window, name, sizeof name);
                GetWindowTextA(window, text, sizeof text);
                names += std::string(name) + " \"" + text + "\"; ";
            }
    }
    return {WaitExit(running.process, 1000), names};
}

void Clean(const std::string &installDir)
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    RemoveShortcuts("サンプル");
    RemoveTree(installDir.substr(0, installDir.size() - 1));
}

}  // namespace

TEST(Silent, InstallAndRemoveOnBothShells)
{
    const std::string dir = MakeDist("silent", SampleScript().c_str());
    for (const char *version : {"win7", "nt351"}) {
        SCOPED_TRACE(version);
        SetWindowsVersion(version);
        Clean(DefaultDir);
        std::pair<int, std::string> ran = RunUnattended("\"" + dir + "SETUP.EXE\" /S");
        EXPECT_EQ(0, ran.first);
        EXPECT_EQ("", ran.second) << "windows shown";
        for (const char *file : {"SETUP.EXE", "SETUP.INF", "APP.EXE", "APP.HLP", "DATA\\DATA.DAT", "README.TXT"})
            EXPECT_TRUE(Exists(std::string(DefaultDir) + file)) << file;
        const std::string command = RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString");
        EXPECT_EQ(command + " /S", RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "QuietUninstallString"));
        if (std::string(version) == "win7") {
            EXPECT_TRUE(Exists(ShellFolder("Programs") + "\\サンプル\\サンプル.lnk"));  // the wizard's default
        }
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\SampleApp")) << "the product was started";

        // The SETUP.EXE that the command starts waits for the removal's
        // status, so it and its folder are left to the next start.
        const size_t pending = PendingCount("\\??\\" + std::string(DefaultDir) + "SETUP.EXE");
        ran = RunUnattended(RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "QuietUninstallString"));
        EXPECT_EQ(3010, ran.first);
        EXPECT_EQ("", ran.second) << "windows shown";
        EXPECT_FALSE(Exists(std::string(DefaultDir) + "APP.EXE"));
        EXPECT_FALSE(Exists(std::string(DefaultDir) + "SETUP.INF"));
        EXPECT_LT(pending, PendingCount("\\??\\" + std::string(DefaultDir) + "SETUP.EXE"));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
        EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\サンプル"));
        Clean(DefaultDir);
    }
    SetWindowsVersion("win7");
    RemoveTree("C:\\e2e\\silent");
}

// /D= with or without quotes; a folder that is refused, a drive without
// room, a broken script and a file in use each end with their status, and
// nothing of the run stays.
TEST(Silent, FoldersAndRefusals)
{
    SetWindowsVersion("win7");
    const std::string dir = MakeDist("silent_d", SampleScript().c_str());
    const std::string setup = "\"" + dir + "SETUP.EXE\" /S ";
    for (const std::string &typed : {std::string("C:\\e2e\\silent d\\inst"), std::string("\"C:\\e2e\\silent d\\inst\"")}) {
        Clean("C:\\e2e\\silent d\\");
        EXPECT_EQ(0, RunUnattended(setup + "/D=" + typed).first) << typed;
        EXPECT_TRUE(Exists("C:\\e2e\\silent d\\inst\\APP.EXE")) << typed;
        EXPECT_EQ("C:\\e2e\\silent d\\inst\\", RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "InstallLocation"));
    }
    Clean("C:\\e2e\\silent d\\");
    for (const std::string &typed : {std::string("C:\\"), std::string("C:\\Program Files"), std::string("Soft")})
        EXPECT_EQ(3, RunUnattended(setup + "/D=" + typed).first) << typed;
    if (Exists("S:\\")) {
        EXPECT_EQ(3, RunUnattended(setup + "/D=S:\\silent").first);  // less than 100 MB free: not asked, refused
        EXPECT_FALSE(Exists("S:\\silent"));
    }
    // The installed APP.EXE is held by a running program: the copy fails
    // and everything the run made goes; APP.EXE stays as it was.
    const std::string busy = "C:\\e2e\\silent_busy\\";
    RemoveTree("C:\\e2e\\silent_busy");
    CreateDirectoryA(busy.c_str(), nullptr);
    WriteFile(busy + "APP.EXE", "running");
    HANDLE held = CreateFileA((busy + "APP.EXE").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(4, RunUnattended(setup + "/D=" + busy).first);
    CloseHandle(held);
    EXPECT_EQ("running", ReadFile(busy + "APP.EXE"));
    for (const char *made : {"SETUP.EXE", "SETUP.INF", "APP.HLP", "DATA"})
        EXPECT_FALSE(Exists(busy + made)) << made;
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    RemoveTree("C:\\e2e\\silent_busy");
    const std::string broken = MakeDist("silent_broken", "[Install]\nFolder=SampleApp\n1=APP.EXE\n");
    EXPECT_EQ(std::make_pair(2, std::string()), RunUnattended("\"" + broken + "SETUP.EXE\" /S"));
    RemoveTree("C:\\e2e\\silent_broken");
    RemoveTree("C:\\e2e\\silent_d");
}
