// The removal request's relocation, kept apart so that the names it builds
// can be tried on any system directory.
#pragma once

#include "script/state.h"

enum {
    RELOCATION_COMMAND_SIZE = 2 * PATH_SIZE + 8,
    RELOCATION_NAMES = 100  // exeName, then the derived names 1 to 99
};

// The directory the copy goes into, as GetSystemDirectoryA gives its length:
// the system directory, or for a 32-bit program on 64-bit Windows the
// directory where that program's system files really lie (SysWOW64).
UINT GetRelocationDirectory(char *dir, UINT size);
// Where 64-bit Windows keeps the 32-bit system files (SysWOW64), as
// GetSystemDirectoryA gives its length; 0 on the systems without one.
UINT GetWow64SystemDirectory(char *dir, UINT size);

// Builds the path of the copy in systemDir (systemDir + "\" + exeName, or for
// number 1 and up exeName with the number before its extension) and the
// command line that starts it: that path in double quotes, " x " and
// modulePath. 0 when the path does not fit into relocatedSize.
int ComposeRelocation(const char *systemDir, int number, char *relocated, int relocatedSize, char *command,
                      int commandSize);
