// The install plan: what SETUP.EXE would copy, create, register and start
// with this script, computed by the program's own loaders against the
// default installation directory.
#include "checker/checker.h"
#include "removal/regvalue.h"

static const char UninstallKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The entry's values that come from the script, and their keys.
static const char *const ScriptValues[][2] = {{"Publisher", "Publisher"}, {"DisplayVersion", "Version"}};
static const char TooLong[] = "(インストール先と結ぶと259バイトを超えるため、使われません)";

static void Line(const char *a, const char *b = nullptr, const char *c = nullptr, const char *d = nullptr,
                 const char *e = nullptr)
{
    const char *pieces[] = {a, b, c, d, e};
    for (const char *piece : pieces)
        if (piece != nullptr)
            Print(piece);
    Print("\r\n");
}

static void PrintHeader()
{
    Line("設定ファイル: ", State.scriptPath);
    Line("セットアップの実行ファイル: ", State.exeName);
    Line("製品名 (Title): ", State.title);
    Line("フォルダ名 (Folder): ", State.folder);
    Line("常駐 (TSR): ", State.resident ? "する (オプションのページは出ず、スタートアップにだけショートカットを作ります)"
                                        : "しない");
    Line("既定のインストール先: ", State.installDir);
    if (lstrcmpiA(Check.loadedDir, State.installDir) != 0)
        Line("このマシンに登録された前回のインストール先: ", Check.loadedDir,
             " (セットアップはこちらを表示します。以下は既定のインストール先で計算しています)");
}

static void PrintFiles()
{
    Line("");
    Line("コピーするファイル (この順番):");
    int longest = 0;
    Check.totalSize = 0;
    Check.totalKib = 0;
    for (int i = -1; i <= State.fileCount; ++i) {
        LoadFileEntry(i);
        Print(i < 0 ? "  " : "   ");
        if (i < 0)
            Print("-");
        PrintNumber(static_cast<unsigned int>(i < 0 ? -i : i));
        Print("  ");
        Print(State.entryName);
        Print(" → ");
        if (State.entryPath[0] != '\0') {
            Print(State.entryPath);
            int relative = lstrlenA(State.entryTail);
            if (relative > longest)
                longest = relative;
        } else {
            Print(TooLong);
        }
        unsigned long long size;
        int kind = SourceSize(State.entryName, &size);
        if (kind == SourceFile) {
            Print("  (");
            PrintNumber(size);
            Print(" バイト)");
            Check.totalSize += size;
            if (State.entryPath[0] != '\0')
                Check.totalKib += (size + 1023) / 1024;
        } else {
            Print(kind == SourceFolder ? "  (フォルダです)" : "  (見つかりません)");
        }
        Print("\r\n");
    }
    // entryPath holds 259 bytes: the longest destination bounds the
    // directory a user may choose.
    Print("インストール先のフォルダは ");
    PrintNumber(static_cast<unsigned int>(PATH_SIZE - 1 - longest));
    Line(" バイトまで指定できます (これより長いと入りきらないファイルがあります)。");
}

// Whether an entry before `before` already leads through this directory.
static int CreatedEarlier(const char *directory, int before)
{
    int length = lstrlenA(directory);
    char prefix[PATH_SIZE];
    for (int j = -1; j < before; ++j) {
        LoadFileEntry(j);
        if (lstrlenA(State.entryPath) <= length)
            continue;
        CopyMemory(prefix, State.entryPath, length);
        prefix[length] = '\0';
        if (lstrcmpiA(prefix, directory) == 0)
            return 1;
    }
    return 0;
}

static void PrintDirectories()
{
    Line("");
    Line("作成するフォルダ:");
    Line("  ", State.installDir, " (ない上の階層も作ります)");
    for (int i = 1; i <= State.fileCount; ++i) {
        LoadFileEntry(i);
        if (State.entryPath[0] == '\0' || RelativePathFault(State.entryTail) != PathSound)
            continue;
        char path[PATH_SIZE];
        CopyText(path, sizeof path, State.entryPath);
        char *tail = path + (State.entryTail - State.entryPath);
        // Level by level, as the copy makes them.
        for (char *slash = FindCharMbcs(tail, '\\'); slash != nullptr; slash = FindCharMbcs(slash + 1, '\\')) {
            char saved = slash[1];
            slash[1] = '\0';
            if (!CreatedEarlier(path, i))
                Line("  ", path);
            slash[1] = saved;
        }
    }
}

static void PrintShortcut(const char *location, const char *subfolder, const char *name)
{
    // entryPath holds the target, optionally followed by a comma and arguments.
    Print("    ");
    Print(location);
    Print("\\");
    if (subfolder != nullptr) {
        Print(subfolder);
        Print("\\");
    }
    Line(name, ".lnk");
    if (State.entryPath[0] == '\0') {
        Line("      ", TooLong);
        return;
    }
    char target[PATH_SIZE];
    CopyText(target, sizeof target, State.entryPath);
    char *comma = FindCharMbcs(target, ',');
    if (comma != nullptr)
        *comma = '\0';
    char directory[PATH_SIZE];
    TargetDirectory(target, directory, sizeof directory);
    Line("      リンク先: ", target);
    if (comma != nullptr)
        Line("      引数: ", comma + 1);
    Line("      作業フォルダ: ", directory);
}

static void PrintSingleShortcut(const char *location)
{
    LoadFileEntry(1);
    PrintShortcut(location, nullptr, State.title);
}

static void PrintNewShellShortcuts()
{
    Line("");
    Line("ショートカット (新しいシェル):");
    if (State.resident) {
        Line("  スタートアップ:");
        PrintSingleShortcut("スタートアップ");
        return;
    }
    Line("  スタートメニュー (「スタートメニューに登録する」がオンのとき。最初はオン):");
    if (State.groupCount == 0) {
        PrintSingleShortcut("プログラム");
    } else {
        for (int n = 1; n <= State.groupCount; ++n) {
            LoadGroupEntry(n);
            char caption[PATH_SIZE];
            CopyText(caption, sizeof caption, State.entryName);
            PrintShortcut("プログラム", State.title, caption);
        }
    }
    Line("  デスクトップ (「デスクトップにショートカットを作成する」がオンのとき。最初はオフ):");
    PrintSingleShortcut("デスクトップ");
}

static void PrintAddItem(const char *name)
{
    if (State.entryPath[0] == '\0') {
        Line("    ", name, " ", TooLong);
        return;
    }
    char *comma = FindCharMbcs(State.entryPath, ',');
    if (comma != nullptr)
        *comma = ' ';  // Program Manager takes target and arguments apart at a blank
    Line("    [AddItem(\"", State.entryPath, "\",\"", name, "\")]");
}

static void PrintOldShellShortcuts()
{
    Line("");
    Line("ショートカット (古いシェル。Program Manager へのコマンド、パスはインストール時に短い形式になります):");
    if (State.resident) {
        Line("    [ShowGroup(\"スタートアップ\",1)]");
        if (State.groupCount != 0)
            LoadGroupEntry(1);
        else
            LoadFileEntry(1);
        PrintAddItem(State.title);
        return;
    }
    Line("  スタートメニュー (「スタートメニューに登録する」がオンのとき):");
    Line("    [CreateGroup(\"", State.title, "\",0)]");
    if (State.groupCount == 0) {
        LoadFileEntry(1);
        PrintAddItem(State.title);
        LoadFileEntry(-1);
        char name[NAME_SIZE + 8];
        CopyText(name, sizeof name, State.exeName);
        AppendText(name, sizeof name, "の削除");
        if (State.entryPath[0] != '\0' && !AppendText(State.entryPath, PATH_SIZE, ",/r"))
            State.entryPath[0] = '\0';
        PrintAddItem(name);
        return;
    }
    for (int n = 1; n <= State.groupCount; ++n) {
        LoadGroupEntry(n);
        char caption[PATH_SIZE];
        CopyText(caption, sizeof caption, State.entryName);
        PrintAddItem(caption);
    }
}

static void PrintRegistration()
{
    Line("");
    Line("アンインストール登録:");
    Line("  ", UninstallKey, State.folder);
    Line("    DisplayName = ", State.title);
    Line("    UninstallString = \"", State.installDir, State.exeName, "\" /r");
    Line("    QuietUninstallString = \"", State.installDir, State.exeName, "\" /r /S");
    LoadFileEntry(1);
    if (State.fileCount > 0 && State.entryPath[0] != '\0')
        Line("    DisplayIcon = \"", State.entryPath, "\",0");
    Line("    InstallLocation = ", State.installDir);
    for (const auto &pair : ScriptValues) {
        char value[LABEL_SIZE];
        GetPrivateProfileStringA("Install", pair[1], "", value, sizeof value, State.scriptPath);
        if (value[0] != '\0')
            Line("    ", pair[0], " = ", value);
    }
    Print("    EstimatedSize = ");
    PrintNumber(Check.totalKib);
    Line(" (DWORD、KiB。ファイルごとに切り上げた合計。コピーできなかったファイルは入りません)");
    Line("    InstallDate = (インストールした日、YYYYMMDD)");
    Line("    NoModify = 1 (DWORD)");
    Line("    NoRepair = 1 (DWORD)");
    Line("");
    Line("削除時に消すレジストリキー (サブキーごと):");
    char value[PATH_SIZE];
    int n = 1;
    while (ReadRegEntry(n, value) != 0) {
        // By the removal's own reading: what it refuses stays, as the findings say.
        HKEY root;
        char subkey[PATH_SIZE];
        Line("  ", value, SplitRegValue(value, &root, subkey, sizeof subkey) ? nullptr : "  (削除されません。検査結果を見てください)");
        ++n;
    }
    Check.regCount = n - 1;
    if (Check.regCount == 0)
        Line("  (なし)");
}

static void PrintFinish()
{
    Line("");
    LoadFileEntry(1);
    Line("「完了」で起動: ", State.entryPath[0] != '\0' ? State.entryPath : TooLong, " (作業フォルダ ",
         State.installDir, ")");
    char open[PATH_SIZE];
    GetPrivateProfileStringA("Install", "Open", "", open, sizeof open, State.scriptPath);
    Line("「完了」で開く: ", open[0] != '\0' ? open : "(なし)");
    Line("");
    Print("合計サイズ: ");
    PrintNumber(Check.totalSize);
    Line(" バイト (インストール先のドライブの空きが 100 MB、104857600 バイト未満のときだけ確認が出ます)");
}

void PrintPlan()
{
    PrintHeader();
    PrintFiles();
    PrintDirectories();
    PrintNewShellShortcuts();
    PrintOldShellShortcuts();
    PrintRegistration();
    PrintFinish();
}
