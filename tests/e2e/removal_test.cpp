// Removal seen from outside: the registered uninstall command, the copy in
// the system directory, the removal dialog and what is left afterwards.
#include <gtest/gtest.h>
#include <algorithm>
#include "driver.h"
#include "testpaths.h"

using namespace driver;

namespace {

const std::string Title = "削除サンプル";
const std::string Folder = "RemovalSample";
const std::string UninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\RemovalSample";
const char DeleteFailed[] = "の削除に失敗しました。このファイルをスキップして処理を続行します。";

// The sample product's script under a title and folder of this scenario's own.
std::string Script(const char *tsr)
{
    return "[Install]\r\nTitle=" + Title + "\r\nFolder=" + Folder + "\r\nTSR=" + tsr +
           "\r\nOpen=README.TXT\r\n"
           "1=APP.EXE\r\n2=HELP\\APP.HLP,APP.HLP\r\n3=DATA.DAT,DATA\\DATA.DAT\r\n"
           "[Group]\r\n1=" + Title + ",APP.EXE\r\n2=" + Title + " (設定),APP.EXE,/setup\r\n3=ヘルプ,APP.HLP\r\n"
           "[Reg]\r\n1=HKEY_CURRENT_USER\\Software\\SampleApp\r\n"
           "2=HKEY_CURRENT_USER\\Software\\RemovalSample\r\n";
}

std::string InstallDir()
{
    return "C:\\Program Files\\" + Folder + "\\";
}

std::string SystemCopy()
{
    return RelocationDirectory() + "\\SETUP.EXE";
}

std::string ProgramsFolder()
{
    return ShellFolder("Programs") + "\\" + Title;
}

std::string DesktopLink()
{
    return ShellFolder("Desktop") + "\\" + Title + ".lnk";
}

// What setup leaves behind: the installed files with the setup program and
// its script, the registration, shortcuts in the Programs folder and on the
// desktop, and the keys the program writes.
// In dir, when given, instead of the product's own directory; setupExe
// stands in for the installed SETUP.EXE.
void StageInstallation(const std::string &installDir = std::string(), const char *setupExe = TEST_SETUP_EXE)
{
    SetWindowsVersion("win7");
    const std::string dir = installDir.empty() ? InstallDir() : installDir;
    if (installDir.empty())
        RemoveTree(dir.substr(0, dir.size() - 1));
    CreateDirectoryA(dir.c_str(), nullptr);
    CreateDirectoryA((dir + "DATA").c_str(), nullptr);
    CopyFileA(setupExe, (dir + "SETUP.EXE").c_str(), FALSE);
    WriteFile(dir + "SETUP.INF", Script("0"));
    CopyFileA(TEST_SAMPLE_DIR "\\APP.EXE", (dir + "APP.EXE").c_str(), FALSE);
    CopyFileA(TEST_SAMPLE_DIR "\\HELP\\APP.HLP", (dir + "APP.HLP").c_str(), FALSE);
    CopyFileA(TEST_SAMPLE_DIR "\\DATA.DAT", (dir + "DATA\\DATA.DAT").c_str(), FALSE);

    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegWrite(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName", Title);
    RegWrite(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString", "\"" + dir + "SETUP.EXE\" /r");

    RemoveTree(ProgramsFolder());
    CreateDirectoryA(ProgramsFolder().c_str(), nullptr);
    for (const std::string &name : {Title, Title + " (設定)", std::string("ヘルプ")})
        WriteFile(ProgramsFolder() + "\\" + name + ".lnk", "link");
    WriteFile(DesktopLink(), "link");

    RegWrite(HKEY_CURRENT_USER, "Software\\SampleApp", "LastDirectory", dir);
    RegWrite(HKEY_CURRENT_USER, "Software\\RemovalSample\\Settings\\Window", "Left", "10");
    DeleteFileA(SystemCopy().c_str());
}

void Cleanup()
{
    // What the next start would do: the copies a removal left pending go.
    DeleteFileA(SystemCopy().c_str());
    DeleteFileA((RelocationDirectory() + "\\SETUP1.EXE").c_str());
    RemoveTree(InstallDir().substr(0, InstallDir().size() - 1));
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\RemovalSample");
    RemoveTree(ProgramsFolder());
    DeleteFileA(DesktopLink().c_str());
}

Process StartUninstall()
{
    std::string command = RegRead(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString");
    return Start(command, "C:\\");
}

// The build of SETUP.EXE with seams takes the calls named here as refused,
// and so does the copy it starts, which inherits the environment.
struct Refusing {
    explicit Refusing(const char *calls) { SetEnvironmentVariableA("SETUP_TEST_REFUSE", calls); }
    ~Refusing() { SetEnvironmentVariableA("SETUP_TEST_REFUSE", nullptr); }
};

// What an installation leaves, as StageInstallation made it, is all still there.
void ExpectNothingRemoved(const std::string &dir)
{
    for (const char *file : {"APP.EXE", "APP.HLP", "DATA\\DATA.DAT", "SETUP.INF", "SETUP.EXE"})
        EXPECT_TRUE(Exists(dir + file)) << file;
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, "Software\\RemovalSample\\Settings"));
    EXPECT_TRUE(Exists(ProgramsFolder() + "\\" + Title + ".lnk"));
    EXPECT_TRUE(Exists(DesktopLink()));
}

// Confirms the removal and returns the removal dialog of the copy it starts.
HWND ConfirmRemoval(Process &copy)
{
    Process request = StartUninstall();
    Box box;
    EXPECT_TRUE(WaitBox(box, 15000, request.id));
    EXPECT_EQ(Title + "を削除します。", box.text);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(request));
    Kill(request);
    HWND dialog = WaitDialog(Title + "の削除");
    if (dialog != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(dialog, &pid);
        copy.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
        copy.id = pid;
    }
    return dialog;
}

void CloseDialog(HWND dialog, Process &copy)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(1, WaitExit(copy));
    Kill(copy);
}

bool SameFile(const std::string &a, const std::string &b)
{
    std::string bytes = ReadFile(a);
    return bytes != "<missing>" && bytes == ReadFile(b);
}

}  // namespace

TEST(Removal, ConfirmationCancelledChangesNothing)
{
    StageInstallation();
    const std::string dir = InstallDir();
    Process request = StartUninstall();
    ASSERT_NE(nullptr, request.handle);
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, request.id));
    EXPECT_EQ(Title + "を削除します。", box.text);
    EXPECT_EQ(Title, box.caption);
    EXPECT_EQ("information", box.icon);
    EXPECT_EQ((std::vector<int>{IDOK, IDCANCEL}), box.buttons);
    EXPECT_EQ(nullptr, box.owner);
    Answer(box, IDCANCEL);
    EXPECT_EQ(1, WaitExit(request));
    Kill(request);
    EXPECT_TRUE(NoBox(1000));
    EXPECT_FALSE(Exists(SystemCopy()));
    for (const char *file : {"SETUP.EXE", "SETUP.INF", "APP.EXE", "APP.HLP", "DATA\\DATA.DAT"})
        EXPECT_TRUE(Exists(dir + file)) << file;
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, "Software\\RemovalSample\\Settings"));
    EXPECT_TRUE(Exists(DesktopLink()));

    // A resident product asks the user to end it first, whichever way the letter is written.
    std::string dist = MakeDist("removaltsr", Script("1").c_str(), true);
    for (const char *tail : {"r", "R", "/R"}) {
        Process resident = Start("\"" + dist + "SETUP.EXE\" " + tail, dist);
        ASSERT_TRUE(WaitBox(box, 15000, resident.id)) << tail;
        EXPECT_EQ(Title + "を削除します。まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。",
                  box.text);
        EXPECT_EQ(Title, box.caption);
        Answer(box, IDCANCEL);
        EXPECT_EQ(1, WaitExit(resident));
        Kill(resident);
    }
    EXPECT_FALSE(Exists(SystemCopy()));
    Cleanup();
    RemoveTree("C:\\e2e\\removaltsr");
}

TEST(Removal, CompleteRemovalThroughTheSystemDirectoryCopy)
{
    StageInstallation();
    const std::string dir = InstallDir();
    WriteFile(dir + "NOTES.TXT", "user's notes");
    WriteFile(dir + "DATA\\USER.DAT", "user's data");
    WriteFile(dir + "APP.GID", "index");

    char wininit[MAX_PATH];
    GetWindowsDirectoryA(wininit, sizeof wininit);
    lstrcatA(wininit, "\\WININIT.INI");
    const std::string wininitBefore = ReadFile(wininit);
    // A file of the copy's name in the system directory belongs to someone
    // else (NT keeps a setup.exe of its own there): it is never replaced,
    // nor scheduled for deletion; the copy takes a free name beside it.
    const std::string sentinel = SystemCopy();
    WriteFile(sentinel, "the system's own setup program");
    const size_t sentinelPending = PendingCount("\\??\\" + sentinel);
    const std::string copyPath = RelocationDirectory() + "\\SETUP1.EXE";
    DeleteFileA(copyPath.c_str());
    const size_t copyPending = PendingCount("\\??\\" + copyPath);

    Process copy;
    HWND dialog = ConfirmRemoval(copy);
    ASSERT_NE(nullptr, dialog);
    // The copy runs from the system directory as the program itself sees it
    // on disk, as a faithful copy of the installed program.
    EXPECT_TRUE(SameFile(copyPath, TEST_SETUP_EXE));
    const std::string image = ImagePath(copy.id);
    EXPECT_EQ(Upper(copyPath), Upper(image));
    // Its deletion is pending from its start, in case it never ends well.
    EXPECT_EQ(copyPending + 1, PendingCount("\\??\\" + image)) << image;

    // Leftover files are asked about one by one, while the dialog still says
    // it is working and cannot be closed.
    std::vector<std::string> asked;
    const std::string done = Title + "は正常に削除されました。";
    for (int round = 0; round < 40 && ItemText(dialog, 1010) != done; ++round) {
        Box box;
        if (!WaitBox(box, 500, copy.id))
            continue;
        asked.push_back(box.text);
        EXPECT_EQ(Title, box.caption) << box.text;
        EXPECT_EQ("question", box.icon) << box.text;
        EXPECT_EQ((std::vector<int>{IDCANCEL, IDYES, IDNO}), box.buttons) << box.text;
        EXPECT_EQ(dialog, box.owner) << box.text;
        EXPECT_EQ("削除しています...", ItemText(dialog, 1010));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
        Answer(box, IDYES);
    }
    std::sort(asked.begin(), asked.end());
    const std::string question = " - このファイルを削除してもいいですか？";
    EXPECT_EQ((std::vector<std::string>{dir + "DATA\\USER.DAT" + question, dir + "NOTES.TXT" + question}), asked);

    EXPECT_TRUE(WaitItemText(dialog, 1010, done, 5000)) << ItemText(dialog, 1010);
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE; }, 5000));
    EXPECT_EQ("終了", ItemText(dialog, IDCANCEL));
    EXPECT_FALSE(Exists(dir));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\SampleApp"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\RemovalSample"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(Exists(ProgramsFolder()));
    EXPECT_FALSE(Exists(DesktopLink()));

    // Closed, the copy has left its own deletion to the next start, under
    // the name of its own image, once only, and stays until then.
    CloseDialog(dialog, copy);
    EXPECT_EQ(copyPending + 1, PendingCount("\\??\\" + image)) << image;
    EXPECT_TRUE(Exists(copyPath));
    EXPECT_EQ(sentinelPending, PendingCount("\\??\\" + sentinel)) << sentinel;
    EXPECT_EQ("the system's own setup program", ReadFile(sentinel));
    // Where the platform takes the deletion, WININIT.INI is not touched.
    EXPECT_EQ(wininitBefore, ReadFile(wininit));
    DeleteFileA(sentinel.c_str());
    DeleteFileA(copyPath.c_str());
    Cleanup();
}

TEST(Removal, RunningProgramStopsTheRemovalUntilItEnds)
{
    StageInstallation();
    const std::string dir = InstallDir();
    Process app = Start("\"" + dir + "APP.EXE\" /hold", dir);
    ASSERT_NE(nullptr, app.handle);
    ASSERT_TRUE(WaitFor([] {
        return RegRead(HKEY_CURRENT_USER, "Software\\SampleApp", "LastCommandLine").find("/hold") !=
               std::string::npos;
    }, 15000));

    Process copy;
    HWND dialog = ConfirmRemoval(copy);
    ASSERT_NE(nullptr, dialog);
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, copy.id));
    EXPECT_EQ(dir + "APP.EXE" + DeleteFailed, box.text);
    EXPECT_EQ("エラー", box.caption);
    EXPECT_EQ("error", box.icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
    EXPECT_EQ(dialog, box.owner);
    Answer(box, IDOK);
    ASSERT_TRUE(WaitBox(box, 15000, copy.id));
    EXPECT_EQ(dir + "APP.EXE の削除に失敗しました。" + Title +
                  "を終了して、もう一度アンインストールをやり直してください。",
              box.text);
    EXPECT_EQ("error", box.icon);
    EXPECT_EQ(dialog, box.owner);
    Answer(box, IDOK);
    EXPECT_TRUE(WaitItemText(dialog, 1010, dir + " にはまだファイルが残っています。後で削除してください。", 5000))
        << ItemText(dialog, 1010);
    EXPECT_TRUE(NoBox(500, copy.id));

    // The later entries went; the program, the script, the setup copy, the
    // registration and the shortcuts stay for the second attempt.
    EXPECT_FALSE(Exists(dir + "APP.HLP"));
    EXPECT_FALSE(Exists(dir + "DATA\\DATA.DAT"));
    for (const char *file : {"APP.EXE", "SETUP.INF", "SETUP.EXE"})
        EXPECT_TRUE(Exists(dir + file)) << file;
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_TRUE(Exists(ProgramsFolder() + "\\" + Title + ".lnk"));
    EXPECT_TRUE(Exists(DesktopLink()));
    CloseDialog(dialog, copy);

    Kill(app);
    dialog = ConfirmRemoval(copy);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(WaitItemText(dialog, 1010, Title + "は正常に削除されました。", 15000)) << ItemText(dialog, 1010);
    EXPECT_FALSE(Exists(dir));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(Exists(ProgramsFolder()));
    EXPECT_FALSE(Exists(DesktopLink()));
    CloseDialog(dialog, copy);
    Cleanup();
}

TEST(Removal, ACopyThatCannotBeMadeOrStartedRemovesNothing)
{
    // The copy refused starts nothing; the copy made but not started stays.
    for (const char *refused : {"MakeCopy", "StartCopy"}) {
        SCOPED_TRACE(refused);
        StageInstallation(std::string(), TEST_SEAMS_SETUP_EXE);
        Refusing refusing(refused);
        Process request = StartUninstall();
        Box box;
        ASSERT_TRUE(WaitBox(box, 15000, request.id));
        EXPECT_EQ(Title + "を削除します。", box.text);
        Answer(box, IDOK);
        ASSERT_TRUE(WaitBox(box, 15000, request.id));
        EXPECT_EQ("アンインストール用プログラムの起動に失敗しました。手動で削除してください。", box.text);
        EXPECT_EQ("エラー", box.caption);
        EXPECT_EQ("error", box.icon);
        EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
        EXPECT_EQ(nullptr, box.owner);
        Answer(box, IDOK);
        EXPECT_EQ(1, WaitExit(request));
        Kill(request);
        EXPECT_EQ(nullptr, WaitDialog(Title + "の削除", 500));
        ExpectNothingRemoved(InstallDir());
        if (lstrcmpA(refused, "StartCopy") == 0)
            EXPECT_TRUE(SameFile(SystemCopy(), TEST_SEAMS_SETUP_EXE));
        else
            EXPECT_FALSE(Exists(SystemCopy()));
        Cleanup();
    }
}

TEST(Removal, WithoutDelayedDeletionTheCopyGoesIntoWininit)
{
    StageInstallation(std::string(), TEST_SEAMS_SETUP_EXE);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    const std::string wininit = std::string(windows) + "\\WININIT.INI";
    const bool hadWininit = Exists(wininit);
    const std::string saved = ReadFile(wininit);
    // Pending lines of other programs, two of them for the same key, in a
    // section that sits between two others.
    WriteFile(wininit, "[boot]\r\nshell=explorer\r\n[Rename]\r\nNUL=C:\\OLD1.EXE\r\nNUL=C:\\OLD2.EXE\r\n"
                       "C:\\NEW.DLL=C:\\NEW.TMP\r\n[after]\r\nkeep=1\r\n");
    const size_t pendingBefore = PendingCount("\\??\\" + SystemCopy());

    Refusing refusing("MoveFileExA");
    Process copy;
    HWND dialog = ConfirmRemoval(copy);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(WaitItemText(dialog, 1010, Title + "は正常に削除されました。", 15000)) << ItemText(dialog, 1010);
    const std::string image = ImagePath(copy.id);
    CloseDialog(dialog, copy);

    char shortPath[MAX_PATH] = "";
    GetShortPathNameA(image.c_str(), shortPath, sizeof shortPath);
    EXPECT_NE("", std::string(shortPath)) << image;
    // The section moves to the end, its lines kept in order, the copy's last.
    EXPECT_EQ("[boot]\r\nshell=explorer\r\n[after]\r\nkeep=1\r\n[Rename]\r\nNUL=C:\\OLD1.EXE\r\nNUL=C:\\OLD2.EXE\r\n"
              "C:\\NEW.DLL=C:\\NEW.TMP\r\nNUL=" + std::string(shortPath) + "\r\n",
              ReadFile(wininit));
    EXPECT_EQ(pendingBefore, PendingCount("\\??\\" + image));
    EXPECT_TRUE(Exists(image));
    Cleanup();
    // Windows 95 renames the file at each start: the line goes into a new one.
    StageInstallation(std::string(), TEST_SEAMS_SETUP_EXE);
    DeleteFileA(wininit.c_str());
    dialog = ConfirmRemoval(copy);
    ASSERT_NE(nullptr, dialog);
    GetShortPathNameA(ImagePath(copy.id).c_str(), shortPath, sizeof shortPath);
    CloseDialog(dialog, copy);
    EXPECT_EQ("[Rename]\r\nNUL=" + std::string(shortPath) + "\r\n", ReadFile(wininit));
    if (hadWininit)
        WriteFile(wininit, saved);
    else
        DeleteFileA(wininit.c_str());
    Cleanup();
}

// Between the test of the product's Start-menu folder and its sweep,
// another program swaps it for a link to some other folder: the folder is
// held, the swap fails, and nothing of the other folder goes.
TEST(Removal, StartMenuFolderSwappedForALinkLosesNothingElse)
{
    StageInstallation(std::string(), TEST_SEAMS_SETUP_EXE);
    const std::string victim = ShellFolder("Programs") + "\\SwapVictim";
    RemoveTree(victim);
    CreateDirectoryA(victim.c_str(), nullptr);
    WriteFile(victim + "\\KEEP.TXT", "another program's");
    DeleteFileA("C:\\e2e\\StartMenuSweep.paused");
    DeleteFileA("C:\\e2e\\StartMenuSweep.go");
    SetEnvironmentVariableA("SETUP_TEST_PAUSE", "StartMenuSweep");
    Process copy;
    HWND dialog = ConfirmRemoval(copy);
    SetEnvironmentVariableA("SETUP_TEST_PAUSE", nullptr);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(WaitFor([] { return Exists("C:\\e2e\\StartMenuSweep.paused"); }, 30000));
    if (MoveFileA(ProgramsFolder().c_str(), (ProgramsFolder() + ".old").c_str()))
        prefix_files::MakeDirectoryLink(ProgramsFolder(), "SwapVictim");
    WriteFile("C:\\e2e\\StartMenuSweep.go", "");
    EXPECT_TRUE(WaitItemText(dialog, 1010, Title + "は正常に削除されました。", 30000)) << ItemText(dialog, 1010);
    CloseDialog(dialog, copy);
    EXPECT_TRUE(Exists(victim + "\\KEEP.TXT"));
    DeleteFileA("C:\\e2e\\StartMenuSweep.paused");
    DeleteFileA("C:\\e2e\\StartMenuSweep.go");
    RemoveTree(ProgramsFolder() + ".old");
    RemoveTree(victim);
    Cleanup();
}

TEST(Removal, ClosedBeforeItsFirstTickTheDialogRemovesNothing)
{
    StageInstallation();
    const size_t pendingBefore = PendingCount("\\??\\" + SystemCopy());
    Process request = StartUninstall();
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, request.id));
    Answer(box, IDOK);
    // The removal starts 300 ms after the dialog: look for it without pause,
    // before it is even shown, and close it at once. A posted command comes
    // before any timer message.
    const std::string caption = Title + "の削除";
    HWND dialog = nullptr;
    for (DWORD start = GetTickCount(); dialog == nullptr && GetTickCount() - start < 15000;)
        if ((dialog = FindWindowA("#32770", caption.c_str())) == nullptr)
            Sleep(1);
    ASSERT_NE(nullptr, dialog);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    Process copy;
    copy.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    copy.id = pid;
    const std::string image = ImagePath(pid);
    EXPECT_EQ(1, WaitExit(copy));
    Kill(copy);
    EXPECT_EQ(1, WaitExit(request));
    Kill(request);
    ExpectNothingRemoved(InstallDir());
    EXPECT_TRUE(NoBox(300));
    // Its own file is still left to the next start.
    EXPECT_EQ(pendingBefore + 1, PendingCount("\\??\\" + image)) << image;
    Cleanup();
}

TEST(Removal, InTheWindowsDirectoryAllButTheDirectoryAndItsOtherFilesGo)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    const std::string dir = std::string(windows) + "\\";
    StageInstallation(dir);
    WriteFile(dir + "NOTES.GID", "another program's index");
    const std::string winIni = ReadFile(dir + "win.ini");

    Process copy;
    HWND dialog = ConfirmRemoval(copy);
    ASSERT_NE(nullptr, dialog);
    Box box;
    ASSERT_TRUE(WaitBox(box, 15000, copy.id));
    EXPECT_EQ(dir.substr(0, dir.size() - 1) + " - このフォルダは他のプログラムと共用のため、インストールしたファイルだけを削除しました。",
              box.text);
    EXPECT_EQ(Title, box.caption);
    EXPECT_EQ("information", box.icon);
    EXPECT_EQ(dialog, box.owner);
    Answer(box, IDOK);
    EXPECT_TRUE(WaitItemText(dialog, 1010, Title + "は正常に削除されました。", 15000)) << ItemText(dialog, 1010);
    EXPECT_TRUE(NoBox(500, copy.id));
    CloseDialog(dialog, copy);

    for (const char *file : {"APP.EXE", "APP.HLP", "DATA\\DATA.DAT", "SETUP.INF", "SETUP.EXE"})
        EXPECT_FALSE(Exists(dir + file)) << file;
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\RemovalSample"));
    EXPECT_FALSE(Exists(ProgramsFolder()));
    EXPECT_FALSE(Exists(DesktopLink()));
    EXPECT_TRUE(IsDirectory(dir));
    EXPECT_EQ("another program's index", ReadFile(dir + "NOTES.GID"));
    EXPECT_EQ(winIni, ReadFile(dir + "win.ini"));
    DeleteFileA((dir + "NOTES.GID").c_str());
    RemoveDirectoryA((dir + "DATA").c_str());
    Cleanup();
}
