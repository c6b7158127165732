// The trial run of a distribution directory: installs it through the wizard
// with the default answers, removes it through its registered command, and
// writes what it saw as a Markdown report with screenshots. Texts gathered
// from the prefix are code page 932; the report is UTF-8.
#pragma once

#include <windows.h>
#include <map>
#include <string>
#include <vector>
#include "driver.h"

namespace trial {

// The report under construction (UTF-8) and where its pictures go.
struct Report {
    std::string markdown;
    std::string dir;        // Wine path with trailing backslash
    std::string summary;    // the key lines, also printed by tools/trial.sh
    int shot = 0;
};
extern Report Out;

std::string Utf8(const std::string &text, UINT codePage = 932);
// One table cell: UTF-8, with the characters Markdown would take as markup escaped.
std::string Cell(const std::string &ansi);
void Line(const std::string &utf8 = std::string());
void Summary(const std::string &utf8);
// Saves the window as the next numbered picture and links it in the report.
std::string Shot(HWND window, const std::string &prefix, const std::string &what);

// The script's own words, read as the program reads them.
struct Script {
    std::string exe;  // the setup program's name; the script is named after it
    std::string path;
    std::string title, folder, tsr, open, first;
    std::vector<std::string> regKeys;
    std::vector<std::string> groups;  // [Group] entries, up to the first that ends the list
};
Script ReadScript(const std::string &dist, const std::string &exe);
// A shortcut (new shell) or Program Manager item (old shell) that the script
// asks for with the wizard's default answers: its name, and what it starts.
struct AskedItem {
    std::string name;
    std::string target;     // relative to the installation directory
    std::string arguments;  // empty when it has none
};
std::vector<AskedItem> AskedShortcuts(const Script &script, bool oldShell);
// The asked items that no new shortcut of the list carries by name.
std::vector<AskedItem> MissingShortcuts(const std::vector<AskedItem> &asked, const std::vector<std::string> &made);
// Whether Wine's trace of the DDE commands that its Program Manager executed
// (tools/trial.sh has the desktop's process write it) holds this command.
bool ProgmanExecuted(const std::string &command);

// Files and directories below a directory, relative names, directories first.
struct Item {
    std::string name;
    bool directory = false;
    DWORD size = 0;
};
std::vector<Item> ListTree(const std::string &dir);
// Everything in the Programs, Desktop and Startup folders, named "Programs\..." and so on.
std::map<std::string, Item> ListShortcutFolders();
std::string ShortcutFolderPath(const std::string &name);
// Target, arguments and working directory of a shell link, as the shell reads it.
std::string DescribeLink(const std::string &path);
bool RegistryKeyExists(const std::string &fullKey);  // "HKEY_CURRENT_USER\..."
std::vector<std::pair<std::string, std::string>> RegistryValues(HKEY root, const std::string &key);
// Running processes by id: image path and the id of the process that started it.
struct RunningProcess {
    std::string image;
    DWORD parent = 0;
};
std::map<DWORD, RunningProcess> ProcessList();

// A message box as recorded in the report.
struct BoxRecord {
    std::string phase, text, caption, icon, buttons, answer, picture;
};
// Records the box, saves its picture and answers it: Yes where asked to
// (wantYes), else the given button when present, else its default button.
BoxRecord AnswerBox(const driver::Box &box, const std::string &prefix, const std::string &phase, bool wantYes,
                    int preferred = 0);
void WriteBoxes(const std::vector<BoxRecord> &boxes);

// A process that Finish started: by setup itself (by empty) or through the
// desktop's shell.
struct Launched {
    std::string image, by;
    bool ended = false;  // still running a little after setup ended: the trial ended it
};
struct InstallResult {
    bool finished = false;
    int exitCode = -1;  // -1: not ended when the trial gave up waiting, and ended by it
    std::string installDir;
    std::string pages;  // Markdown: each page's picture and what it showed
    std::vector<BoxRecord> boxes;
    std::vector<Launched> launched;
};
InstallResult RunInstall(const std::string &dist, const Script &script, const std::string &prefix);
// What a program file is built for, read from its header: "i686 (32-bit)" or "x86_64 (64-bit)".
std::string Machine(const std::string &path);
void RunRemoval(const Script &script, const InstallResult &install, const std::string &prefix,
                const std::map<std::string, Item> &shortcutsBefore);

// CHECKINF.EXE on the distribution: its exit status and output in UTF-8.
int RunChecker(const std::string &setupPath, std::string &output);
// The program associated with a file's type here, or empty.
std::string AssociatedProgram(const std::string &path);

}  // namespace trial
