// Faults met on the way, end to end: a full disk during the copy steps, a
// reinstall over a running program, a read-only installed file at removal,
// a Program Manager that never answers, and Shell Folders values that are
// gone. Each scenario checks the messages word for word and what is left
// afterwards.
#include <gtest/gtest.h>
#include "driver.h"
#include "testpaths.h"

#include <dde.h>
#include <sddl.h>
#include <functional>
#include <prsht.h>

using namespace driver;

namespace {

const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char Complete[] = "インストールが完了しました。「完了」を押すと起動します。";
const char Working[] = "削除しています...";
const int NextButton = 0x3024, FinishButton = 0x3025;

void Clean(const std::string &folder, const std::string &title, const std::string &installDir)
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallRoot + folder);
    RemoveShortcuts(title);
    SetFileAttributesA((installDir + "APP.HLP").c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveTree(installDir.substr(0, installDir.size() - 1));
}

// A box of the process, read again while its icon is still being drawn.
bool ReadBox(Box &box, DWORD timeoutMs, DWORD pid)
{
    if (!WaitBox(box, timeoutMs, pid))
        return false;
    for (int tries = 0; tries < 5 && box.icon == "unknown"; ++tries) {
        Sleep(200);
        WaitBox(box, 1000, pid);
    }
    return true;
}

// What the wizard showed on the way through.
struct Walk {
    HWND sheet = nullptr;
    HWND page = nullptr;          // the progress page at the end
    std::string proposed;         // the destination the first page proposed
    std::vector<Box> questions;   // answered Yes
    std::vector<Box> boxes;       // the steps' messages, answered OK
    bool complete = false;
};

// Starts SETUP.EXE in dir and walks its wizard into installDir with the
// options given, up to the final text of the progress page.
Walk WalkTo(Running &running, const std::string &dir, const std::string &installDir, bool startMenu)
{
    Walk walk;
    running.process = Start("\"" + dir + "SETUP.EXE\"", dir);
    const DWORD pid = running.process.id;
    walk.sheet = WaitWizard(15000, pid);
    if (walk.sheet == nullptr)
        return walk;
    HWND page = WaitPage(walk.sheet, 1001);
    if (page == nullptr || !WaitFor([&] { return ButtonEnabled(walk.sheet, NextButton); }, 5000))
        return walk;
    walk.proposed = ItemText(page, 1001);
    SetItemText(page, 1001, installDir);
    Press(walk.sheet, PSBTN_NEXT);
    HWND next = nullptr;
    WaitFor([&] {
        Box box;
        if (ReadBox(box, 0, pid)) {
            walk.questions.push_back(box);
            Answer(box, IDYES);
        }
        next = CurrentPage(walk.sheet);
        return next != nullptr && (GetDlgItem(next, 1006) != nullptr || GetDlgItem(next, 1008) != nullptr);
    }, 15000);
    if (next != nullptr && GetDlgItem(next, 1006) != nullptr) {
        SendMessageA(GetDlgItem(next, 1006), BM_SETCHECK, startMenu ? BST_CHECKED : BST_UNCHECKED, 0);
        Press(walk.sheet, PSBTN_NEXT);
        next = WaitPage(walk.sheet, 1008, 10000);
    }
    if (next == nullptr || GetDlgItem(next, 1008) == nullptr)
        return walk;
    walk.page = next;
    walk.complete = WaitFor([&] {
        Box box;
        if (ReadBox(box, 0, pid)) {
            walk.boxes.push_back(box);
            Answer(box, IDOK);
        }
        return ItemText(next, 1008) == Complete && ButtonEnabled(walk.sheet, FinishButton);
    }, 90000);
    return walk;
}

// What the removal showed, started the way the user starts it.
struct Removal {
    std::vector<Box> boxes;
    std::string outcome;
    int status = -1;
};

Removal RemoveByUninstallCommand(const std::string &folder, const std::string &title,
                                 const std::function<int(const Box &)> &answer)
{
    Removal removal;
    const std::string command = RegRead(HKEY_LOCAL_MACHINE, UninstallRoot + folder, "UninstallString");
    Running request{Start(command, SystemDirectory())};
    Box confirm;
    if (!WaitBox(confirm, 15000, request.process.id) || confirm.text != title + "を削除します。") {
        removal.outcome = "<no confirmation: " + confirm.text + ">";
        return removal;
    }
    Answer(confirm, IDOK);
    WaitExit(request.process);
    HWND dialog = WaitDialog(title + "の削除");
    if (dialog == nullptr) {
        removal.outcome = "<no removal dialog>";
        return removal;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    Running copy;
    copy.process.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    copy.process.id = pid;
    WaitFor([&] {
        Box box;
        if (ReadBox(box, 0, pid)) {
            removal.boxes.push_back(box);
            Answer(box, answer(box));
        }
        return IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) && ItemText(dialog, 1010) != Working;
    }, 60000);
    removal.outcome = ItemText(dialog, 1010);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    removal.status = WaitExit(copy.process);
    return removal;
}

void ExpectError(const Box &box, const std::string &text, HWND owner)
{
    EXPECT_EQ(text, box.text);
    EXPECT_EQ("エラー", box.caption) << box.text;
    EXPECT_EQ("error", box.icon) << box.text;
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons) << box.text;
    if (owner != nullptr) {
        EXPECT_EQ(owner, box.owner) << box.text;
    }
}

std::vector<std::string> Texts(const std::vector<Box> &boxes)
{
    std::vector<std::string> texts;
    for (const Box &box : boxes)
        texts.push_back(box.text);
    return texts;
}

// Counts the scenarios, so that a run of the whole file ends with one line.
class FaultTally : public testing::EmptyTestEventListener {
    int run = 0, passed = 0;
    void OnTestEnd(const testing::TestInfo &info) override
    {
        if (std::string(info.test_suite_name()) != "Faults" || info.result()->Skipped())
            return;
        ++run;
        if (info.result()->Passed())
            ++passed;
    }
    void OnTestProgramEnd(const testing::UnitTest &) override
    {
        if (run > 0)
            printf("faults: %d of %d scenarios passed\n", passed, run);
    }
};

const bool TallyInstalled = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FaultTally);
    return true;
}();

}  // namespace

TEST(Faults, DiskFullDuringTheCopySteps)
{
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA("S:\\", &available, &total, &free) || total.QuadPart > 200ULL * 1048576)
        GTEST_SKIP() << "no small drive S: in this rig";
    SetWindowsVersion("win7");
    const std::string title = "満杯試験", folder = "FaultDiskFull";
    const std::string installDir = "S:\\faultfull\\inst\\";
    const std::string filler = "S:\\faultfull-filler.bin";
    Clean(folder, title, installDir);
    DeleteFileA(filler.c_str());
    // The file after BIG.DAT is empty: it needs no room, so it is copied
    // even when the failed copy has left part of BIG.DAT filling the drive.
    const std::string entries = "1=SMALL.TXT\n2=SMALL2.TXT,DATA\\SMALL2.TXT\n3=BIG.DAT\n4=EMPTY.TXT,DATA\\EMPTY.TXT\n";
    std::string dir = MakeDist("fault_full", InstallScript(title, folder, entries).c_str(), true);
    WriteFile(dir + "SMALL.TXT", "small one");
    WriteFile(dir + "SMALL2.TXT", "small two");
    WriteFile(dir + "EMPTY.TXT", "");
    WriteFile(dir + "BIG.DAT", std::string(4 << 20, 'B'));

    // Fill the drive up to 2 MB: room for the setup program, the script and
    // the small files, not for BIG.DAT.
    ASSERT_TRUE(GetDiskFreeSpaceExA("S:\\", &available, &total, &free));
    ASSERT_GT(free.QuadPart, 3ULL << 20);
    {
        HANDLE file = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        std::string block(1 << 20, 'F');
        unsigned long long left = free.QuadPart - (2ULL << 20);
        DWORD written = 0;
        while (left > 0) {
            DWORD n = DWORD(left < block.size() ? left : block.size());
            if (!::WriteFile(file, block.data(), n, &written, nullptr) || written == 0)
                break;
            left -= written;
        }
        CloseHandle(file);
    }
    DWORD sectors, bytes, freeClusters, clusters;
    ASSERT_TRUE(GetDiskFreeSpaceA("S:\\", &sectors, &bytes, &freeClusters, &clusters));
    const unsigned megabytes =
        unsigned(static_cast<unsigned long long>(freeClusters / 10) * sectors * bytes / 102 / 1024);

    Running running;
    Walk walk = WalkTo(running, dir, installDir, false);
    ASSERT_TRUE(walk.complete) << "boxes: " << testing::PrintToString(Texts(walk.boxes));
    ASSERT_EQ(1u, walk.questions.size());
    EXPECT_EQ("指定されたドライブの残り容量が " + std::to_string(megabytes) +
                  "メガバイトしかありません。かまわずにインストールしますか？",
              walk.questions[0].text);
    EXPECT_EQ(title, walk.questions[0].caption);
    // The one file that does not fit is reported by its name in the script,
    // and the steps go on past it.
    ASSERT_EQ(1u, walk.boxes.size()) << testing::PrintToString(Texts(walk.boxes));
    ExpectError(walk.boxes[0], "BIG.DAT のコピーに失敗しました。", walk.sheet);
    EXPECT_EQ("small one", ReadFile(installDir + "SMALL.TXT"));
    EXPECT_EQ("small two", ReadFile(installDir + "DATA\\SMALL2.TXT"));
    EXPECT_EQ("", ReadFile(installDir + "DATA\\EMPTY.TXT"));
    EXPECT_EQ(ReadFile(dir + "SETUP.EXE"), ReadFile(installDir + "SETUP.EXE"));
    EXPECT_NE(ReadFile(dir + "BIG.DAT"), ReadFile(installDir + "BIG.DAT"));
    // Registered all the same, and Finish ends the wizard.
    EXPECT_EQ(title, RegRead(HKEY_LOCAL_MACHINE, UninstallRoot + folder, "DisplayName"));
    EXPECT_EQ("\"" + installDir + "SETUP.EXE\" /r", RegRead(HKEY_LOCAL_MACHINE, UninstallRoot + folder, "UninstallString"));
    Press(walk.sheet, PSBTN_FINISH);
    EXPECT_EQ(1, WaitExit(running.process));

    DeleteFileA(filler.c_str());
    Clean(folder, title, installDir);
    RemoveTree("S:\\faultfull");
    RemoveTree("C:\\e2e\\fault_full");
}

// Where the desktop's shell cannot start the product as the user, the
// elevated run starts nothing itself, neither the product nor the document,
// and says where to start it.
TEST(Faults, FinishWithoutTheDesktopsShellStartsNothing)
{
    SetWindowsVersion("win7");
    const std::string title = "起動なし", folder = "FaultNoShell", installDir = "C:\\e2e\\fault_noshell\\inst\\";
    Clean(folder, title, installDir);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    std::string dir = MakeDist("fault_noshell", InstallScript(title, folder, "Open=README.TXT\n1=APP.EXE\n2=README.TXT\n").c_str());
    ASSERT_TRUE(CopyFileA(TEST_SEAMS_SETUP_EXE, (dir + "SETUP.EXE").c_str(), FALSE));
    RegisterTextOpener("C:\\e2e\\fault_noshell\\opened.txt");
    SetEnvironmentVariableA("SETUP_TEST_REFUSE", "ShellWindows");
    Running running;
    Walk walk = WalkTo(running, dir, installDir, false);
    SetEnvironmentVariableA("SETUP_TEST_REFUSE", nullptr);
    ASSERT_TRUE(walk.complete);
    Press(walk.sheet, PSBTN_FINISH);
    Box box;
    ASSERT_TRUE(ReadBox(box, 15000, running.process.id));
    EXPECT_EQ(title + "のインストールは完了しました。スタートメニューから起動してください。", box.text);
    EXPECT_EQ(title, box.caption);
    EXPECT_EQ("information", box.icon);
    Answer(box, IDOK);
    EXPECT_EQ(1, WaitExit(running.process));
    Sleep(1000);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\SampleApp")) << "the product was started";
    EXPECT_FALSE(Exists("C:\\e2e\\fault_noshell\\opened.txt")) << "the document was opened";
    UnregisterTextOpener();
    Clean(folder, title, installDir);
    RemoveTree("C:\\e2e\\fault_noshell");
}

TEST(Faults, ReinstallOverARunningProgram)
{
    SetWindowsVersion("win7");
    const std::string title = "再インストール", folder = "FaultReinstall";
    const std::string installDir = "C:\\e2e\\fault_reinstall\\inst\\";
    const std::string key = UninstallRoot + folder;
    Clean(folder, title, installDir);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    std::string dir = MakeDist("fault_reinstall",
                               InstallScript(title, folder, "1=APP.EXE\n2=HELP\\APP.HLP,APP.HLP\n3=DATA.DAT,DATA\\DATA.DAT\n").c_str());
    ASSERT_TRUE(InstallSample(dir, installDir));

    // Since then: a value of another program in the key, a file of the
    // user's, a damaged data file, and the program running.
    RegWrite(HKEY_LOCAL_MACHINE, key, "Publisher", "someone else's value");
    WriteFile(installDir + "USER.TXT", "the user's notes");
    WriteFile(installDir + "DATA\\DATA.DAT", "damaged");
    // Finish had the desktop's shell start the program, which records its
    // start in its own time: the record of the held one must come after it.
    ASSERT_TRUE(WaitFor([] { return !RegRead(HKEY_CURRENT_USER, "Software\\SampleApp", "LastCommandLine").empty(); },
                        15000));
    Running app{Start("\"" + installDir + "APP.EXE\" /hold", installDir)};
    ASSERT_TRUE(WaitFor([] {
        return RegRead(HKEY_CURRENT_USER, "Software\\SampleApp", "LastCommandLine").find("/hold") != std::string::npos;
    }, 15000));
    const std::string appBefore = ReadFile(installDir + "APP.EXE");

    Running running;
    Walk walk = WalkTo(running, dir, installDir, false);
    ASSERT_TRUE(walk.complete) << testing::PrintToString(Texts(walk.boxes));
    EXPECT_EQ(installDir, walk.proposed);  // the earlier installation's directory
    ASSERT_EQ(1u, walk.boxes.size()) << testing::PrintToString(Texts(walk.boxes));
    ExpectError(walk.boxes[0], installDir + "APP.EXE は他で使用中のため上書きできません。", walk.sheet);
    EXPECT_EQ(appBefore, ReadFile(installDir + "APP.EXE"));
    EXPECT_EQ(ReadFile(dir + "DATA.DAT"), ReadFile(installDir + "DATA\\DATA.DAT"));
    EXPECT_EQ("the user's notes", ReadFile(installDir + "USER.TXT"));
    EXPECT_EQ(title, RegRead(HKEY_LOCAL_MACHINE, key, "DisplayName"));
    EXPECT_EQ("\"" + installDir + "SETUP.EXE\" /r", RegRead(HKEY_LOCAL_MACHINE, key, "UninstallString"));
    EXPECT_EQ("someone else's value", RegRead(HKEY_LOCAL_MACHINE, key, "Publisher"));
    Press(walk.sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(running.process));

    Kill(app.process);
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    Clean(folder, title, installDir);
    RemoveTree("C:\\e2e\\fault_reinstall");
}

TEST(Faults, ReadOnlyInstalledFileAtRemoval)
{
    SetWindowsVersion("win7");
    const std::string title = "読取専用", folder = "FaultReadOnly";
    const std::string installDir = "C:\\e2e\\fault_readonly\\inst\\";
    Clean(folder, title, installDir);
    std::string dir = MakeDist("fault_readonly",
                               InstallScript(title, folder, "1=APP.EXE\n2=HELP\\APP.HLP,APP.HLP\n3=DATA.DAT,DATA\\DATA.DAT\n").c_str());
    ASSERT_TRUE(InstallSample(dir, installDir));
    RegDeleteTree(HKEY_CURRENT_USER, "Software\\SampleApp");
    ASSERT_TRUE(Exists(ShellFolder("Programs") + "\\" + title + ".lnk"));
    ASSERT_TRUE(SetFileAttributesA((installDir + "APP.HLP").c_str(), FILE_ATTRIBUTE_READONLY));

    // The file cannot go: reported when its entry comes, asked about in the
    // sweep (Yes), reported again, and its directory stays.
    Removal removal = RemoveByUninstallCommand(folder, title, [](const Box &box) {
        return box.buttons.size() == 3 ? IDYES : IDOK;
    });
    const std::string failed = installDir + "APP.HLP" + "の削除に失敗しました。このファイルをスキップして処理を続行します。";
    const std::vector<std::string> expected = {
        failed, installDir + "APP.HLP - このファイルを削除してもいいですか？", failed,
        installDir.substr(0, installDir.size() - 1) + " - ディレクトリの削除に失敗しました"};
    ASSERT_EQ(expected, Texts(removal.boxes));
    HWND dialog = removal.boxes[0].owner;
    EXPECT_NE(nullptr, dialog);
    ExpectError(removal.boxes[0], failed, dialog);
    EXPECT_EQ(title, removal.boxes[1].caption);
    EXPECT_EQ("question", removal.boxes[1].icon);
    EXPECT_EQ((std::vector<int>{IDCANCEL, IDYES, IDNO}), removal.boxes[1].buttons);
    ExpectError(removal.boxes[2], failed, dialog);
    ExpectError(removal.boxes[3], expected[3], dialog);
    EXPECT_EQ(installDir + " にはまだファイルが残っています。後で削除してください。", removal.outcome);
    EXPECT_EQ(1, removal.status);

    // Only the read-only file is left; everything else went.
    EXPECT_TRUE(Exists(installDir + "APP.HLP"));
    for (const char *gone : {"APP.EXE", "SETUP.EXE", "SETUP.INF", "DATA"})
        EXPECT_FALSE(Exists(installDir + gone)) << gone;
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallRoot + folder));
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\" + title + ".lnk"));
    Clean(folder, title, installDir);
    RemoveTree("C:\\e2e\\fault_readonly");
}

namespace {

// A Program Manager of the driver's own. It takes every conversation (its
// window, the newest, hears the broadcast before the prefix's shell does)
// and records every command; it acknowledges them, or, when hung, never.
struct ProgmanServer {
    bool hung = false;
    HWND window = nullptr;
    DWORD thread = 0;
    HANDLE handle = nullptr;
    volatile LONG conversations = 0;
    CRITICAL_SECTION lock;
    std::vector<std::string> commands;
} Server;

LRESULT CALLBACK ProgmanServerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DDE_INITIATE: {
        char service[64] = "", topic[64] = "";
        if (LOWORD(lParam))
            GlobalGetAtomNameA(LOWORD(lParam), service, sizeof service);
        if (HIWORD(lParam))
            GlobalGetAtomNameA(HIWORD(lParam), topic, sizeof topic);
        if (lstrcmpiA(service, "PROGMAN") == 0 && lstrcmpiA(topic, "PROGMAN") == 0) {
            InterlockedIncrement(&Server.conversations);
            SendMessageA(reinterpret_cast<HWND>(wParam), WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                         MAKELPARAM(GlobalAddAtomA("PROGMAN"), GlobalAddAtomA("PROGMAN")));
        }
        return 0;
    }
    case WM_DDE_EXECUTE: {
        HGLOBAL data = reinterpret_cast<HGLOBAL>(lParam);
        const char *text = static_cast<const char *>(GlobalLock(data));
        EnterCriticalSection(&Server.lock);
        Server.commands.push_back(text ? text : "<no data>");
        LeaveCriticalSection(&Server.lock);
        GlobalUnlock(data);
        if (!Server.hung)
            PostMessageA(reinterpret_cast<HWND>(wParam), WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                         PackDDElParam(WM_DDE_ACK, 0x8000, lParam));
        return 0;
    }
    case WM_DDE_TERMINATE:
        PostMessageA(reinterpret_cast<HWND>(wParam), WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI ProgmanServerThread(LPVOID ready)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ProgmanServerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "RobProgmanServer";
    RegisterClassA(&windowClass);
    Server.window = CreateWindowA("RobProgmanServer", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    DestroyWindow(Server.window);
    return 0;
}

// Serves as Program Manager for the scope, on the old shell.
struct ServingProgman {
    explicit ServingProgman(bool hung)
    {
        InitializeCriticalSection(&Server.lock);
        Server.hung = hung;
        Server.conversations = 0;
        Server.commands.clear();
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Server.handle = CreateThread(nullptr, 0, ProgmanServerThread, ready, 0, &Server.thread);
        WaitForSingleObject(ready, 10000);
        CloseHandle(ready);
        SetWindowsVersion("nt351");
    }
    ~ServingProgman()
    {
        SetWindowsVersion("win7");
        PostThreadMessageA(Server.thread, WM_QUIT, 0, 0);
        WaitForSingleObject(Server.handle, 5000);
        CloseHandle(Server.handle);
        DeleteCriticalSection(&Server.lock);
    }
    std::vector<std::string> Take()
    {
        EnterCriticalSection(&Server.lock);
        std::vector<std::string> taken;
        taken.swap(Server.commands);
        LeaveCriticalSection(&Server.lock);
        return taken;
    }
};

}  // namespace

TEST(Faults, ProgramManagerThatNeverAnswersOnTheOldShell)
{
    const std::string title = "無応答", folder = "FaultHungProgman";
    const std::string installDir = "C:\\e2e\\fault_progman\\inst\\";
    Clean(folder, title, installDir);
    std::string dir = MakeDist("fault_progman", InstallScript(title, folder, "1=APP.EXE\n[Group]\n1=無応答,APP.EXE\n").c_str());
    {
        ServingProgman progman(true);
        Running running;
        DWORD started = GetTickCount();
        Walk walk = WalkTo(running, dir, installDir, true);
        DWORD took = GetTickCount() - started;
        EXPECT_TRUE(walk.complete);
        EXPECT_TRUE(walk.boxes.empty()) << testing::PrintToString(Texts(walk.boxes));
        // The shell took the conversation and both commands, the group and
        // its item, and answered neither: each waits out its time, no longer.
        EXPECT_EQ(1, Server.conversations);
        EXPECT_EQ(2u, progman.Take().size());
        EXPECT_LT(took, 60000u);
        EXPECT_EQ(title, RegRead(HKEY_LOCAL_MACHINE, UninstallRoot + folder, "DisplayName"));
        EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\" + title));
        if (walk.sheet != nullptr)
            Press(walk.sheet, PSBTN_CANCEL);
        EXPECT_EQ(1, WaitExit(running.process));
    }
    Clean(folder, title, installDir);
    RemoveTree("C:\\e2e\\fault_progman");
}

// Group and item names go to Program Manager as they are written in the
// script; one that is no plain name is never sent, neither at installation
// nor at removal, while the others are. (A Title of dots or separators is
// refused at start-up, before Program Manager hears of it.)
TEST(Faults, ProgramManagerGetsOnlyPlainNames)
{
    const std::string groups = "[Group]\n1=旧名前,APP.EXE\n2=..,APP.EXE\n3=*,APP.EXE\n4=Sub\\..\\..,APP.EXE\n"
                               "5=ソ表,APP.EXE,/x\n";
    for (const std::string title : {"旧名前", "*"}) {
        SCOPED_TRACE("Title " + title);
        const std::string folder = "FaultPlainNames";
        const std::string installDir = "C:\\e2e\\fault_names\\inst\\";
        Clean(folder, title == "旧名前" ? title : "x", installDir);
        std::string dir = MakeDist("fault_names", InstallScript(title, folder, "1=APP.EXE\n" + groups).c_str());
        ServingProgman progman(false);
        {
            Running running;
            Walk walk = WalkTo(running, dir, installDir, true);
            ASSERT_TRUE(walk.complete);
            EXPECT_TRUE(walk.boxes.empty()) << testing::PrintToString(Texts(walk.boxes));
            Press(walk.sheet, PSBTN_CANCEL);
            EXPECT_EQ(1, WaitExit(running.process));
        }
        char shortPath[MAX_PATH] = "";
        GetShortPathNameA((installDir + "APP.EXE").c_str(), shortPath, sizeof shortPath);
        std::vector<std::string> expected;
        if (title == "旧名前")
            expected = {"[CreateGroup(\"旧名前\",0)]", "[AddItem(\"" + std::string(shortPath) + "\",\"旧名前\")]",
                        "[AddItem(\"" + std::string(shortPath) + " /x\",\"ソ表\")]"};
        EXPECT_EQ(expected, progman.Take());

        Removal removal = RemoveByUninstallCommand(folder, title, [](const Box &) { return IDOK; });
        EXPECT_TRUE(removal.boxes.empty()) << testing::PrintToString(Texts(removal.boxes));
        EXPECT_EQ(title + "は正常に削除されました。", removal.outcome);
        expected.clear();
        if (title == "旧名前")
            expected = {"[DeleteGroup(\"旧名前\",0)]", "[DeleteGroup(\"旧名前\",0)]", "[ShowGroup(\"スタートアップ\",1)]",
                        "[DeleteItem(\"旧名前\")]"};
        EXPECT_EQ(expected, progman.Take());
        // Every conversation went to this Program Manager, none to the prefix's.
        EXPECT_EQ(title == "旧名前" ? 4 : 0, Server.conversations);
        if (title == "旧名前") {
            EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\" + title));
        }
        EXPECT_TRUE(IsDirectory(ShellFolder("Programs")));
        Clean(folder, "x", installDir);
    }
    RemoveTree("C:\\e2e\\fault_names");
}

TEST(Faults, ShellFoldersValuesMissing)
{
    SetWindowsVersion("win7");
    const std::string title = "フォルダ不明", folder = "FaultNoFolders";
    const std::string installDir = "C:\\e2e\\fault_folders\\inst\\";
    Clean(folder, title, installDir);
    std::string dir = MakeDist("fault_folders", InstallScript(title, folder, "1=APP.EXE\n2=DATA.DAT\n").c_str());
    const std::vector<std::string> kinds = {"Programs", "Desktop", "Startup"};
    std::vector<std::string> saved;
    for (const std::string &kind : kinds)
        saved.push_back(ShellFolder(kind.c_str()));
    for (const std::string &path : saved)
        ASSERT_EQ(':', path.size() > 1 ? path[1] : 0) << path;
    // The prefix's shell writes these values back whenever a program looks a
    // folder up; while the key refuses writes they stay gone.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, ShellFoldersKey, 0,
                                           KEY_SET_VALUE | READ_CONTROL | WRITE_DAC, &key));
    std::vector<BYTE> original(8192);
    DWORD originalSize = DWORD(original.size());
    ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, original.data(), &originalSize));
    PSECURITY_DESCRIPTOR refuseWrites = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x6;;;WD)(A;;0xF003F;;;WD)",
                                                                     SDDL_REVISION_1, &refuseWrites, nullptr));
    // Put everything back whatever happens below: every later scenario needs it.
    struct Restore {
        std::function<void()> restore;
        ~Restore() { restore(); }
    } restore{[&] {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, original.data());
        RegCloseKey(key);
        LocalFree(refuseWrites);
        for (size_t i = 0; i < kinds.size(); ++i)
            RegWrite(HKEY_CURRENT_USER, ShellFoldersKey, kinds[i], saved[i]);
    }};
    for (const std::string &kind : kinds)
        RegDeleteValueA(key, kind.c_str());
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, refuseWrites));

    // Start menu and desktop both asked for: neither can be placed.
    Running running;
    running.process = Start("\"" + dir + "SETUP.EXE\"", dir);
    HWND sheet = WaitWizard(15000, running.process.id);
    HWND page = sheet ? WaitPage(sheet, 1001) : nullptr;
    bool complete = false;
    if (page != nullptr && WaitFor([&] { return ButtonEnabled(sheet, NextButton); }, 5000)) {
        SetItemText(page, 1001, installDir);
        Press(sheet, PSBTN_NEXT);
        HWND options = WaitPage(sheet, 1006, 10000);
        if (options != nullptr) {
            SendMessageA(GetDlgItem(options, 1005), BM_SETCHECK, BST_CHECKED, 0);
            Press(sheet, PSBTN_NEXT);
            HWND progress = WaitPage(sheet, 1008, 10000);
            complete = progress != nullptr && WaitItemText(progress, 1008, Complete, 30000);
        }
    }
    EXPECT_TRUE(complete);
    EXPECT_TRUE(NoBox(500, running.process.id));
    std::vector<std::string> refilled;
    for (const std::string &kind : kinds)
        refilled.push_back(ShellFolder(kind.c_str()));
    if (sheet != nullptr)
        Press(sheet, PSBTN_CANCEL);
    EXPECT_EQ(1, WaitExit(running.process));
    // No shortcut anywhere, the registration as usual.
    for (const std::string &path : saved) {
        EXPECT_FALSE(Exists(path + "\\" + title + ".lnk")) << path;
        EXPECT_FALSE(Exists(path + "\\" + title)) << path;
    }
    for (const std::string &value : refilled)
        EXPECT_EQ("<no value>", value);
    EXPECT_EQ(title, RegRead(HKEY_LOCAL_MACHINE, UninstallRoot + folder, "DisplayName"));

    // The removal has nothing to delete there and completes.
    Removal removal = RemoveByUninstallCommand(folder, title, [](const Box &) { return IDOK; });
    EXPECT_TRUE(removal.boxes.empty()) << testing::PrintToString(Texts(removal.boxes));
    EXPECT_EQ(title + "は正常に削除されました。", removal.outcome);
    EXPECT_EQ(1, removal.status);
    EXPECT_FALSE(Exists(installDir));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallRoot + folder));

    Clean(folder, title, installDir);
    RemoveTree("C:\\e2e\\fault_folders");
}
