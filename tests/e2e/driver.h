// The end-to-end driver: starts SETUP.EXE inside the prefix and works its
// windows the way a user would, from another process. Texts are compared
// byte for byte in code page 932 (this file and its users are compiled with
// that execution character set, and the rig runs with LANG=ja_JP.UTF-8).
#pragma once

#include <windows.h>
#include <string>
#include <vector>
#include "common/message_box.h"
#include "common/prefix_files.h"

namespace driver {

// Windows version that the next started process sees: "win7" (new shell) or "nt351" (old shell).
void SetWindowsVersion(const char *version);

// A distribution directory C:\e2e\<name>\ holding SETUP.EXE, the sample
// product's files (unless bare) and the given script text as SETUP.INF
// (nullptr: no script at all). Returns the directory with its trailing backslash.
std::string MakeDist(const std::string &name, const char *script, bool bare = false);
// The sample product's script, as shipped.
std::string SampleScript();
// A script's [Install] section with the given title and folder, followed by rest.
std::string InstallScript(const std::string &title, const std::string &folder, const std::string &rest);

struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
    DWORD error = 0;  // CreateProcessA's last error when handle is null
};
Process Start(const std::string &commandLine, const std::string &directory);
// Waits for the process to end; returns its exit status, or -1 on time-out.
int WaitExit(Process &process, DWORD timeoutMs = 20000);
void Kill(Process &process);
// Ends the process when the scenario ends, however it ends, so that a failed
// check never leaves it behind.
struct Running {
    Process process;
    ~Running() { Kill(process); }
};
// Runs a console program with its standard output and error caught in one
// pipe, in directory (empty: this process's). Returns its exit status, or -1
// when it did not start or did not end in time (it is then ended).
int RunCaptured(const std::string &commandLine, const std::string &directory, std::string *output,
                DWORD timeoutMs = 20000);
// SETUP.EXE of the distribution in dir (see MakeDist), started there as a user would.
Running StartSetupIn(const std::string &dir);

// A message box: its text, caption, icon, buttons and owner.
using Box = message_box::Box;
// Waits for a message box of any process (or of process pid when nonzero).
bool WaitBox(Box &box, DWORD timeoutMs = 15000, DWORD pid = 0);
void Answer(const Box &box, int id);
// True when no message box shows up within the time.
bool NoBox(DWORD timeoutMs = 1500, DWORD pid = 0);

// The wizard's property sheet (a dialog with Next/Back/Finish buttons).
HWND WaitWizard(DWORD timeoutMs = 15000, DWORD pid = 0);
// The page currently shown in the sheet.
HWND CurrentPage(HWND sheet);
// Waits until the current page holds a control with this id.
HWND WaitPage(HWND sheet, int controlId, DWORD timeoutMs = 15000);
void Press(HWND sheet, int psbtn);  // PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL ...
bool ButtonEnabled(HWND sheet, int id);  // 0x3023 Back, 0x3024 Next, 0x3025 Finish
bool ButtonVisible(HWND sheet, int id);

// Top-level dialog of any process whose caption is exactly this text.
HWND WaitDialog(const std::string &caption, DWORD timeoutMs = 15000);

std::string Text(HWND window);
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string &text);
// Polls until the control's text equals the expected one.
bool WaitItemText(HWND dialog, int id, const std::string &expected, DWORD timeoutMs = 15000);

// Files and registry of the prefix.
bool Exists(const std::string &path);
bool IsDirectory(const std::string &path);
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
using prefix_files::RemoveTree;
std::string RegRead(HKEY root, const std::string &key, const std::string &value, DWORD *type = nullptr,
                    DWORD *size = nullptr);
// A string value, the key created if need be; an empty name is the key's default value.
void RegWrite(HKEY root, const std::string &key, const std::string &value, const std::string &data);
bool RegKeyExists(HKEY root, const std::string &key);
void RegDeleteTree(HKEY root, const std::string &key);
std::string ShellFolder(const char *name);  // Programs, Desktop, Startup
// The product's shortcuts of either shell: its Programs group and its links.
void RemoveShortcuts(const std::string &title);
std::string SystemDirectory();
// Where SETUP.EXE of this build puts its removal copy: the system directory
// where it lies on disk, SysWOW64 for a 32-bit program on 64-bit Windows.
std::string RelocationDirectory();
// The image file of a running process, as the system names it ("" when unknown).
std::string ImagePath(DWORD pid);
// Upper case in the process's code page, for comparing paths.
std::string Upper(std::string text);

// The visible controls of window (a dialog, or a sheet with its pages) that
// stick out of the client area of their parent or of any window above it,
// as the screen has them: one line each with the control's id and
// rectangle; empty when every control shows whole.
std::string ControlsOutside(HWND window);

// Saves what the screen shows of a window as a 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::string &path);

// Installs the distribution in dir (see MakeDist) through the wizard as a
// user taking the defaults would: the proposed directory (or installDir when
// given), the Start menu entry, a desktop shortcut only when asked, then
// Finish. The caller picks the shell with SetWindowsVersion first. With
// shots given (a path prefix), each page is saved as shots + "1-destination.bmp",
// "2-options.bmp" and "3-progress.bmp". True when the steps completed without
// any message box, Finish was pressed and SETUP.EXE ended with status 1.
bool InstallSample(const std::string &dir, const std::string &installDir = std::string(), bool desktop = false,
                   const std::string &shots = std::string());

// A file type of our own for .TXT whose "open" verb records, in the file
// record, its current directory and the document it was given. Its default
// verb is another one, so only an explicit "open" writes the record.
void RegisterTextOpener(const std::string &record);
void UnregisterTextOpener();
// What the opener recorded, once it has written both lines.
std::string OpenedRecord(const std::string &record);

// How often the file (its name as the system stores it, \\??\\ and the path)
// is among the deletions pending for the next start, each a name followed
// by an empty new name. Earlier runs in the prefix leave theirs, so a
// scenario compares counts.
size_t PendingCount(const std::string &name);

// A time of the scenarios, stretched by DRIVER_TIME_SCALE where Wine starts
// processes slowly (CTest sets it for the i686 scenarios under emulation).
// Every wait goes through it, those for something that must not happen as
// much as the others: a check watches as long, measured in the program's steps.
DWORD Scaled(DWORD ms);

// Pumps nothing; just sleeps in small steps while a condition is false.
template <class F> bool WaitFor(F condition, DWORD timeoutMs)
{
    timeoutMs = Scaled(timeoutMs);
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

}  // namespace driver
