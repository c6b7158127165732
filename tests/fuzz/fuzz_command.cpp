// The command line of any process start: the tail after the program name,
// the mode letter, and the paths and names derived from the path after x.
// A refused path must leave the record exactly as it was; an accepted one
// must fill every field within its size.
#include <stdlib.h>
#include "script/state.h"

SetupState State;

static void Check(bool condition)
{
    if (!condition)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 2000)
        return 0;
    char *line = static_cast<char *>(malloc(size + 1));
    memcpy(line, data, size);
    line[size] = '\0';

    const char *tail = GetCommandTail(line);
    Check(tail >= line && tail <= line + strlen(line));
    Check(*tail == '\0' || static_cast<unsigned char>(*tail) > 0x20);

    const char *path = nullptr;
    SetupMode mode = ParseCommandTail(tail, &path);
    Check((mode == ModeRunRemoval) == (path != nullptr));
    if (path != nullptr)
        Check(path > tail && path <= tail + strlen(tail));

    memset(&State, 0xA5, sizeof State);
    SetupState before = State;
    const char *derivedFrom = path != nullptr ? path : tail;
    if (!DeriveSetupPaths(derivedFrom)) {
        Check(memcmp(&before, &State, sizeof State) == 0);
    } else {
        Check(memchr(State.setupDir, 0, PATH_SIZE) && memchr(State.exeName, 0, NAME_SIZE));
        Check(memchr(State.scriptName, 0, NAME_SIZE) && memchr(State.scriptPath, 0, PATH_SIZE));
        size_t dirLen = strlen(State.setupDir), nameLen = strlen(State.exeName);
        Check(dirLen >= 1 && State.setupDir[dirLen - 1] == '\\');
        Check(nameLen >= 3 && strlen(State.scriptName) == nameLen);
        Check(memcmp(State.scriptName + nameLen - 3, "INF", 3) == 0);
        Check(strlen(State.scriptPath) == dirLen + nameLen);
        Check(memcmp(State.scriptPath, State.setupDir, dirLen) == 0);
        Check(strcmp(State.scriptPath + dirLen, State.scriptName) == 0);
        // Fields the derivation does not own stay as they were.
        Check(memcmp(State.title, before.title, sizeof State.title) == 0);
        Check(memcmp(State.modulePath, before.modulePath, sizeof State.modulePath) == 0);
    }
    free(line);
    return 0;
}
