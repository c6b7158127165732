// Shell-link shortcuts on the new shell, read back through the shell's own
// ShellLink class. HKEY_CURRENT_USER is redirected for the test process, so
// the Shell Folders values point into C:\ut\<test>\ and the prefix's real
// folders, which other tests use at the same time, are never touched.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>
#include <objbase.h>
#include <shlobj.h>
#include "script/state.h"
#include "common/prefix_files.h"
#include "testpaths.h"

using Names = std::vector<std::string>;

static void MakeDirs(const std::string &path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

static void RemoveTree(const std::string &dir)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + name + "\\");
            else
                DeleteFileA((dir + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

static void Touch(const std::string &path)
{
    MakeDirs(path);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
}

static bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

using prefix_files::ListDir;

static Names Sorted(Names names)
{
    std::sort(names.begin(), names.end());
    return names;
}

using prefix_files::Link;
using prefix_files::ReadLink;

static void ExpectLink(const std::string &file, const std::string &path, const std::string &arguments,
                       const std::string &description, const std::string &workingDirectory)
{
    Link link = ReadLink(file);
    ASSERT_TRUE(link.loaded) << file;
    EXPECT_EQ(path, link.path) << file;
    EXPECT_EQ(arguments, link.arguments) << file;
    EXPECT_EQ(description, link.description) << file;
    EXPECT_EQ(workingDirectory, link.workingDirectory) << file;
}

class ShellLinks : public testing::Test {
protected:
    std::string root, programs, desktop, startup, inst;
    std::string keyName;
    HKEY redirect = nullptr;

    void SetUp() override
    {
        std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        root = "C:\\ut\\links_" + test + "\\";
        RemoveTree(root);
        programs = root + "Start Menu\\Programs\\";
        desktop = root + "Desktop\\";
        startup = root + "Start Menu\\Programs\\StartUp\\";
        inst = root + "Program Files\\App\\";
        for (const std::string *dir : {&programs, &desktop, &startup, &inst})
            MakeDirs(*dir);
        Touch(inst + "APP.EXE");
        Touch(inst + "APP.HLP");

        keyName = "Software\\SetupUnitTests\\links_" + test;
        RegDeleteTreeA(HKEY_CURRENT_USER, keyName.c_str());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &redirect, nullptr));
        // The shell itself fills Shell Folders from User Shell Folders when it
        // looks a folder up, so both point into the test's directory.
        for (const char *key : {"Shell Folders", "User Shell Folders"}) {
            HKEY folders;
            std::string path = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\") + key;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(redirect, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                     nullptr, &folders, nullptr));
            SetFolder(folders, "Programs", programs);
            SetFolder(folders, "Desktop", desktop);
            SetFolder(folders, "StartUp", startup);
            RegCloseKey(folders);
        }
        ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CURRENT_USER, redirect));
        ResetSetupState();
    }

    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (redirect != nullptr)
            RegCloseKey(redirect);
        RegDeleteTreeA(HKEY_CURRENT_USER, keyName.c_str());
        RemoveTree(root);
    }

    static void SetFolder(HKEY folders, const char *name, const std::string &dir)
    {
        std::string value = dir.substr(0, dir.size() - 1);  // stored without the trailing backslash
        RegSetValueExA(folders, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       DWORD(value.size() + 1));
    }

    // Loads a script as the program does at start-up, then installs into inst.
    void UseScript(const std::string &path)
    {
        lstrcpyA(State.scriptPath, path.c_str());
        ASSERT_TRUE(LoadSetupScript());
        lstrcpyA(State.installDir, inst.c_str());
        lstrcpyA(State.exeName, "SETUP.EXE");
        State.newShell = 1;
    }

    void UseScriptText(const std::string &text)
    {
        std::string path = root + "SETUP.INF";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
        CloseHandle(file);
        UseScript(path);
    }
};

TEST_F(ShellLinks, ProgramsWithGroupEntriesFillTheTitleFolder)
{
    UseScript(TEST_SAMPLE_DIR "\\SETUP.INF");
    ASSERT_EQ(3, State.groupCount);
    UpdateShellItems(Programs, 0);

    std::string group = programs + "サンプル\\";
    EXPECT_EQ(Sorted({"サンプル.lnk", "サンプル (設定).lnk", "ヘルプ.lnk"}), ListDir(group));
    EXPECT_EQ(Sorted({"StartUp", "サンプル"}), ListDir(programs));  // no サンプル.lnk beside the folder
    ExpectLink(group + "サンプル.lnk", inst + "APP.EXE", "", "サンプル", inst);
    ExpectLink(group + "サンプル (設定).lnk", inst + "APP.EXE", "/setup", "サンプル (設定)", inst);
    ExpectLink(group + "ヘルプ.lnk", inst + "APP.HLP", "", "ヘルプ", inst);

    // An existing folder is reused, and the links are saved again in place.
    UpdateShellItems(Programs, 0);
    EXPECT_EQ(3u, ListDir(group).size());
    EXPECT_TRUE(ListDir(desktop).empty());
    EXPECT_TRUE(ListDir(startup).empty());
}

TEST_F(ShellLinks, GroupTargetsKeepLaterCommasAndRealDirectories)
{
    Touch(inst + "bin\\tool.exe");
    Touch(inst + "bin\\ソフト.exe");
    UseScriptText("[Install]\nTitle=道具箱\nFolder=ToolBox\n1=APP.EXE\n"
                  "[Group]\n1=ツール,bin\\tool.exe,-a,-b\n2=ソフト,bin\\ソフト.exe\n3=無効?名前,APP.EXE\n"
                  "4=..\\外へ,APP.EXE\n5=" + std::string(240, 'L') + ",APP.EXE\n6=最後,APP.EXE\n");
    ASSERT_EQ(6, State.groupCount);
    UpdateShellItems(Programs, 0);

    // Invalid, escaping and over-long captions cost only their own entry.
    std::string group = programs + "道具箱\\";
    EXPECT_EQ(Sorted({"ツール.lnk", "ソフト.lnk", "最後.lnk"}), ListDir(group));
    EXPECT_EQ(Sorted({"StartUp", "道具箱"}), ListDir(programs));
    ExpectLink(group + "ツール.lnk", inst + "bin\\tool.exe", "-a,-b", "ツール", inst + "bin\\");
    // ソ ends in the byte 0x5C; the working directory is still the real one.
    ExpectLink(group + "ソフト.lnk", inst + "bin\\ソフト.exe", "", "ソフト", inst + "bin\\");
    ExpectLink(group + "最後.lnk", inst + "APP.EXE", "", "最後", inst);
}

TEST_F(ShellLinks, SingleLinksPointAtTheFirstInstallEntry)
{
    // Desktop and Startup ignore the sample's three [Group] entries.
    UseScript(TEST_SAMPLE_DIR "\\SETUP.INF");
    UpdateShellItems(Desktop, 0);
    UpdateShellItems(Startup, 0);
    EXPECT_EQ(Names{"サンプル.lnk"}, ListDir(desktop));
    EXPECT_EQ(Names{"サンプル.lnk"}, ListDir(startup));
    ExpectLink(desktop + "サンプル.lnk", inst + "APP.EXE", "", "サンプル", inst);
    ExpectLink(startup + "サンプル.lnk", inst + "APP.EXE", "", "サンプル", inst);
    EXPECT_EQ(Names{"StartUp"}, ListDir(programs));

    // Without [Group] entries the Start menu gets the same single link, and no folder.
    UseScriptText("[Install]\nTitle=単品\nFolder=Single\n1=APP.EXE,bin\\APP.EXE\n2=APP.HLP\n[Group]\n1=NOCOMMA\n");
    ASSERT_EQ(0, State.groupCount);
    UpdateShellItems(Programs, 0);
    EXPECT_EQ(Sorted({"StartUp", "単品.lnk"}), ListDir(programs));
    ExpectLink(programs + "単品.lnk", inst + "bin\\APP.EXE", "", "単品", inst + "bin\\");
}

TEST_F(ShellLinks, RemovalDeletesWhatItNames)
{
    UseScript(TEST_SAMPLE_DIR "\\SETUP.INF");
    std::string group = programs + "サンプル\\";
    for (int kind : {Programs, Desktop, Startup})
        UpdateShellItems(kind, 0);
    Touch(group + "メモ.txt");          // not made by setup, goes all the same
    Touch(desktop + "他の製品.lnk");    // another product's link stays
    ASSERT_EQ(4u, ListDir(group).size());

    UpdateShellItems(Programs, 1);
    EXPECT_FALSE(Exists(group));
    UpdateShellItems(Desktop, 1);
    EXPECT_EQ(Names{"他の製品.lnk"}, ListDir(desktop));
    UpdateShellItems(Startup, 1);
    EXPECT_TRUE(ListDir(startup).empty());
    EXPECT_EQ(Names{"StartUp"}, ListDir(programs));

    // A sub-folder keeps the folder: the files go, the folder and the sub-folder stay.
    UpdateShellItems(Programs, 0);
    MakeDirs(group + "中身\\");
    Touch(group + "中身\\残る.txt");
    UpdateShellItems(Programs, 1);
    EXPECT_EQ(Names{"中身"}, ListDir(group));
    EXPECT_EQ(Names{"残る.txt"}, ListDir(group + "中身\\"));

    // A directory link there, or in the folder's place, leads elsewhere:
    // only the link goes (this Wine cannot remove one; the host clears it).
    RemoveTree(group);
    MakeDirs(root + "elsewhere\\");
    Touch(root + "elsewhere\\KEEP.TXT");
    MakeDirs(group);
    ASSERT_TRUE(prefix_files::MakeDirectoryLink(group + "LINK", "../../../elsewhere"));
    UpdateShellItems(Programs, 1);
    EXPECT_TRUE(Exists(root + "elsewhere\\KEEP.TXT"));
    ASSERT_TRUE(prefix_files::MakeDirectoryLink(group.substr(0, group.size() - 1), "../../elsewhere"));
    UpdateShellItems(Programs, 1);
    EXPECT_TRUE(Exists(root + "elsewhere\\KEEP.TXT"));
    prefix_files::RunOnHostPath("rm -rf @", group.substr(0, group.size() - 1));
    for (int i = 0; i < 250 && Exists(group); ++i)
        Sleep(20);

    // Removing kinds that were never made changes nothing anywhere.
    RemoveTree(group);
    Names before[] = {ListDir(programs), ListDir(desktop), ListDir(startup)};
    for (int kind : {Programs, Desktop, Startup})
        UpdateShellItems(kind, 1);
    EXPECT_EQ(before[0], ListDir(programs));
    EXPECT_EQ(before[1], ListDir(desktop));
    EXPECT_EQ(before[2], ListDir(startup));
}

TEST_F(ShellLinks, UnusableFolderValueOrTitleSkipsTheKind)
{
    UseScriptText("[Install]\nTitle=サンプル\nFolder=SampleApp\n1=APP.EXE\n");
    HKEY folders;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(redirect, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                           0, KEY_ALL_ACCESS, &folders));
    RegDeleteValueA(folders, "StartUp");
    RegSetValueExA(folders, "Desktop", 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 1);
    RegCloseKey(folders);

    // With no folder the link would land at "\サンプル.lnk", the root of the current drive.
    DeleteFileA("C:\\サンプル.lnk");
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    SetCurrentDirectoryA(root.c_str());
    UpdateShellItems(Startup, 0);
    UpdateShellItems(Desktop, 0);
    SetCurrentDirectoryA(cwd);
    EXPECT_FALSE(Exists("C:\\サンプル.lnk"));
    EXPECT_TRUE(ListDir(desktop).empty());
    EXPECT_TRUE(ListDir(startup).empty());

    // A title that climbs out of the folder makes and sweeps nothing.
    Touch(root + "Start Menu\\keep.txt");
    UseScriptText("[Install]\nTitle=..\nFolder=SampleApp\n1=APP.EXE\n[Group]\n1=項目,APP.EXE\n");
    UpdateShellItems(Programs, 0);
    UpdateShellItems(Programs, 1);
    EXPECT_TRUE(Exists(root + "Start Menu\\keep.txt"));
    EXPECT_EQ(Names{"StartUp"}, ListDir(programs));
}

// Counts the thread's COM initialisations through the platform's own hook.
struct InitializeCounter : IInitializeSpy {
    int initialised = 0, uninitialised = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (iid == IID_IUnknown || iid == IID_IInitializeSpy) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT result, DWORD, DWORD) override
    {
        if (SUCCEEDED(result))
            ++initialised;
        return result;
    }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override
    {
        ++uninitialised;
        return S_OK;
    }
};

static bool ComInitialised()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    return CoGetApartmentType(&type, &qualifier) != CO_E_NOTINITIALIZED;
}

// On a thread of its own: a thread that has made a window has COM already
// (the input method initialises it), as the test program's main thread has
// once other tests ran before this one in the same process.
TEST_F(ShellLinks, ComIsInitialisedOncePerCreatingCall)
{
    UseScript(TEST_SAMPLE_DIR "\\SETUP.INF");
    std::thread([this] {
        InitializeCounter counter;
        ULARGE_INTEGER cookie;
        ASSERT_EQ(S_OK, CoRegisterInitializeSpy(&counter, &cookie));
        struct Revoke {
            ULARGE_INTEGER cookie;
            ~Revoke() { CoRevokeInitializeSpy(cookie); }
        } revoke{cookie};

        ASSERT_FALSE(ComInitialised());
        UpdateShellItems(Programs, 0);  // three links, one initialisation
        EXPECT_EQ(1, counter.initialised);
        EXPECT_EQ(1, counter.uninitialised);
        EXPECT_FALSE(ComInitialised());
        UpdateShellItems(Desktop, 0);
        EXPECT_EQ(2, counter.initialised);
        EXPECT_EQ(2, counter.uninitialised);

        for (int kind : {Programs, Desktop, Startup})
            UpdateShellItems(kind, 1);
        EXPECT_EQ(2, counter.initialised);
        EXPECT_EQ(2, counter.uninitialised);

        // A thread already in the multithreaded apartment keeps it: our refused
        // initialisation is not undone, and the links are still made.
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        UpdateShellItems(Startup, 0);
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        EXPECT_EQ(S_OK, CoGetApartmentType(&type, &qualifier));
        EXPECT_EQ(APTTYPE_MTA, type);
        EXPECT_EQ(Names{"サンプル.lnk"}, ListDir(startup));
        CoUninitialize();
        EXPECT_FALSE(ComInitialised());
    }).join();
}

// A stand-in for the ShellLink class that records what is asked of it; it
// has no IPersistFile, and its factory can refuse one creation.
static std::string calls;
static int liveLinks, creations, refusedCreation;

struct RecordingLink final : IShellLinkA {
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (iid == IID_IPersistFile)
            calls += "QueryInterface(IPersistFile) ";
        if (iid == IID_IUnknown || iid == IID_IShellLinkA) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (--references != 0)
            return references;
        calls += "Release\n";
        --liveLinks;
        delete this;
        return 0;
    }
    HRESULT STDMETHODCALLTYPE GetPath(LPSTR, int, WIN32_FIND_DATAA *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR text) override { return Record("SetDescription", text); }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR text) override
    {
        return Record("SetWorkingDirectory", text);
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR text) override { return Record("SetArguments", text); }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return Record("SetHotkey", ""); }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return Record("SetShowCmd", ""); }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR, int, int *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR, int) override { return Record("SetIconLocation", ""); }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR, DWORD) override { return Record("SetRelativePath", ""); }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR text) override { return Record("SetPath", text); }
    static HRESULT Record(const char *call, const char *text)
    {
        calls += std::string(call) + "(" + text + ") ";
        return S_OK;
    }
};

struct RecordingFactory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *, REFIID iid, void **object) override
    {
        *object = nullptr;
        if (++creations == refusedCreation) {
            calls += "refused\n";
            return E_OUTOFMEMORY;
        }
        RecordingLink *link = new RecordingLink;
        ++liveLinks;
        HRESULT result = link->QueryInterface(iid, object);
        link->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST_F(ShellLinks, LinkObjectsWithoutPersistFileOrRefusedAreSkippedAndReleased)
{
    Touch(inst + "bin\\tool.exe");
    UseScriptText("[Install]\nTitle=記録\nFolder=Rec\n1=APP.EXE\n"
                  "[Group]\n1=一,bin\\tool.exe,-a,-b\n2=二,APP.EXE\n3=三,APP.HLP\n");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    RecordingFactory factory;
    DWORD cookie;
    ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_ShellLink, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie));
    calls.clear();
    liveLinks = creations = 0;
    refusedCreation = 2;
    UpdateShellItems(Programs, 0);
    CoRevokeClassObject(cookie);
    CoUninitialize();

    // Exactly the four properties, arguments only where the entry has some;
    // every object released, nothing saved.
    EXPECT_EQ("SetArguments(-a,-b) SetPath(" + inst + "bin\\tool.exe) SetDescription(一) SetWorkingDirectory(" +
                  inst + "bin\\) QueryInterface(IPersistFile) Release\n"
                  "refused\n"
                  "SetPath(" + inst + "APP.HLP) SetDescription(三) SetWorkingDirectory(" + inst +
                  ") QueryInterface(IPersistFile) Release\n",
              calls);
    EXPECT_EQ(3, creations);
    EXPECT_EQ(0, liveLinks);
    EXPECT_TRUE(ListDir(programs + "記録\\").empty());
}
