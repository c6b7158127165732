// [Reg] values as a product maker might write them. Whatever the bytes, the
// key path handed to the recursive delete is the value's own levels, at least
// two below one of the three roots, with no empty level.
#include <stdlib.h>
#include <string>
#include "script/state.h"
#include "removal/regvalue.h"

static void Check(bool condition)
{
    if (!condition)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size >= PATH_SIZE)
        return 0;  // the profile reader hands over at most 259 bytes
    char value[PATH_SIZE];
    memcpy(value, data, size);
    value[size] = '\0';
    size_t len = strlen(value);

    HKEY root = nullptr;
    char subkey[PATH_SIZE];
    if (!SplitRegValue(value, &root, subkey, sizeof subkey))
        return 0;
    size_t subLen = strlen(subkey);
    Check(subLen < len);
    // No empty level anywhere, and at least two levels: never a root, never
    // a key directly below one (trail bytes 0x5C are no separators).
    int separators = 0;
    Check(subkey[0] != '\0' && subkey[0] != '\\');
    for (const char *p = subkey; *p;) {
        int step = (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ? 2 : 1;
        if (*p == '\\') {
            Check(p[1] != '\0' && p[1] != '\\');
            ++separators;
        }
        p += step;
    }
    Check(separators >= 1);
    const char *name = root == HKEY_CURRENT_USER    ? "HKEY_CURRENT_USER"
                       : root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                       : root == HKEY_CLASSES_ROOT  ? "HKEY_CLASSES_ROOT"
                                                    : nullptr;
    Check(name != nullptr);
    size_t rootLen = strlen(name);
    Check(memcmp(value, name, rootLen) == 0);  // case-sensitive prefix
    // The levels are the value's own, in order, after the skipped separator byte.
    std::string levels;
    bool inLevel = false;
    for (const char *p = value + rootLen + 1; *p;) {
        int step = (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ? 2 : 1;
        if (*p == '\\') {
            inLevel = false;
        } else {
            if (!inLevel && !levels.empty())
                levels += '\\';
            levels.append(p, step);
            inLevel = true;
        }
        p += step;
    }
    Check(levels == subkey);
    return 0;
}
