// The removal request's relocation, kept apart so that the command it builds
// can be tried on any system directory.
#pragma once

#include "script/state.h"

enum { RELOCATION_COMMAND_SIZE = 2 * PATH_SIZE + 8 };

// Builds the path of the copy in systemDir (systemDir + "\" + exeName) and
// the command line that starts it: that path in double quotes, " x " and
// modulePath. 0 when the path does not fit into relocatedSize.
int ComposeRelocation(const char *systemDir, char *relocated, int relocatedSize, char *command, int commandSize);
