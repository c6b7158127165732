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
// in; every key above one of them is shared as well. Each is stored as the
// number of leading characters it shares with the one before, plus one, and
// the rest: the list takes half the room.
static const char SharedKeys[] =
    "\001" "Software\\Classes\0"                                  // Software\Classes
    "\012" "Policies\0"                                            // Software\Policies
    "\012" "Microsoft\\Windows\\CurrentVersion\\App Paths\0"        // ...\Windows\CurrentVersion\App Paths
    "\053" "Explorer\0"                                            // ...\CurrentVersion\Explorer
    "\053" "Run\0"                                                 // ...\CurrentVersion\Run
    "\056" "Once\0"                                                // ...\CurrentVersion\RunOnce
    "\053" "Uninstall\0"                                           // ...\CurrentVersion\Uninstall
    "\033" " NT\\CurrentVersion\\Winlogon\0";                       // Software\Microsoft\Windows NT\CurrentVersion\Winlogon

// Containers directly below Software\Classes that hold every program's
// classes and file types; a product's own item below one is its own.
static const char ClassContainers[] = "CLSID\0Interface\0TypeLib\0AppID\0*\0Directory\0Drive\0Folder\0AllFilesystemObjects\0";
// What a control set holds for every driver and service.
static const char ControlSetContainers[] = "Control\0Enum\0Services\0";

// Whether name, of length bytes, is one of the names of list.
static int IsOneOf(const char *name, int length, const char *list)
{
    for (; *list != '\0'; list += TextLength(list) + 1)
        if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, length, list, -1) == CSTR_EQUAL)
            return 1;
    return 0;
}

int IsSharedKey(const char *normal)
{
    // The 32-bit mirror of 64-bit Windows (Wow6432Node) holds the same keys
    // for 32-bit programs: a level of that name is read as if it were not there.
    char key[PATH_SIZE];
    const char *level[4];
    int length[4];
    int levels = 0, used = 0;
    for (const char *p = normal; *p != '\0';) {
        const char *end = FindCharMbcs(p, '\\');
        int size = end != nullptr ? int(end - p) : TextLength(p);
        if (!IsOneOf(p, size, "Wow6432Node\0")) {
            if (used + size + 1 >= PATH_SIZE)
                return 1;
            if (levels < 4) {
                level[levels] = key + used + (used != 0);
                length[levels] = size;
            }
            if (used != 0)
                key[used++] = '\\';
            CopyMemory(key + used, p, size);
            used += size;
            ++levels;
        }
        p += end != nullptr ? size + 1 : size;
    }
    key[used] = '\0';
    // A root, or a key directly below one (Software, SYSTEM, a class), is every program's.
    if (levels < 2)
        return 1;
    char shared[64];
    for (const char *rest = SharedKeys; *rest != '\0';) {
        int kept = *rest++ - 1;
        int size = TextLength(rest) + 1;
        CopyMemory(shared + kept, rest, size);
        rest += size;
        // The key itself, or one above it.
        int sharedLength = TextLength(shared);
        if (used <= sharedLength && (used == sharedLength || shared[used] == '\\') &&
            CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, key, used, shared, used) == CSTR_EQUAL)
            return 1;
    }
    // System\<control set>, and its Control, Enum and Services.
    if (IsOneOf(level[0], length[0], "System\0") &&
        (IsOneOf(level[1], length[1], "CurrentControlSet\0") ||
         (length[1] > 10 && IsOneOf(level[1], 10, "ControlSet\0"))))
        return levels == 2 || (levels == 3 && IsOneOf(level[2], length[2], ControlSetContainers));
    // Software\Classes\CLSID and the other containers, and every file type.
    return levels == 3 && IsOneOf(level[0], length[0], "Software\0") && IsOneOf(level[1], length[1], "Classes\0") &&
           (level[2][0] == '.' || IsOneOf(level[2], length[2], ClassContainers));
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
    int length = TextLength(value);
    for (int r = 0; r < 3; ++r) {
        if (length < roots[r].length || memcmp(value, roots[r].name, roots[r].length) != 0)
            continue;
        // The separator after the root name is skipped whatever it is.
        const char *path = value + roots[r].length;
        if (*path != '\0')
            ++path;
        if (NormalizeKeyPath(path, subkey, size) < 1 || IsSharedKey(subkey))
            return 0;
        *root = roots[r].root;
        return 1;
    }
    return 0;
}
