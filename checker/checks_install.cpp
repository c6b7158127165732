// Checks of the [Install] section: the global keys and the file entries.
#include "checker/checker.h"

static const char Cut[] = " - 値が長すぎるため、ここで切り詰めて読まれます。";
static const char NotInstalled[] = " - どの [Install] の項目もこのファイルをインストールしません。";

static void CheckCut(int level, const char *key, int fieldSize, const char *value)
{
    if (FullValueLength("Install", key) >= fieldSize)
        ReportFinding(level, "Install", key, value, Cut);
}

void CheckGlobalKeys()
{
    CheckCut(FindingWarning, "Title", LABEL_SIZE, State.title);
    if (const char *fault = FileNameFault(State.title))
        ReportFinding(FindingWarning, "Install", "Title", State.title, fault,
                      "新しいシェルではスタートメニューのフォルダとショートカットの名前になるので、作られません。");

    CheckCut(FindingWarning, "Folder", LABEL_SIZE, State.folder);
    // What is left once the start-up's rule has passed it: levels nested
    // with backslashes (anything else was an error there).
    if (FileNameFault(State.folder) != nullptr)
        ReportFinding(FindingWarning, "Install", "Folder", State.folder, FileNameFault(State.folder),
                      "既定のインストール先とアンインストール登録のキーが入れ子になります。");

    // Shown only in the system's list of programs, as the entry's Publisher
    // and DisplayVersion.
    static const char *const Shown[] = {"Publisher", "Version"};
    for (const char *key : Shown) {
        char value[LABEL_SIZE];
        GetPrivateProfileStringA("Install", key, "", value, sizeof value, State.scriptPath);
        CheckCut(FindingWarning, key, LABEL_SIZE, value);
        if (HasControlCharacter(value))
            ReportFinding(FindingWarning, "Install", key, value, " - 制御文字が含まれているので、正しく表示されません。");
    }

    // TSR: only the first byte counts, so a maker's "yes" means no.
    char tsr[PATH_SIZE];
    GetPrivateProfileStringA("Install", "TSR", "", tsr, sizeof tsr, State.scriptPath);
    if (tsr[0] != '\0' && lstrcmpA(tsr, "0") != 0 && lstrcmpA(tsr, "1") != 0)
        ReportFinding(FindingWarning, "Install", "TSR", tsr,
                      State.resident ? " - 先頭が「1」なので常駐するものとして扱われます。"
                                     : " - 先頭が「1」ではないので常駐しないものとして扱われます。");

    char open[PATH_SIZE];
    GetPrivateProfileStringA("Install", "Open", "", open, sizeof open, State.scriptPath);
    if (FullValueLength("Install", "Open") >= PATH_SIZE)
        ReportFinding(FindingError, "Install", "Open", open, Cut);
    // A relative name is opened in the installation directory; a drive, a
    // root or a URL is the maker's own business.
    if (open[0] != '\0' && open[0] != '\\' && FindCharMbcs(open, ':') == nullptr) {
        char path[PATH_SIZE];
        if (!CopyText(path, sizeof path, State.installDir) || !AppendText(path, sizeof path, open))
            ReportFinding(FindingWarning, "Install", "Open", open, " - インストール先と結ぶと259バイトを超えます。");
        else if (!IsInstalledPath(path))
            ReportFinding(FindingWarning, "Install", "Open", open, NotInstalled, "「完了」で開けません。");
    }

    if (State.resident && State.groupCount > 0)
        ReportFinding(FindingWarning, "Group", "1", nullptr,
                      "常駐するので、新しいシェルでは [Group] の項目からショートカットは作られません (古いシェルでも1番目だけがスタートアップに入ります)。");
}

static int IsProgram(const char *path)
{
    return EndsWithIgnoringCase(path, ".EXE") || EndsWithIgnoringCase(path, ".COM") ||
           EndsWithIgnoringCase(path, ".BAT");
}

static void CheckImplicitEntries()
{
    if (FindCharMbcs(State.exeName, ',') != nullptr)
        ReportFinding(FindingError, "-", "-", State.exeName,
                      " - 実行ファイル名にカンマがあるので、自分自身のコピーがカンマの前と後ろに分かれてしまいます。");
    unsigned long long size;
    if (SourceSize(State.exeName, &size) != SourceFile)
        ReportFinding(FindingWarning, "-", "-", State.exeName, " - 配布ディレクトリにありません。");
}

// One numbered entry; entryName, entryPath and entryTail as LoadFileEntry left them.
static void CheckFileEntry(int i, const char *key)
{
    char source[PATH_SIZE];
    char destination[PATH_SIZE];
    CopyText(source, sizeof source, State.entryName);
    int joined = State.entryPath[0] != '\0';
    CopyText(destination, sizeof destination, joined ? State.entryPath : "");
    const char *relative = destination + (joined ? State.entryTail - State.entryPath : 0);

    if (FullValueLength("Install", key) >= PATH_SIZE)
        ReportFinding(FindingError, "Install", key, nullptr, "値が259バイトを超えるため、切り詰めて読まれます。");

    if (SourceOutside(source))
        ReportFinding(FindingWarning, "Install", key, source,
                      " - 配布ディレクトリの外のファイルです。ユーザーのマシンの同じ場所にあるとは限りません。");
    unsigned long long size;
    int kind = SourceSize(source, &size);
    if (kind == SourceMissing)
        ReportFinding(FindingError, "Install", key, source, " - 配布ディレクトリにありません。");
    else if (kind == SourceFolder)
        ReportFinding(FindingError, "Install", key, source, " - フォルダです。コピーできるのはファイルだけです。");

    if (!joined) {
        ReportFinding(FindingError, "Install", key, nullptr,
                      "インストール先 (既定) と結ぶと259バイトを超えるので、この項目はコピーされません。");
        return;
    }
    int fault = RelativePathFault(relative);
    if (fault != PathSound) {
        ReportFinding(FindingError, "Install", key, relative, PathFaultText(fault));
        return;
    }
    if (lstrcmpiA(relative, State.exeName) == 0 || lstrcmpiA(relative, State.scriptName) == 0)
        ReportFinding(FindingError, "Install", key, relative,
                      " - セットアップ自身のコピーを上書きします。削除はそのコピーで行われます。");
    for (int j = 1; j < i; ++j) {
        LoadFileEntry(j);
        if (lstrcmpiA(State.entryPath, destination) == 0) {
            char text[64];
            wsprintfA(text, " - %d 番と同じ場所にインストールされ、後の方で上書きされます。", j);
            ReportFinding(FindingWarning, "Install", key, relative, text);
            break;
        }
    }
    if (i == 1 && !IsProgram(relative))
        ReportFinding(FindingWarning, "Install", key, relative,
                      " - 1番目は「完了」で起動されますが、プログラム (.EXE .COM .BAT) ではありません。");
}

void CheckFileEntries()
{
    CheckImplicitEntries();
    if (State.fileCount == 0) {
        // Entry 1 is still loaded for Finish and the single shortcut, even
        // when its source is empty.
        LoadFileEntry(1);
        ReportFinding(FindingWarning, "Install", "1", State.entryPath,
                      " - ファイルの項目がないので、「完了」で起動されショートカットのリンク先になるこのパスには何もインストールされません。");
    }
    for (int i = 1; i <= State.fileCount; ++i) {
        char key[16];
        CopyText(key, sizeof key, FormatIndex(i));
        LoadFileEntry(i);
        CheckFileEntry(i, key);
    }
}

// The full path of every entry's source, upper-cased, one after another in
// blocks of PATH_SIZE: a distribution of thousands of files is compared
// against them without reading the script again for each file.
static char *listedSources;

static int IsListedSource(const char *path)
{
    char upper[PATH_SIZE];
    CopyText(upper, sizeof upper, path);
    CharUpperA(upper);
    for (int i = 0; i < State.fileCount; ++i)
        if (lstrcmpA(listedSources + i * PATH_SIZE, upper) == 0)
            return 1;
    return 0;
}

// The names found so far, one after another; listed in order once the
// walk is over, since the file system hands them out in an order of its own.
static char unlisted[32768];
static int unlistedUsed;
static int unlistedLeftOut;
// A package holds at most 65535 files and folders: a folder with more
// (a whole drive named by mistake) is not walked to its end.
static int walkedCount;

static void WalkUnlisted(char *path, int rootLength, const char *program)
{
    int length = lstrlenA(path);
    WIN32_FIND_DATAA found;
    HANDLE search = AppendText(path, PATH_SIZE, "*") ? FindFirstFileA(path, &found) : INVALID_HANDLE_VALUE;
    path[length] = '\0';
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (++walkedCount > 0xFFFF)
            break;
        if (lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0 ||
            !AppendText(path, PATH_SIZE, found.cFileName)) {
            path[length] = '\0';
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link to a folder elsewhere is not the distribution's.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && AppendText(path, PATH_SIZE, "\\"))
                WalkUnlisted(path, rootLength, program);
        } else if (lstrcmpiA(path, program) != 0 && lstrcmpiA(path, State.scriptPath) != 0 && !IsListedSource(path)) {
            int size = lstrlenA(path + rootLength) + 1;
            if (unlistedUsed + size < int(sizeof unlisted)) {
                CopyMemory(unlisted + unlistedUsed, path + rootLength, size);
                unlistedUsed += size;
            } else {
                ++unlistedLeftOut;
            }
        }
        path[length] = '\0';
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// A file of the distribution that no entry copies goes into the package but
// never onto the customer's machine: forgotten in the script, or never meant
// to ship. The setup program and its script are the program's own.
void CheckUnlistedFiles()
{
    listedSources = static_cast<char *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                  SIZE_T(State.fileCount + 1) * PATH_SIZE));
    if (listedSources == nullptr)
        return;
    for (int i = 1; i <= State.fileCount; ++i) {
        LoadFileEntry(i);
        char *full = listedSources + (i - 1) * PATH_SIZE;
        DWORD length = GetFullPathNameA(State.entryName, PATH_SIZE, full, nullptr);
        if (length == 0 || length >= DWORD(PATH_SIZE))
            full[0] = '\0';
        CharUpperA(full);
    }
    char program[PATH_SIZE];
    CopyText(program, sizeof program, State.setupDir);
    AppendText(program, sizeof program, State.exeName);
    char path[PATH_SIZE];
    CopyText(path, sizeof path, State.setupDir);
    unlistedUsed = 0;
    unlistedLeftOut = 0;
    walkedCount = 0;
    WalkUnlisted(path, lstrlenA(path), program);
    HeapFree(GetProcessHeap(), 0, listedSources);

    // In the order of their names, whatever order the walk found them in;
    // a name reported is marked, its length kept, by a byte no name begins with.
    const char Reported = '\1';
    for (;;) {
        char *first = nullptr;
        for (char *name = unlisted; name < unlisted + unlistedUsed; name += lstrlenA(name) + 1)
            if (name[0] != Reported && (first == nullptr || lstrcmpiA(name, first) < 0))
                first = name;
        if (first == nullptr)
            break;
        ReportFinding(FindingWarning, "Install", "-", first, NotInstalled,
                      "パッケージには入りますが、お客様のマシンにはコピーされません。");
        first[0] = Reported;
    }
    if (unlistedLeftOut != 0)
        ReportFinding(FindingWarning, "Install", "-", nullptr,
                      "ほかにも、どの [Install] の項目もインストールしないファイルがあります。");
    if (walkedCount > 0xFFFF)
        ReportFinding(FindingWarning, "Install", "-", nullptr,
                      "配布ディレクトリのファイルとフォルダが 65535 個を超えるので、その先は調べていません (パッケージにもできません)。");
}

void CheckTotals()
{
    const unsigned long long Question = 100ULL * 1048576ULL;
    if (Check.totalSize >= Question)
        ReportFinding(FindingWarning, "-", "-", nullptr,
                      "合計サイズが100 MB以上です。ドライブの空きが100 MB以上あれば確認なしで進むので、入りきらないドライブでもコピーが始まります。");
}
