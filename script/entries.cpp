// Splitting the script's values into their fields. Pure text work on the
// record, so that the fuzzing build compiles it on the host too.
#include "script/state.h"

int ReadPreviousInstallDir(const char *command, char *dir, int dirSize)
{
    char text[PATH_SIZE + 1];
    if (!CopyText(text, sizeof text, command))
        return 0;
    char *start = text;
    char delimiter = ' ';
    if (*start == '"') {
        ++start;
        delimiter = '"';
    }
    char *end = FindCharMbcs(start, delimiter);
    if (end != nullptr) {
        // Byte-wise on purpose: the command was composed by setup itself.
        char *p = end;
        while (p > start && p[-1] != '\\')
            --p;
        if (p == start)
            return 0;  // nothing names a directory: keep the default
        *p = '\0';
    }
    return CopyText(dir, dirSize, start);
}

// Joins installDir and a relative path into entryPath. A path that does not
// fit is refused as a whole (entryPath left empty) rather than cut: a cut
// path would name some other file, to be overwritten or deleted.
static void JoinEntryPath(const char *relative)
{
    State.entryPath[0] = '\0';
    State.entryTail = State.entryPath;
    if (!CopyText(State.entryPath, PATH_SIZE, State.installDir))
        return;
    char *tail = State.entryPath + lstrlenA(State.entryPath);
    if (!AppendText(State.entryPath, PATH_SIZE, relative)) {
        State.entryPath[0] = '\0';
        return;
    }
    State.entryTail = tail;
}

void SplitFileEntry()
{
    char *comma = FindCharMbcs(State.entryName, ',');
    if (comma != nullptr) {
        *comma = '\0';
        JoinEntryPath(comma + 1);
    } else {
        JoinEntryPath(State.entryName);
    }
}

void SplitGroupEntry()
{
    char *comma = FindCharMbcs(State.entryName, ',');
    if (comma == nullptr) {
        State.entryName[0] = '\0';
        return;
    }
    *comma = '\0';
    char *saveTail = State.entryTail;
    JoinEntryPath(comma + 1);
    State.entryTail = saveTail;  // a group entry leaves entryTail where it was
}
