// The text of the rebuilt [Rename] section. Pure text work, so that the
// fuzzing build compiles it on the host too.
#include "script/state.h"
#include "removal/reboot.h"

static const char RenameHeader[] = "[Rename]\r\n";

static int AppendBytes(char *text, int *used, const char *bytes)
{
    int len = TextLength(bytes);
    if (*used + len > SECTION_SIZE)
        return 0;
    CopyMemory(text + *used, bytes, len);
    *used += len;
    return 1;
}

// Builds "[Rename]", every line the section holds now (as whole lines: several
// NUL= lines share one key name, so a lookup by name would give each of them
// the first one's value) and the new line. 0 when the text would pass the limit.
int BuildRenameSection(const char *lines, const char *shortPath, char *text, int *used)
{
    *used = 0;
    AppendBytes(text, used, RenameHeader);
    for (const char *line = lines; *line != '\0'; line += TextLength(line) + 1) {
        if (!AppendBytes(text, used, line) || !AppendBytes(text, used, "\r\n"))
            return 0;
        if (*used > SECTION_LIMIT)
            return 0;
    }
    return AppendBytes(text, used, "NUL=") && AppendBytes(text, used, shortPath) &&
           AppendBytes(text, used, "\r\n");
}
