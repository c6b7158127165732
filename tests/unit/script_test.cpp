// Loading the setup script into the record: refusals, the keys of [Install],
// the default and previous installation directory, counting and the entries.
#include <gtest/gtest.h>
#include <cstddef>
#include <cstring>
#include <string>
#include "script/state.h"
#include "unit_support.h"

static const char BrokenScript[] = "設定ファイルが壊れているか、または見つかりません。";
static const char UninstallPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

namespace {

// Writes a fresh script file of the test and points scriptPath at it; the
// rest of the record is left as the caller prepared it.
std::string UseScript(const std::string &test, const std::string &text)
{
    static int serial = 0;
    std::string path = WriteTestFile(test, "S" + std::to_string(++serial) + ".INF", text);
    lstrcpyA(State.scriptPath, path.c_str());
    return path;
}

std::string Install(const std::string &folder, const std::string &more = "")
{
    return "[Install]\r\nTitle=サンプル\r\nFolder=" + folder + "\r\n" + more;
}

// The default directory for a Folder: the Windows drive as the system spells it.
std::string DefaultDir(const std::string &folder)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows, 2) + "\\Program Files\\" + folder + "\\";
}

// An uninstall registration of our own, removed again at the end of the scope.
struct Registration {
    std::string key;
    // size: how many bytes of value are stored, all of them unless given.
    Registration(const std::string &folder, const std::string *value, DWORD type = REG_SZ, DWORD size = ~0u)
        : key(std::string(UninstallPrefix) + folder)
    {
        HKEY handle;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                            nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot create " << key;
            return;
        }
        if (value != nullptr)
            RegSetValueExA(handle, "UninstallString", 0, type, reinterpret_cast<const BYTE *>(value->data()),
                           size == ~0u ? DWORD(value->size()) : size);
        RegCloseKey(handle);
    }
    ~Registration() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()); }
};

bool UnchangedOutside(const SetupState &before, size_t from, size_t to)
{
    const unsigned char *now = reinterpret_cast<const unsigned char *>(&State);
    const unsigned char *old = reinterpret_cast<const unsigned char *>(&before);
    for (size_t i = 0; i < sizeof State; ++i)
        if ((i < from || i >= to) && now[i] != old[i])
            return false;
    return true;
}

const size_t EntryBegin = offsetof(SetupState, entryName);
const size_t EntryEnd = offsetof(SetupState, entryTail) + sizeof(char *);

HWND MakeOwner()
{
    return CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

TEST(LoadSetupScript, UnusableScriptsAreRefusedWithOneMessage)
{
    struct { const char *what; const char *text; } cases[] = {
        {"missing file", nullptr},
        {"no Title", "[Install]\r\nFolder=UtRefused\r\n1=APP.EXE\r\n"},
        {"empty Title", "[Install]\r\nTitle=\r\nFolder=UtRefused\r\n"},
        {"no Folder", "[Install]\r\nTitle=サンプル\r\n"},
        {"empty Folder", "[Install]\r\nTitle=サンプル\r\nFolder=\r\n1=APP.EXE\r\n"},
        {"keys in another section", "[Setup]\r\nTitle=サンプル\r\nFolder=UtRefused\r\n"},
    };
    HWND owner = MakeOwner();
    for (const auto &c : cases) {
        ResetSetupState();
        if (c.text != nullptr)
            UseScript("script_refused", c.text);
        else
            lstrcpyA(State.scriptPath, "C:\\ut\\script_refused\\ABSENT.INF");
        // Even with a page about, the message has no owner: nothing of ours is shown yet.
        State.ownerWindow = owner;
        int result = -1;
        CaughtBox box = CatchBox([&] { result = LoadSetupScript(); });
        EXPECT_EQ(0, result) << c.what;
        ASSERT_TRUE(box.shown) << c.what;
        EXPECT_EQ(BrokenScript, box.text) << c.what;
        EXPECT_EQ("エラー", box.caption) << c.what;  // the system's default caption
        EXPECT_EQ(nullptr, box.owner) << c.what;
        EXPECT_TRUE(box.errorIcon) << c.what;
        EXPECT_TRUE(box.hasOk) << c.what;
        EXPECT_FALSE(box.hasCancel) << c.what;
    }
    DestroyWindow(owner);
}

TEST(IsSoundLabel, WhatTitleAndFolderMayBe)
{
    for (const char *title : {"サンプル", "ソフト", "A*B", "Tool 2.0", ".profile"})
        EXPECT_TRUE(IsSoundLabel(title, 0)) << title;
    for (const char *folder : {"SampleApp", "Maker\\Product", "ソ\\表", "A.B"})
        EXPECT_TRUE(IsSoundLabel(folder, 1)) << folder;
    // What the checker calls an error: a level of dots, a separator where
    // none may be, a drive, an empty level, a device.
    for (const char *folder : {".", "..\\X", "A\\.\\B", "C:X", "\\X", "CON", "Maker\\", "Maker\\\\Product",
                               "A\\..\\B", "LPT1", "nul.txt", "A ", "A?", ""})
        EXPECT_FALSE(IsSoundLabel(folder, 1)) << folder;
    for (const char *title : {"..", ".", "A\\B", "A/B", "C:", ""})
        EXPECT_FALSE(IsSoundLabel(title, 0)) << title;
}

TEST(LoadSetupScript, ScriptWithoutEntriesIsAccepted)
{
    ResetSetupState();
    UseScript("script_bare", Install("UtBare"));
    int result = 0;
    CaughtBox box = CatchBox([&] { result = LoadSetupScript(); });
    EXPECT_EQ(1, result);
    EXPECT_FALSE(box.shown);
    EXPECT_STREQ("サンプル", State.title);
    EXPECT_STREQ("UtBare", State.folder);
    EXPECT_EQ(0, State.resident);
    EXPECT_EQ(0, State.fileCount);
    EXPECT_EQ(0, State.groupCount);
}

TEST(LoadSetupScript, ResidentWhenTsrBeginsWithOne)
{
    struct { const char *line; int resident; } cases[] = {
        {"TSR=1\r\n", 1}, {"TSR=1abc\r\n", 1}, {"TSR=10\r\n", 1}, {"TSR= 1 \r\n", 1},
        {"TSR=0\r\n", 0}, {"TSR=\r\n", 0},     {"", 0},            {"TSR=01\r\n", 0}, {"TSR=no\r\n", 0},
    };
    for (const auto &c : cases) {
        ResetSetupState();
        UseScript("script_tsr", Install("UtTsr", c.line));
        ASSERT_EQ(1, LoadSetupScript()) << c.line;
        EXPECT_EQ(c.resident, State.resident) << c.line;
    }
}

TEST(LoadSetupScript, DefaultDirectoryOnTheWindowsDrive)
{
    ResetSetupState();
    UseScript("script_default", Install("UtDefaultDir"));
    ASSERT_EQ(1, LoadSetupScript());
    char windows[MAX_PATH];
    ASSERT_NE(0u, GetWindowsDirectoryA(windows, sizeof windows));
    ASSERT_EQ(':', windows[1]);
    EXPECT_EQ(windows[0], State.installDir[0]);  // the drive letter keeps its case
    EXPECT_STREQ(":\\Program Files\\UtDefaultDir\\", State.installDir + 1);
}

TEST(LoadSetupScript, LongValuesAreCutByTheReaderWithinTheirFields)
{
    std::string title(150, 'T'), folder(150, 'F');
    std::memset(&State, 0xA5, sizeof State);
    State.resident = 0;
    UseScript("script_long", "[Install]\r\nTitle=" + title + "\r\nFolder=" + folder + "\r\n");
    SetupState before;
    std::memcpy(&before, &State, sizeof State);
    ASSERT_EQ(1, LoadSetupScript());
    EXPECT_EQ(title.substr(0, 99), State.title);
    EXPECT_EQ(folder.substr(0, 99), State.folder);
    EXPECT_EQ(0, State.resident);  // the field behind folder
    EXPECT_EQ(0, std::memcmp(before.scriptPath, State.scriptPath, PATH_SIZE));  // the field before title
    EXPECT_EQ(DefaultDir(folder.substr(0, 99)), State.installDir);
}

TEST(LoadSetupScript, PreviousDirectoryFromTheUninstallRegistration)
{
    const std::string fallback = "<default>";
    struct { const char *value; const char *expected; } cases[] = {
        {"\"D:\\Apps\\Sample\\SETUP.EXE\" /r", "D:\\Apps\\Sample\\"},
        {"D:\\APPS\\SAMPLE\\SETUP.EXE /r", "D:\\APPS\\SAMPLE\\"},
        {"C:\\Program Files\\Sample\\SETUP.EXE /r", "C:\\"},  // cut at the first blank
        {"\"C:\\Program Files\\サンプル\\SETUP.EXE\" /r", "C:\\Program Files\\サンプル\\"},
        {"D:\\Apps\\Sample", "D:\\Apps\\Sample"},             // no delimiter: the whole text
        {"\"D:\\Apps\\Sample", "D:\\Apps\\Sample"},           // no closing quote
        {"", ""},                                             // an empty value empties it
        {"SETUP.EXE /r", nullptr},                            // nothing before the blank names a directory
        {"\"SETUP.EXE\" /r", nullptr},
    };
    int serial = 0;
    for (const auto &c : cases) {
        std::string folder = "UtPrevious" + std::to_string(++serial);
        std::string value = c.value;
        value.push_back('\0');
        Registration registration(folder, &value);
        ResetSetupState();
        UseScript("script_previous", Install(folder));
        ASSERT_EQ(1, LoadSetupScript()) << c.value;
        EXPECT_EQ(c.expected ? std::string(c.expected) : DefaultDir(folder), State.installDir) << c.value;
    }
}

TEST(LoadSetupScript, RegistrationWithoutAUsableValueKeepsTheDefault)
{
    {
        Registration registration("UtNoValue", nullptr);
        ResetSetupState();
        UseScript("script_novalue", Install("UtNoValue"));
        ASSERT_EQ(1, LoadSetupScript());
        EXPECT_EQ(DefaultDir("UtNoValue"), State.installDir);
    }
    {
        // Longer than the 260 bytes that are read: the read fails.
        std::string value = "\"D:\\" + std::string(280, 'L') + "\\SETUP.EXE\" /r";
        value.push_back('\0');
        Registration registration("UtTooLong", &value);
        ResetSetupState();
        UseScript("script_novalue", Install("UtTooLong"));
        ASSERT_EQ(1, LoadSetupScript());
        EXPECT_EQ(DefaultDir("UtTooLong"), State.installDir);
    }
}

TEST(LoadSetupScript, ValueOf260BytesWithoutTerminator)
{
    // 260 bytes stored without a terminator fill the whole read. The byte
    // behind them is not zero, or the registry would count a terminator in.
    std::string dir = "D:\\" + std::string(250, 'L') + "\\";  // 254 bytes
    std::string quoted = "\"" + dir + "A\" /r";            // 1 + 254 + 5 = 260 bytes
    std::string bare = "D:\\" + std::string(257, 'B');      // 260 bytes, no delimiter
    ASSERT_EQ(260u, quoted.size());
    ASSERT_EQ(260u, bare.size());
    std::string quotedZ = quoted + "Z", bareZ = bare + "Z";
    std::string bareTerminated = bare + '\0';                // 261 bytes: more than is read
    struct { const char *folder; const std::string *value; DWORD type, size; std::string expected; } cases[] = {
        {"UtFull1", &quotedZ, REG_SZ, 260, dir},
        {"UtFull2", &bareZ, REG_SZ, 260, bare},
        {"UtFull3", &bareZ, REG_BINARY, 260, bare},  // the type is not examined
        {"UtFull4", &bareTerminated, REG_SZ, 261, DefaultDir("UtFull4")},
    };
    for (const auto &c : cases) {
        Registration registration(c.folder, c.value, c.type, c.size);
        ResetSetupState();
        UseScript("script_full", Install(c.folder));
        ASSERT_EQ(1, LoadSetupScript()) << c.folder;
        EXPECT_EQ(c.expected, State.installDir) << c.folder;
    }
}

TEST(ReadPreviousInstallDir, StaysInsideTheGivenBuffer)
{
    char dir[INSTALL_DIR_SIZE + 8];
    std::string full = "D:\\" + std::string(257, 'B');  // 260 bytes: fills 261 with the terminator
    std::memset(dir, 0x7E, sizeof dir);
    ASSERT_TRUE(ReadPreviousInstallDir(full.c_str(), dir, INSTALL_DIR_SIZE));
    EXPECT_EQ(full, dir);
    for (size_t i = INSTALL_DIR_SIZE; i < sizeof dir; ++i)
        EXPECT_EQ(0x7E, dir[i]);

    // Too small a buffer: refused, untouched.
    std::memset(dir, 0x7E, sizeof dir);
    EXPECT_FALSE(ReadPreviousInstallDir("D:\\APPS\\SAMPLE\\SETUP.EXE /r", dir, 10));
    EXPECT_EQ(0x7E, dir[0]);
    EXPECT_TRUE(ReadPreviousInstallDir("D:\\APPS\\SAMPLE\\SETUP.EXE /r", dir, 16));
    EXPECT_STREQ("D:\\APPS\\SAMPLE\\", dir);
    EXPECT_EQ(0x7E, dir[16]);

    // The backward scan never passes the start, also behind a removed quote.
    std::memset(dir, 0x7E, sizeof dir);
    EXPECT_FALSE(ReadPreviousInstallDir("\"X\" /r", dir, INSTALL_DIR_SIZE));
    EXPECT_FALSE(ReadPreviousInstallDir("X /r", dir, INSTALL_DIR_SIZE));
    EXPECT_EQ(0x7E, dir[0]);
    EXPECT_TRUE(ReadPreviousInstallDir("\\X /r", dir, INSTALL_DIR_SIZE));
    EXPECT_STREQ("\\", dir);
}

TEST(LoadSetupScript, CountsConsecutiveEntries)
{
    struct { const char *sections; int files, groups; } cases[] = {
        {"1=A.EXE\r\n2=B.DAT\r\n3=C.DAT\r\n", 3, 0},
        {"1=A.EXE\r\n2=B.DAT\r\n4=D.DAT\r\n", 2, 0},  // 4 after the gap is never read
        {"2=B.DAT\r\n3=C.DAT\r\n", 0, 0},
        {"01=A.EXE\r\n", 0, 0},                       // keys have no leading zeros
        {"1=,APP.EXE\r\n2=B.DAT\r\n", 0, 0},          // an empty source ends the list
        {"1=A.EXE\r\n2=\r\n3=C.DAT\r\n", 1, 0},
        {"1=A.EXE\r\n[Group]\r\n1=APP.EXE\r\n2=B,B.EXE\r\n3=C,C.EXE\r\n", 1, 0},  // no comma
        {"[Group]\r\n1=A,A.EXE\r\n2=B,B.EXE,/b\r\n3=C\r\n4=D,D.EXE\r\n", 0, 2},
        {"[Group]\r\n1=,A.EXE\r\n2=B,B.EXE\r\n", 0, 0},  // an empty caption ends it too
        {"1=ソフト\\ソ.EXE\r\n[Group]\r\n1=ソフト,ソ.EXE\r\n", 1, 1},
    };
    for (const auto &c : cases) {
        ResetSetupState();
        UseScript("script_count", Install("UtCount", c.sections));
        ASSERT_EQ(1, LoadSetupScript()) << c.sections;
        EXPECT_EQ(c.files, State.fileCount) << c.sections;
        EXPECT_EQ(c.groups, State.groupCount) << c.sections;
    }
}

namespace {

const char EntryScript[] =
    "[Install]\r\n"
    "1=APP.EXE\r\n"
    "2=HELP\\APP.HLP,APP.HLP\r\n"
    "3=DATA.DAT,DATA\\DATA.DAT\r\n"
    "4=ソフト\\ソ.TXT,データ\\ソ.TXT\r\n"
    "5=A.DAT,B,C.DAT\r\n"
    "[Group]\r\n"
    "1=Tool,T.EXE,/a,/b\r\n"
    "2=APP.EXE\r\n"
    "3=Tool,BIN\\T.EXE,/a\r\n"
    "4=ソフト,ソ.EXE\r\n";

void PrepareEntries(const char *installDir)
{
    ResetSetupState();
    UseScript("script_entries", EntryScript);
    lstrcpyA(State.installDir, installDir);
    lstrcpyA(State.exeName, "SETUP.EXE");
    lstrcpyA(State.scriptName, "SETUP.INF");
}

}  // namespace

TEST(LoadFileEntry, SourceAndDestination)
{
    const std::string dir = "C:\\Program Files\\SampleApp\\";
    PrepareEntries(dir.c_str());
    struct { int n; const char *name, *destination; } cases[] = {
        {-1, "SETUP.EXE", "SETUP.EXE"},
        {0, "SETUP.INF", "SETUP.INF"},
        {1, "APP.EXE", "APP.EXE"},
        {2, "HELP\\APP.HLP", "APP.HLP"},
        {3, "DATA.DAT", "DATA\\DATA.DAT"},
        {4, "ソフト\\ソ.TXT", "データ\\ソ.TXT"},
        {5, "A.DAT", "B,C.DAT"},  // split at the first comma only
        {9, "", ""},              // missing
    };
    for (const auto &c : cases) {
        LoadFileEntry(c.n);
        EXPECT_STREQ(c.name, State.entryName) << c.n;
        EXPECT_EQ(dir + c.destination, State.entryPath) << c.n;
        EXPECT_EQ(State.entryPath + dir.size(), State.entryTail) << c.n;
    }
}

TEST(LoadFileEntry, ImplicitEntriesAreSplitToo)
{
    PrepareEntries("C:\\APP\\");
    lstrcpyA(State.exeName, "SET,UP.EXE");
    LoadFileEntry(-1);
    EXPECT_STREQ("SET", State.entryName);
    EXPECT_STREQ("C:\\APP\\UP.EXE", State.entryPath);
    EXPECT_STREQ("UP.EXE", State.entryTail);
}

TEST(LoadGroupEntry, CaptionAndTargetWithArguments)
{
    const std::string dir = "C:\\Program Files\\SampleApp\\";
    PrepareEntries(dir.c_str());
    LoadFileEntry(2);
    // The copy moves the tail forward level by level; a group entry leaves it be.
    char *tail = State.entryTail + 3;
    State.entryTail = tail;

    LoadGroupEntry(3);
    EXPECT_STREQ("Tool", State.entryName);
    EXPECT_EQ(dir + "BIN\\T.EXE,/a", State.entryPath);
    EXPECT_EQ(tail, State.entryTail);

    LoadGroupEntry(1);
    EXPECT_STREQ("Tool", State.entryName);
    EXPECT_EQ(dir + "T.EXE,/a,/b", State.entryPath);

    LoadGroupEntry(4);
    EXPECT_STREQ("ソフト", State.entryName);
    EXPECT_EQ(dir + "ソ.EXE", State.entryPath);
    EXPECT_EQ(tail, State.entryTail);
}

TEST(LoadGroupEntry, WithoutCommaOnlyTheNameIsCleared)
{
    PrepareEntries("C:\\APP\\");
    for (int n : {2, 7}) {  // no comma; missing
        lstrcpyA(State.entryPath, "KEEP");
        State.entryTail = State.entryPath + 2;
        LoadGroupEntry(n);
        EXPECT_STREQ("", State.entryName) << n;
        EXPECT_STREQ("KEEP", State.entryPath) << n;
        EXPECT_EQ(State.entryPath + 2, State.entryTail) << n;
    }
}

TEST(LoadFileEntry, OverlongDestinationIsRefusedWholly)
{
    // installDir of 200 bytes; destinations of 59 and 60 bytes join to 259 and 260.
    const std::string dir = "C:\\" + std::string(196, 'I') + "\\";
    ASSERT_EQ(200u, dir.size());
    const std::string fits(59, 'F'), over(60, 'O');
    std::string script = "[Install]\r\n1=A.DAT," + fits + "\r\n2=B.DAT," + over + "\r\n3=" + over +
                         "\r\n[Group]\r\n1=Fits," + fits + "\r\n2=Over," + over + "\r\n";

    std::memset(&State, 0xA5, sizeof State);
    UseScript("script_overlong", script);
    lstrcpyA(State.installDir, dir.c_str());
    SetupState before;
    std::memcpy(&before, &State, sizeof State);

    LoadFileEntry(1);
    EXPECT_EQ(dir + fits, State.entryPath);
    EXPECT_EQ(State.entryPath + 200, State.entryTail);
    EXPECT_TRUE(UnchangedOutside(before, EntryBegin, EntryEnd));

    for (int n : {2, 3}) {
        LoadFileEntry(n);
        EXPECT_STREQ("", State.entryPath) << n;  // refused, not cut
        EXPECT_EQ(State.entryPath, State.entryTail) << n;
        EXPECT_TRUE(UnchangedOutside(before, EntryBegin, EntryEnd)) << n;
    }
    EXPECT_EQ(over, State.entryName);  // the source stays for whoever reports it

    LoadGroupEntry(1);
    EXPECT_EQ(dir + fits, State.entryPath);
    LoadGroupEntry(2);
    EXPECT_STREQ("Over", State.entryName);
    EXPECT_STREQ("", State.entryPath);
    EXPECT_TRUE(UnchangedOutside(before, EntryBegin, EntryEnd));
}

TEST(LoadFileEntry, SetupExecutableNameBeyondAFullDirectory)
{
    // installDir may hold 260 bytes; nothing at all can be joined to it then.
    std::memset(&State, 0xA5, sizeof State);
    UseScript("script_fulldir", EntryScript);
    std::string dir = "D:\\" + std::string(256, 'L') + "\\";
    ASSERT_EQ(260u, dir.size());
    lstrcpyA(State.installDir, dir.c_str());
    lstrcpyA(State.exeName, "SETUP.EXE");
    SetupState before;
    std::memcpy(&before, &State, sizeof State);
    for (int n : {-1, 1, 9}) {
        LoadFileEntry(n);
        EXPECT_STREQ("", State.entryPath) << n;
        EXPECT_TRUE(UnchangedOutside(before, EntryBegin, EntryEnd)) << n;
    }
    EXPECT_STREQ("SETUP.EXE", State.exeName);
}

TEST(LoadFileEntry, ValuesCutAt259Bytes)
{
    std::string value(300, 'V');
    std::memset(&State, 0xA5, sizeof State);
    UseScript("script_cut", "[Install]\r\n1=" + value + "\r\n[Group]\r\n1=C," + value + "\r\n");
    State.installDir[0] = '\0';  // as an empty stored uninstall command leaves it
    SetupState before;
    std::memcpy(&before, &State, sizeof State);

    LoadFileEntry(1);
    EXPECT_EQ(value.substr(0, 259), State.entryName);
    EXPECT_EQ(value.substr(0, 259), State.entryPath);
    EXPECT_TRUE(UnchangedOutside(before, EntryBegin, EntryEnd));

    LoadGroupEntry(1);
    EXPECT_STREQ("C", State.entryName);
    EXPECT_EQ(value.substr(0, 257), State.entryPath);  // 259 read, less "C,"
    EXPECT_TRUE(UnchangedOutside(before, EntryBegin, EntryEnd));
}

TEST(ShowError, OwnedByTheCurrentWindowWithTheSystemCaption)
{
    ResetSetupState();
    HWND owner = MakeOwner();
    ASSERT_NE(nullptr, owner);
    State.ownerWindow = owner;
    int result = 0;
    CaughtBox box = CatchBox([&] { result = ShowError("C:\\ソフト\\ - テスト"); });
    EXPECT_EQ(IDOK, result);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ("C:\\ソフト\\ - テスト", box.text);
    EXPECT_EQ(owner, box.owner);
    EXPECT_EQ("エラー", box.caption);
    EXPECT_TRUE(box.errorIcon);
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel);
    DestroyWindow(owner);

    State.ownerWindow = nullptr;
    box = CatchBox([&] { ShowError("X"); });
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(nullptr, box.owner);
}
