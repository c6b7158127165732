// Program Manager groups over DDE. The command sequences are checked against
// a small PROGMAN server of our own in this process, byte for byte, and their
// effect against the Program Manager service of the prefix's own shell.
// Tests named ProgmanDde* take the prefix lock: a PROGMAN server answers
// every process of the prefix.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include <objbase.h>
#include <shlobj.h>
#include "script/state.h"
#include "testpaths.h"

using Commands = std::vector<std::string>;

static void MakeDirs(const std::string &path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

static void Touch(const std::string &path)
{
    MakeDirs(path);
    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

static std::string ShortPath(const std::string &path)
{
    char text[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), text, MAX_PATH);
    return length != 0 && length < MAX_PATH ? text : "";
}

// Loads a script as start-up does, then installs into dir.
static void UseScript(const std::string &scriptPath, const std::string &dir)
{
    ResetSetupState();
    lstrcpyA(State.scriptPath, scriptPath.c_str());
    ASSERT_TRUE(LoadSetupScript());
    lstrcpyA(State.installDir, dir.c_str());
    lstrcpyA(State.exeName, "SETUP.EXE");
}

static std::string WriteScript(const std::string &dir, const std::string &text)
{
    std::string path = dir + "SETUP.INF";
    MakeDirs(path);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

TEST(ProgmanClient, WithoutAServerNothingIsSent)
{
    ResetSetupState();
    EXPECT_FALSE(ExecuteDdeCommand("[CreateGroup(\"無し\",0)]"));
    EXPECT_EQ(DMLERR_NO_ERROR, StartDdeClient());
    EXPECT_NE(0u, State.ddeInstance);
    // Re-initialising keeps the one instance of the process.
    DWORD instance = State.ddeInstance;
    StartDdeClient();
    EXPECT_EQ(instance, State.ddeInstance);
    EXPECT_FALSE(ConnectDdeServer("SetupUnitNobodyServesThis", "PROGMAN"));
    EXPECT_EQ(nullptr, State.ddeConversation);
    EXPECT_FALSE(ExecuteDdeCommand("[DeleteGroup(\"無し\",0)]"));
}

TEST(ProgmanClient, OnlyTheCurrentConversationsEndClearsIt)
{
    ResetSetupState();
    HCONV current = reinterpret_cast<HCONV>(0x1234);
    State.ddeConversation = current;
    EXPECT_EQ(nullptr, DdeClientCallback(XTYP_DISCONNECT, 0, reinterpret_cast<HCONV>(0x999), nullptr, nullptr,
                                         nullptr, 0, 0));
    EXPECT_EQ(current, State.ddeConversation);
    EXPECT_EQ(nullptr, DdeClientCallback(XTYP_REGISTER, 0, current, nullptr, nullptr, nullptr, 0, 0));
    EXPECT_EQ(current, State.ddeConversation);
    EXPECT_EQ(nullptr, DdeClientCallback(XTYP_DISCONNECT, 0, current, nullptr, nullptr, nullptr, 0, 0));
    EXPECT_EQ(nullptr, State.ddeConversation);
}

TEST(ProgmanClient, ShortCommandsUseTheShortTargetAndKeepArguments)
{
    std::string dir = "C:\\ut\\progman_short\\Long Directory Name\\";
    Touch(dir + "Application.exe");
    std::string shortTarget = ShortPath(dir + "Application.exe");
    ASSERT_NE("", shortTarget);
    ASSERT_NE(dir + "Application.exe", shortTarget);

    char text[PATH_SIZE];
    lstrcpyA(text, (dir + "Application.exe,-a,-b").c_str());
    EXPECT_TRUE(ToShortCommand(text, PATH_SIZE));
    EXPECT_EQ(shortTarget + " -a,-b", text);  // only the first comma becomes a blank
    lstrcpyA(text, (dir + "Application.exe").c_str());
    EXPECT_TRUE(ToShortCommand(text, PATH_SIZE));
    EXPECT_EQ(shortTarget, text);

    // A target not yet on disk has no short form: its long path stands in.
    lstrcpyA(text, (dir + "Missing File.exe,/x").c_str());
    EXPECT_TRUE(ToShortCommand(text, PATH_SIZE));
    EXPECT_EQ(dir + "Missing File.exe /x", text);

    // A command that does not fit is refused, and the text stays as it was.
    std::string longArgs = dir + "Missing File.exe," + std::string(PATH_SIZE - 1 - dir.size() - 17, 'A');
    ASSERT_EQ(size_t(PATH_SIZE - 1), longArgs.size());
    lstrcpyA(text, longArgs.c_str());
    EXPECT_TRUE(ToShortCommand(text, PATH_SIZE));  // the blank takes the comma's place: still fits
    lstrcpyA(text, longArgs.c_str());
    EXPECT_FALSE(ToShortCommand(text, 100));
    EXPECT_EQ(longArgs, text);
}

// Our own Program Manager: records every execute string with its terminator.
static CRITICAL_SECTION recordLock;
static Commands recorded;
static DWORD serverInstance;

static HDDEDATA CALLBACK RecordingServer(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(TRUE);
    case XTYP_EXECUTE: {
        DWORD size = DdeGetData(data, nullptr, 0, 0);
        std::string bytes(size, '\0');
        DdeGetData(data, reinterpret_cast<BYTE *>(&bytes[0]), size, 0);
        EnterCriticalSection(&recordLock);
        recorded.push_back(bytes);
        LeaveCriticalSection(&recordLock);
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    default:
        return nullptr;
    }
}

struct ServerThread {
    HANDLE ready;
    DWORD threadId;
};

static DWORD WINAPI ServeProgman(void *parameter)
{
    ServerThread *server = static_cast<ServerThread *>(parameter);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // a queue before anyone posts WM_QUIT
    DdeInitializeA(&serverInstance, RecordingServer, APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_POKES |
                                                         CBF_FAIL_REQUESTS | CBF_SKIP_ALLNOTIFICATIONS, 0);
    HSZ name = DdeCreateStringHandleA(serverInstance, "PROGMAN", 0);
    DdeNameService(serverInstance, name, nullptr, DNS_REGISTER);
    SetEvent(server->ready);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DdeNameService(serverInstance, nullptr, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(serverInstance, name);
    DdeUninitialize(serverInstance);
    return 0;
}

static Commands TakeRecorded()
{
    EnterCriticalSection(&recordLock);
    Commands taken;
    taken.swap(recorded);
    LeaveCriticalSection(&recordLock);
    return taken;
}

// Each command as sent: its text and the terminating zero.
static Commands Sent(std::initializer_list<std::string> texts)
{
    Commands commands;
    for (const std::string &text : texts)
        commands.push_back(text + '\0');
    return commands;
}

TEST(ProgmanDdeServer, CommandSequencesAreSentInOrderByteForByte)
{
    InitializeCriticalSection(&recordLock);
    ServerThread server = {CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE thread = CreateThread(nullptr, 0, ServeProgman, &server, 0, &server.threadId);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.ready, 10000));

    std::string dir = "C:\\ut\\progman_sequences\\Program Files\\Sample App\\";
    for (const char *name : {"APP.EXE", "APP.HLP", "SETUP.EXE"})
        Touch(dir + name);
    std::string app = ShortPath(dir + "APP.EXE");
    std::string help = ShortPath(dir + "APP.HLP");
    std::string setup = ShortPath(dir + "SETUP.EXE");
    ASSERT_NE(dir + "APP.EXE", app);

    // The sample product, forwarded from the shell entry point on the old shell.
    UseScript(TEST_SAMPLE_DIR "\\SETUP.INF", dir);
    State.newShell = 0;
    UpdateShellItems(Programs, 0);
    Commands withGroups = Sent({"[CreateGroup(\"サンプル\",0)]", "[AddItem(\"" + app + "\",\"サンプル\")]",
                                "[AddItem(\"" + app + " /setup\",\"サンプル (設定)\")]",
                                "[AddItem(\"" + help + "\",\"ヘルプ\")]"});
    EXPECT_EQ(withGroups, TakeRecorded());
    UpdateShellItems(Desktop, 0);
    EXPECT_EQ(withGroups, TakeRecorded());
    UpdateShellItems(Startup, 0);
    EXPECT_EQ(Sent({"[ShowGroup(\"スタートアップ\",1)]", "[AddItem(\"" + app + "\",\"サンプル\")]"}),
              TakeRecorded());

    // The removal asks for all three kinds whatever was made.
    for (int kind : {Programs, Desktop, Startup})
        UpdateShellItems(kind, 1);
    EXPECT_EQ(Sent({"[DeleteGroup(\"サンプル\",0)]", "[DeleteGroup(\"サンプル\",0)]",
                    "[ShowGroup(\"スタートアップ\",1)]", "[DeleteItem(\"サンプル\")]"}),
              TakeRecorded());

    // Without [Group] entries: the program and its removal, and the Startup
    // item takes [Install] entry 1.
    UseScript(WriteScript("C:\\ut\\progman_sequences\\", "[Install]\nTitle=単品\nFolder=Single\n1=APP.EXE\n"), dir);
    UpdateProgmanItems(Programs, 0);
    EXPECT_EQ(Sent({"[CreateGroup(\"単品\",0)]", "[AddItem(\"" + app + "\",\"単品\")]",
                    "[AddItem(\"" + setup + " /r\",\"SETUP.EXEの削除\")]"}),
              TakeRecorded());
    UpdateProgmanItems(Startup, 0);
    EXPECT_EQ(Sent({"[ShowGroup(\"スタートアップ\",1)]", "[AddItem(\"" + app + "\",\"単品\")]"}), TakeRecorded());

    // The Startup item takes [Group] entry 1 with its arguments; a missing
    // target keeps its long path; a caption that would break out of its
    // quotes or a command beyond 259 bytes is not sent, and the rest go on.
    UseScript(WriteScript("C:\\ut\\progman_sequences\\",
                          "[Install]\nTitle=道具\nFolder=Tools\n1=APP.EXE\n[Group]\n1=設定,APP.EXE,/setup,/b\n"
                          "2=引用\"),[DeleteGroup(\"他,APP.EXE\n3=" + std::string(230, 'L') + ",APP.EXE\n"
                          "4=未導入,bin\\tool.exe,-a\n"),
              dir);
    ASSERT_EQ(4, State.groupCount);
    UpdateProgmanItems(Startup, 0);
    EXPECT_EQ(Sent({"[ShowGroup(\"スタートアップ\",1)]", "[AddItem(\"" + app + " /setup,/b\",\"道具\")]"}),
              TakeRecorded());
    UpdateProgmanItems(Desktop, 0);
    EXPECT_EQ(Sent({"[CreateGroup(\"道具\",0)]", "[AddItem(\"" + app + " /setup,/b\",\"設定\")]",
                    "[AddItem(\"" + dir + "bin\\tool.exe -a\",\"未導入\")]"}),
              TakeRecorded());

    PostThreadMessageA(server.threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(server.ready);
}

// The shell's Program Manager opens every group it creates in a folder
// window of another process; left open, it would outlive the test and hold
// the test's output open. When the previous such window has only just gone,
// the new one takes about ten seconds to come, and is not always titled with
// the group: every folder window that was not there before is closed.
static std::vector<HWND> FolderWindows()
{
    std::vector<HWND> windows;
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "ExplorerWClass", nullptr)) != nullptr;)
        windows.push_back(window);
    return windows;
}

static bool CloseNewFolderWindows(const std::vector<HWND> &before)
{
    std::vector<HWND> fresh;
    for (int tries = 0; tries < 250 && fresh.empty(); ++tries) {
        for (HWND window : FolderWindows())
            if (std::find(before.begin(), before.end(), window) == before.end())
                fresh.push_back(window);
        if (fresh.empty())
            Sleep(100);
    }
    bool closed = !fresh.empty();
    for (HWND window : fresh) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        for (int tries = 0; tries < 100 && IsWindow(window); ++tries)
            Sleep(100);
        closed = closed && !IsWindow(window);
    }
    return closed;
}

TEST(ProgmanDdeWine, TheShellsProgramManagerMakesAndDeletesTheGroup)
{
    std::string dir = "C:\\ut\\progman_wine\\Program Files\\Sample App\\";
    for (const char *name : {"APP.EXE", "APP.HLP", "SETUP.EXE"})
        Touch(dir + name);
    UseScript(TEST_SAMPLE_DIR "\\SETUP.INF", dir);
    // A group name of its own, so that installations of the sample elsewhere are left alone.
    lstrcpyA(State.title, "サンプル旧シェル");

    char programs[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs));
    std::string group = std::string(programs) + "\\サンプル旧シェル\\";

    // The shell's service may still be starting with the desktop.
    StartDdeClient();
    bool answered = false;
    for (int tries = 0; tries < 100 && !answered; ++tries) {
        answered = ConnectDdeServer("PROGMAN", "PROGMAN");
        if (!answered)
            Sleep(100);
    }
    ASSERT_TRUE(answered) << "no Program Manager service in the prefix";

    std::vector<HWND> before = FolderWindows();
    UpdateProgmanItems(Programs, 0);
    EXPECT_TRUE(CloseNewFolderWindows(before));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(group.c_str()));
    // This service cannot find a program named together with its arguments,
    // so the item for "/setup" is refused there; the other two are made.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((group + "サンプル.lnk").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((group + "ヘルプ.lnk").c_str()));

    UpdateProgmanItems(Programs, 1);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(group.c_str()));
}
