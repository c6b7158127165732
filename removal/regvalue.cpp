// [Reg] values. Pure text work, so that the fuzzing build compiles it on the
// host too.
#include "script/state.h"
#include "removal/regvalue.h"

// Separators are real backslashes only, never the second byte of a
// double-byte character.
int NormalizeKeyPath(const char *path, char *normal, int size)
{
    int used = 0, levels = 0;
    for (const char *p = path; *p != '\0';) {
        if (*p == '\\') {
            ++p;
            continue;
        }
        if (levels > 0) {
            if (used + 1 >= size)
                return -1;
            normal[used++] = '\\';
        }
        while (*p != '\0' && *p != '\\') {
            int step = (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') ? 2 : 1;
            if (used + step >= size)
                return -1;
            for (int i = 0; i < step; ++i)
                normal[used++] = *p++;
        }
        ++levels;
    }
    if (size <= 0)
        return -1;
    normal[used] = '\0';
    return levels;
}

// Keys below a root that many programs, or Windows itself, keep their data
// in, one after the other.
static const char SharedKeys[] =
    "Software\\Classes\0"
    "Software\\Microsoft\0"
    "Software\\Policies\0"
    "Software\\Wow6432Node\0"
    "Software\\Microsoft\\Windows\0"
    "Software\\Microsoft\\Windows\\CurrentVersion\0"
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\0"
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\0"
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run\0"
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\0"
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\0"
    "Software\\Microsoft\\Windows NT\0"
    "Software\\Microsoft\\Windows NT\\CurrentVersion\0"
    "System\\CurrentControlSet\0"
    "System\\CurrentControlSet\\Control\0"
    "System\\CurrentControlSet\\Services\0";

int IsSharedKey(const char *normal)
{
    for (const char *shared = SharedKeys; *shared != '\0'; shared += lstrlenA(shared) + 1)
        if (lstrcmpiA(normal, shared) == 0)
            return 1;
    return 0;
}

int SplitRegValue(const char *value, HKEY *root, char *subkey, int size)
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
        // The separator after the root name is skipped whatever it is.
        const char *path = value + roots[r].length;
        if (*path != '\0')
            ++path;
        if (NormalizeKeyPath(path, subkey, size) < 2 || IsSharedKey(subkey))
            return 0;
        *root = roots[r].root;
        return 1;
    }
    return 0;
}
