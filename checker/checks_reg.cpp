// Checks of the [Reg] section: the keys that the removal deletes with all
// their subkeys. A key set too high takes other programs' data with it.
#include "checker/checker.h"
#include "removal/regvalue.h"

struct RegRoot {
    const char *name;
    int length;
};

// In the order and with the byte-exact, case-sensitive match of the removal.
static const RegRoot Roots[] = {
    {"HKEY_CURRENT_USER", 17},
    {"HKEY_LOCAL_MACHINE", 18},
    {"HKEY_CLASSES_ROOT", 17},
};

static const char BadRoot[] = "削除のときに「Regセクションがおかしいです。」と表示され、このキーは消されません。";
static const char WholeRoot[] = " - ルート名だけでキーがありません。ルートの中身を消すことになりかねません。";

static const RegRoot *MatchRoot(const char *value)
{
    for (const RegRoot &root : Roots)
        if (lstrlenA(value) >= root.length && CompareStringA(LOCALE_INVARIANT, 0, value, root.length, root.name,
                                                             root.length) == CSTR_EQUAL)
            return &root;
    return nullptr;
}

static const RegRoot *MatchRootIgnoringCase(const char *value)
{
    for (const RegRoot &root : Roots)
        if (lstrlenA(value) >= root.length &&
            CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, value, root.length, root.name, root.length) ==
                CSTR_EQUAL)
            return &root;
    return nullptr;
}

static void CheckRegEntry(const char *key, const char *value)
{
    const RegRoot *root = MatchRoot(value);
    if (root == nullptr) {
        ReportFinding(FindingError, "Reg", key, value,
                      MatchRootIgnoringCase(value) != nullptr
                          ? " - ルート名は大文字で書かなければなりません。"
                          : " - ルート名が HKEY_CURRENT_USER、HKEY_LOCAL_MACHINE、HKEY_CLASSES_ROOT のどれでもありません。",
                      BadRoot);
        return;
    }
    if (lstrlenA(value) <= root->length + 1) {
        ReportFinding(FindingError, "Reg", key, value, WholeRoot);
        return;
    }
    if (value[root->length] != '\\') {
        ReportFinding(FindingError, "Reg", key, value,
                      " - ルート名のすぐ後が「\\」ではありません。その1バイトは読み飛ばされるので、書かれているのとは違うキーが消されます。");
        return;
    }

    // The key path with its empty levels dropped, as the registry reads it.
    const char *path = value + root->length + 1;
    char normal[PATH_SIZE];
    normal[0] = '\0';
    int depth = 0;
    int emptyLevel = 0;
    const char *level = path;
    for (;;) {
        const char *slash = FindCharMbcs(level, '\\');
        int length = slash != nullptr ? int(slash - level) : lstrlenA(level);
        if (length == 0) {
            emptyLevel = 1;
        } else {
            int used = lstrlenA(normal);
            if (depth > 0)
                normal[used++] = '\\';
            CopyMemory(normal + used, level, length);
            normal[used + length] = '\0';
            ++depth;
        }
        if (slash == nullptr)
            break;
        level = slash + 1;
    }

    if (depth == 0) {
        ReportFinding(FindingError, "Reg", key, value, WholeRoot);
        return;
    }
    if (emptyLevel)
        ReportFinding(FindingWarning, "Reg", key, value, " - 「\\」が続いているか「\\」で終わっています。");

    // The removal never deletes a key directly below a root: Software,
    // SOFTWARE, SYSTEM and the classes there are every program's.
    if (depth == 1) {
        ReportFinding(FindingError, "Reg", key, value, " - ルート直下のキーです。", BadRoot);
        return;
    }
    if (IsSharedKey(normal))
        ReportFinding(FindingError, "Reg", key, value, " - 共有のキーです。", BadRoot);
}

void CheckRegEntries()
{
    char value[PATH_SIZE];
    for (int n = 1; n <= Check.regCount; ++n) {
        char key[16];
        CopyText(key, sizeof key, FormatIndex(n));
        ReadRegEntry(n, value);
        if (FullValueLength("Reg", key) >= PATH_SIZE)
            ReportFinding(FindingError, "Reg", key, nullptr,
                          "値が259バイトを超えるため切り詰めて読まれ、書かれているのより上のキーが消されることがあります。");
        CheckRegEntry(key, value);
    }
}
