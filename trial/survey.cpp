// What a trial looks at in the prefix: the script, files, shortcut folders,
// shell links, registry keys and running processes.
#include "trial.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

namespace trial {

static std::string Profile(const std::string &path, const char *section, const char *key)
{
    char value[1024];
    GetPrivateProfileStringA(section, key, "", value, sizeof value, path.c_str());
    return value;
}

Script ReadScript(const std::string &dist, const std::string &exe)
{
    Script script;
    script.exe = exe;
    script.path = dist + exe.substr(0, exe.size() - 3) + "INF";
    script.title = Profile(script.path, "Install", "Title");
    script.folder = Profile(script.path, "Install", "Folder");
    script.tsr = Profile(script.path, "Install", "TSR");
    script.open = Profile(script.path, "Install", "Open");
    script.first = Profile(script.path, "Install", "1");
    for (int n = 1;; ++n) {
        std::string key = Profile(script.path, "Reg", std::to_string(n).c_str());
        if (key.empty())
            break;
        script.regKeys.push_back(key);
    }
    // As the loader counts them: an entry without a comma or with an empty caption ends the list.
    for (int n = 1;; ++n) {
        std::string entry = Profile(script.path, "Group", std::to_string(n).c_str());
        size_t comma = entry.find(',');
        if (comma == std::string::npos || comma == 0)
            break;
        script.groups.push_back(entry);
    }
    return script;
}

// A comma is never the second byte of a double-byte character, so entries
// split at it byte by byte.
static AskedItem FileItem(const Script &script, const std::string &name)
{
    size_t comma = script.first.find(',');
    return {name, comma == std::string::npos ? script.first : script.first.substr(comma + 1), ""};
}

static AskedItem GroupItem(const std::string &entry, const std::string &name)
{
    std::string rest = entry.substr(entry.find(',') + 1);
    size_t comma = rest.find(',');
    return {name, rest.substr(0, comma), comma == std::string::npos ? "" : rest.substr(comma + 1)};
}

std::vector<AskedItem> AskedShortcuts(const Script &script, bool oldShell)
{
    // The default answers: the Start menu checked, the desktop not. A
    // resident product gets one item under its title: on the old shell the
    // first [Group] entry's, else the program's.
    if (script.tsr.compare(0, 1, "1") == 0)
        return {oldShell && !script.groups.empty() ? GroupItem(script.groups[0], script.title)
                                                   : FileItem(script, script.title)};
    std::vector<AskedItem> items;
    for (const std::string &entry : script.groups)
        items.push_back(GroupItem(entry, entry.substr(0, entry.find(','))));
    if (!items.empty())
        return items;
    if (oldShell)
        return {FileItem(script, script.title), {script.exe + "の削除", script.exe, "/r"}};
    return {FileItem(script, script.title)};
}

// The last part of a path, with double-byte characters stepped over: the
// second byte of ソ is a backslash.
static std::string FileName(const std::string &path)
{
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByteEx(932, BYTE(path[i])))
            ++i;
        else if (path[i] == '\\')
            start = i + 1;
    }
    return path.substr(start);
}

std::vector<AskedItem> MissingShortcuts(const std::vector<AskedItem> &asked, const std::vector<std::string> &made)
{
    std::vector<AskedItem> missing;
    for (const AskedItem &item : asked) {
        bool found = false;
        for (const std::string &path : made)
            found = found || lstrcmpiA(FileName(path).c_str(), (item.name + ".lnk").c_str()) == 0;
        bool repeated = false;  // a repeated caption overwrites the earlier shortcut
        for (const AskedItem &other : missing)
            repeated = repeated || lstrcmpiA(other.name.c_str(), item.name.c_str()) == 0;
        if (!found && !repeated)
            missing.push_back(item);
    }
    return missing;
}

// A string as Wine's trace writes it (debugstr_w): quoted, with \\, \", \n,
// \r and \t escaped and every other character outside ASCII as \ and four
// hex digits. A string the trace cut short ends in "... and is no proof.
static bool DecodeTraced(const std::string &text, size_t at, std::wstring &out)
{
    for (; at < text.size(); ++at) {
        char c = text[at];
        if (c == '"')
            return text.compare(at, 4, "\"...") != 0;
        if (c != '\\') {
            out += wchar_t(static_cast<unsigned char>(c));
            continue;
        }
        if (++at >= text.size())
            return false;
        switch (text[at]) {
        case 'n': out += L'\n'; break;
        case 'r': out += L'\r'; break;
        case 't': out += L'\t'; break;
        case '"': out += L'"'; break;
        case '\\': out += L'\\'; break;
        default:
            if (at + 4 > text.size())
                return false;
            out += wchar_t(strtoul(text.substr(at, 4).c_str(), nullptr, 16));
            at += 3;
        }
    }
    return false;
}

bool ProgmanExecuted(const std::string &command)
{
    char trace[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("TRIAL_DDE_TRACE", trace, sizeof trace);
    if (length == 0 || length >= sizeof trace)
        return false;
    std::wstring wanted(command.size(), L'\0');
    wanted.resize(MultiByteToWideChar(932, 0, command.data(), int(command.size()), &wanted[0], int(wanted.size())));
    const std::string text = driver::ReadFile(trace);
    static const char Marker[] = ":Dde_OnExecute ", Data[] = " data=L\"";
    for (size_t line = 0; line < text.size();) {
        size_t end = text.find('\n', line);
        if (end == std::string::npos)
            end = text.size();
        const std::string one = text.substr(line, end - line);
        size_t data = one.find(Data);
        std::wstring executed;
        if (one.find(Marker) != std::string::npos && data != std::string::npos &&
            DecodeTraced(one, data + sizeof Data - 1, executed) && executed == wanted)
            return true;
        line = end + 1;
    }
    return false;
}

static void Walk(const std::string &dir, const std::string &shown, std::vector<Item> &items, int depth,
                 const std::string &skip = std::string())
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> subdirectories;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        Item item;
        item.name = shown + name;
        item.directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.size = found.nFileSizeLow;
        items.push_back(item);
        if (item.directory && lstrcmpiA((dir + name).c_str(), skip.c_str()) != 0)
            subdirectories.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (depth > 1)
        for (const std::string &name : subdirectories)
            Walk(dir + name + "\\", shown + name + "\\", items, depth - 1, skip);
}

std::vector<Item> ListTree(const std::string &dir)
{
    std::vector<Item> items;
    Walk(dir, "", items, 16);
    return items;
}


std::string ShortcutFolderPath(const std::string &name)
{
    size_t slash = name.find('\\');
    std::string folder = driver::ShellFolder(name.substr(0, slash).c_str());
    return slash == std::string::npos ? folder : folder + name.substr(slash);
}

std::map<std::string, Item> ListShortcutFolders()
{
    // Groups are one level deep; the desktop may be the user's whole home
    // directory on the host, and Startup lies inside Programs.
    static const struct { const char *name; int depth; } folders[] = {{"Programs", 2}, {"Desktop", 1},
                                                                      {"Startup", 1}};
    const std::string startup = driver::ShellFolder("Startup");
    std::map<std::string, Item> all;
    for (const auto &folder : folders) {
        std::vector<Item> items;
        Walk(driver::ShellFolder(folder.name) + "\\", "", items, folder.depth, startup);
        for (Item &item : items) {
            item.name = std::string(folder.name) + "\\" + item.name;
            all[item.name] = item;
        }
    }
    return all;
}

std::string DescribeLink(const std::string &path)
{
    std::string described;
    IShellLinkA *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&link))))
        return "(no shell link object)";
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(file->Load(wide, STGM_READ))) {
            char target[MAX_PATH] = "", arguments[MAX_PATH] = "", directory[MAX_PATH] = "";
            link->GetPath(target, sizeof target, nullptr, SLGP_RAWPATH);
            link->GetArguments(arguments, sizeof arguments);
            link->GetWorkingDirectory(directory, sizeof directory);
            described = std::string("target ") + target;
            if (arguments[0] != '\0')
                described += std::string(", arguments ") + arguments;
            if (directory[0] != '\0')
                described += std::string(", working directory ") + directory;
        } else {
            described = "(not a readable shell link)";
        }
        file->Release();
    }
    link->Release();
    return described;
}

static bool SplitRoot(const std::string &fullKey, HKEY &root, std::string &key)
{
    static const struct { const char *name; HKEY root; } roots[] = {
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER}, {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {"HKEY_USERS", HKEY_USERS}};
    for (const auto &r : roots) {
        size_t length = lstrlenA(r.name);
        if (fullKey.size() > length && fullKey.compare(0, length, r.name) == 0 && fullKey[length] == '\\') {
            root = r.root;
            key = fullKey.substr(length + 1);
            return true;
        }
    }
    return false;
}

std::string AssociatedProgram(const std::string &path)
{
    char program[MAX_PATH] = "";
    return reinterpret_cast<INT_PTR>(FindExecutableA(path.c_str(), nullptr, program)) > 32 ? program : "";
}

bool RegistryKeyExists(const std::string &fullKey)
{
    HKEY root;
    std::string key;
    return SplitRoot(fullKey, root, key) && driver::RegKeyExists(root, key);
}

std::vector<std::pair<std::string, std::string>> RegistryValues(HKEY root, const std::string &key)
{
    std::vector<std::pair<std::string, std::string>> values;
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[2048];
        DWORD nameLength = sizeof name, dataLength = sizeof data, type = 0;
        if (RegEnumValueA(opened, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        std::string text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            text.assign(reinterpret_cast<char *>(data), dataLength);
            while (!text.empty() && text.back() == '\0')
                text.pop_back();
        } else if (type == REG_DWORD && dataLength == 4) {
            text = "dword " + std::to_string(*reinterpret_cast<DWORD *>(data));
        } else {
            text = "(type " + std::to_string(type) + ", " + std::to_string(dataLength) + " bytes)";
        }
        values.emplace_back(name, text);
    }
    RegCloseKey(opened);
    return values;
}

std::map<DWORD, RunningProcess> ProcessList()
{
    std::map<DWORD, RunningProcess> list;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return list;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        std::string image = entry.szExeFile;
        if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
            char path[MAX_PATH];
            DWORD size = sizeof path;
            if (QueryFullProcessImageNameA(process, 0, path, &size))
                image = path;
            CloseHandle(process);
        }
        list[entry.th32ProcessID] = RunningProcess{image, entry.th32ParentProcessID};
    }
    CloseHandle(snapshot);
    return list;
}

}  // namespace trial

namespace trial {

std::string Machine(const std::string &path)
{
    // The PE header's machine field, at the offset the DOS header names.
    std::string bytes = driver::ReadFile(path);
    if (bytes.size() < 64)
        return "an unknown machine (no program header)";
    DWORD at = *reinterpret_cast<const DWORD *>(bytes.data() + 60);
    if (at > bytes.size() - 6)
        return "an unknown machine (no program header)";
    WORD machine = *reinterpret_cast<const WORD *>(bytes.data() + at + 4);
    if (machine == IMAGE_FILE_MACHINE_I386)
        return "i686 (32-bit)";
    if (machine == IMAGE_FILE_MACHINE_AMD64)
        return "x86_64 (64-bit)";
    return "an unknown machine";
}

}  // namespace trial
