// The robustness suite: SETUP.EXE started on hundreds of malformed scripts
// and command lines, a few at a time, each in its own C:\e2e\rob\<n>\. Every
// window it shows is answered the way a cautious user would (Cancel, else No,
// else OK; the wizard is cancelled, the removal dialog closed once it allows
// it). A case fails when the process does not end in time, ends with another
// status than 1, or shows a text that the program does not compose. Sentinel
// files and keys, and listings of the places around them, show that nothing
// else was written or deleted.
#include <gtest/gtest.h>
#include "driver.h"
#include "malformed.h"
#include "testpaths.h"
#include "script/state.h"

#include <algorithm>
#include <functional>
#include <map>
#include <prsht.h>
#include <set>

using namespace driver;
using malformed::Case;

namespace {

const char RobRoot[] = "C:\\e2e\\rob";
const char SentinelDir[] = "C:\\e2e\\rob-sentinel";
const char SentinelKey[] = "Software\\RobSentinel";
const char PlayKey[] = "Software\\RobPlay";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char SessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const int NextButton = 0x3024, FinishButton = 0x3025;

// The texts the program composes.
const char Broken[] = "設定ファイルが壊れているか、または見つかりません。";
const char RootRefused[] = "ルートディレクトリにはインストールできません。";
const char FormRefused[] = "「C:\\Soft」のように、ドライブ名も含めた正しいパス名を指定してください。";
const char RegRefused[] = "Regセクションがおかしいです。";
const char LaunchFailed[] = "アンインストール用プログラムの起動に失敗しました。手動で削除してください。";
const char FreeSpaceHead[] = "指定されたドライブの残り容量が ";
const char FreeSpaceTail[] = "メガバイトしかありません。かまわずにインストールしますか？";
const char ConfirmTail[] = "を削除します。";
const char ResidentTail[] = "まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。";
const char FileInTheWay[] = " - 同じ名前のファイルが既に存在するのでフォルダが作成できません。";
const char CreateFailed[] = " のフォルダ作成に失敗しました。";
const char InUse[] = " は他で使用中のため上書きできません。";
const char CopyFailed[] = " のコピーに失敗しました。";
const char DeleteFailed[] = "の削除に失敗しました。このファイルをスキップして処理を続行します。";
const char HeldHead[] = " の削除に失敗しました。";
const char HeldTail[] = "を終了して、もう一度アンインストールをやり直してください。";
const char SweepQuestion[] = " - このファイルを削除してもいいですか？";
const char SharedKept[] =
    " - このフォルダは他のプログラムと共用のため、インストールしたファイルだけを削除しました。";
const char DirectoryFailed[] = " - ディレクトリの削除に失敗しました";
const char LabelTail[] = "のインストール先を指定してください";
const char RemovalCaptionTail[] = "の削除";
const char Removed[] = "は正常に削除されました。";
const char LeftBehind[] = " にはまだファイルが残っています。後で削除してください。";
const char Working[] = "削除しています...";
const char Complete[] = "インストールが完了しました。「完了」を押すと起動します。";
// After Finish, when the desktop's shell does not start the entry: once, on
// a loaded machine, Wine's shell died during a case's start and the next
// case's Finish found no shell to ask.
const char NotStartedTail[] = "のインストールは完了しました。スタートメニューから起動してください。";

// ---------------------------------------------------------------------------
// Texts through another code page. A window keeps its text in UTF-16, so
// what the driver reads is what the program wrote, converted twice; the
// expected texts take the same way before they are compared.

UINT CasePage = 932;

std::string Narrow(const std::wstring &wide)
{
    std::string out(wide.size() * 2 + 1, '\0');
    int n = WideCharToMultiByte(CasePage, 0, wide.data(), int(wide.size()), &out[0], int(out.size()), nullptr,
                                nullptr);
    out.resize(n > 0 ? n : 0);
    return out;
}

std::string Shown(const std::string &bytes)
{
    if (bytes.empty())
        return bytes;
    std::wstring wide(bytes.size() + 1, L'\0');
    int n = MultiByteToWideChar(CasePage, 0, bytes.data(), int(bytes.size()), &wide[0], int(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return Narrow(wide);
}

std::string WindowText(HWND window)
{
    wchar_t buffer[4096];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                             Scaled(3000), &length))
        return "<no answer>";
    return Narrow(std::wstring(buffer, length));
}

std::string ControlText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? WindowText(item) : std::string("<no control>");
}

bool IEquals(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), int(a.size()),
                                                  b.data(), int(b.size())) == CSTR_EQUAL;
}

bool IStarts(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

bool Ends(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

DWORD WINAPI ProbeBox(LPVOID)
{
    MessageBoxA(nullptr, "rob-probe", nullptr, MB_OK);
    return 0;
}

// The caption the system gives a box that has none of its own, in the
// language the driver and the program share.
std::string DefaultCaption()
{
    static std::string caption;
    if (!caption.empty())
        return caption;
    HANDLE thread = CreateThread(nullptr, 0, ProbeBox, nullptr, 0, nullptr);
    HWND box = nullptr;
    WaitFor([&] {
        box = FindWindowA("#32770", nullptr);
        while (box != nullptr && WindowText(GetDlgItem(box, 0xFFFF)) != "rob-probe")
            box = FindWindowExA(nullptr, box, "#32770", nullptr);
        return box != nullptr;
    }, 10000);
    if (box != nullptr) {
        caption = WindowText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    WaitForSingleObject(thread, Scaled(5000));
    CloseHandle(thread);
    return caption;
}

// ---------------------------------------------------------------------------
// What surrounds the cases: sentinels and listings, compared after a group.

using Listing = std::map<std::string, std::string>;

// Names the unit tests running beside this suite may add or remove.
bool Foreign(const std::string &name)
{
    std::string upper = Upper(name);
    size_t slash = upper.find_last_of('\\');
    std::string last = slash == std::string::npos ? upper : upper.substr(slash + 1);
    return last.compare(0, 2, "UT") == 0;
}

void ListFiles(Listing &out, const std::string &dir, bool recurse, bool content, int depth = 0)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        out[dir] = "<no directory>";
        return;
    }
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "\\" + name;
        if (Foreign(path) || IEquals(path, RobRoot))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[path] = "<dir>";
            // Not through links: the prefix's desktop leads to the whole host.
            if (recurse && depth < 6 && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ListFiles(out, path, recurse, content, depth + 1);
        } else {
            std::string state = std::to_string(found.nFileSizeLow) + " " +
                                std::to_string(found.ftLastWriteTime.dwLowDateTime) + " " +
                                std::to_string(found.dwFileAttributes);
            out[path] = content ? state + " " + ReadFile(path) : state;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void ListKeys(Listing &out, HKEY root, const std::string &rootName, const std::string &key, bool recurse,
              int depth = 0)
{
    HKEY opened;
    std::string name = rootName + "\\" + key;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        out[name] = "<no key>";
        return;
    }
    out[name] = "<key>";
    if (recurse) {
        char value[512];
        BYTE data[1024];
        for (DWORD i = 0;; ++i) {
            DWORD valueSize = sizeof value, dataSize = sizeof data, type = 0;
            if (RegEnumValueA(opened, i, value, &valueSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
                break;
            out[name + "|" + value] = std::to_string(type) + ":" + std::string(reinterpret_cast<char *>(data), dataSize);
        }
    }
    char sub[512];
    for (DWORD i = 0; RegEnumKeyA(opened, i, sub, sizeof sub) == ERROR_SUCCESS; ++i) {
        std::string child = key.empty() ? std::string(sub) : key + "\\" + sub;
        if (Foreign(child) || IEquals(child, PlayKey))
            continue;
        if (recurse && depth < 8)
            ListKeys(out, root, rootName, child, recurse, depth + 1);
        else
            out[rootName + "\\" + child] = "<key>";
    }
    RegCloseKey(opened);
}

std::string WindowsDirectory()
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return dir;
}

void PlantSentinels()
{
    CreateDirectoryA("C:\\e2e", nullptr);
    CreateDirectoryA(SentinelDir, nullptr);
    CreateDirectoryA((std::string(SentinelDir) + "\\DATA").c_str(), nullptr);
    const std::string dir = std::string(SentinelDir) + "\\";
    for (const char *name : {"keep.txt", "ソ表.txt", "DATA\\keep.dat", "HELP.GID", "RobSentinel.lnk"})
        if (!Exists(dir + name))
            WriteFile(dir + name, std::string("sentinel ") + name);
    if (!Exists(dir + "readonly.txt")) {
        WriteFile(dir + "readonly.txt", "read-only sentinel");
        SetFileAttributesA((dir + "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    for (const char *kind : {"Programs", "Desktop", "Startup"}) {
        std::string folder = ShellFolder(kind);
        if (!Exists(folder + "\\RobSentinel.lnk"))
            WriteFile(folder + "\\RobSentinel.lnk", "sentinel link");
    }
    CreateDirectoryA((ShellFolder("Programs") + "\\RobSentinel").c_str(), nullptr);
    if (!Exists(ShellFolder("Programs") + "\\RobSentinel\\keep.lnk"))
        WriteFile(ShellFolder("Programs") + "\\RobSentinel\\keep.lnk", "sentinel link");
    if (IsDirectory("S:\\") && !Exists("S:\\rob-sentinel.txt"))
        WriteFile("S:\\rob-sentinel.txt", "sentinel");
    RegWrite(HKEY_CURRENT_USER, SentinelKey, "Keep", "sentinel");
    RegWrite(HKEY_CURRENT_USER, std::string(SentinelKey) + "\\Deep\\Deeper", "Keep", "sentinel");
    RegWrite(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\RobSentinel", "DisplayName", "sentinel");
    RegWrite(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\RobSentinel", "UninstallString", "C:\\x /r");
    RegWrite(HKEY_CLASSES_ROOT, "RobSentinel\\shell", "", "sentinel");
}

Listing Surroundings()
{
    Listing out;
    ListFiles(out, SentinelDir, true, true);
    std::string programs = ShellFolder("Programs");
    ListFiles(out, programs.substr(0, programs.find_last_of('\\')), true, false);  // the whole Start menu
    ListFiles(out, ShellFolder("Desktop"), false, false);
    ListFiles(out, ShellFolder("Startup"), true, false);
    if (IsDirectory("S:\\"))
        ListFiles(out, "S:", true, false);
    ListFiles(out, "C:", false, false);
    ListFiles(out, "C:\\e2e", false, false);
    ListFiles(out, "C:\\Program Files", false, false);
    Listing windows, system;
    ListFiles(windows, WindowsDirectory(), false, false);
    ListFiles(system, SystemDirectory(), false, false);
    for (auto *listing : {&windows, &system})
        for (auto &item : *listing)
            out[item.first] = item.second == "<dir>" ? "<dir>" : "<file>";  // names only: the system writes there
    out["WININIT.INI"] = ReadFile(WindowsDirectory() + "\\WININIT.INI");
    ListKeys(out, HKEY_CURRENT_USER, "HKCU", SentinelKey, true);
    ListKeys(out, HKEY_LOCAL_MACHINE, "HKLM", std::string(UninstallKey) + "\\RobSentinel", true);
    ListKeys(out, HKEY_CLASSES_ROOT, "HKCR", "RobSentinel", true);
    ListKeys(out, HKEY_CURRENT_USER, "HKCU", "", false);
    ListKeys(out, HKEY_CURRENT_USER, "HKCU", "Software", false);
    ListKeys(out, HKEY_LOCAL_MACHINE, "HKLM", "SOFTWARE", false);
    ListKeys(out, HKEY_LOCAL_MACHINE, "HKLM", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false);
    ListKeys(out, HKEY_LOCAL_MACHINE, "HKLM", UninstallKey, false);
    ListKeys(out, HKEY_CLASSES_ROOT, "HKCR", "", false);
    return out;
}

std::vector<std::string> Differences(const Listing &before, const Listing &after)
{
    std::vector<std::string> out;
    for (const auto &item : before) {
        auto found = after.find(item.first);
        if (found == after.end())
            out.push_back("gone: " + item.first);
        else if (found->second != item.second)
            out.push_back("changed: " + item.first);
    }
    for (const auto &item : after)
        if (before.find(item.first) == before.end())
            out.push_back("new: " + item.first);
    return out;
}

// The deletions pending for the next start, empty when there are none.
std::string PendingOperations()
{
    DWORD type = 0;
    std::string value = RegRead(HKEY_LOCAL_MACHINE, SessionManager, "PendingFileRenameOperations", &type);
    return type == REG_MULTI_SZ ? value : std::string();
}

// The deletions that removal runs leave to the next start: pairs of
// NUL-terminated names in one value.
std::vector<std::string> PendingNames(const std::string &value)
{
    std::vector<std::string> names;
    size_t at = 0;
    while (at < value.size()) {
        size_t end = value.find('\0', at);
        if (end == std::string::npos)
            end = value.size();
        names.push_back(value.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// ---------------------------------------------------------------------------
// One case on its way.

struct Tally {
    int tried[3] = {0, 0, 0};
    int passed[3] = {0, 0, 0};
};

struct Run {
    const Case *c = nullptr;
    int number = 0;
    std::string dir;       // C:\e2e\rob\<n>\ with the backslash
    std::string title;     // as the program reads it, shown through the code page
    std::string folder;
    std::vector<std::string> sources;  // [Install] values as the program reads them
    std::vector<std::string> places;   // paths a message may begin with
    std::vector<std::string> cleanup;  // files outside the case directory
    std::string typed;
    malformed::Expect expect = malformed::ExpectAny;
    Process process;
    DWORD started = 0;
    DWORD limit = 0;
    std::vector<std::string> faults;
    std::vector<std::string> seen;  // "broken", "wizard", "confirm", "removal", other boxes
    std::map<HWND, DWORD> acted;    // windows answered or pressed, and when
    int destinationTries = 0;
    bool labelChecked = false, optionsDone = false, removalChecked = false;
    DWORD destinationAt = 0;
    int status = 0;
    bool done = false;
    DWORD ended = 0;
};

std::string CaseDir(int number)
{
    char dir[32];
    snprintf(dir, sizeof dir, "%s\\%03d\\", RobRoot, number);
    return dir;
}

bool IsAbsolute(const std::string &path)
{
    return path.size() > 2 && path[1] == ':';
}

void MakeParents(const std::string &path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

std::string Profile(const std::string &path, const char *section, const char *key, DWORD size)
{
    std::string value(size, '\0');
    GetPrivateProfileStringA(section, key, "", &value[0], size, path.c_str());
    value.resize(lstrlenA(value.c_str()));  // the program goes by the terminator, not the count
    return value;
}

// Whether an installation refuses the script for one of its [Install]
// entries (those before the first without a source), by the program's rule.
bool RefusesEntries(const std::string &script)
{
    lstrcpyA(State.scriptPath, script.c_str());
    for (int n = 1;; ++n) {
        std::string value = Profile(script, "Install", std::to_string(n).c_str(), 260);
        const char *comma = FindCharMbcs(value.c_str(), ',');
        if (value.empty() || comma == value.c_str())
            return false;
        if (!IsFileEntrySound(n))
            return true;
    }
}

// The directory part of a path, split at its last 0x5C byte the way the
// program splits the setup program's path.
std::string ByteDirectory(const std::string &path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ByteName(const std::string &path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Prepare(Run &run)
{
    const Case &c = *run.c;
    run.dir = CaseDir(run.number);
    RemoveTree(run.dir.substr(0, run.dir.size() - 1));
    MakeParents(run.dir);
    CreateDirectoryA(run.dir.c_str(), nullptr);
    const std::string exe = run.dir + malformed::Expand(c.exe, run.dir, run.number);
    MakeParents(exe);
    if (!CopyFileA(TEST_SETUP_EXE, exe.c_str(), FALSE)) {
        run.faults.push_back("could not place SETUP.EXE at " + exe);
        return false;
    }
    for (const malformed::File &file : c.files) {
        std::string path = malformed::Expand(file.path, run.dir, run.number);
        if (!IsAbsolute(path))
            path = run.dir + path;
        else
            run.cleanup.push_back(path);
        MakeParents(path);
        if (file.bytes == "{exe}")
            CopyFileA(TEST_SETUP_EXE, path.c_str(), FALSE);
        else
            WriteFile(path, malformed::Expand(file.bytes, run.dir, run.number));
    }
    // Keys for the [Reg] entries to find.
    RegWrite(HKEY_CURRENT_USER, std::string(PlayKey) + "\\" + std::to_string(run.number) + "\\Sub", "v", "x");

    std::string oracle = malformed::Expand(c.oracle, run.dir, run.number);
    if (!IsAbsolute(oracle))
        oracle = run.dir + oracle;
    std::string title = Profile(oracle, "Install", "Title", 100);
    run.folder = Profile(oracle, "Install", "Folder", 100);
    run.title = title;
    for (int i = 1; i <= 60; ++i)
        run.sources.push_back(Profile(oracle, "Install", std::to_string(i).c_str(), 260));
    run.expect = c.expect;
    if (run.expect == malformed::ExpectAuto) {
        bool usable = IsSoundLabel(title.c_str(), 0) && IsSoundLabel(run.folder.c_str(), 1) &&
                      (c.mode != malformed::InstallMode || !RefusesEntries(oracle));
        run.expect = !usable                            ? malformed::ExpectBroken
                     : c.mode == malformed::InstallMode ? malformed::ExpectWizard
                     : c.mode == malformed::RequestMode ? malformed::ExpectConfirm
                                                        : malformed::ExpectRemoval;
    } else if (run.expect == malformed::ExpectWizard && GetACP() != 932 && RefusesEntries(oracle)) {
        // Under another code page the names' second bytes are separators of
        // their own, and the program's rule judges the entries by them.
        run.expect = malformed::ExpectBroken;
    }

    std::string tail = malformed::Expand(c.tail, run.dir, run.number);
    run.places = {run.dir};
    run.typed = malformed::Expand(c.typed, run.dir, run.number);
    if (!run.typed.empty())
        run.places.push_back(run.typed);
    if (tail.size() > 2 && tail[0] == 'x')
        run.places.push_back(ByteDirectory(tail.substr(2)));
    run.places.push_back(ShellFolder("Programs") + "\\");
    // Entries -1 and 0: the setup program's own name and the script's.
    std::string exeName = ByteName(exe);
    run.sources.push_back(exeName);
    if (exeName.size() >= 3)
        run.sources.push_back(exeName.substr(0, exeName.size() - 3) + "INF");
    std::string line = "\"" + exe + "\"" + (tail.empty() ? "" : " " + tail);
    run.process = Start(line, run.dir);
    run.started = GetTickCount();
    run.limit = Scaled(c.walk ? 40000 : c.mode == malformed::RunMode ? 30000 : 15000);
    if (run.process.handle == nullptr) {
        run.faults.push_back("could not start (error " + std::to_string(run.process.error) + "): " + line);
        return false;
    }
    return true;
}

std::string Class(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> Windows(DWORD pid)
{
    WindowSearch search = {pid, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Visible(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr && IsWindowVisible(item);
}

bool IsBox(HWND window)
{
    return Class(window) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr && GetDlgItem(window, NextButton) == nullptr;
}

bool IsSheet(HWND window)
{
    return Class(window) == "#32770" && GetDlgItem(window, NextButton) != nullptr;
}

bool IsRemovalDialog(HWND window)
{
    return Class(window) == "#32770" && GetDlgItem(window, 1010) != nullptr && GetDlgItem(window, IDCANCEL) != nullptr;
}

// A path at the front of a message must lie where the case put things.
bool KnownPlace(const Run &run, const std::string &path)
{
    if (path.empty())
        return false;
    for (const std::string &place : run.places) {
        std::string shown = Shown(place);
        if (IStarts(path, shown) || IStarts(shown, path))
            return true;
    }
    return false;
}

bool KnownSource(const Run &run, const std::string &name)
{
    for (const std::string &source : run.sources) {
        std::string shown = Shown(source);
        if (!name.empty() && (shown == name || IStarts(shown, name + ",")))
            return true;
    }
    return false;
}

// Judges one message box; returns what it is ("broken", "confirm", ...) or
// an empty text after adding a fault.
std::string Judge(Run &run, const std::string &text, const std::string &caption, const std::vector<int> &buttons)
{
    const std::vector<int> ok = {IDOK}, okCancel = {IDOK, IDCANCEL}, yesNo = {IDYES, IDNO},
                           yesNoCancel = {IDCANCEL, IDYES, IDNO};
    const std::string errorCaption = DefaultCaption();
    auto fault = [&](const std::string &why) {
        run.faults.push_back(why + ": [" + text + "] caption [" + caption + "]");
        return std::string();
    };
    auto error = [&](const std::string &kind) {
        if (caption != errorCaption || buttons != ok)
            return fault("error box with caption or buttons of its own");
        return kind;
    };
    const std::string title = run.title;
    for (const char *fixed : {Broken, RootRefused, FormRefused, RegRefused, LaunchFailed})
        if (text == Shown(fixed))
            return error(fixed == Broken ? "broken" : "fixed");

    if (text == Shown(title + ConfirmTail) || text == Shown(title + ConfirmTail + ResidentTail)) {
        if (caption != Shown(title) || buttons != okCancel)
            return fault("confirmation with wrong caption or buttons");
        return "confirm";
    }
    if (text.compare(0, Shown(FreeSpaceHead).size(), Shown(FreeSpaceHead)) == 0 && Ends(text, Shown(FreeSpaceTail))) {
        std::string figure = text.substr(Shown(FreeSpaceHead).size(),
                                         text.size() - Shown(FreeSpaceHead).size() - Shown(FreeSpaceTail).size());
        if (figure.empty() || figure.size() > 3 || figure.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(figure) > 100)
            return fault("free-space figure");
        if (caption != Shown(title) || buttons != yesNo)
            return fault("free-space question with wrong caption or buttons");
        return "question";
    }
    if (text == Shown(title + NotStartedTail)) {
        if (caption != Shown(title) || buttons != ok)
            return fault("not-started message with wrong caption or buttons");
        return "notstarted";
    }
    if (Ends(text, Shown(SweepQuestion))) {
        if (!KnownPlace(run, text.substr(0, text.size() - Shown(SweepQuestion).size())))
            return fault("question about a file outside the case");
        if (caption != Shown(title) || buttons != yesNoCancel)
            return fault("sweep question with wrong caption or buttons");
        return "question";
    }
    if (Ends(text, Shown(SharedKept))) {
        if (!KnownPlace(run, text.substr(0, text.size() - Shown(SharedKept).size())))
            return fault("shared folder outside the case");
        if (caption != Shown(title) || buttons != ok)
            return fault("shared folder message with wrong caption or buttons");
        return "shared";
    }
    size_t held = text.find(Shown(HeldHead));
    if (held != std::string::npos && text.substr(held + Shown(HeldHead).size()) == Shown(title + HeldTail)) {
        if (!KnownPlace(run, text.substr(0, held)))
            return fault("held program outside the case");
        return error("held");
    }
    if (Ends(text, Shown(CopyFailed))) {
        std::string source = text.substr(0, text.size() - Shown(CopyFailed).size());
        if (!KnownSource(run, source))
            return fault("copy message naming no source of the script");
        return error("copy");
    }
    for (const char *suffix : {FileInTheWay, CreateFailed, InUse, DeleteFailed, DirectoryFailed}) {
        if (Ends(text, Shown(suffix))) {
            if (!KnownPlace(run, text.substr(0, text.size() - Shown(suffix).size())))
                return fault("path outside the case");
            return error("path");
        }
    }
    return fault("text the program does not compose");
}

void Act(Run &run, HWND window, const std::function<void()> &action)
{
    DWORD now = GetTickCount();
    auto found = run.acted.find(window);
    if (found != run.acted.end() && now - found->second < Scaled(3000))
        return;  // answered a moment ago; give it time to close
    run.acted[window] = now;
    action();
}

void Note(Run &run, const std::string &kind)
{
    if (run.seen.empty() || run.seen.back() != kind)
        run.seen.push_back(kind);
}

void AnswerBox(Run &run, HWND box)
{
    if (run.acted.count(box) && GetTickCount() - run.acted[box] < Scaled(3000))
        return;
    Sleep(Scaled(30));  // its text is set while it opens
    std::string text = ControlText(box, 0xFFFF);
    std::string caption = WindowText(box);
    std::vector<int> buttons;
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        if (Visible(box, id))
            buttons.push_back(id);
    if (!run.acted.count(box)) {
        Note(run, Judge(run, text, caption, buttons));
        if (GetEnvironmentVariableA("ROB_VERBOSE", nullptr, 0))
            printf("%d: [%s] [%s]\n", run.number, text.c_str(), caption.c_str());
    }
    int answer = std::count(buttons.begin(), buttons.end(), IDCANCEL) ? IDCANCEL
                 : std::count(buttons.begin(), buttons.end(), IDNO)   ? IDNO
                                                                       : IDOK;
    Act(run, box, [&] { PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0); });
}

void WorkWizard(Run &run, HWND sheet)
{
    Note(run, "wizard");
    DWORD_PTR result = 0;
    SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, Scaled(3000), &result);
    HWND page = reinterpret_cast<HWND>(result);
    if (page == nullptr)
        return;
    const Case &c = *run.c;
    if (GetDlgItem(page, 1001) != nullptr && !run.labelChecked) {
        run.labelChecked = true;
        std::string label = ControlText(page, 1000);
        if (label != Shown(run.title + LabelTail))
            run.faults.push_back("destination label [" + label + "]");
    }
    if (!c.walk) {
        Act(run, sheet, [&] { Press(sheet, PSBTN_CANCEL); });
        return;
    }
    if (GetDlgItem(page, 1001) != nullptr) {
        if (run.destinationTries == 0) {
            if (!ButtonEnabled(sheet, NextButton))
                return;
            // The typed text holds code page 932 bytes: set it as the program would see them.
            std::wstring wide(run.typed.size() + 1, L'\0');
            wide.resize(MultiByteToWideChar(CasePage, 0, run.typed.data(), int(run.typed.size()), &wide[0],
                                            int(wide.size())));
            SendMessageW(GetDlgItem(page, 1001), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
            run.destinationTries = 1;
            run.destinationAt = GetTickCount();
            Press(sheet, PSBTN_NEXT);
        } else if (GetTickCount() - run.destinationAt > Scaled(2500)) {
            // The page was kept after a refusal: give up like a user would.
            Act(run, sheet, [&] { Press(sheet, PSBTN_CANCEL); });
        }
        return;
    }
    if (GetDlgItem(page, 1006) != nullptr) {
        if (!run.optionsDone) {
            run.optionsDone = true;
            SendMessageA(GetDlgItem(page, 1006), BM_SETCHECK, c.startMenu ? BST_CHECKED : BST_UNCHECKED, 0);
            SendMessageA(GetDlgItem(page, 1005), BM_SETCHECK, BST_UNCHECKED, 0);
            Press(sheet, PSBTN_NEXT);
        }
        return;
    }
    if (GetDlgItem(page, 1008) != nullptr && ButtonEnabled(sheet, FinishButton)) {
        std::string text = ControlText(page, 1008);
        // A program busy for a moment (a shell notification on its way, say)
        // is asked again at the next poll; one that never answers runs out
        // of the case's time.
        if (text == "<no answer>")
            return;
        if (text != Shown(Complete))
            run.faults.push_back("progress text at the end [" + text + "]");
        Note(run, "complete");
        Act(run, sheet, [&] { Press(sheet, c.finish ? PSBTN_FINISH : PSBTN_CANCEL); });
    }
}

void WorkRemovalDialog(Run &run, HWND dialog)
{
    Note(run, "removal");
    if (!run.removalChecked) {
        run.removalChecked = true;
        std::string caption = WindowText(dialog);
        if (caption != Shown(run.title + RemovalCaptionTail))
            run.faults.push_back("removal caption [" + caption + "]");
    }
    HWND close = GetDlgItem(dialog, IDCANCEL);
    if (!IsWindowEnabled(close))
        return;
    std::string text = ControlText(dialog, 1010);
    bool fine = text == Shown(run.title + Removed) ||
                (Ends(text, Shown(LeftBehind)) && KnownPlace(run, text.substr(0, text.size() - Shown(LeftBehind).size())));
    if (!fine && !run.acted.count(dialog))
        run.faults.push_back("removal outcome [" + text + "]");
    if (text == Shown(Working))
        return;
    Act(run, dialog, [&] { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); });
}

void Poll(Run &run)
{
    if (WaitForSingleObject(run.process.handle, 0) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(run.process.handle, &code);
        run.status = int(code);
        run.ended = GetTickCount();
        if (code != 1) {
            char hex[16];
            snprintf(hex, sizeof hex, "0x%08lX", code);
            run.faults.push_back(std::string("exit status ") + hex);
        }
        run.done = true;
        return;
    }
    if (GetTickCount() - run.started > run.limit) {
        std::string shown;
        for (HWND window : Windows(run.process.id))
            shown += " [" + Class(window) + " '" + WindowText(window) + "']";
        run.faults.push_back("still running after " + std::to_string(run.limit / 1000) + " s (hang):" + shown);
        Kill(run.process);
        run.done = true;
        return;
    }
    std::vector<HWND> windows = Windows(run.process.id);
    // What stands behind a box counts as seen first.
    for (HWND window : windows) {
        if (IsRemovalDialog(window))
            Note(run, "removal");
        else if (IsSheet(window))
            Note(run, "wizard");
    }
    for (HWND window : windows)
        if (IsBox(window)) {
            AnswerBox(run, window);
            return;  // the box is modal; its owner waits
        }
    for (HWND window : windows) {
        if (IsRemovalDialog(window))
            WorkRemovalDialog(run, window);
        else if (IsSheet(window))
            WorkWizard(run, window);
        else if (Class(window) == "#32770" && GetTickCount() - run.started > Scaled(5000) && !run.acted.count(window)) {
            run.acted[window] = GetTickCount();
            run.faults.push_back("unexpected window '" + WindowText(window) + "'");
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
    }
}

const char *ModeName(malformed::Mode mode)
{
    return mode == malformed::InstallMode ? "install" : mode == malformed::RequestMode ? "request" : "removal";
}

void Finish(Run &run)
{
    const char *expected[] = {"", "broken", "wizard", "confirm", "removal", ""};
    const char *want = expected[run.expect];
    if (*want && (run.seen.empty() || run.seen.front() != want)) {
        std::string seen;
        for (const std::string &kind : run.seen)
            seen += " " + (kind.empty() ? std::string("<fault>") : kind);
        run.faults.push_back(std::string("expected ") + want + " first, saw:" + seen);
    }
    if (!run.c->never.empty() && std::count(run.seen.begin(), run.seen.end(), run.c->never))
        run.faults.push_back("showed a " + run.c->never + " box");
    if (!run.c->must.empty() && !std::count(run.seen.begin(), run.seen.end(), run.c->must))
        run.faults.push_back("showed no " + run.c->must + " box");
    if (run.expect == malformed::ExpectBroken && run.seen.size() > 1)
        run.faults.push_back("more than the script message after a refused start");
    if (run.process.handle != nullptr)
        Kill(run.process);
    // A walk leaves the registration and maybe a Start-menu entry behind:
    // clean them where their names are plain enough to name them safely.
    if (run.c->walk) {
        std::string first = run.folder.substr(0, run.folder.find('\\'));
        if (!first.empty() && first.find_first_of("*?.") == std::string::npos)
            RegDeleteTree(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\" + first);
        if (!run.title.empty() && run.title.find_first_of("\\/:*?\".") == std::string::npos) {
            RemoveTree(ShellFolder("Programs") + "\\" + run.title);
            for (const char *kind : {"Programs", "Desktop", "Startup"})
                RemoveTree(ShellFolder(kind) + "\\" + run.title + ".lnk");
        }
    }
    for (const std::string &path : run.cleanup)
        RemoveTree(path);
    RegDeleteTree(HKEY_CURRENT_USER, std::string(PlayKey) + "\\" + std::to_string(run.number));
}

// Runs the cases numbered from `first`, `parallel` at a time.
void RunCases(const std::vector<Case> &cases, int first, Tally &tally)
{
    char setting[16] = "";
    int parallel = GetEnvironmentVariableA("ROB_PARALLEL", setting, sizeof setting) ? atoi(setting) : 4;
    bool verbose = GetEnvironmentVariableA("ROB_VERBOSE", setting, sizeof setting) != 0;
    std::vector<Run> runs(cases.size());
    size_t next = 0, finished = 0;
    std::vector<Run *> active;
    while (finished < runs.size()) {
        while (active.size() < size_t(parallel) && next < runs.size()) {
            Run &run = runs[next];
            run.c = &cases[next];
            run.number = first + int(next);
            ++next;
            if (run.c->label.empty()) {
                run.done = true;
                ++finished;
                continue;
            }
            if (Prepare(run)) {
                active.push_back(&run);
            } else {
                Finish(run);
                ++finished;
            }
        }
        for (Run *run : active)
            Poll(*run);
        for (auto it = active.begin(); it != active.end();) {
            if ((*it)->done) {
                Finish(**it);
                if (verbose) {
                    std::string seen;
                    for (const std::string &kind : (*it)->seen)
                        seen += " " + kind;
                    printf("%d %s: %lu ms,%s\n", (*it)->number, (*it)->c->label.c_str(),
                           (*it)->ended - (*it)->started, seen.c_str());
                    fflush(stdout);
                }
                ++finished;
                it = active.erase(it);
            } else {
                ++it;
            }
        }
        Sleep(40);
    }
    for (const Run &run : runs) {
        if (run.c->label.empty())
            continue;
        int mode = run.c->mode;
        ++tally.tried[mode];

        if (run.faults.empty()) {
            ++tally.passed[mode];
            continue;
        }
        std::string all;
        for (const std::string &fault : run.faults)
            all += "\n    " + fault;
        ADD_FAILURE() << "case " << run.number << " (" << ModeName(run.c->mode) << ", " << run.c->label << ", tail '"
                      << malformed::Expand(run.c->tail, run.dir, run.number) << "'):" << all;
    }
}

// Every group adds to this; a run of several groups in one process ends with
// the whole count.
Tally Total;

std::string Counts(const Tally &tally)
{
    int tried = tally.tried[0] + tally.tried[1] + tally.tried[2];
    int passed = tally.passed[0] + tally.passed[1] + tally.passed[2];
    std::string out = std::to_string(tried) + " cases, " + std::to_string(passed) + " passed (";
    for (int mode = 0; mode < 3; ++mode)
        out += std::string(mode ? ", " : "") + ModeName(malformed::Mode(mode)) + " " +
               std::to_string(tally.passed[mode]) + "/" + std::to_string(tally.tried[mode]);
    return out + ")";
}

// Sets up the surroundings, runs the cases, and checks that nothing around
// them changed and that the removal runs left only their own deletions.
void Suite(const std::string &group, const std::vector<Case> &all, int first, Tally &tally,
           const char *version = "win7")
{
    // ROB_ONLY=<number> runs one case alone, under its usual number.
    std::vector<Case> cases = all;
    char only[16] = "";
    if (GetEnvironmentVariableA("ROB_ONLY", only, sizeof only)) {
        int n = atoi(only) - first;
        if (n < 0 || n >= int(all.size()))
            return;
        cases = std::vector<Case>(all.begin(), all.begin() + n + 1);
        for (int i = 0; i < n; ++i)
            cases[i].label = "";  // skipped below
    }
    SetWindowsVersion(version);
    RegDeleteTree(HKEY_CURRENT_USER, PlayKey);
    PlantSentinels();
    DWORD listed = GetTickCount();
    const Listing before = Surroundings();
    printf("listing the surroundings: %lu ms, %zu items\n", GetTickCount() - listed, before.size());
    const std::string pendingBefore = PendingOperations();
    DWORD start = GetTickCount();

    RunCases(cases, first, tally);
    SetWindowsVersion("win7");

    RegDeleteTree(HKEY_CURRENT_USER, PlayKey);
    for (const std::string &difference : Differences(before, Surroundings()))
        ADD_FAILURE() << group << ": written outside the cases: " << difference;
    const std::string pending = PendingOperations();
    if (pending != pendingBefore) {
        // Only names that appeared are the cases' own; one that went was
        // carried out or dropped by the platform, which is none of their doing.
        std::vector<std::string> names = PendingNames(pending);
        std::vector<std::string> old = PendingNames(pendingBefore);
        for (const std::string &name : names) {
            if (!name.empty() && std::find(old.begin(), old.end(), name) == old.end()) {
                EXPECT_TRUE(IStarts(name, std::string("\\??\\") + RobRoot + "\\")) << "pending: " << name;
            }
        }
        // Restore what was pending before: the copies in C:\e2e\rob go with the tree.
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            if (pendingBefore.empty())
                RegDeleteValueA(key, "PendingFileRenameOperations");
            else
                RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE *>(pendingBefore.data()), DWORD(pendingBefore.size()));
            RegCloseKey(key);
        }
    }
    printf("robustness, %s: %s in %lu s\n", group.c_str(), Counts(tally).c_str(), (GetTickCount() - start) / 1000);
    for (int mode = 0; mode < 3; ++mode) {
        Total.tried[mode] += tally.tried[mode];
        Total.passed[mode] += tally.passed[mode];
    }
    if (!GetEnvironmentVariableA("ROB_KEEP", nullptr, 0))
        RemoveTree(RobRoot);
}

class TotalPrinter : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest &) override
    {
        if (Total.tried[0] + Total.tried[1] + Total.tried[2] > 0)
            printf("robustness: %s\n", Counts(Total).c_str());
    }
};

const bool PrinterInstalled = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new TotalPrinter);
    return true;
}();

}  // namespace

TEST(Robustness, HandPickedScripts)
{
    Tally tally;
    Suite("hand-picked scripts", malformed::HandPickedScripts(), 1, tally);
}

TEST(Robustness, HandPickedWalksThroughTheWizard)
{
    Tally tally;
    Suite("hand-picked walks", malformed::HandPickedWalks(), 200, tally);
}

TEST(Robustness, HandPickedCommandLines)
{
    Tally tally;
    Suite("hand-picked command lines", malformed::HandPickedCommandLines(), 300, tally);
}

TEST(Robustness, HandPickedRemovalRuns)
{
    Tally tally;
    Suite("hand-picked removal runs", malformed::HandPickedRemovals(), 400, tally);
}

// On the old shell the group and item names go to Program Manager, which
// may keep its groups as folders: a name must stay a name there too.
TEST(Robustness, OldShellGroupNames)
{
    std::vector<Case> cases = malformed::HandPickedProgmanNames();
    Tally tally;
    Suite("old shell", cases, 700, tally, "nt351");
}

// The seed is fixed, so every run tries the same cases; a failure names its
// case number, and the case can be regenerated from it.
const unsigned Seed = 20240607;

TEST(Robustness, GeneratedScriptsInEveryMode)
{
    std::vector<Case> cases = malformed::Generated(Seed, 18, malformed::InstallMode);
    for (const Case &c : malformed::Generated(Seed + 1, 12, malformed::RequestMode))
        cases.push_back(c);
    for (const Case &c : malformed::Generated(Seed + 2, 22, malformed::RunMode))
        cases.push_back(c);
    Tally tally;
    Suite("generated", cases, 500, tally);
}

// Run by the probe below, in a process started the way SETUP.EXE is started:
// the code page a child of the driver gets.
TEST(Robustness, DISABLED_CodePageProbe)
{
    char path[MAX_PATH] = "";
    ASSERT_NE(0u, GetEnvironmentVariableA("ROB_CODE_PAGE_FILE", path, sizeof path));
    WriteFile(path, std::to_string(GetACP()));
}

// Part of the suite on a system whose code page has no lead bytes at all:
// CTest starts the driver with a Western locale for this test alone, and
// SETUP.EXE inherits it. Every 0x5C byte is then a separator.
TEST(Robustness, DISABLED_ForeignCodePage)
{
    const std::string file = "C:\\e2e\\rob-code-page.txt";
    CreateDirectoryA("C:\\e2e", nullptr);
    DeleteFileA(file.c_str());
    SetEnvironmentVariableA("ROB_CODE_PAGE_FILE", file.c_str());
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    Process probe = Start("\"" + std::string(self) +
                              "\" --gtest_also_run_disabled_tests --gtest_filter=Robustness.DISABLED_CodePageProbe",
                          "C:\\");
    ASSERT_EQ(0, WaitExit(probe, 30000));
    Kill(probe);
    const std::string child = ReadFile(file);
    DeleteFileA(file.c_str());
    ASSERT_NE(932u, GetACP()) << "started without the Western locale";
    ASSERT_EQ(std::to_string(GetACP()), child) << "the child does not share the driver's code page";
    printf("robustness: driver and SETUP.EXE run with code page %s\n", child.c_str());

    CasePage = GetACP();
    // The walks, and the removal runs whose texts hold double-byte characters
    // or lone lead bytes: the ones whose separators move.
    std::vector<Case> cases = malformed::HandPickedWalks();
    for (const Case &c : malformed::HandPickedRemovals()) {
        const std::string &text = c.files.front().bytes;
        if (std::any_of(text.begin(), text.end(), [](char ch) { return (ch & 0x80) != 0; }))
            cases.push_back(c);
    }
    // Emulated, each start of SETUP.EXE costs the emulator half a minute,
    // during which the driver waits in CreateProcess: two walks, which this
    // code page refuses at start (their entries' 0x5C second bytes are
    // separators here), and one removal for each way a separator moves (a
    // 0x5C second byte, a lone lead byte at the end).
    if (Scaled(1) > 1) {
        static const char *const chosen[] = {"levels with 0x5C second bytes", "Start menu, Title ending in a lead byte",
                                             "Reg key with 0x5C second bytes",
                                             "Install destination ending in a lead byte"};
        std::vector<Case> kept;
        for (const char *label : chosen) {
            auto found = std::find_if(cases.begin(), cases.end(), [&](const Case &c) { return c.label == label; });
            ASSERT_NE(cases.end(), found) << "no case '" << label << "' to choose";
            kept.push_back(*found);
        }
        printf("robustness: emulated, %zu of the %zu cases\n", kept.size(), cases.size());
        cases = kept;
    }
    // What must or must not be reported depends on where the separators are.
    for (Case &c : cases)
        c.must = c.never = "";
    Tally tally;
    Suite("code page " + child, cases, 600, tally);
}
