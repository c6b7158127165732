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
// in. Each is stored as the number of leading characters it shares with the
// one before, plus one, and the rest: the list takes a third of the room.
static const char SharedKeys[] =
    "\001" "Software\\Classes\0"          // Software\Classes
    "\012" "Microsoft\0"                   // Software\Microsoft
    "\023" "\\Windows\0"                   // Software\Microsoft\Windows
    "\033" "\\CurrentVersion\0"            // Software\Microsoft\Windows\CurrentVersion
    "\052" "\\App Paths\0"                 // ...\CurrentVersion\App Paths
    "\053" "Explorer\0"                    // ...\CurrentVersion\Explorer
    "\053" "Run\0"                         // ...\CurrentVersion\Run
    "\056" "Once\0"                        // ...\CurrentVersion\RunOnce
    "\053" "Uninstall\0"                   // ...\CurrentVersion\Uninstall
    "\033" " NT\0"                         // Software\Microsoft\Windows NT
    "\036" "\\CurrentVersion\0"            // Software\Microsoft\Windows NT\CurrentVersion
    "\012" "Policies\0"                    // Software\Policies
    "\012" "Wow6432Node\0"                 // Software\Wow6432Node
    "\002" "ystem\\CurrentControlSet\0"    // System\CurrentControlSet
    "\031" "\\Control\0"                   // System\CurrentControlSet\Control
    "\032" "Services\0";                   // System\CurrentControlSet\Services

int IsSharedKey(const char *normal)
{
    char shared[64];
    for (const char *rest = SharedKeys; *rest != '\0';) {
        int kept = *rest++ - 1;
        int length = lstrlenA(rest) + 1;
        CopyMemory(shared + kept, rest, length);
        rest += length;
        if (lstrcmpiA(normal, shared) == 0)
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
