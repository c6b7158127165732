// The rebuilt [Rename] section from whatever lines a WININIT.INI holds: every
// pending line kept byte for byte and in order, the new line last, the block
// never overrun, and nothing produced past the size limit.
#include <stdlib.h>
#include <string>
#include "script/state.h"
#include "removal/reboot.h"

static void Check(bool condition)
{
    if (!condition)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 3 * SECTION_SIZE)
        return 0;
    // First bytes: the short path (up to the first newline); the rest: the
    // section's lines, newline-separated, as the profile reader lists them.
    size_t at = 0;
    while (at < size && data[at] != '\n' && at < PATH_SIZE - 1)
        ++at;
    char shortPath[PATH_SIZE];
    memcpy(shortPath, data, at);
    shortPath[at] = '\0';
    size_t rest = at < size ? size - at - 1 : 0;
    char *lines = static_cast<char *>(calloc(rest + 2, 1));
    for (size_t i = 0; i < rest; ++i)
        lines[i] = data[at + 1 + i] == '\n' ? '\0' : static_cast<char>(data[at + 1 + i]);
    // The list ends at the first empty line, as in the profile reader's output.

    // What the section must become, and whether it may: refused exactly when
    // the old lines pass the limit after some line, or the whole passes the block.
    std::string expected = "[Rename]\r\n";
    bool fits = true;
    for (const char *line = lines; *line; line += strlen(line) + 1) {
        expected += std::string(line) + "\r\n";
        if (expected.size() > size_t(SECTION_LIMIT)) {
            fits = false;
            break;
        }
    }
    expected += std::string("NUL=") + shortPath + "\r\n";
    fits = fits && expected.size() <= size_t(SECTION_SIZE);

    char *text = static_cast<char *>(malloc(SECTION_SIZE));
    int used = -1;
    int built = BuildRenameSection(lines, shortPath, text, &used);
    Check(built == (fits ? 1 : 0));
    if (built)
        Check(expected.size() == size_t(used) && memcmp(expected.data(), text, used) == 0);
    free(text);
    free(lines);
    return 0;
}
