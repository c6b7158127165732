// The command line and the paths derived from it. Nothing here calls the
// system beyond plain text functions, so the fuzzing build compiles it on the
// host as well.
#include "script/state.h"

const char *GetCommandTail(const char *commandLine)
{
    const char *p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (static_cast<unsigned char>(*p) > 0x20)
            ++p;
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= 0x20)
        ++p;
    return p;
}

SetupMode ParseCommandTail(const char *tail, const char **setupPath)
{
    *setupPath = nullptr;
    if (*tail == '/')
        ++tail;  // only one: a second slash stays and selects the wizard
    if (*tail == 'R' || *tail == 'r')
        return ModeRequestRemoval;
    if (*tail == 'x') {
        // The byte after x is skipped whatever it is, but never the terminator.
        *setupPath = tail[1] != '\0' ? tail + 2 : tail + 1;
        return ModeRunRemoval;
    }
    return ModeInstall;
}

int DeriveSetupPaths(const char *setupPath)
{
    // Every check comes before the first write, so a refused path leaves the
    // record exactly as it was.
    int len = TextLength(setupPath);
    if (len == 0 || len >= PATH_SIZE)
        return 0;

    // Deliberately byte-wise: the installed copy's path was written by us and a
    // trail byte 0x5C in the last level counts as the separator.
    int slash = len - 1;
    while (slash >= 0 && setupPath[slash] != '\\')
        --slash;
    if (slash < 0)
        return 0;

    const char *name = setupPath + slash + 1;
    int nameLen = len - slash - 1;
    // The script's name overwrites the last three bytes, so three are needed.
    if (nameLen < 3 || nameLen >= NAME_SIZE)
        return 0;

    // The names first: setupPath may be setupDir itself.
    CopyMemory(State.exeName, name, nameLen + 1);
    CopyMemory(State.scriptName, name, nameLen + 1);
    State.scriptName[nameLen - 3] = 'I';
    State.scriptName[nameLen - 2] = 'N';
    State.scriptName[nameLen - 1] = 'F';
    MoveMemory(State.setupDir, setupPath, slash + 1);
    State.setupDir[slash + 1] = '\0';

    // setupDir and the name come from one path of at most 259 bytes, so they fit.
    CopyText(State.scriptPath, PATH_SIZE, State.setupDir);
    AppendText(State.scriptPath, PATH_SIZE, State.scriptName);
    return 1;
}

// A switch stands alone: / and its letter, then a blank or the end.
static int IsSwitch(const char *text, char letter)
{
    return text[0] == '/' && text[1] == letter && static_cast<unsigned char>(text[2]) <= 0x20;
}

const char *TakeSilentSwitch(const char *tail)
{
    if (!IsSwitch(tail, 'S'))
        return tail;
    State.silent = 1;
    tail += 2;
    while (*tail != '\0' && static_cast<unsigned char>(*tail) <= 0x20)
        ++tail;
    return tail;
}

const char *ReadSwitches(const char *tail)
{
    for (const char *p = tail; *p != '\0';) {
        if (p[0] == '/' && p[1] == 'D' && p[2] == '=')
            return p + 3;
        if (IsSwitch(p, 'S'))
            State.silent = 1;
        while (static_cast<unsigned char>(*p) > 0x20)
            ++p;
        while (*p != '\0' && static_cast<unsigned char>(*p) <= 0x20)
            ++p;
    }
    return nullptr;
}

SetupMode ReadCommand(const char *tail, const char **setupPath, const char **folder)
{
    tail = TakeSilentSwitch(tail);
    SetupMode mode = ParseCommandTail(tail, setupPath);
    // The removal run's path is taken whole, whatever it holds.
    *folder = mode != ModeRunRemoval ? ReadSwitches(tail) : nullptr;
    return mode;
}
