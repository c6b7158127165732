// What this run made, so that an installation that stops on its own
// decision (a file that is not what was packaged) leaves nothing of itself
// behind: the directory levels it made and the files it made anew, in the
// order it made them. A file or folder that was there before the run is the
// user's, and stays; so does everything once the journal is full.
#include "script/state.h"

// Each entry is a kind byte (D or F) and a full path with its terminator. In
// the loader's zeroed data, not in the file.
static char Journal[1 << 19];
static int JournalUsed;

void NoteMade(char kind, const char *path)
{
    int length = TextLength(path);
    if (length + 2 > int(sizeof Journal) - JournalUsed)
        return;
    Journal[JournalUsed] = kind;
    CopyMemory(Journal + JournalUsed + 1, path, length + 1);
    JournalUsed += length + 2;
}

void UndoInstallation()
{
    // From the last made to the first: each directory is empty of what this
    // run put in it by the time its turn comes.
    while (JournalUsed > 0) {
        int at = JournalUsed - 1;
        while (at > 0 && Journal[at - 1] != '\0')
            --at;
        JournalUsed = at;
        const char *path = Journal + at + 1;
        if (Journal[at] == 'F')
            DeleteFileA(path);
        else
            RemoveDirectoryA(path);
    }
}
