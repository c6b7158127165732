// Start-up refusals, seen from outside: the script message and exit status 1,
// and a DLL left beside SETUP.EXE that never gets to run.
#include <gtest/gtest.h>
#include "driver.h"
#include <prsht.h>
#include "resources/resource.h"
#include "testpaths.h"

using namespace driver;

static const char BrokenScript[] = "設定ファイルが壊れているか、または見つかりません。";

static void ExpectScriptMessage(const std::string &dir, const std::string &tail)
{
    Process process = Start("\"" + dir + "SETUP.EXE\"" + (tail.empty() ? "" : " " + tail), dir);
    ASSERT_NE(nullptr, process.handle);
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, process.id)) << "no message box for tail '" << tail << "'";
    EXPECT_EQ(BrokenScript, box.text);
    EXPECT_EQ("エラー", box.caption);  // the system's default caption
    EXPECT_EQ("error", box.icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
    EXPECT_EQ(nullptr, box.owner);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(process));
    Kill(process);
}

TEST(Startup, ScriptWithoutTitleIsRefusedInEveryMode)
{
    std::string dir = MakeDist("notitle", "[Install]\nFolder=SampleApp\n1=APP.EXE\n");
    for (const char *tail : {"", "r", "/R"})
        ExpectScriptMessage(dir, tail);
    ExpectScriptMessage(dir, "x " + dir + "SETUP.EXE");
}

TEST(Startup, ScriptWithEmptyFolderIsRefused)
{
    std::string dir = MakeDist("nofolder", "[Install]\nTitle=サンプル\nFolder=\n1=APP.EXE\n");
    for (const char *tail : {"", "r", "/R"})
        ExpectScriptMessage(dir, tail);
    ExpectScriptMessage(dir, "x " + dir + "SETUP.EXE");
}

TEST(Startup, MissingScriptIsRefused)
{
    std::string dir = MakeDist("noscript", nullptr);
    for (const char *tail : {"", "r", "/R"})
        ExpectScriptMessage(dir, tail);
    ExpectScriptMessage(dir, "x " + dir + "SETUP.EXE");
}

TEST(Startup, RemovalPathThatCannotNameAScriptIsRefused)
{
    std::string dir = MakeDist("badpath", SampleScript().c_str());
    ExpectScriptMessage(dir, "x NOSLASH.EXE");                          // no backslash
    ExpectScriptMessage(dir, "x");                                      // nothing after x
    ExpectScriptMessage(dir, "x " + dir + "AB");                        // name shorter than three bytes
    ExpectScriptMessage(dir, "x " + dir + std::string(52, 'N'));        // name longer than 51 bytes
    ExpectScriptMessage(dir, "x C:\\" + std::string(257, 'P'));         // 260 bytes of path
}

TEST(Startup, DllPlantedBesideSetupIsNeverLoaded)
{
    // Windows looks for a DLL that is not one of its known DLLs beside the
    // program first: COMCTL32, which the program loads by its full path, and
    // UXTHEME, which the common controls load by name on the program's
    // behalf. Wine does so when told to prefer a native one. A whole
    // installation runs with both beside SETUP.EXE.
    static const char Overrides[] = "Software\\Wine\\AppDefaults\\SETUP.EXE";
    static const char *const Planted[] = {"comctl32", "uxtheme"};
    struct Override {
        Override()
        {
            for (const char *name : Planted)
                RegWrite(HKEY_CURRENT_USER, std::string(Overrides) + "\\DllOverrides", name, "native,builtin");
        }
        ~Override() { RegDeleteTree(HKEY_CURRENT_USER, Overrides); }
    } override;
    const std::string dir = MakeDist("planted", SampleScript().c_str());
    const std::string installDir = "C:\\e2e\\planted_install\\";
    for (const char *name : Planted)
        ASSERT_TRUE(CopyFileA(TEST_PLANTED_DLL, (dir + name + ".dll").c_str(), FALSE)) << TEST_PLANTED_DLL;
    RemoveShortcuts("サンプル");
    EXPECT_TRUE(InstallSample(dir, installDir));
    EXPECT_FALSE(Exists(dir + "PLANTED.LOG"));
    RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp");
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    RemoveShortcuts("サンプル");
    RemoveTree(installDir.substr(0, installDir.size() - 1));
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Startup, InstallationRefusesEntriesThatLeaveItsDirectory)
{
    // Each would have the elevated copy write outside the installation
    // directory, or copy a path cut short; the wizard never opens.
    for (const std::string &entry : {std::string("X.DAT,..\\victim.txt"), std::string("X.DAT,sub\\..\\..\\x.txt"),
                                     std::string("X.DAT,.\\x.txt"), std::string("X.DAT,C:\\x.txt"),
                                     std::string("X.DAT,\\\\server\\share\\x.txt"), std::string("X.DAT,a/../../x"),
                                     "X.DAT," + std::string(260, 'L')}) {
        std::string dir = MakeDist("leaving", ("[Install]\nTitle=サンプル\nFolder=SampleApp\n1=APP.EXE\n2=" + entry +
                                               "\n").c_str());
        ExpectScriptMessage(dir, "");
    }
}

// SETUP.EXE renamed between its start and its first step, another program
// put at its name: it says so before anything else (the wizard, the removal's
// question) and stops.
TEST(Startup, ProgramReplacedOrRedirectedBeforeItHoldsItselfStops)
{
    std::string dir = MakeDist("replaced", SampleScript().c_str());
    const std::string setup = dir + "SETUP.EXE";
    for (const char *tail : {"", " /r"}) {
        std::string line = "\"" + setup + "\"" + tail;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, dir.c_str(),
                                   &startup, &info));
        Running running{{info.hProcess, info.dwProcessId, 0}};
        ASSERT_TRUE(MoveFileA(setup.c_str(), (dir + "SETUP.OLD").c_str())) << GetLastError();
        ASSERT_TRUE(CopyFileA((dir + "APP.EXE").c_str(), setup.c_str(), FALSE));
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        Box box;
        ASSERT_TRUE(WaitBox(box, 15000, info.dwProcessId)) << tail;
        EXPECT_EQ(setup + " - このファイルは実行中に別のファイルに置き換えられたため、処理を中止します。製品をもう一度入手してください。", box.text);
        EXPECT_EQ("error", box.icon);
        Answer(box, IDOK);
        EXPECT_EQ(1, WaitExit(running.process));
        EXPECT_TRUE(NoBox(500, info.dwProcessId));
        DeleteFileA(setup.c_str());
        ASSERT_TRUE(MoveFileA((dir + "SETUP.OLD").c_str(), setup.c_str()));
    }
    // A SETUP.EXE.local beside it would have Windows 2000 take every DLL
    // from this folder: it stops as early, and a silent run says so by status.
    ASSERT_TRUE(CreateDirectoryA((setup + ".local").c_str(), nullptr));
    Process process = Start("\"" + setup + "\"", dir);
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, process.id));
    EXPECT_EQ(setup + ".local - この名前のファイルかフォルダがあると、別のDLLが読み込まれるおそれがあるため、処理を中止します。"
                      "削除してから、もう一度実行してください。",
              box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(process));
    Kill(process);
    process = Start("\"" + setup + "\" /S", dir);
    EXPECT_EQ(5, WaitExit(process));
    EXPECT_TRUE(NoBox(500, process.id));
    Kill(process);
    RemoveDirectoryA((setup + ".local").c_str());
}
