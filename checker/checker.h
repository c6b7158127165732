// The script checker: reads a product's setup script through the program's
// own loaders, prints what an installation would do with it and reports what
// a product maker most likely did not mean. Plain procedures over `State`
// (the program's record, filled by the very loaders SETUP.EXE uses) and the
// small record below.
#pragma once

#include "script/state.h"

enum FindingLevel { FindingWarning = 1, FindingError = 2 };

struct CheckState {
    int errorCount;
    int warningCount;
    int regCount;                          // [Reg] entries the removal reads
    char loadedDir[INSTALL_DIR_SIZE];      // what LoadSetupScript proposed (an earlier installation's, if any)
    unsigned long long totalSize;          // bytes of every source that exists
    unsigned long long totalKib;           // the same in whole KiB per file, as SETUP.EXE registers it
};

extern CheckState Check;

// Output, converted from code page 932 to the console's code page.
void Print(const char *text);
void PrintNumber(unsigned long long number);
void FlushOutput();
// One finding line: script path, section, key, level, then value, text and
// more joined directly (the text begins with its own separator, as the
// program's messages do). value and more may be null.
void ReportFinding(int level, const char *section, const char *key, const char *value, const char *text,
                   const char *more = nullptr);

// Command line: finds the script and the setup executable's name for an
// argument that names a distribution directory, a script or an executable.
int ResolveScriptPaths(const char *argument);
// Title and Folder, checked before LoadSetupScript so that a refused script
// is reported here instead of in the program's message box.
int CheckRequiredKeys();
// A script saved as UTF-8 is one error that says how to convert it; 0 then.
int CheckScriptEncoding();

// Paths and names.
const char *PathFaultText(int fault);
// Whether a source lies outside the distribution directory.
int SourceOutside(const char *source);
// Why a text cannot be a file or folder name, or null.
const char *FileNameFault(const char *name);
// Whether some file entry (-1 to fileCount) installs exactly this full path.
int IsInstalledPath(const char *path);
// Length of the value with a reader that cuts nothing (up to 4095 bytes).
int FullValueLength(const char *section, const char *key);
// The working directory the shell part gives a shortcut, found by its own routine.
void TargetDirectory(const char *target, char *directory, int size);
int EndsWithIgnoringCase(const char *text, const char *tail);
enum SourceKind { SourceMissing, SourceFile, SourceFolder };
int SourceSize(const char *source, unsigned long long *size);

// [Reg]: reads entry n into a 260-byte buffer; returns its length.
int ReadRegEntry(int n, char *value);

// The install plan and the checks, each a pass over the loaded script.
void PrintPlan();
void CheckGlobalKeys();
void CheckFileEntries();
void CheckUnlistedFiles();
void CheckGroupEntries();
void CheckRegEntries();
void CheckRawKeys(const char *section, int count);
void CheckTotals();
