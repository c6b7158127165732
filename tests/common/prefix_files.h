// Files of the Wine prefix as the tests see them, shared by the unit tests,
// the end-to-end driver and the benchmark.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <algorithm>
#include <string>
#include <vector>

namespace prefix_files {

// Removes a file or a whole directory tree, read-only entries included. A
// junction or symbolic link is removed as a link: the tree it points to is
// left alone, since tests make such links into places they must not touch.
inline void RemoveTree(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!DeleteFileA(path.c_str()))
            RemoveDirectoryA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                RemoveTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// The names directly inside dir (which ends with a backslash), sorted.
inline std::vector<std::string> ListDir(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A shortcut as the shell reads it back.
struct Link {
    bool loaded = false;
    std::string path, arguments, description, workingDirectory;
};

inline Link ReadLink(const std::string &file)
{
    Link result;
    // Balanced with this thread's own initialisation, which tests count.
    HRESULT initialised = CoInitialize(nullptr);
    IShellLinkA *link;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void **>(&link)))) {
        IPersistFile *persist;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&persist)))) {
            WCHAR wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
            if (SUCCEEDED(persist->Load(wide, STGM_READ))) {
                char text[1024];
                result.loaded = true;
                text[0] = '\0';
                link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH);
                result.path = text;
                text[0] = '\0';
                link->GetArguments(text, sizeof text);
                result.arguments = text;
                text[0] = '\0';
                link->GetDescription(text, sizeof text);
                result.description = text;
                text[0] = '\0';
                link->GetWorkingDirectory(text, sizeof text);
                result.workingDirectory = text;
            }
            persist->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return result;
}

// Runs a host shell command in which each @ stands for the host's name of
// path, a path of the prefix; true once it could be started. The host's name
// is UTF-8, and reaches the host as it is only through the wide command line.
inline bool RunOnHostPath(const std::string &command, const std::string &path)
{
    typedef char *(CDECL * UnixName)(const WCHAR *);
    UnixName unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    if (unixName == nullptr || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0)
        return false;
    std::string line = "/bin/sh -c \"";
    for (char c : command)
        line += c == '@' ? "'" + std::string(unixName(wide)) + "'" : std::string(1, c);
    line += "\"";
    std::wstring wideLine(line.size() + 1, L'\0');
    wideLine.resize(MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, &wideLine[0], int(wideLine.size())));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (wideLine.empty() ||
        !CreateProcessW(nullptr, &wideLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

// Makes link a directory link to the folder target (relative to link's
// folder, in the host's notation), replacing whatever was there. This Wine
// cannot make links itself, but shows a host symbolic link as a directory
// reparse point. False when no link could be made.
inline bool MakeDirectoryLink(const std::string &link, const std::string &target)
{
    if (!RunOnHostPath("rm -rf @; ln -s " + target + " @", link))
        return false;
    for (int i = 0; i < 250; ++i) {
        DWORD attributes = GetFileAttributesA(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
        Sleep(20);
    }
    return false;
}

}  // namespace prefix_files
