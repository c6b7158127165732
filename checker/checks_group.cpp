// Checks of the [Group] section: the shortcut entries.
#include "checker/checker.h"

// One entry; entryName and entryPath as LoadGroupEntry left them.
static void CheckGroupEntry(int n, const char *key)
{
    char caption[PATH_SIZE];
    char target[PATH_SIZE];
    CopyText(caption, sizeof caption, State.entryName);
    CopyText(target, sizeof target, State.entryPath);

    if (FullValueLength("Group", key) >= PATH_SIZE)
        ReportFinding(FindingError, "Group", key, nullptr, "値が259バイトを超えるため、切り詰めて読まれます。");

    if (const char *fault = FileNameFault(caption))
        ReportFinding(FindingWarning, "Group", key, caption, fault,
                      "新しいシェルではこのショートカットが作られません。");
    for (int j = 1; j < n; ++j) {
        LoadGroupEntry(j);
        if (lstrcmpiA(State.entryName, caption) == 0) {
            char text[80];
            wsprintfA(text, " - %d 番と同じ名前なので、ショートカットが上書きされます。", j);
            ReportFinding(FindingWarning, "Group", key, caption, text);
            break;
        }
    }

    if (target[0] == '\0') {
        ReportFinding(FindingError, "Group", key, nullptr,
                      "インストール先 (既定) と結ぶと259バイトを超えるので、このショートカットのリンク先は空になります。");
        return;
    }
    // The shortcut code cuts the arguments off at the first comma.
    char *comma = FindCharMbcs(target, ',');
    if (comma != nullptr)
        *comma = '\0';
    const char *relative = target + lstrlenA(State.installDir);
    int fault = RelativePathFault(relative);
    if (fault == PathEmpty) {
        ReportFinding(FindingWarning, "Group", key, caption, " - リンク先が空なので、インストール先のフォルダそのものを指します。");
        return;
    }
    if (fault != PathSound && fault != PathLeaves) {
        ReportFinding(FindingError, "Group", key, relative, PathFaultText(fault));
        return;
    }
    if (!IsInstalledPath(target))
        ReportFinding(FindingWarning, "Group", key, relative, " - どの [Install] の項目もこのファイルをインストールしません。");
}

void CheckGroupEntries()
{
    for (int n = 1; n <= State.groupCount; ++n) {
        char key[16];
        CopyText(key, sizeof key, FormatIndex(n));
        LoadGroupEntry(n);
        CheckGroupEntry(n, key);
    }
}
