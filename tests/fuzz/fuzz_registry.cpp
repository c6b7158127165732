// [Reg] values as a product maker might write them. Whatever the bytes, the
// key path handed to the recursive delete lies inside the value, below one of
// the three roots, and is never empty or rooted at a separator.
#include <stdlib.h>
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
    const char *subkey = SplitRegValue(value, &root);
    if (subkey == nullptr)
        return 0;
    Check(subkey > value && subkey < value + len);
    Check(*subkey != '\0' && *subkey != '\\');
    // No empty level anywhere: the last character and every separator are
    // followed by a name (trail bytes 0x5C are no separators).
    for (const char *p = subkey; *p;) {
        int step = (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ? 2 : 1;
        if (*p == '\\')
            Check(p[1] != '\0' && p[1] != '\\');
        p += step;
    }
    const char *name = root == HKEY_CURRENT_USER    ? "HKEY_CURRENT_USER"
                       : root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                       : root == HKEY_CLASSES_ROOT  ? "HKEY_CLASSES_ROOT"
                                                    : nullptr;
    Check(name != nullptr);
    size_t rootLen = strlen(name);
    Check(memcmp(value, name, rootLen) == 0);  // case-sensitive prefix
    Check(subkey == value + rootLen + 1);      // exactly one separator byte skipped
    return 0;
}
