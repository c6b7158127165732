// Placeholder until directory creation and copying land.
#include "script/state.h"

int CreateOneDirectory(char *)
{
    return 0;
}

int CreateDirectoryPath(char *)
{
    return 0;
}

int CopyCurrentEntry()
{
    return 0;
}
