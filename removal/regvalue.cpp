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

// Keys below a root that many programs, or Windows itself, keep their data in.
static const char *const SharedKeys[] = {
    "Software\\Classes",
    "Software\\Microsoft",
    "Software\\Policies",
    "Software\\Wow6432Node",
    "Software\\Microsoft\\Windows",
    "Software\\Microsoft\\Windows\\CurrentVersion",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Software\\Microsoft\\Windows NT",
    "Software\\Microsoft\\Windows NT\\CurrentVersion",
    "System\\CurrentControlSet",
    "System\\CurrentControlSet\\Control",
    "System\\CurrentControlSet\\Services",
};

// The length of prefix when path begins with it as whole levels, letter case
// aside, else 0. Lead bytes are never ASCII letters, so comparing byte by
// byte cannot pair half a character with a letter.
static int LevelPrefix(const char *path, const char *prefix)
{
    int i = 0;
    for (; prefix[i] != '\0'; ++i) {
        char a = path[i], b = prefix[i];
        if (a >= 'a' && a <= 'z')
            a = char(a - 32);
        if (b >= 'a' && b <= 'z')
            b = char(b - 32);
        if (a != b)
            return 0;
    }
    return path[i] == '\0' || path[i] == '\\' ? i : 0;
}

int IsSharedKey(const char *normal)
{
    // The 32-bit view and the classes under Software hold the same programs'
    // keys as the places they mirror, and are judged as those.
    const char *path = normal;
    char view[PATH_SIZE];
    int at = LevelPrefix(path, "Software\\Wow6432Node");
    if (at != 0 && path[at] != '\0' && CopyText(view, sizeof view, "Software") &&
        AppendText(view, sizeof view, path + at))
        path = view;
    at = LevelPrefix(path, "Wow6432Node");
    if (at == 0)
        at = LevelPrefix(path, "Software\\Classes");
    if (at != 0 && path[at] != '\0') {
        // A class directly below the classes' root is every program's, as
        // it is directly below HKEY_CLASSES_ROOT.
        const char *rest = path + at + 1;
        const char *below = FindCharMbcs(rest, '\\');
        if (below == nullptr || LevelPrefix(rest, "Wow6432Node") != 0)
            return 1;
    }
    for (const char *shared : SharedKeys) {
        int length = LevelPrefix(path, shared);
        if (length != 0 && path[length] == '\0')
            return 1;
    }
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
