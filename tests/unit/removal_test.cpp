// The removal engine and the removal dialog, run in the test process. A
// second thread answers the message boxes that the engine shows on this one.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>
#include "script/state.h"
#include "common/message_box.h"
#include "common/prefix_files.h"
#include "removal/handoff.h"
#include "resources/resource.h"

namespace {

const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char DeleteFailed[] = "の削除に失敗しました。このファイルをスキップして処理を続行します。";
const char AskDelete[] = " - このファイルを削除してもいいですか？";
const char DirectoryFailed[] = " - ディレクトリの削除に失敗しました";
const char BadReg[] = "Regセクションがおかしいです。";

using SeenBox = message_box::Box;

typedef std::function<int(const SeenBox &)> Chooser;

struct Answering {
    DWORD threadId;
    volatile LONG done;
    Chooser choose;
    std::vector<SeenBox> seen;
};

DWORD WINAPI AnswerBoxes(void *param)
{
    Answering *answering = static_cast<Answering *>(param);
    while (!answering->done) {
        HWND box = message_box::ThreadBox(answering->threadId);
        if (box == nullptr) {
            Sleep(10);
            continue;
        }
        SeenBox seen = message_box::Read(box);
        int answer = answering->choose(seen);
        answering->seen.push_back(seen);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        for (int i = 0; i < 500 && IsWindow(box); ++i)
            Sleep(10);
    }
    return 0;
}

// Runs work on this thread while another thread answers every box it shows.
std::vector<SeenBox> Answered(const std::function<void()> &work, const Chooser &choose)
{
    Answering answering{GetCurrentThreadId(), 0, choose, {}};
    HANDLE thread = CreateThread(nullptr, 0, AnswerBoxes, &answering, 0, nullptr);
    work();
    InterlockedExchange(&answering.done, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return answering.seen;
}

// Questions get the given answer, every other box OK.
Chooser Answer(int question)
{
    return [question](const SeenBox &box) { return box.icon == "question" ? question : IDOK; };
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::string dir = path.substr(0, path.rfind('\\'));
    for (size_t at = 3; (at = dir.find('\\', at)) != std::string::npos; ++at)
        CreateDirectoryA(dir.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

using prefix_files::RemoveTree;

// A symbolic link key at link to target, both below HKEY_CURRENT_USER\Software.
bool MakeKeyLink(const std::string &link, const std::string &target)
{
    typedef LONG(WINAPI * QueryKeyProc)(HANDLE, int, void *, ULONG, ULONG *);
    auto query = reinterpret_cast<QueryKeyProc>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryKey")));
    HKEY software, key;
    struct {
        ULONG length;
        WCHAR name[300];
    } own = {};  // \REGISTRY\User\<the user>\Software
    ULONG size;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software) != ERROR_SUCCESS)
        return false;
    LONG status = query(software, 3 /* KeyNameInformation */, &own, sizeof own, &size);
    RegCloseKey(software);
    std::wstring path = std::wstring(own.name, own.length / sizeof(WCHAR)) + L"\\" +
                        std::wstring(target.begin() + 9, target.end());
    if (status != 0 || RegCreateKeyExA(HKEY_CURRENT_USER, link.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                       KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool made = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE *>(path.data()),
                               DWORD(path.size() * sizeof(WCHAR))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return made;
}

void CreateKey(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Value", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 2);
        RegCloseKey(key);
    }
}

bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// An installation as setup leaves it, in C:\ut\<test>\inst\: the script as
// SETUP.INF, a stand-in SETUP.EXE, each listed file, and the registration.
// State is set up as the removal run has it, with a window of ours as owner.
struct Installed {
    std::string dir;
    HWND owner = nullptr;
};

Installed Install(const std::string &test, const std::string &script, const std::vector<std::string> &files)
{
    Installed installed;
    std::string base = "C:\\ut\\" + test;
    RemoveTree(base);
    CreateDirectoryA("C:\\ut", nullptr);
    installed.dir = base + "\\inst\\";
    WriteBytes(installed.dir + "SETUP.INF", script);
    WriteBytes(installed.dir + "SETUP.EXE", "MZ");
    for (const std::string &file : files)
        WriteBytes(installed.dir + file, file);

    ResetSetupState();
    lstrcpyA(State.setupDir, installed.dir.c_str());
    lstrcpyA(State.exeName, "SETUP.EXE");
    lstrcpyA(State.scriptName, "SETUP.INF");
    lstrcpyA(State.scriptPath, (installed.dir + "SETUP.INF").c_str());
    EXPECT_TRUE(LoadSetupScript());
    lstrcpyA(State.installDir, installed.dir.c_str());
    CreateKey(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + State.folder + "\\Nested");
    installed.owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    State.ownerWindow = installed.owner;
    return installed;
}

std::string Script(const std::string &title, const std::string &folder, const std::string &rest)
{
    return "[Install]\r\nTitle=" + title + "\r\nFolder=" + folder + "\r\n" + rest;
}

int CountText(const std::vector<SeenBox> &boxes, const std::string &text)
{
    int count = 0;
    for (const SeenBox &box : boxes)
        count += box.text == text;
    return count;
}

void ExpectError(const SeenBox &box, HWND owner)
{
    EXPECT_EQ("エラー", box.caption) << box.text;
    EXPECT_EQ("error", box.icon) << box.text;
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons) << box.text;
    EXPECT_EQ(owner, box.owner) << box.text;
}

}  // namespace

TEST(RemovalEngine, RegKeysGoWithTheirSubkeysAndBadValuesAreSkipped)
{
    const std::string soft = "Software\\UtRemoval";
    RegDeleteKeyA(HKEY_CURRENT_USER, soft.c_str());
    for (const char *key : {"\\Gone\\A\\B\\C", "\\Gone\\A\\D", "\\Gone\\E", "\\Lower", "\\Fifth\\X", "\\Seventh",
                            "\\Keep", "\\Cut\\Inner", "\\Cut\\Other"})
        CreateKey(HKEY_CURRENT_USER, soft + key);
    CreateKey(HKEY_CURRENT_USER, "Software\\Policies\\UtRemovalProbe");
    // A symbolic link below a listed key, to another program's key: only
    // the link goes, never what it leads to.
    CreateKey(HKEY_CURRENT_USER, "Software\\UtRemovalTarget\\Inner");
    ASSERT_TRUE(MakeKeyLink(soft + "\\Gone\\Link", "Software\\UtRemovalTarget"));
    // Cut where the reader stops, this would name Cut itself.
    const std::string cut = "HKEY_CURRENT_USER\\" + soft + "\\Cut" + std::string(230, '\\') + "Inner";
    CreateKey(HKEY_CLASSES_ROOT, "UtRemovalClass\\shell\\open");
    std::string reg = "[Reg]\r\n"
                      "1=HKEY_CURRENT_USER\\" + soft + "\\Gone\r\n"
                      "2=hkey_current_user\\" + soft + "\\Lower\r\n"
                      "3=HKEY_CURRENT_USER\r\n"
                      "4=HKEY_CURRENT_USER\\Software\\\r\n"
                      "5=HKEY_CURRENT_USER\\" + soft + "\\\\Fifth\\\r\n"
                      "6=HKEY_CLASSES_ROOT\\UtRemovalClass\\shell\r\n"
                      "7=HKEY_CURRENT_USER\\software\\POLICIES\r\n"
                      "8=" + cut + "\r\n"
                      "10=HKEY_CURRENT_USER\\" + soft + "\\Seventh\r\n";
    Installed installed = Install("regkeys", Script("登録テスト", "UtRemovalReg", reg), {});

    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, Answer(IDNO));

    EXPECT_EQ(1, result);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, soft + "\\Gone"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, soft + "\\Fifth"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "UtRemovalClass\\shell"));
    // A lower-case root is refused; a root, or a key directly below one,
    // is every program's and is never deleted; a gap ends the list.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "UtRemovalClass"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, soft + "\\Lower"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, soft + "\\Keep"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, soft + "\\Seventh"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Wine"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\UtRemovalTarget\\Inner"));
    // A shared key, and a value cut short, are refused too.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Policies\\UtRemovalProbe"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, soft + "\\Cut\\Other"));
    ASSERT_EQ(5u, boxes.size());
    for (const SeenBox &box : boxes) {
        EXPECT_EQ(BadReg, box.text);
        ExpectError(box, installed.owner);
    }
    // The registration goes too, subkeys and all, and the empty directory with it.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalReg"));
    EXPECT_FALSE(Exists(installed.dir));

    RegDeleteKeyA(HKEY_CURRENT_USER, (soft + "\\Lower").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (soft + "\\Keep").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (soft + "\\Seventh").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (soft + "\\Cut\\Inner").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (soft + "\\Cut\\Other").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (soft + "\\Cut").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Policies\\UtRemovalProbe");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\UtRemovalTarget\\Inner");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\UtRemovalTarget");
    RegDeleteKeyA(HKEY_CURRENT_USER, soft.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "UtRemovalClass");
    DestroyWindow(installed.owner);
}

TEST(RemovalEngine, FilesGoFromTheLastEntryDownAndLeftoversAreAsked)
{
    Installed installed = Install(
        "files", Script("ファイルテスト", "UtRemovalFiles",
                        "1=APP.EXE\r\n2=SRC\\B.TXT,B.TXT\r\n3=C.DAT,DATA\\C.DAT\r\n4=GONE.TXT\r\n5=LAST.TXT\r\n"
                        "6=X.DAT,..\\VICTIM.TXT\r\n"),
        {"APP.EXE", "B.TXT", "DATA\\C.DAT", "LAST.TXT", "HELP.GID", "DATA\\help.gid", "a.b.gid", "README"});
    const std::string dir = installed.dir;
    // An entry that names a file outside the installation is refused, with the script's message.
    WriteBytes(dir + "..\\VICTIM.TXT", "keep");
    // Entry 2 is held open, so its deletion fails and is reported.
    HANDLE held = CreateFileA((dir + "B.TXT").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    bool laterGoneEarlierThere = false;
    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, [&](const SeenBox &box) {
        if (box.text == dir + "B.TXT" + DeleteFailed)
            laterGoneEarlierThere = !Exists(dir + "LAST.TXT") && !Exists(dir + "DATA\\C.DAT") &&
                                    Exists(dir + "APP.EXE") && Exists(dir + "SETUP.INF") && Exists(dir + "SETUP.EXE");
        if (box.icon != "question")
            return IDOK;
        return box.text == dir + "B.TXT" + AskDelete ? IDNO : IDYES;
    });
    CloseHandle(held);

    EXPECT_EQ(0, result);
    EXPECT_TRUE(laterGoneEarlierThere) << "entries are deleted from the last one down";
    EXPECT_EQ(1, CountText(boxes, dir + "B.TXT" + DeleteFailed));
    EXPECT_EQ(1, CountText(boxes, "設定ファイルが壊れているか、または見つかりません。"));
    EXPECT_TRUE(Exists(dir + "..\\VICTIM.TXT"));
    // The missing entry 4 counts as removed: nothing is said about it.
    for (const SeenBox &box : boxes)
        EXPECT_EQ(std::string::npos, box.text.find("GONE.TXT")) << box.text;
    // Leftovers: .gid files go without a question, the rest are asked about.
    std::vector<std::string> asked;
    for (const SeenBox &box : boxes)
        if (box.icon == "question") {
            asked.push_back(box.text);
            EXPECT_EQ("ファイルテスト", box.caption);
            EXPECT_EQ((std::vector<int>{IDCANCEL, IDYES, IDNO}), box.buttons);
            EXPECT_EQ(installed.owner, box.owner);
        }
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ((std::vector<std::string>{dir + "B.TXT" + AskDelete, dir + "README" + AskDelete,
                                        dir + "a.b.gid" + AskDelete}),
              asked);
    for (const char *gone : {"APP.EXE", "SETUP.INF", "SETUP.EXE", "HELP.GID", "DATA\\help.gid", "a.b.gid",
                             "README", "DATA"})
        EXPECT_FALSE(Exists(dir + gone)) << gone;
    // No keeps B.TXT, so the directory cannot go.
    EXPECT_TRUE(Exists(dir + "B.TXT"));
    std::string noSlash = dir.substr(0, dir.size() - 1);
    ASSERT_EQ(1, CountText(boxes, noSlash + DirectoryFailed));
    for (const SeenBox &box : boxes)
        if (box.icon != "question")
            ExpectError(box, installed.owner);
    EXPECT_EQ(boxes.size(), asked.size() + 3);
    // The steps after the sweep still run.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalFiles"));
    DestroyWindow(installed.owner);
}

TEST(RemovalEngine, HeldMainProgramStopsTheRemovalWithTwoMessages)
{
    Installed installed = Install("held", Script("常駐テスト", "UtRemovalHeld", "1=APP.EXE\r\n2=TWO.TXT\r\n"),
                                  {"APP.EXE", "TWO.TXT", "EXTRA.TXT"});
    const std::string dir = installed.dir;
    HANDLE held = CreateFileA((dir + "APP.EXE").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, Answer(IDYES));
    CloseHandle(held);

    EXPECT_EQ(0, result);
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(dir + "APP.EXE" + DeleteFailed, boxes[0].text);
    EXPECT_EQ(dir + "APP.EXE の削除に失敗しました。常駐テストを終了して、もう一度アンインストールをやり直してください。",
              boxes[1].text);
    ExpectError(boxes[0], installed.owner);
    ExpectError(boxes[1], installed.owner);
    // Entry 2 went before entry 1 was tried; everything after it stays, so
    // the removal can be run again.
    EXPECT_FALSE(Exists(dir + "TWO.TXT"));
    for (const char *kept : {"APP.EXE", "SETUP.INF", "SETUP.EXE", "EXTRA.TXT"})
        EXPECT_TRUE(Exists(dir + kept)) << kept;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalHeld"));

    // Once the program has ended, running it again completes.
    result = -1;
    boxes = Answered([&] { result = RemoveInstallation(); }, Answer(IDYES));
    EXPECT_EQ(1, result);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(dir + "EXTRA.TXT" + AskDelete, boxes[0].text);
    EXPECT_FALSE(Exists(dir));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalHeld"));
    DestroyWindow(installed.owner);
}

TEST(RemovalEngine, CancelEndsTheSweepButNotTheRemoval)
{
    Installed installed = Install("cancel", Script("中止テスト", "UtRemovalCancel", ""),
                                  {"ONE.TXT", "TWO.TXT", "THREE.TXT", "SUB\\FOUR.TXT"});
    int questions = 0;
    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, [&](const SeenBox &box) {
        if (box.icon != "question")
            return IDOK;
        return ++questions == 1 ? IDYES : IDCANCEL;
    });
    EXPECT_EQ(0, result);
    // Yes deleted one file, Cancel stopped at the second: nothing more asked,
    // no directory removal tried.
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("question", boxes[1].icon);
    int left = 0;
    for (const char *file : {"ONE.TXT", "TWO.TXT", "THREE.TXT", "SUB\\FOUR.TXT"})
        left += Exists(installed.dir + file);
    EXPECT_EQ(3, left);
    EXPECT_TRUE(Exists(installed.dir));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalCancel"));
    DestroyWindow(installed.owner);
}

TEST(RemovalEngine, NoInASubdirectoryStopsEveryEnclosingSweep)
{
    ResetSetupState();
    lstrcpyA(State.title, "入れ子");
    std::string base = "C:\\ut\\nested";
    RemoveTree(base);
    WriteBytes(base + "\\top\\A\\SUB\\X.TXT", "x");
    for (const char *name : {"P.TXT", "Q.TXT", "R.TXT", "S.TXT"})
        WriteBytes(base + "\\top\\A\\" + name, name);
    // Which files of A the enumeration reaches only after SUB: those must
    // never be asked about.
    std::vector<std::string> afterSub;
    bool subSeen = false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + "\\top\\A\\*.*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        if (lstrcmpA(found.cFileName, "SUB") == 0)
            subSeen = true;
        else if (subSeen && found.cFileName[0] != '.')
            afterSub.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);

    char top[PATH_SIZE];
    lstrcpyA(top, (base + "\\top\\").c_str());
    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = SweepDirectory(top); }, [&](const SeenBox &box) {
        if (box.icon != "question")
            return IDOK;
        return box.text == base + "\\top\\A\\SUB\\X.TXT" + AskDelete ? IDNO : IDYES;
    });

    EXPECT_EQ(0, result);
    EXPECT_STREQ((base + "\\top\\").c_str(), top);
    EXPECT_EQ(1, CountText(boxes, base + "\\top\\A\\SUB\\X.TXT" + AskDelete));
    EXPECT_EQ(1, CountText(boxes, base + "\\top\\A\\SUB" + DirectoryFailed));
    for (const std::string &name : afterSub) {
        EXPECT_EQ(0, CountText(boxes, base + "\\top\\A\\" + name + AskDelete)) << name;
        EXPECT_TRUE(Exists(base + "\\top\\A\\" + name)) << name;
    }
    // Neither A nor top is tried, so no further directory message.
    EXPECT_EQ(0, CountText(boxes, base + "\\top\\A" + DirectoryFailed));
    EXPECT_EQ(0, CountText(boxes, base + "\\top" + DirectoryFailed));
    EXPECT_EQ(boxes.size(), 2 + (4 - afterSub.size()));
    RemoveTree(base);
}

TEST(RemovalEngine, DirectoryLinksAreRemovedNeverFollowed)
{
    ResetSetupState();
    lstrcpyA(State.title, "リンク");
    std::string base = "C:\\ut\\links";
    RemoveTree(base);
    WriteBytes(base + "\\outside\\KEEP.TXT", "keep");
    CreateDirectoryA((base + "\\swept").c_str(), nullptr);
    std::string link = base + "\\swept\\LINK";
    if (!prefix_files::MakeDirectoryLink(link, "../outside"))
        GTEST_SKIP() << "no right to make a directory link here";
    DWORD attributes = GetFileAttributesA(link.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    ASSERT_TRUE(Exists(link + "\\KEEP.TXT"));

    char swept[PATH_SIZE];
    lstrcpyA(swept, (base + "\\swept\\").c_str());
    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = SweepDirectory(swept); }, Answer(IDYES));

    // Nothing behind the link is asked about or touched.
    for (const SeenBox &box : boxes)
        EXPECT_EQ(std::string::npos, box.text.find("KEEP.TXT")) << box.text;
    EXPECT_TRUE(Exists(base + "\\outside\\KEEP.TXT"));
    if (Exists(link)) {
        // This Wine cannot remove a link: that is reported, like any directory left behind.
        EXPECT_EQ(0, result);
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(link + DirectoryFailed, boxes[0].text);
    } else {
        EXPECT_EQ(1, result);
        EXPECT_TRUE(boxes.empty());
        EXPECT_FALSE(Exists(base + "\\swept"));
    }
    RemoveTree(base);
}

TEST(RemovalEngine, SharedDirectoriesKeepTheirOtherFilesAndThemselves)
{
    const char Kept[] = " - このフォルダは他のプログラムと共用のため、インストールしたファイルだけを削除しました。";
    Installed installed = Install(
        "shared", Script("共有テスト", "UtRemovalShared", "1=UTSHARED.EXE\r\n[Reg]\r\n1=HKEY_CURRENT_USER\\Software\\UtRemovalShared\r\n"), {});
    char windowsDir[PATH_SIZE], systemDir[PATH_SIZE];
    GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    GetSystemDirectoryA(systemDir, sizeof systemDir);
    std::string windows = windowsDir;
    std::string roundabout = windows + "\\..\\" + windows.substr(windows.rfind('\\') + 1) + "\\";
    CharLowerA(&roundabout[0]);
    std::vector<std::string> shared = {std::string("C:\\"), std::string("c:\\"), std::string("\\"),
                                       windows + "\\", roundabout,
                                       std::string(systemDir) + "\\", windows + "\\SysWOW64\\",
                                       std::string("\\\\server\\share\\")};
    // Program Files and Common Files of both kinds, ProgramData, the profiles
    // and the user's own, the desktop, however they are written.
    for (const char *name : {"ProgramFiles", "ProgramW6432", "CommonProgramFiles", "ProgramData", "USERPROFILE",
                             "PUBLIC"}) {
        char value[MAX_PATH];
        DWORD got = GetEnvironmentVariableA(name, value, sizeof value);
        if (got != 0 && got < sizeof value)
            shared.push_back(std::string(value) + "\\");
    }
    shared.push_back(shared.back() + "..\\");
    shared.push_back(std::string(systemDir) + "\\..\\..\\Program Files\\");
    char desktop[MAX_PATH] = "";
    DWORD size = sizeof desktop;
    RegGetValueA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Desktop",
                 RRF_RT_REG_SZ, nullptr, desktop, &size);
    shared.push_back(std::string(desktop) + "\\");
    for (const std::string &dir : shared) {
        lstrcpyA(State.installDir, dir.c_str());
        CreateKey(HKEY_CURRENT_USER, "Software\\UtRemovalShared");
        CreateKey(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalShared");
        WriteBytes(dir + "UTSHARED.EXE", "installed");
        WriteBytes(dir + "UTKEEP.GID", "another program's");
        int result = -1;
        // Should a sweep start anyway, Cancel ends it at its first question.
        std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, Answer(IDCANCEL));
        EXPECT_EQ(1, result) << dir;
        ASSERT_EQ(1u, boxes.size()) << dir;
        // The folder as the other folder messages name it, its backslash kept at a root only.
        EXPECT_EQ((dir.size() > 3 ? dir.substr(0, dir.size() - 1) : dir) + Kept, boxes[0].text);
        EXPECT_EQ("共有テスト", boxes[0].caption);
        EXPECT_EQ("information", boxes[0].icon);
        EXPECT_EQ(installed.owner, boxes[0].owner);
        // What the installation put there goes, wherever it went.
        EXPECT_FALSE(Exists(dir + "UTSHARED.EXE")) << dir;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\UtRemovalShared")) << dir;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalShared")) << dir;
        // The rest of the directory is not asked about, not even a .gid file.
        if (dir[1] != '\\') {
            EXPECT_TRUE(Exists(dir + "UTKEEP.GID")) << dir;
            EXPECT_TRUE(Exists(dir)) << dir;
        }
        DeleteFileA((dir + "UTKEEP.GID").c_str());
    }
    // A directory of its own is no shared one.
    lstrcpyA(State.installDir, installed.dir.c_str());
    int result = -1;
    std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, Answer(IDYES));
    EXPECT_EQ(1, result);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(Exists(installed.dir));
    DestroyWindow(installed.owner);
}

TEST(RemovalEngine, TheRegistrationGoesAsTheInstallationWroteIt)
{
    const std::string uninstall(UninstallRoot, lstrlenA(UninstallRoot) - 1);
    // The registry reads empty levels away when the key is written, so the
    // removal must read them the same way to delete the very same key.
    struct {
        const char *folder;
        const char *written;  // nullptr: the Uninstall key itself
    } cases[] = {
        {"UtFolderSlash\\", "UtFolderSlash"},
        {"UtFolder\\\\Twice", "UtFolder\\Twice"},
        {"\\UtFolderLead", "UtFolderLead"},
        {"\\", nullptr},
    };
    for (const auto &c : cases) {
        Installed installed = Install("regfolder", Script("登録キー", c.folder, "1=APP.EXE\r\n"), {});
        lstrcpyA(State.folder, c.folder);
        RegisterUninstall();
        if (c.written != nullptr) {
            ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + c.written)) << c.folder;
        }
        int result = -1;
        std::vector<SeenBox> boxes = Answered([&] { result = RemoveInstallation(); }, Answer(IDYES));
        EXPECT_TRUE(boxes.empty()) << c.folder;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, uninstall)) << c.folder;
        if (c.written != nullptr) {
            EXPECT_EQ(1, result) << c.folder;
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + c.written)) << c.folder;
        } else {
            // The values went onto the Uninstall key itself, which is never deleted:
            // the removal must not say all went well.
            EXPECT_EQ(0, result) << c.folder;
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstall.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                for (const char *name : {"DisplayName", "UninstallString", "DisplayIcon", "InstallLocation", "EstimatedSize", "InstallDate", "NoModify", "NoRepair"})
                    RegDeleteValueA(key, name);
                RegCloseKey(key);
            }
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallRoot) + "UtFolder\\Twice").c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallRoot) + "UtFolder").c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallRoot) + "Nested").c_str());  // the stand-in's subkey
        DestroyWindow(installed.owner);
    }
}

TEST(RemovalEngine, DeleteFileIfPresent)
{
    ResetSetupState();
    const std::string dir = "C:\\ut\\deletefile\\";
    RemoveTree(dir.substr(0, dir.size() - 1));
    WriteBytes(dir + "PLAIN.TXT", "p");
    WriteBytes(dir + "LOCKED.TXT", "l");
    SetFileAttributesA((dir + "LOCKED.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
    int plain = -1, missing = -1, locked = -1;
    std::vector<SeenBox> boxes = Answered([&] {
        plain = DeleteFileIfPresent((dir + "PLAIN.TXT").c_str());
        missing = DeleteFileIfPresent((dir + "MISSING.TXT").c_str());
        locked = DeleteFileIfPresent((dir + "LOCKED.TXT").c_str());
    }, Answer(IDOK));
    EXPECT_EQ(1, plain);
    EXPECT_FALSE(Exists(dir + "PLAIN.TXT"));
    EXPECT_EQ(1, missing);
    EXPECT_EQ(0, locked);
    EXPECT_TRUE(Exists(dir + "LOCKED.TXT"));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(dir + "LOCKED.TXT" + DeleteFailed, boxes[0].text);
    ExpectError(boxes[0], nullptr);
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(RemovalDialog, TemplateIsTheSmallDialogWithADisabledCloseButton)
{
    HRSRC found = FindResourceExA(nullptr, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(IDD_REMOVAL),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    ASSERT_NE(nullptr, found);
    const WORD *words = static_cast<const WORD *>(LockResource(LoadResource(nullptr, found)));
    const DLGTEMPLATE *dialog = reinterpret_cast<const DLGTEMPLATE *>(words);
    EXPECT_EQ(0x80C800C0u, dialog->style);
    EXPECT_EQ(2, dialog->cdit);
    EXPECT_EQ(0, dialog->x);
    EXPECT_EQ(0, dialog->y);
    EXPECT_EQ(187, dialog->cx);
    EXPECT_EQ(73, dialog->cy);
    const WORD *p = words + sizeof(DLGTEMPLATE) / 2;
    EXPECT_EQ(0, *p++);  // no menu
    EXPECT_EQ(0, *p++);  // no class
    EXPECT_EQ(0, *p++);  // empty caption
    EXPECT_EQ(9, *p++);
    EXPECT_EQ(std::wstring(L"ＭＳ Ｐゴシック"), std::wstring(reinterpret_cast<const wchar_t *>(p)));
    p += lstrlenW(reinterpret_cast<const wchar_t *>(p)) + 1;

    struct Expected {
        DWORD style;
        short x, y, cx, cy;
        WORD id;
        WORD classAtom;
        const wchar_t *text;
    } expected[] = {
        {0x50020000, 9, 16, 168, 16, IDC_REMOVAL_TEXT, 0x82, L"削除しています..."},
        {0x58010001, 67, 48, 50, 15, IDCANCEL, 0x80, L"終了"},
    };
    for (const Expected &item : expected) {
        p = reinterpret_cast<const WORD *>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        const DLGITEMTEMPLATE *control = reinterpret_cast<const DLGITEMTEMPLATE *>(p);
        EXPECT_EQ(item.style, control->style) << item.id;
        EXPECT_EQ(item.x, control->x);
        EXPECT_EQ(item.y, control->y);
        EXPECT_EQ(item.cx, control->cx);
        EXPECT_EQ(item.cy, control->cy);
        EXPECT_EQ(item.id, control->id);
        p += sizeof(DLGITEMTEMPLATE) / 2;
        EXPECT_EQ(0xFFFF, p[0]);
        EXPECT_EQ(item.classAtom, p[1]);
        p += 2;
        EXPECT_EQ(std::wstring(item.text), std::wstring(reinterpret_cast<const wchar_t *>(p)));
        p += lstrlenW(reinterpret_cast<const wchar_t *>(p)) + 1;
        EXPECT_EQ(0, *p++);  // no creation data
    }
}

namespace {

bool PumpUntil(const std::function<bool()> &condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
    return true;
}

std::string ItemText(HWND dialog, int id)
{
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

}  // namespace

TEST(RemovalDialog, WaitsThenRemovesAndShowsTheOutcome)
{
    Installed installed = Install("dialog", Script("ダイアログ", "UtRemovalDialog", "1=APP.EXE\r\n"), {"APP.EXE"});
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REMOVAL), nullptr,
                                     RemovalDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    // Before its timer: nothing removed yet, 終了 disabled.
    EXPECT_EQ(dialog, State.ownerWindow);
    EXPECT_EQ("ダイアログの削除", message_box::WindowText(dialog));
    EXPECT_EQ("削除しています...", ItemText(dialog, IDC_REMOVAL_TEXT));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    EXPECT_TRUE(Exists(installed.dir + "APP.EXE"));

    std::vector<SeenBox> boxes = Answered([&] {
        EXPECT_TRUE(PumpUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE; }, 10000));
    }, Answer(IDYES));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ("ダイアログは正常に削除されました。", ItemText(dialog, IDC_REMOVAL_TEXT));
    EXPECT_EQ(GetDlgItem(dialog, IDCANCEL), GetFocus());
    EXPECT_FALSE(Exists(installed.dir));
    DestroyWindow(dialog);
    DestroyWindow(installed.owner);

    // Files left behind: the outcome names the directory.
    installed = Install("dialog2", Script("ダイアログ", "UtRemovalDialog2", ""), {"LEFT.TXT"});
    dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REMOVAL), nullptr,
                                RemovalDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    boxes = Answered([&] {
        EXPECT_TRUE(PumpUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE; }, 10000));
    }, [&](const SeenBox &box) {
        // The outcome replaces the first text only after every box is answered.
        EXPECT_EQ("削除しています...", ItemText(dialog, IDC_REMOVAL_TEXT));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
        EXPECT_EQ(dialog, box.owner);
        return IDNO;
    });
    EXPECT_EQ(2u, boxes.size());
    EXPECT_EQ(installed.dir + " にはまだファイルが残っています。後で削除してください。",
              ItemText(dialog, IDC_REMOVAL_TEXT));
    EXPECT_TRUE(Exists(installed.dir + "LEFT.TXT"));
    DestroyWindow(dialog);
    DestroyWindow(installed.owner);
    RemoveTree("C:\\ut\\dialog2");
}

namespace {

DWORD WINAPI CloseAtOnce(void *)
{
    for (int i = 0; i < 2000; ++i) {
        if (HWND dialog = FindWindowA("#32770", "早期終了の削除")) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return 1;
        }
        Sleep(2);
    }
    return 0;
}

}  // namespace

TEST(RemovalDialog, ClosingBeforeTheTimerRemovesNothing)
{
    Installed installed = Install("early", Script("早期終了", "UtRemovalEarly", "1=APP.EXE\r\n"), {"APP.EXE"});
    HANDLE thread = CreateThread(nullptr, 0, CloseAtOnce, nullptr, 0, nullptr);
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REMOVAL), nullptr,
                                     RemovalDialogProc, 0);
    DWORD posted = 0;
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &posted);
    CloseHandle(thread);
    ASSERT_EQ(1u, posted);
    EXPECT_EQ(1, result);
    EXPECT_TRUE(Exists(installed.dir + "APP.EXE"));
    EXPECT_TRUE(Exists(installed.dir + "SETUP.INF"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + "UtRemovalEarly"));
    DestroyWindow(installed.owner);
    RemoveTree("C:\\ut\\early");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallRoot) + "UtRemovalEarly\\Nested").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallRoot) + "UtRemovalEarly").c_str());
}

TEST(RemovalRequest, TheCopyIsStartedByItsQuotedPath)
{
    ResetSetupState();
    lstrcpyA(State.exeName, "SETUP.EXE");
    lstrcpyA(State.modulePath, "C:\\Program Files\\Sample App\\SETUP.EXE");
    char relocated[PATH_SIZE], command[RELOCATION_COMMAND_SIZE];
    ASSERT_TRUE(ComposeRelocation("C:\\Sys Dir\\system32", 0, relocated, sizeof relocated, command, sizeof command));
    EXPECT_STREQ("C:\\Sys Dir\\system32\\SETUP.EXE", relocated);
    EXPECT_STREQ("\"C:\\Sys Dir\\system32\\SETUP.EXE\" x C:\\Program Files\\Sample App\\SETUP.EXE", command);
    // The copy's own start-up reads this line as the removal run of the
    // whole installed path, blanks and all.
    const char *setupPath = nullptr;
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail(GetCommandTail(command), &setupPath));
    EXPECT_STREQ(State.modulePath, setupPath);

    // A copy's path that does not fit is refused rather than cut.
    std::string deep = "C:\\" + std::string(PATH_SIZE - 13, 'd');
    EXPECT_TRUE(ComposeRelocation(deep.substr(0, deep.size() - 1).c_str(), 0, relocated, sizeof relocated, command,
                                  sizeof command));
    EXPECT_FALSE(ComposeRelocation(deep.c_str(), 0, relocated, sizeof relocated, command, sizeof command));
}

TEST(RemovalRequest, TakenNamesGiveWayToNumberedOnes)
{
    struct {
        const char *exeName;
        int number;
        const char *copy;
    } cases[] = {
        {"SETUP.EXE", 1, "C:\\S\\SETUP1.EXE"},
        {"SETUP.EXE", 99, "C:\\S\\SETUP99.EXE"},
        {"setup.v2.exe", 3, "C:\\S\\setup.v23.exe"},  // before the last dot only
        {"SETUP", 2, "C:\\S\\SETUP2"},
        // 0x5C is the second byte of this double-byte character, not a separator; nor
        // does the dot search stop in it.
        {"\x83\x5C.EXE", 1, "C:\\S\\\x83\x5C" "1.EXE"},
    };
    for (const auto &c : cases) {
        ResetSetupState();
        lstrcpyA(State.exeName, c.exeName);
        lstrcpyA(State.modulePath, "C:\\P\\SETUP.EXE");
        char relocated[PATH_SIZE], command[RELOCATION_COMMAND_SIZE];
        ASSERT_TRUE(ComposeRelocation("C:\\S", c.number, relocated, sizeof relocated, command, sizeof command))
            << c.exeName;
        EXPECT_STREQ(c.copy, relocated) << c.exeName << " " << c.number;
    }
}

// What a 32-bit program on 64-bit Windows names as its system directory is
// not where its files lie; the copy and its pending deletion must name the
// real place, SysWOW64. Elsewhere it is the system directory.
TEST(RemovalRequest, TheCopyGoesWhereTheSystemFilesReallyLie)
{
    char expected[MAX_PATH] = "", got[MAX_PATH] = "";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (wow64)
        GetSystemWow64DirectoryA(expected, sizeof expected);
    else
        GetSystemDirectoryA(expected, sizeof expected);
    UINT len = GetRelocationDirectory(got, sizeof got);
    EXPECT_EQ(UINT(lstrlenA(expected)), len);
    EXPECT_STREQ(expected, got) << (wow64 ? "under WOW64" : "native");
    printf("relocation directory: %s\n", got);
}
