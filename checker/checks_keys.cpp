// Keys that the program never reads. The loaders ask for one key at a time
// (1, 2, 3 ... until the first that fails), so the raw section is the only
// place where a maker's 01, a gap or a typing error shows up.
#include "checker/checker.h"

static char raw[32768];

static const char *const InstallKeys[] = {"Title", "Folder", "TSR", "Open", "Publisher", "Version"};

static int IsNumber(const char *key)
{
    if (*key == '\0')
        return 0;
    for (const char *p = key; *p != '\0'; ++p)
        if (*p < '0' || *p > '9')
            return 0;
    return 1;
}

// Numbers beyond any list are all alike: never read.
static int NumberOf(const char *key)
{
    if (lstrlenA(key) > 9)
        return 0x7FFFFFFF;
    int n = 0;
    for (const char *p = key; *p != '\0'; ++p)
        n = n * 10 + (*p - '0');
    return n;
}

static int KeyPresent(const char *wanted)
{
    for (const char *line = raw; *line != '\0'; line += lstrlenA(line) + 1) {
        char key[PATH_SIZE];
        CopyText(key, sizeof key, "");
        const char *equals = FindCharMbcs(line, '=');
        int length = equals != nullptr ? int(equals - line) : lstrlenA(line);
        if (length < PATH_SIZE) {
            CopyMemory(key, line, length);
            key[length] = '\0';
        }
        if (lstrcmpiA(key, wanted) == 0)
            return 1;
    }
    return 0;
}

// The entry at the end of a list: present, but failing its section's rule.
static const char *WhyListEnds(const char *section, const char *key)
{
    char value[PATH_SIZE];
    GetPrivateProfileStringA(section, key, "", value, sizeof value, State.scriptPath);
    if (lstrcmpiA(section, "Install") == 0)
        return "コピー元が空なので、ファイルの一覧はここで終わります。";
    if (lstrcmpiA(section, "Reg") == 0)
        return "値が空なので、削除するキーの一覧はここで終わります。";
    char *comma = FindCharMbcs(value, ',');
    if (comma == nullptr)
        return "カンマがないので、ショートカットの一覧はここで終わります。";
    return "名前が空なので、ショートカットの一覧はここで終わります。";
}

static void CheckKey(const char *section, const char *line, const char *key, int hasEquals, int count)
{
    if (!hasEquals) {
        ReportFinding(FindingWarning, section, key, line, " - 「=」がない行なので読まれません。");
        return;
    }
    if (lstrcmpiA(section, "Install") == 0)
        for (const char *known : InstallKeys)
            if (lstrcmpiA(key, known) == 0)
                return;
    if (!IsNumber(key)) {
        ReportFinding(FindingWarning, section, key, nullptr,
                      lstrcmpiA(section, "Install") == 0 ? "番号でも Title、Folder、TSR、Open、Publisher、Version でもないので読まれません。"
                                                         : "番号ではないので読まれません。");
        return;
    }
    if (key[0] == '0') {
        ReportFinding(FindingWarning, section, key, nullptr,
                      key[1] == '\0' ? "番号は1から始まるので、0 は読まれません。"
                                     : "番号の先頭に0があるので読まれません (01 ではなく 1 と書きます)。");
        return;
    }
    int n = NumberOf(key);
    if (n <= count)
        return;
    char end[16];
    CopyText(end, sizeof end, FormatIndex(static_cast<unsigned int>(count + 1)));
    if (n == count + 1) {
        ReportFinding(FindingWarning, section, key, nullptr, WhyListEnds(section, key));
        return;
    }
    char text[160];
    wsprintfA(text, KeyPresent(end) ? "%s 番で一覧が終わっているので読まれません。"
                                             : "%s 番が抜けているので読まれません。",
              end);
    ReportFinding(FindingWarning, section, key, nullptr, text);
}

void CheckRawKeys(const char *section, int count)
{
    DWORD size = GetPrivateProfileSectionA(section, raw, sizeof raw, State.scriptPath);
    if (size >= sizeof raw - 2)
        ReportFinding(FindingWarning, section, "-", nullptr, "セクションが大きすぎて、すべてのキーは検査できません。");
    raw[sizeof raw - 1] = '\0';
    raw[sizeof raw - 2] = '\0';
    for (const char *line = raw; *line != '\0'; line += lstrlenA(line) + 1) {
        if (*line == ';')
            continue;  // comments, where the profile layer hands them out
        const char *equals = FindCharMbcs(line, '=');
        int length = equals != nullptr ? int(equals - line) : lstrlenA(line);
        char key[PATH_SIZE];
        if (length >= PATH_SIZE)
            length = PATH_SIZE - 1;
        CopyMemory(key, line, length);
        key[length] = '\0';

        // The profile layer answers with the first of equal keys.
        int duplicate = 0;
        for (const char *earlier = raw; earlier != line && !duplicate; earlier += lstrlenA(earlier) + 1) {
            const char *e = FindCharMbcs(earlier, '=');
            int l = e != nullptr ? int(e - earlier) : lstrlenA(earlier);
            duplicate = l == length && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, earlier, l, key, l) ==
                                           CSTR_EQUAL;
        }
        if (duplicate) {
            ReportFinding(FindingWarning, section, key, nullptr, "同じキーが前にもあるので、この行は読まれません。");
            continue;
        }
        CheckKey(section, line, key, equals != nullptr, count);
    }
}
