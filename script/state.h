// The one process-wide record and every operation that works on it.
// Plain procedures over shared state: each mode, page and dialog reads and
// writes these fields directly, on the program's only thread.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <ddeml.h>
#else
// The fuzzing build compiles the pure text routines on the build host.
#include "host_platform.h"
#endif

// For routines whose locals only fixed-size records and arrays indexed in
// bounds by construction: the canary costs some thirty bytes a routine and
// guards nothing there. Anything that copies text or data of a length it is
// given keeps it.
#if defined(__has_attribute) && __has_attribute(no_stack_protector)
#define FIXED_LAYOUT __attribute__((no_stack_protector))
#else
#define FIXED_LAYOUT
#endif

enum {
    SHA256_SIZE = 32,        // bytes of a SHA-256 digest
    PATH_SIZE = 260,         // every path and entry buffer, terminator included
    INSTALL_DIR_SIZE = 261,  // 259 typed characters, an appended backslash, the terminator
    FULL_PATH_SIZE = 262,    // the full form of such a directory, with a backslash appended
    NAME_SIZE = 52,          // exeName and scriptName
    LABEL_SIZE = 100         // title and folder
};

// Shortcut locations, named after the values of the Shell Folders key.
enum ShellKind { Programs = 0, Desktop = 1, Startup = 2 };

struct SetupState {
    HINSTANCE instance;
    int newShell;
    char modulePath[PATH_SIZE];
    char setupDir[PATH_SIZE];
    char exeName[NAME_SIZE];
    char scriptName[NAME_SIZE];
    char scriptPath[PATH_SIZE];
    char title[LABEL_SIZE];
    char folder[LABEL_SIZE];
    int resident;
    char installDir[INSTALL_DIR_SIZE];
    int fileCount;
    int groupCount;
    char entryName[PATH_SIZE];
    char entryPath[PATH_SIZE];
    char *entryTail;
    int stepIndex;
    DWORD installedKib;  // size of the files at the copy steps' destinations
    int wantStartMenu;
    int wantDesktop;
    HWND sheetWindow;
    char sheetCaption[LABEL_SIZE + 14];  // the title and "のインストール"
    HWND ownerWindow;
    DWORD ddeInstance;
    HCONV ddeConversation;
    HANDLE programFile;  // the running program's own file, held from the start to the end
    unsigned char programDigest[SHA256_SIZE];  // of that file, as it was read when it was held
    HANDLE scriptFile;  // a packaged program's private copy of its script, held while it is read
    char privateDir[PATH_SIZE];  // the folder of that copy, made for this process alone
    int silent;                  // /S: no window, no question; the exit status says what happened
    int exitStatus;              // of a silent run (see SilentStatus)
};

// Exit statuses of a silent run (/S); every other run ends with 1.
enum SilentStatus {
    StatusDone = 0,
    StatusBrokenScript = 2,     // the script is missing, broken, or one of its entries is refused
    StatusFolderRefused = 3,    // the installation folder was refused
    StatusCopyFailed = 4,       // a file could not be copied, or a folder for it made
    StatusNotPackaged = 5,      // a file is not what was packaged, or SETUP.EXE was replaced
    StatusProgramRunning = 6,   // removal: the product's program could not be deleted
    StatusLeftBehind = 7,       // removal: something was left, or the removal could not be started
    StatusRestart = 3010        // removal: done, but the SETUP.EXE the caller runs goes at the next start
};

extern SetupState State;

// Resets the record to its start-up state (all zero). Tests use it between cases.
void ResetSetupState();

// Program entry and mode dispatch.
enum SetupMode { ModeInstall, ModeRequestRemoval, ModeRunRemoval };
const char *GetCommandTail(const char *commandLine);
SetupMode ParseCommandTail(const char *tail, const char **setupPath);
// Takes a leading /S from the tail (the removal's copy is started so) and
// returns what follows; sets silent.
const char *TakeSilentSwitch(const char *tail);
// The switches after an install or removal-request command: /S, and /D=
// with the rest of the line (quotes optional), whose start this returns.
const char *ReadSwitches(const char *tail);
// The whole command: its mode and setup path (as ParseCommandTail), the
// silent switch, and the folder /D= names (null without one).
SetupMode ReadCommand(const char *tail, const char **setupPath, const char **folder);
int DeriveSetupPaths(const char *setupPath);
int StartSetup(HINSTANCE instance, const char *tail);

// The program's own file: held, confirmed to be the running image and hashed
// before anything else is done (see entry/self.cpp). Null when it is; else
// what ShowPathError(modulePath, ...) says: ReplacedProgram when it is not
// the image that runs or cannot be held, LocalRedirection when a
// program.local stands beside it, while which nothing may be done.
const char *HoldRunningProgram();
extern const char ReplacedProgram[];
extern const char LocalRedirection[];
// Whether file, size bytes of a program's file (changed in place), is the
// image loaded at image: headers and sections, relocations accounted for.
int IsRunningImage(unsigned char *file, DWORD size, const unsigned char *image);
// The sharing with which the program holds a file it checked: read only,
// except on the systems of the Windows 95 line.
DWORD HeldShareMode();

// Where DLLs come from: only the system directory, whatever lies beside the
// program. RestrictDllSearch comes before anything else the process does.
void RestrictDllSearch();
int UsesSearchDirectories(DWORD version);
// The system's version as GetVersion packs it, from the system itself.
DWORD TrueVersion();
HMODULE LoadSystemLibrary(const char *name);
FARPROC GetSystemProc(const char *library, const char *name);

// Text and window utilities.
int TextLength(const char *text);  // lstrlenA
char *FormatIndex(unsigned int number);
char *FindCharMbcs(const char *text, char wanted);
int IsDbcsTrailByte(const char *text, int offset);
void AddTrailingBackslash(char *path);
void CenterWindow(HWND window);
int CopyText(char *dest, int destSize, const char *src);
int AppendText(char *dest, int destSize, const char *src);

// Setup script.
int LoadSetupScript();
extern const char BrokenScriptText[];
void ReportBrokenScript();
void LoadFileEntry(int n);
void LoadGroupEntry(int n);
int ReadPreviousInstallDir(const char *command, char *dir, int dirSize);
// Split the value just read into entryName: source and destination of a file
// entry, caption and target of a [Group] entry (an empty caption ends the list).
void SplitFileEntry();
void SplitGroupEntry();
// Apart from LoadSetupScript so that a script can be judged against the
// default even on a machine that holds an earlier installation.
void ReadDefaultInstallDir();

// The package's binding: the script and the installed files as the maker's
// signature covers them (see script/binding.cpp).
struct Sha256 {
    unsigned int state[8];
    unsigned long long length;
    unsigned char block[64];
};
void StartSha256(Sha256 *hash);
#if defined(__x86_64__)
// 0 until the first block asks the processor, then 1 when it has SHA-256
// instructions and they are used, -1 when not (a test may set it first).
extern int Sha256Instructions;
#endif
void AddSha256(Sha256 *hash, const void *data, unsigned long count);
void EndSha256(Sha256 *hash, unsigned char *digest);
int HashFile(const char *path, unsigned char *digest, HANDLE *held);
// The whole of an open file from its start; 1 when every read succeeded.
int HashOpenFile(HANDLE file, unsigned char *digest);
// The buffer through which files are hashed and copied, and the one that a
// whole file is read into: the program's own, then the packaged script.
enum { FILE_BUFFER_SIZE = 65536, WORK_BUFFER_SIZE = 1 << 20 };
extern unsigned char FileBuffer[FILE_BUFFER_SIZE];
extern unsigned char WorkBuffer[WORK_BUFFER_SIZE];
int ParseDigest(const char *text, unsigned char *digest);
// 1 when the program is not packaged, or when its script is the packaged
// one: its bytes are then read once, and scriptPath names a private copy of
// them that the process holds; ReleaseBoundScript deletes it.
int CheckBoundScript();
void ReleaseBoundScript();
// The source of the current file entry, open for reading: the held program
// or script copy when the entry names them (kind says which; they stay
// open), else the file its name leads to now (the caller closes it).
enum EntrySourceKind { SourceNamed, SourceProgram, SourceScript };
HANDLE OpenEntrySource(int *kind);
// Called with the written copy of the current entry, still open for reading:
// a packaged program reads it back for CheckCopiedEntry.
void NoteCopiedFile(HANDLE copy, int kind);
// After entry n (-1 to fileCount) was copied to entryPath: 1 when the copy is
// what was packaged; otherwise it is deleted, said, and 0.
int CheckCopiedEntry(int n);

// What is wrong with a path meant to lie under the directory it is joined
// to: the program refuses an entry whose destination has any of these.
enum PathFault {
    PathSound,
    PathEmpty,
    PathDrive,
    PathCharacters,
    PathEmptyLevel,
    PathNoFileName,
    PathLeaves,
    PathDotLevel
};
int RelativePathFault(const char *path);
// What is wrong with a name for a file or folder, whatever the folder.
enum NameFaultKind { NameSound, NameEmpty, NameCharacters, NameTrailing, NameDevice };
int NameFault(const char *name);
// The one rule for Title (nesting 0) and Folder (nesting 1), shared with
// the checker: 0 for what it calls an error, which the program refuses.
int IsSoundLabel(const char *label, int nesting);
int HasControlCharacter(const char *text);
int HasAnyOf(const char *text, const char *characters);
// 1 when [Install] entry n was read whole and its destination is sound.
int IsFileEntrySound(int n);

// Directory creation and file copy.
int CreateOneDirectory(char *path);
int CreateDirectoryPath(char *path);
int CopyCurrentEntry();
// The whole of source, from its start, into target, and the last-write time
// with it; 1 when every byte was written.
int CopyOpenFile(HANDLE source, HANDLE target);
// How many bytes the last CopyOpenFile wrote.
extern unsigned long long CopiedBytes;
// Whether a directory level about to be made at path (with its trailing
// backslash), on the system of that GetVersion value, gets permissions of
// its own, which only administrators may change; descriptor then holds them.
// 0: the system's default.
int FolderSecurity(const char *path, DWORD version, SECURITY_DESCRIPTOR *descriptor);
// The permissions above, whatever the path: 0 on the systems that keep none.
int ProtectedSecurity(DWORD version, SECURITY_DESCRIPTOR *descriptor);

// Folders that are never one product's own (see removal/shared.cpp): 1 for
// such a directory, named in any form; unnamed for a path whose full form
// cannot be had. CanonicalDirectory gives a path's full
// form with its backslash; IsInProgramFiles whether such a form lies in a
// Program Files folder. full holds FULL_PATH_SIZE bytes.
int IsSharedDirectory(const char *directory, int unnamed);
int CanonicalDirectory(const char *path, char *full);
int IsInProgramFiles(const char *full);
// The directory path names (with or without its backslash), held open so
// that nobody can rename, delete or replace it until it is closed; invalid
// when there is none to hold. *link is set when path is a link (a junction,
// a directory symbolic link): the caller then removes the link alone.
HANDLE HoldDirectory(char *path, int *link);

// The journal of what an installation made (see wizard/undo.cpp): a D for a
// directory level, an F for a file made anew, each with its full path.
// UndoInstallation deletes all of it again, the last first.
void NoteMade(char kind, const char *path);
void UndoInstallation();

// Install wizard.
void RunInstallWizard();
INT_PTR CALLBACK DestinationPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OptionsPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
unsigned long long GetInstallFreeSpace();
void RunInstallStep();
void RegisterUninstall();
// Whether this process runs elevated, as its token says (never on the
// systems before Vista).
int RunsElevated();
// Finish's start through the desktop's shell, as the signed-in user; 0 when
// that route is not there.
int StartAsUser(const char *file, const char *directory);
// Adds the size of the file at entryPath, after its copy step (copied when
// the copy succeeded), to installedKib.
void AddInstalledSize(int copied);

// Shell integration.
void UpdateShellItems(int kind, int remove);
// True for a name that stays inside the folder or group it is put in.
int IsPlainName(const char *name);
// Ends a file path just behind its directory's backslash: a shortcut's working folder.
void EndAtDirectory(char *path);
void UpdateProgmanItems(int kind, int remove);
UINT StartDdeClient();
int ConnectDdeServer(const char *service, const char *topic);
int ExecuteDdeCommand(const char *command);
HDDEDATA CALLBACK DdeClientCallback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ service,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
// Rewrites a target[,arguments] entry in place as "short-target arguments"; 0 when it does not fit.
int ToShortCommand(char *text, int size);

// Removal.
void RequestRemoval();
void RunRemoval();
INT_PTR CALLBACK RemovalDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int RemoveInstallation();
int DeleteFileIfPresent(const char *path);
int SweepDirectory(char *directory);
void DeleteRegistryTree(HKEY root, const char *subkey);
void ScheduleDeleteAtReboot(const char *path);

// Every message box of the program goes through here, so that the owner,
// caption and icon rules live in one place. A silent run shows none and
// takes the cautious answer to a question: No (never OK where Cancel is).
int Ask(HWND owner, const char *text, const char *caption, UINT type);
// Starts a command line shown normally, in the current directory, as WinExec
// would; the new process, or null when it did not start.
HANDLE StartCommand(char *command);
// CloseHandle and RegCloseKey.
void CloseOnce(HANDLE handle);
void CloseKeyOnce(HKEY key);
int ShowError(const char *text);
// path, then name (a name in the directory path, when given), then suffix.
void ShowPathError(const char *path, const char *suffix, const char *name = "");
