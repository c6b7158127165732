// Finding the script from the command line, and the path and name rules
// that the checks share.
#include "checker/checker.h"

static const char DefaultScriptName[] = "SETUP.INF";

int EndsWithIgnoringCase(const char *text, const char *tail)
{
    int length = lstrlenA(text);
    int tailLength = lstrlenA(tail);
    return length >= tailLength && lstrcmpiA(text + length - tailLength, tail) == 0;
}

static int FileExists(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The executable that reads a script: its name with the last three bytes
// EXE, the reverse of how SETUP.EXE names its script.
static void ExeForScript(char *path)
{
    int length = lstrlenA(path);
    CopyMemory(path + length - 3, "EXE", 3);
}

// A directory holds SETUP.INF, or else exactly one script of another name.
static int FindScriptInDirectory(char *directory, char *setupPath)
{
    char pattern[PATH_SIZE];
    if (!CopyText(setupPath, PATH_SIZE, directory) || !AppendText(setupPath, PATH_SIZE, DefaultScriptName))
        return 0;
    if (FileExists(setupPath)) {
        ExeForScript(setupPath);
        return 1;
    }
    if (!CopyText(pattern, PATH_SIZE, directory) || !AppendText(pattern, PATH_SIZE, "*.INF"))
        return 0;
    int found = 0;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            // The short name makes *.INF match longer extensions too.
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !EndsWithIgnoringCase(data.cFileName, ".INF"))
                continue;
            if (++found == 1 && (!CopyText(setupPath, PATH_SIZE, directory) ||
                                 !AppendText(setupPath, PATH_SIZE, data.cFileName)))
                found = 2;  // cannot be named: as good as ambiguous
        } while (FindNextFileA(search, &data));
        FindClose(search);
    }
    if (found != 1) {
        ReportFinding(FindingError, "-", "-", directory,
                      found == 0 ? " - 設定ファイル (SETUP.INF) がありません。"
                                 : " - 設定ファイルが複数あります。どれを検査するか指定してください。");
        return 0;
    }
    ExeForScript(setupPath);
    return 1;
}

static void ReportExeName(const char *setupPath)
{
    const char *name = setupPath;
    for (const char *p = setupPath; *p != '\0'; ++p)
        if (*p == '\\')
            name = p + 1;
    int length = lstrlenA(name);
    if (length < 3)
        ReportFinding(FindingError, "-", "-", name,
                      " - 実行ファイル名が3バイトより短いので、設定ファイルの名前を作れません。起動すると設定ファイルのエラーで終了します。");
    else if (length >= NAME_SIZE)
        ReportFinding(FindingError, "-", "-", name,
                      " - 実行ファイル名が51バイトを超えるので、起動すると設定ファイルのエラーで終了します。");
    else
        ReportFinding(FindingError, "-", "-", setupPath, " - パスが正しくありません。");
}

int ResolveScriptPaths(const char *argument)
{
    char full[PATH_SIZE];
    char *namePart;
    DWORD length = GetFullPathNameA(argument, PATH_SIZE, full, &namePart);
    if (length == 0 || length >= PATH_SIZE) {
        CopyText(State.scriptPath, PATH_SIZE, "-");
        ReportFinding(FindingError, "-", "-", argument, " - パスが長すぎるか正しくありません。");
        return 0;
    }
    // Findings about the command line itself name what it gave.
    CopyText(State.scriptPath, PATH_SIZE, full);

    char setupPath[PATH_SIZE];
    DWORD attributes = GetFileAttributesA(full);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (lstrlenA(full) + 1 >= PATH_SIZE) {
            ReportFinding(FindingError, "-", "-", full, " - パスが長すぎます。");
            return 0;
        }
        AddTrailingBackslash(full);
        if (!FindScriptInDirectory(full, setupPath))
            return 0;
    } else {
        CopyText(setupPath, PATH_SIZE, full);
        if (EndsWithIgnoringCase(setupPath, ".INF"))
            ExeForScript(setupPath);
    }

    // The very derivation SETUP.EXE makes of its own path.
    if (!DeriveSetupPaths(setupPath)) {
        ReportExeName(setupPath);
        return 0;
    }
    // SETUP.EXE cuts its own name at the last 0x5C byte, which may be the
    // second byte of a character such as 表 or ソ, and then looks for a copy
    // of itself under the wrong name (its setup directory is wrong too).
    int separator = lstrlenA(setupPath) - lstrlenA(State.exeName) - 1;
    if (IsDbcsTrailByte(setupPath, separator)) {
        const char *name = setupPath;
        for (int i = 0; setupPath[i] != '\0'; ++i)
            if (setupPath[i] == '\\' && !IsDbcsTrailByte(setupPath, i))
                name = setupPath + i + 1;
        char text[PATH_SIZE + 160];
        CopyText(text, sizeof text, " - 名前に2バイト目が「\\」(0x5C) の文字があるので、SETUP.EXE は自分の名前を「");
        AppendText(text, sizeof text, State.exeName);
        AppendText(text, sizeof text, "」と読み違え、自分のコピーをインストールできません。");
        ReportFinding(FindingError, "-", "-", name, text);
        return 0;
    }
    if (!FileExists(State.scriptPath)) {
        ReportFinding(FindingError, "-", "-", nullptr,
                      "設定ファイルが見つかりません。SETUP.EXE は「設定ファイルが壊れているか、または見つかりません。」と表示して終了します。");
        return 0;
    }
    return 1;
}

int CheckRequiredKeys()
{
    // The same reads and the same rule the start-up begins with; the loader
    // would answer an empty value with a message box, which a console tool
    // must not show.
    GetPrivateProfileStringA("Install", "Title", "", State.title, LABEL_SIZE, State.scriptPath);
    GetPrivateProfileStringA("Install", "Folder", "", State.folder, LABEL_SIZE, State.scriptPath);
    static const char Ends[] = "SETUP.EXE は「設定ファイルが壊れているか、または見つかりません。」と表示して終了します。";
    static const char *const Keys[] = {"Title", "Folder"};
    const char *values[] = {State.title, State.folder};
    for (int nesting = 0; nesting < 2; ++nesting) {
        const char *key = Keys[nesting], *value = values[nesting];
        if (IsSoundLabel(value, nesting))
            continue;
        // Folder's levels are judged one by one, and then as a path.
        char probe[LABEL_SIZE];
        CopyText(probe, sizeof probe, value);
        for (char *slash = FindCharMbcs(probe, '\\'); nesting && slash != nullptr; slash = FindCharMbcs(slash, '\\'))
            *slash = '_';
        const char *fault = FileNameFault(probe);
        if (*value == '\0')
            ReportFinding(FindingError, "Install", key, key, " がないか空です。", Ends);
        else
            ReportFinding(FindingError, "Install", key, value,
                          fault != nullptr ? fault : PathFaultText(RelativePathFault(value)), Ends);
    }
    // Only an empty one stops the reading: the loader would say so itself.
    return State.title[0] != '\0' && State.folder[0] != '\0';
}

const char *PathFaultText(int fault)
{
    switch (fault) {
    case PathEmpty:
        return " - 空です。";
    case PathDrive:
        return " - ドライブ名が含まれています。インストール先のフォルダにそのまま続けられるので、正しいパスになりません。";
    case PathCharacters:
        return " - パスに使えない文字 (/ * ? \" < > | または制御文字) が含まれています。";
    case PathEmptyLevel:
        return " - 空の階層 (「\\」の連続か先頭の「\\」) があります。";
    case PathNoFileName:
        return " - ファイル名がありません (「\\」か「.」で終わっています)。";
    case PathLeaves:
        return " - 「..\\」でインストール先のフォルダの外に出ます。";
    case PathDotLevel:
        return " - 「.」か「..」の階層があります。SETUP.EXE はこのような項目を受け付けません。";
    default:
        return "";
    }
}

int SourceOutside(const char *source)
{
    if (source[0] == '\\' || FindCharMbcs(source, ':') != nullptr)
        return 1;
    int fault = RelativePathFault(source);
    return fault == PathLeaves;
}

const char *FileNameFault(const char *name)
{
    static const char *const Texts[] = {
        nullptr,
        " - 空です。",
        " - ファイル名に使えない文字 (\\ / : * ? \" < > | または制御文字) が含まれています。",
        " - ピリオドか空白で終わっています。",
        " - デバイス名と同じです。",
    };
    return Texts[NameFault(name)];
}

int IsInstalledPath(const char *path)
{
    for (int i = -1; i <= State.fileCount; ++i) {
        LoadFileEntry(i);
        if (State.entryPath[0] != '\0' && lstrcmpiA(State.entryPath, path) == 0)
            return 1;
    }
    return 0;
}

int FullValueLength(const char *section, const char *key)
{
    static char value[4096];
    return int(GetPrivateProfileStringA(section, key, "", value, sizeof value, State.scriptPath));
}

void TargetDirectory(const char *target, char *directory, int size)
{
    directory[0] = '\0';
    if (CopyText(directory, size, target))
        EndAtDirectory(directory);
}

int ReadRegEntry(int n, char *value)
{
    return int(GetPrivateProfileStringA("Reg", FormatIndex(n), "", value, PATH_SIZE, State.scriptPath));
}

int SourceSize(const char *source, unsigned long long *size)
{
    // Relative sources resolve against the current directory, which the
    // checker makes the setup directory just as the wizard does.
    WIN32_FILE_ATTRIBUTE_DATA data;
    *size = 0;
    if (*source == '\0' || !GetFileAttributesExA(source, GetFileExInfoStandard, &data))
        return SourceMissing;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return SourceFolder;
    *size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return SourceFile;
}
