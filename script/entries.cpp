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
    char *tail = State.entryPath + TextLength(State.entryPath);
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

int HasControlCharacter(const char *text)
{
    for (const char *p = text; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20)
            return 1;
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0')
            ++p;
    }
    return 0;
}

int HasAnyOf(const char *text, const char *characters)
{
    for (const char *c = characters; *c != '\0'; ++c)
        if (FindCharMbcs(text, *c) != nullptr)
            return 1;
    return 0;
}

// The one rule for a destination, shared with the checker so that what it
// calls an error is what the program refuses. A "." or ".." level is refused
// even where it would come back inside: nothing a maker means needs one, and
// only such a level, a drive, a colon, a leading backslash or a UNC name
// could make the elevated copy write, or the removal delete, anywhere else.
int RelativePathFault(const char *path)
{
    if (*path == '\0')
        return PathEmpty;
    if (FindCharMbcs(path, ':') != nullptr)
        return PathDrive;
    if (HasAnyOf(path, "*?\"<>|/") || HasControlCharacter(path))
        return PathCharacters;
    int depth = 0;
    int dotted = 0;
    const char *level = path;
    for (;;) {
        const char *slash = FindCharMbcs(level, '\\');
        int length = slash != nullptr ? int(slash - level) : TextLength(level);
        int dots = 0;
        if (length == 1 && level[0] == '.')
            dots = 1;
        else if (length == 2 && level[0] == '.' && level[1] == '.')
            dots = 2;
        if (length == 0)
            return slash != nullptr ? PathEmptyLevel : PathNoFileName;
        if (slash == nullptr && dots != 0)
            return PathNoFileName;
        if (dots == 2 && --depth < 0)
            return PathLeaves;
        if (dots == 0)
            ++depth;
        dotted |= dots;
        if (slash == nullptr)
            return dotted ? PathDotLevel : PathSound;
        level = slash + 1;
    }
}

int NameFault(const char *name)
{
    if (*name == '\0')
        return NameEmpty;
    if (HasAnyOf(name, "\\/:*?\"<>|") || HasControlCharacter(name))
        return NameCharacters;
    int length = TextLength(name);
    if ((name[length - 1] == '.' || name[length - 1] == ' ') && !IsDbcsTrailByte(name, length - 1))
        return NameTrailing;
    // CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any extension.
    const char *dot = FindCharMbcs(name, '.');
    int base = dot != nullptr ? int(dot - name) : length;
    static const char Devices[] = "CON\0PRN\0AUX\0NUL\0COM\0LPT\0";
    if (base == 4 && (name[3] < '1' || name[3] > '9'))
        return NameSound;
    for (const char *device = Devices; base >= 3 && base <= 4 && *device != '\0'; device += 4)
        if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, 3, device, 3) == CSTR_EQUAL &&
            (base == 3 || device[0] == 'C' || device[0] == 'L'))
            return NameDevice;
    return NameSound;
}

int IsSoundLabel(const char *label, int nesting)
{
    // Title names the Start-menu folder and the product's shortcuts: one
    // level, never only dots. Folder names the default folder below Program
    // Files and the key below Uninstall: its levels may nest, each a name.
    if (!nesting) {
        const char *p = label;
        while (*p == '.')
            ++p;
        return *label != '\0' && *p != '\0' && !HasAnyOf(label, "\\/:");
    }
    char probe[LABEL_SIZE];
    if (!CopyText(probe, sizeof probe, label))
        return 0;
    int levels = 1;
    for (char *slash = FindCharMbcs(probe, '\\'); slash != nullptr; slash = FindCharMbcs(slash, '\\'), ++levels)
        *slash = '_';
    return NameFault(probe) == NameSound && (levels == 1 || RelativePathFault(label) == PathSound);
}
