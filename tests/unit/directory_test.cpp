// Directory creation and the copy of one file entry, on the prefix's C: drive.
// Message boxes are modal on this thread, so a watcher thread reads and
// answers them; the wizard tests use the same watcher.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "script/state.h"
#include "common/message_box.h"
#include "common/prefix_files.h"

namespace wizard_ut {

using SeenBox = message_box::Box;

struct Watch {
    DWORD thread;
    std::vector<int> answers;
    std::vector<SeenBox> seen;
    volatile LONG stop;
};

static DWORD WINAPI WatchBoxes(void *parameter)
{
    Watch *watch = static_cast<Watch *>(parameter);
    while (!watch->stop) {
        HWND box = message_box::ThreadBox(watch->thread);
        if (box == nullptr) {
            Sleep(20);
            continue;
        }
        SeenBox seen = message_box::Read(box);
        size_t index = watch->seen.size();
        int answer = index < watch->answers.size() ? watch->answers[index] : seen.buttons.empty() ? IDOK
                                                                                                  : seen.buttons[0];
        watch->seen.push_back(seen);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
        for (int i = 0; i < 250 && IsWindow(box); ++i)
            Sleep(20);
    }
    return 0;
}

// Runs action on this thread while another thread answers every message box
// that it shows, with the given answers in order (then the first button).
std::vector<SeenBox> RunWithBoxes(void (*action)(void *), void *context, std::vector<int> answers)
{
    Watch watch = {GetCurrentThreadId(), answers, {}, 0};
    HANDLE thread = CreateThread(nullptr, 0, WatchBoxes, &watch, 0, nullptr);
    action(context);
    InterlockedExchange(&watch.stop, 1);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return watch.seen;
}

// A plain window to own the boxes, as a wizard page would.
HWND MakeOwnerWindow()
{
    return CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

using prefix_files::RemoveTree;

// A fresh, empty C:\ut\<name>\ (returned with its backslash).
std::string FreshDir(const std::string &name)
{
    CreateDirectoryA("C:\\ut", nullptr);
    std::string dir = "C:\\ut\\" + name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[4096];
    DWORD got = 0;
    ::ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

using prefix_files::ListDir;

bool IsDir(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace wizard_ut

using namespace wizard_ut;

namespace {

// A distribution directory with a script of the given [Install] entries and
// a source file a.txt; installDir is dir\inst\ and the current directory is
// the distribution, as during the installation.
std::string PrepareEntries(const std::string &name, const std::string &entries)
{
    ResetSetupState();
    std::string dir = FreshDir(name);
    WriteBytes(dir + "SETUP.INF", "[Install]\r\nTitle=T\r\nFolder=F\r\n" + entries);
    WriteBytes(dir + "a.txt", "new contents");
    CopyText(State.scriptPath, PATH_SIZE, (dir + "SETUP.INF").c_str());
    CopyText(State.installDir, INSTALL_DIR_SIZE, (dir + "inst\\").c_str());
    CreateDirectoryA((dir + "inst").c_str(), nullptr);
    SetCurrentDirectoryA(dir.c_str());
    State.ownerWindow = MakeOwnerWindow();
    return dir;
}

struct CopyRun {
    int result;
};

void RunCopy(void *context)
{
    static_cast<CopyRun *>(context)->result = CopyCurrentEntry();
}

int CopyEntry(int n, std::vector<SeenBox> &boxes)
{
    LoadFileEntry(n);
    CopyRun run = {-1};
    boxes = RunWithBoxes(RunCopy, &run, {});
    return run.result;
}

void ExpectErrorBox(const SeenBox &box, const std::string &text)
{
    EXPECT_EQ(text, box.text);
    EXPECT_EQ("エラー", box.caption);  // no caption of its own
    EXPECT_EQ("error", box.icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
    EXPECT_EQ(State.ownerWindow, box.owner);
}

struct PathRun {
    char *path;
    int result;
};

void RunCreatePath(void *context)
{
    PathRun *run = static_cast<PathRun *>(context);
    run->result = CreateDirectoryPath(run->path);
}

}  // namespace

TEST(CopyCurrentEntry, MakesTheLevelsBelowInstallDirAndCopies)
{
    std::string dir = PrepareEntries("copy_nest", "1=a.txt,sub\\dir\\file.txt\r\n2=a.txt,b.txt\r\n");
    std::vector<SeenBox> boxes;
    EXPECT_EQ(1, CopyEntry(1, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ("new contents", ReadBytes(dir + "inst\\sub\\dir\\file.txt"));
    EXPECT_STREQ((dir + "inst\\sub\\dir\\file.txt").c_str(), State.entryPath);  // restored after each level
    EXPECT_STREQ("file.txt", State.entryTail);

    EXPECT_EQ(1, CopyEntry(2, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ((std::vector<std::string>{"b.txt", "sub"}), ListDir(dir + "inst\\"));
    EXPECT_EQ(std::vector<std::string>{"dir"}, ListDir(dir + "inst\\sub\\"));
}

TEST(CopyCurrentEntry, SplitsOnlyAtRealBackslashes)
{
    // ソ is 0x83 0x5C in code page 932: its second byte looks like a backslash.
    std::string dir = PrepareEntries("copy_sjis", "1=a.txt,ソフト\\ソ.txt\r\n");
    std::vector<SeenBox> boxes;
    EXPECT_EQ(1, CopyEntry(1, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(std::vector<std::string>{"ソフト"}, ListDir(dir + "inst\\"));
    EXPECT_EQ(std::vector<std::string>{"ソ.txt"}, ListDir(dir + "inst\\ソフト\\"));
    EXPECT_EQ("new contents", ReadBytes(dir + "inst\\ソフト\\ソ.txt"));
}

TEST(CreateDirectoryPath, SplitsOnlyAtRealBackslashes)
{
    ResetSetupState();
    std::string dir = FreshDir("path_sjis");
    char path[INSTALL_DIR_SIZE];
    CopyText(path, sizeof path, (dir + "ソ\\表ソ\\").c_str());
    PathRun run = {path, -1};
    EXPECT_TRUE(RunWithBoxes(RunCreatePath, &run, {}).empty());
    EXPECT_EQ(1, run.result);
    EXPECT_EQ(std::vector<std::string>{"ソ"}, ListDir(dir));
    EXPECT_EQ(std::vector<std::string>{"表ソ"}, ListDir(dir + "ソ\\"));
    EXPECT_STREQ((dir + "ソ\\表ソ\\").c_str(), path);
}

TEST(CreateDirectoryPath, ExistingLevelsCountAsMade)
{
    ResetSetupState();
    std::string dir = FreshDir("path_existing");
    CreateDirectoryA((dir + "a").c_str(), nullptr);
    char path[INSTALL_DIR_SIZE];
    CopyText(path, sizeof path, (dir + "a\\b\\c\\").c_str());
    PathRun run = {path, -1};
    EXPECT_TRUE(RunWithBoxes(RunCreatePath, &run, {}).empty());
    EXPECT_EQ(1, run.result);
    EXPECT_TRUE(IsDir(dir + "a\\b\\c"));

    // Again, with every level present; and a bare drive root, which is never made.
    run.result = -1;
    EXPECT_TRUE(RunWithBoxes(RunCreatePath, &run, {}).empty());
    EXPECT_EQ(1, run.result);
    char root[] = "C:\\";
    EXPECT_EQ(1, CreateOneDirectory(root));
    EXPECT_EQ(1, CreateDirectoryPath(root));
    EXPECT_STREQ("C:\\", root);

    // Text after the last backslash is not a level.
    CopyText(path, sizeof path, (dir + "d\\e").c_str());
    EXPECT_EQ(1, CreateDirectoryPath(path));
    EXPECT_TRUE(IsDir(dir + "d"));
    EXPECT_FALSE(IsDir(dir + "d\\e"));
}

TEST(CreateDirectoryPath, LevelThatIsAFileStopsThePath)
{
    ResetSetupState();
    std::string dir = FreshDir("path_file");
    State.ownerWindow = MakeOwnerWindow();
    WriteBytes(dir + "f", "plain file");
    char path[INSTALL_DIR_SIZE];
    CopyText(path, sizeof path, (dir + "f\\g\\").c_str());
    PathRun run = {path, -1};
    std::vector<SeenBox> boxes = RunWithBoxes(RunCreatePath, &run, {});
    EXPECT_EQ(0, run.result);
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], dir + "f - 同じ名前のファイルが既に存在するのでフォルダが作成できません。");
    EXPECT_STREQ((dir + "f\\g\\").c_str(), path);  // the caller's text is whole again
    EXPECT_EQ("plain file", ReadBytes(dir + "f"));
}

TEST(CreateDirectoryPath, PathWithoutDriveIsOneLevel)
{
    ResetSetupState();
    std::string dir = FreshDir("path_relative");
    SetCurrentDirectoryA(dir.c_str());
    char one[] = "x\\";
    EXPECT_EQ(1, CreateDirectoryPath(one));
    EXPECT_TRUE(IsDir(dir + "x"));

    // Two levels: only the last is attempted, and its parent is missing.
    char two[] = "y\\z\\";
    PathRun run = {two, -1};
    std::vector<SeenBox> boxes = RunWithBoxes(RunCreatePath, &run, {});
    EXPECT_EQ(0, run.result);
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], "y\\z のフォルダ作成に失敗しました。");
    EXPECT_FALSE(IsDir(dir + "y"));
    EXPECT_STREQ("y\\z\\", two);
}

TEST(CopyCurrentEntry, LevelThatIsAFileStopsTheCopy)
{
    std::string dir = PrepareEntries("copy_levelfile", "1=a.txt,sub\\file.txt\r\n");
    WriteBytes(dir + "inst\\sub", "in the way");
    std::vector<SeenBox> boxes;
    EXPECT_EQ(0, CopyEntry(1, boxes));
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], dir + "inst\\sub - 同じ名前のファイルが既に存在するのでフォルダが作成できません。");
    EXPECT_EQ("in the way", ReadBytes(dir + "inst\\sub"));
}

TEST(CopyCurrentEntry, MissingSourceNamesTheSourceAsWritten)
{
    std::string dir = PrepareEntries("copy_missing", "1=HELP\\NONE.HLP,NONE.HLP\r\n");
    std::vector<SeenBox> boxes;
    EXPECT_EQ(0, CopyEntry(1, boxes));
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], "HELP\\NONE.HLP のコピーに失敗しました。");
    EXPECT_TRUE(ListDir(dir + "inst\\").empty());
}

TEST(CopyCurrentEntry, DestinationInUseNamesTheDestination)
{
    std::string dir = PrepareEntries("copy_inuse", "1=a.txt,busy.dat\r\n");
    WriteBytes(dir + "inst\\busy.dat", "old contents");
    HANDLE held = CreateFileA((dir + "inst\\busy.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::vector<SeenBox> boxes;
    EXPECT_EQ(0, CopyEntry(1, boxes));
    CloseHandle(held);
    ASSERT_EQ(1u, boxes.size());
    ExpectErrorBox(boxes[0], dir + "inst\\busy.dat は他で使用中のため上書きできません。");
    EXPECT_EQ("old contents", ReadBytes(dir + "inst\\busy.dat"));
}

TEST(CopyCurrentEntry, ReplacesAndLeavesNoReadOnlyAttribute)
{
    std::string dir = PrepareEntries("copy_attrs", "1=a.txt,old.txt\r\n2=ro.txt,ro.txt\r\n");
    WriteBytes(dir + "inst\\old.txt", "old contents that are longer");
    WriteBytes(dir + "ro.txt", "read-only source");
    SetFileAttributesA((dir + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    std::vector<SeenBox> boxes;
    EXPECT_EQ(1, CopyEntry(1, boxes));
    EXPECT_EQ(1, CopyEntry(2, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ("new contents", ReadBytes(dir + "inst\\old.txt"));
    EXPECT_EQ("read-only source", ReadBytes(dir + "inst\\ro.txt"));
    DWORD attributes = GetFileAttributesA((dir + "inst\\ro.txt").c_str());
    EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // A second install over the first copy works as well.
    EXPECT_EQ(1, CopyEntry(2, boxes));
    EXPECT_TRUE(boxes.empty());
    SetFileAttributesA((dir + "ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Which levels get a list of their own: only the installation's, only
// outside the Program Files folders, only where the system keeps lists. Wine
// keeps no list set on a folder, so the decision and the list are what is tested.
TEST(FolderSecurity, OnlyTheInstallationsLevelsOutsideProgramFilesOnNt)
{
    char programFiles[PATH_SIZE] = "";
    HKEY key;
    DWORD size = sizeof programFiles;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_READ, &key));
    RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE *>(programFiles), &size);
    RegCloseKey(key);
    const std::string inProgramFiles = std::string(programFiles) + "\\Soft\\";
    const DWORD Windows7 = 0x1DB10106, NT4 = 0x05650004, Windows95 = 0xC3B60004;
    struct Case {
        std::string installDir, level;
        DWORD version;
        int own;
    } cases[] = {
        {"C:\\Soft\\App\\", "C:\\Soft\\", Windows7, 1},
        {"C:\\Soft\\App\\", "C:\\soft\\app\\", Windows7, 1},
        {"C:\\Soft\\App\\", "C:\\Soft\\App\\DOC\\", NT4, 1},
        {"C:\\Soft\\App\\", "C:\\Other\\", Windows7, 0},              // the Start menu's folder, say
        {"C:\\Soft\\App\\", "C:\\Soft\\App\\", Windows95, 0},         // no lists there
        {inProgramFiles, inProgramFiles, Windows7, 0},                 // inherits Program Files
        {inProgramFiles, inProgramFiles + "DOC\\", Windows7, 0},
        {inProgramFiles, std::string(programFiles) + "\\", Windows7, 0},  // Program Files itself
    };
    for (const Case &c : cases) {
        ResetSetupState();
        lstrcpyA(State.installDir, c.installDir.c_str());
        SECURITY_DESCRIPTOR descriptor;
        EXPECT_EQ(c.own, FolderSecurity(c.level.c_str(), c.version, &descriptor)) << c.installDir << " " << c.level;
    }

    // The list itself: valid, protected from 2000 on, three entries that
    // pass on to files and folders below.
    ResetSetupState();
    lstrcpyA(State.installDir, "C:\\Soft\\");
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_EQ(1, FolderSecurity("C:\\Soft\\", Windows7, &descriptor));
    EXPECT_TRUE(IsValidSecurityDescriptor(&descriptor));
    EXPECT_EQ(SE_DACL_PRESENT | SE_DACL_PROTECTED, descriptor.Control);
    ASSERT_EQ(1, FolderSecurity("C:\\Soft\\", NT4, &descriptor));
    EXPECT_EQ(SE_DACL_PRESENT, descriptor.Control);
    ASSERT_TRUE(IsValidAcl(descriptor.Dacl));
    ASSERT_EQ(3, descriptor.Dacl->AceCount);
    const struct {
        WELL_KNOWN_SID_TYPE sid;
        DWORD mask;
    } expected[] = {{WinLocalSystemSid, FILE_ALL_ACCESS},
                    {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                    {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (DWORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        ASSERT_TRUE(GetAce(descriptor.Dacl, i, reinterpret_cast<void **>(&ace)));
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        ASSERT_TRUE(CreateWellKnownSid(expected[i].sid, nullptr, sid, &sidSize));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType) << i;
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags) << i;
        EXPECT_EQ(expected[i].mask, ace->Mask) << i;
        EXPECT_TRUE(EqualSid(&ace->SidStart, sid)) << i;
    }
}
