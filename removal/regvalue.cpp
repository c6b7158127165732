// [Reg] values. Pure text work, so that the fuzzing build compiles it on the
// host too.
#include "script/state.h"
#include "removal/regvalue.h"

// An empty key path, or one that starts with a separator, would make the
// recursive delete start at the root key (or at the parent of the key meant)
// and take every program's keys with it.
int NamesSubkey(const char *path)
{
    return path[0] != '\0' && path[0] != '\\';
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
