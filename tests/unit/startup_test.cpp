// Command line and path derivation of the start-up, and its refusals.
#include <gtest/gtest.h>
#include <cstddef>
#include <cstring>
#include <string>
#include "script/state.h"
#include <algorithm>
#include <vector>
#include "testpaths.h"
#include "unit_support.h"

static const char BrokenScript[] = "設定ファイルが壊れているか、または見つかりません。";

TEST(GetCommandTail, QuotedProgramName)
{
    EXPECT_STREQ("x C:\\Program Files\\App\\SETUP.EXE",
                 GetCommandTail("\"C:\\Program Files\\SETUP.EXE\" x C:\\Program Files\\App\\SETUP.EXE"));
    EXPECT_STREQ("r", GetCommandTail("\"C:\\A B\\SETUP.EXE\"r"));       // nothing between quote and tail
    EXPECT_STREQ("", GetCommandTail("\"C:\\A B\\SETUP.EXE\""));
    EXPECT_STREQ("", GetCommandTail("\"C:\\A B\\SETUP.EXE /r"));        // no closing quote: all name
    EXPECT_STREQ("/r", GetCommandTail("\"C:\\セットアップ\\SETUP.EXE\"   /r"));
}

TEST(GetCommandTail, UnquotedProgramName)
{
    EXPECT_STREQ("/r", GetCommandTail("C:\\APP\\SETUP.EXE /r"));
    EXPECT_STREQ("", GetCommandTail("SETUP.EXE"));
    EXPECT_STREQ("", GetCommandTail(""));
    // Bytes above 0x7F belong to the name: they must not be taken as blanks.
    EXPECT_STREQ("r", GetCommandTail("C:\\セットアップ.EXE r"));
    // A control byte ends the name as a blank does.
    EXPECT_STREQ("r", GetCommandTail("SETUP.EXE\tr"));
}

TEST(GetCommandTail, SkipsEveryByteFrom1To32)
{
    std::string line = "SETUP.EXE";
    for (int c = 0x01; c <= 0x20; ++c)
        line += char(c);
    line += "!x";
    EXPECT_STREQ("!x", GetCommandTail(line.c_str()));
    EXPECT_STREQ("x \t y", GetCommandTail("\"S.EXE\" \t\x01x \t y"));  // inner blanks stay
}

TEST(ParseCommandTail, WizardUnlessRorX)
{
    const char *path = "untouched";
    for (const char *tail : {"", "X C:\\A\\SETUP.EXE", "//r", "/", "a", " r", "\\r", "/X"}) {
        path = "untouched";
        EXPECT_EQ(ModeInstall, ParseCommandTail(tail, &path)) << tail;
        EXPECT_EQ(nullptr, path) << tail;
    }
}

TEST(ParseCommandTail, RemovalRequest)
{
    for (const char *tail : {"r", "R", "/r", "/R", "r anything", "Rx C:\\A\\SETUP.EXE", "/remove"}) {
        const char *path = "untouched";
        EXPECT_EQ(ModeRequestRemoval, ParseCommandTail(tail, &path)) << tail;
        EXPECT_EQ(nullptr, path) << tail;
    }
}

TEST(ParseCommandTail, RemovalRunTakesTheRestOfTheLine)
{
    const char *path = nullptr;
    const char *tail = "x C:\\Program Files\\App\\SETUP.EXE";
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail(tail, &path));
    EXPECT_EQ(tail + 2, path);
    EXPECT_STREQ("C:\\Program Files\\App\\SETUP.EXE", path);

    tail = "/x \"C:\\A B\\SETUP.EXE\"";  // no quote handling: the quotes are part of the path
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail(tail, &path));
    EXPECT_STREQ("\"C:\\A B\\SETUP.EXE\"", path);

    // The byte after x is skipped whatever it is.
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail("xC:\\App\\SETUP.EXE", &path));
    EXPECT_STREQ(":\\App\\SETUP.EXE", path);
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail("x  C:\\App\\SETUP.EXE", &path));
    EXPECT_STREQ(" C:\\App\\SETUP.EXE", path);
}

TEST(ParseCommandTail, BareXNeverSkipsTheTerminator)
{
    const char tail[] = {'x', '\0', 'C', ':', '\\', 'A', '\0'};
    const char *path = nullptr;
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail(tail, &path));
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(tail + 1, path);
    EXPECT_STREQ("", path);
    EXPECT_EQ(ModeRunRemoval, ParseCommandTail("/x", &path));
    EXPECT_STREQ("", path);
}

namespace {

// The record filled with a sentinel, so that any byte written shows.
struct Sentinel {
    SetupState before;
    Sentinel()
    {
        std::memset(&State, 0xA5, sizeof State);
        std::memcpy(&before, &State, sizeof State);
    }
    // True when no byte of the record outside [from, to) changed.
    bool UnchangedOutside(size_t from, size_t to) const
    {
        const unsigned char *now = reinterpret_cast<const unsigned char *>(&State);
        const unsigned char *old = reinterpret_cast<const unsigned char *>(&before);
        for (size_t i = 0; i < sizeof State; ++i)
            if ((i < from || i >= to) && now[i] != old[i])
                return false;
        return true;
    }
    bool Unchanged() const { return std::memcmp(&State, &before, sizeof State) == 0; }
};

// The four fields that the derivation writes lie side by side.
const size_t PathsBegin = offsetof(SetupState, setupDir);
const size_t PathsEnd = offsetof(SetupState, scriptPath) + PATH_SIZE;

}  // namespace

TEST(DeriveSetupPaths, SplitsDirectoryAndNames)
{
    struct { const char *path, *dir, *exe, *script; } cases[] = {
        {"C:\\Program Files\\App\\SETUP.EXE", "C:\\Program Files\\App\\", "SETUP.EXE", "SETUP.INF"},
        {"D:\\DIST\\SETUP.EXE", "D:\\DIST\\", "SETUP.EXE", "SETUP.INF"},
        {"C:\\A\\setup.exe", "C:\\A\\", "setup.exe", "setup.INF"},
        {"C:\\A\\SETUP.EXEC", "C:\\A\\", "SETUP.EXEC", "SETUP.EINF"},
        {"C:\\A\\SETUP", "C:\\A\\", "SETUP", "SEINF"},
        {"\\\\server\\share\\インストール.EXE", "\\\\server\\share\\", "インストール.EXE", "インストール.INF"},
        {":\\App\\SETUP.EXE", ":\\App\\", "SETUP.EXE", "SETUP.INF"},
    };
    for (const auto &c : cases) {
        Sentinel sentinel;
        ASSERT_TRUE(DeriveSetupPaths(c.path)) << c.path;
        EXPECT_STREQ(c.dir, State.setupDir);
        EXPECT_STREQ(c.exe, State.exeName);
        EXPECT_STREQ(c.script, State.scriptName);
        EXPECT_EQ(std::string(c.dir) + c.script, State.scriptPath);
        EXPECT_TRUE(sentinel.UnchangedOutside(PathsBegin, PathsEnd)) << c.path;
    }
}

TEST(DeriveSetupPaths, TrailByte5CInTheLastLevelCountsAsSeparator)
{
    // The scan is byte-wise: the second byte of ソ ends the directory.
    std::string path = "C:\\App\\ソX.EXE";
    ASSERT_TRUE(DeriveSetupPaths(path.c_str()));
    EXPECT_STREQ("C:\\App\\\x83\\", State.setupDir);
    EXPECT_STREQ("X.EXE", State.exeName);
    EXPECT_STREQ("X.INF", State.scriptName);
    EXPECT_STREQ("C:\\App\\\x83\\X.INF", State.scriptPath);
}

TEST(DeriveSetupPaths, PathLengthBoundary)
{
    for (int length : {258, 259, 260, 300}) {
        // C:\ DDD...D \ SETUP.EXE
        std::string dir = "C:\\" + std::string(length - 3 - 1 - 9, 'D') + "\\";
        std::string path = dir + "SETUP.EXE";
        ASSERT_EQ(size_t(length), path.size());
        Sentinel sentinel;
        if (length <= 259) {
            ASSERT_TRUE(DeriveSetupPaths(path.c_str())) << length;
            EXPECT_EQ(dir, State.setupDir);
            EXPECT_EQ(dir + "SETUP.INF", State.scriptPath);
            EXPECT_TRUE(sentinel.UnchangedOutside(PathsBegin, PathsEnd)) << length;
        } else {
            EXPECT_FALSE(DeriveSetupPaths(path.c_str())) << length;
            EXPECT_TRUE(sentinel.Unchanged()) << length;
        }
    }
}

TEST(DeriveSetupPaths, NameLengthBoundary)
{
    for (int length : {2, 3, 51, 52}) {
        std::string name = length == 2 ? std::string("EX") : std::string(length - 3, 'N') + "EXE";
        std::string path = "C:\\N\\" + name;
        Sentinel sentinel;
        if (length >= 3 && length <= 51) {
            ASSERT_TRUE(DeriveSetupPaths(path.c_str())) << length;
            EXPECT_EQ(name, State.exeName);
            EXPECT_EQ(name.substr(0, length - 3) + "INF", State.scriptName);
            EXPECT_EQ("C:\\N\\" + name.substr(0, length - 3) + "INF", State.scriptPath);
            EXPECT_TRUE(sentinel.UnchangedOutside(PathsBegin, PathsEnd)) << length;
        } else {
            EXPECT_FALSE(DeriveSetupPaths(path.c_str())) << length;
            EXPECT_TRUE(sentinel.Unchanged()) << length;
        }
    }
}

TEST(DeriveSetupPaths, RefusalsLeaveTheRecordAlone)
{
    for (const char *path : {"", "SETUP.EXE", "C:SETUP.EXE", "C:\\DIR\\", "C:\\AB", "\\"}) {
        Sentinel sentinel;
        EXPECT_FALSE(DeriveSetupPaths(path)) << path;
        EXPECT_TRUE(sentinel.Unchanged()) << path;
    }
}

TEST(DeriveSetupPaths, PathHeldInSetupDirItself)
{
    // The removal run may hand over a path that already sits in the record.
    ResetSetupState();
    lstrcpyA(State.setupDir, "C:\\Program Files\\App\\SETUP.EXE");
    ASSERT_TRUE(DeriveSetupPaths(State.setupDir));
    EXPECT_STREQ("C:\\Program Files\\App\\", State.setupDir);
    EXPECT_STREQ("SETUP.EXE", State.exeName);
    EXPECT_STREQ("C:\\Program Files\\App\\SETUP.INF", State.scriptPath);
}

TEST(StartSetup, UnusablePathAfterXEndsAfterTheMessage)
{
    ResetSetupState();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    int result = 0;
    CaughtBox box = CatchBox([&] { result = StartSetup(instance, "x NOSLASH.EXE"); });
    EXPECT_EQ(1, result);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(BrokenScript, box.text);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(instance, State.instance);
    EXPECT_EQ('\0', State.setupDir[0]);
    EXPECT_EQ('\0', State.title[0]);  // no script was read
}

TEST(StartSetup, FieldsBeforeTheScriptIsRead)
{
    // A script without Title: start-up derives every path, then stops at the message.
    std::string script = WriteTestFile("startup_fields", "SETUP.INF", "[Install]\r\nFolder=UtStartupFields\r\n");
    ASSERT_FALSE(script.empty());
    ResetSetupState();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    int result = 0;
    CaughtBox box = CatchBox([&] { result = StartSetup(instance, "/x C:\\ut\\startup_fields\\SETUP.EXE"); });
    EXPECT_EQ(1, result);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(BrokenScript, box.text);

    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    EXPECT_EQ(instance, State.instance);
    EXPECT_STREQ(own, State.modulePath);  // the running copy, not the path after x
    EXPECT_STREQ("C:\\ut\\startup_fields\\", State.setupDir);
    EXPECT_STREQ("SETUP.EXE", State.exeName);
    EXPECT_STREQ(script.c_str(), State.scriptPath);
    EXPECT_STREQ("UtStartupFields", State.folder);  // the script named by the path was read
    // The rig's Windows is of the new shell generation.
    EXPECT_EQ(1, State.newShell);
}

TEST(StartSetup, WizardModeReadsTheScriptBesideTheModule)
{
    ResetSetupState();
    int result = 0;
    CaughtBox box = CatchBox([&] { result = StartSetup(GetModuleHandleA(nullptr), "X C:\\ut\\SETUP.EXE"); });
    EXPECT_EQ(1, result);
    EXPECT_TRUE(box.shown);  // there is no unit_tests.INF beside the test program

    std::string own = State.modulePath;
    size_t slash = own.rfind('\\');
    ASSERT_NE(std::string::npos, slash);
    EXPECT_EQ(own.substr(0, slash + 1), State.setupDir);
    EXPECT_EQ(own.substr(slash + 1), State.exeName);
    std::string name = own.substr(slash + 1);
    EXPECT_EQ(name.substr(0, name.size() - 3) + "INF", State.scriptName);
}

static std::string ReadWhole(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes(file != INVALID_HANDLE_VALUE ? GetFileSize(file, nullptr) : 0, '\0');
    DWORD got = 0;
    ReadFile(file, &bytes[0], DWORD(bytes.size()), &got, nullptr);
    CloseHandle(file);
    return bytes.substr(0, got);
}

// SETUP.EXE of this build laid out as the loader lays it out at another
// address than the one it asks for (Wine relocates no program loaded as a
// library): sections at their addresses, every absolute address moved, the
// new base in the headers and the imported functions' addresses filled in.
static std::vector<unsigned char> LoadAsTheLoaderWould(const std::string &file)
{
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(&file[reinterpret_cast<const IMAGE_DOS_HEADER *>(file.data())->e_lfanew]);
    const IMAGE_OPTIONAL_HEADER &optional = nt->OptionalHeader;
    std::vector<unsigned char> image(optional.SizeOfImage);
    memcpy(image.data(), file.data(), optional.SizeOfHeaders);
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i)
        memcpy(&image[sections[i].VirtualAddress], &file[sections[i].PointerToRawData],
               std::min<DWORD>(sections[i].SizeOfRawData, sections[i].Misc.VirtualSize));
    ULONG_PTR delta = ULONG_PTR(image.data()) - ULONG_PTR(optional.ImageBase);
    const IMAGE_DATA_DIRECTORY &relocations = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (DWORD at = relocations.VirtualAddress; at < relocations.VirtualAddress + relocations.Size;) {
        auto block = reinterpret_cast<const IMAGE_BASE_RELOCATION *>(&image[at]);
        for (DWORD e = sizeof *block; e < block->SizeOfBlock; e += 2) {
            WORD entry = *reinterpret_cast<const WORD *>(&image[at + e]);
            unsigned char *place = &image[block->VirtualAddress + (entry & 0xFFF)];
            if (entry >> 12 == IMAGE_REL_BASED_HIGHLOW)
                *reinterpret_cast<DWORD *>(place) += DWORD(delta);
            else if (entry >> 12 == IMAGE_REL_BASED_DIR64)
                *reinterpret_cast<ULONGLONG *>(place) += delta;
        }
        at += block->SizeOfBlock;
    }
    auto loaded = reinterpret_cast<IMAGE_NT_HEADERS *>(&image[reinterpret_cast<const IMAGE_DOS_HEADER *>(file.data())->e_lfanew]);
    loaded->OptionalHeader.ImageBase = decltype(loaded->OptionalHeader.ImageBase)(ULONG_PTR(image.data()));
    const IMAGE_DATA_DIRECTORY &imports = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    memset(&image[imports.VirtualAddress], 0x5A, imports.Size);
    return image;
}

// The file against that image, changed in single bytes: only what the
// loader itself writes may differ.
TEST(IsRunningImage, FileAgainstTheLoadedImage)
{
    std::string bytes = ReadWhole(TEST_SETUP_EXE);
    ASSERT_FALSE(bytes.empty());
    std::vector<unsigned char> image = LoadAsTheLoaderWould(bytes);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(&bytes[reinterpret_cast<const IMAGE_DOS_HEADER *>(bytes.data())->e_lfanew]);
    EXPECT_NE(0u, nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size);
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    struct Case {
        std::string what;
        size_t at;  // 0: unchanged
        bool same;
    };
    std::vector<Case> cases = {{"unchanged", 0, true}, {"headers", 0x40 + 2, false}};
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i)
        if (sections[i].SizeOfRawData != 0)
            cases.push_back({std::string(reinterpret_cast<const char *>(sections[i].Name), 8),
                             sections[i].PointerToRawData + 7, false});
    for (const Case &c : cases) {
        std::string copy = bytes;
        if (c.at != 0)
            copy[c.at] ^= 0x20;
        EXPECT_EQ(c.same, IsRunningImage(reinterpret_cast<unsigned char *>(&copy[0]), DWORD(copy.size()), image.data()) != 0)
            << c.what;
    }
    std::string cut = bytes.substr(0, bytes.size() / 2);
    EXPECT_FALSE(IsRunningImage(reinterpret_cast<unsigned char *>(&cut[0]), DWORD(cut.size()), image.data()));
}
