// [Reg] values. Pure text work, so that the fuzzing build compiles it on the
// host too.
#include "script/state.h"
#include "removal/regvalue.h"

// A key path must name a key below the root: not empty, and no empty level
// at its start, its end or between two separators. The registry reads
// "Software\" as "Software", so a value meant as a product's key but cut or
// mistyped there would take every program's keys with it. Separators are
// real backslashes only, never the second byte of a double-byte character.
int NamesSubkey(const char *path)
{
    if (path[0] == '\0')
        return 0;
    int levelEmpty = 1;
    for (const char *p = path; *p != '\0';) {
        if (*p == '\\') {
            if (levelEmpty)
                return 0;
            levelEmpty = 1;
            ++p;
        } else {
            levelEmpty = 0;
            p += (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') ? 2 : 1;
        }
    }
    return !levelEmpty;
}

const char *SplitRegValue(const char *value, HKEY *root)
{
    static const struct {
        const char *name;
        int length;
        HKEY root;
    } roots[] = {
        {"HKEY_CURRENT_USER", 17, HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", 18, HKEY_LOCAL_MACHINE},
        {"HKEY_CLASSES_ROOT", 17, HKEY_CLASSES_ROOT},
    };
    // Root names are matched byte for byte, case included, in this order.
    int length = lstrlenA(value);
    for (int r = 0; r < 3; ++r) {
        if (length < roots[r].length || memcmp(value, roots[r].name, roots[r].length) != 0)
            continue;
        // The separator after the root name is skipped whatever it is, but a
        // value that ends there names no key below the root.
        const char *subkey = value + roots[r].length;
        if (*subkey != '\0')
            ++subkey;
        if (!NamesSubkey(subkey))
            return nullptr;
        *root = roots[r].root;
        return subkey;
    }
    return nullptr;
}
