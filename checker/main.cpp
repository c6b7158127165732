// CHECKINF: the script checker for product makers. Given a distribution
// directory, a script or a setup executable, it prints the install plan and
// the findings; the exit status is 0 when clean, 1 with warnings, 2 with errors.
#include "checker/checker.h"

static int Summary()
{
    if (Check.errorCount == 0 && Check.warningCount == 0) {
        Print("問題は見つかりませんでした。\r\n");
    } else {
        Print("エラー ");
        PrintNumber(static_cast<unsigned int>(Check.errorCount));
        Print(" 件、警告 ");
        PrintNumber(static_cast<unsigned int>(Check.warningCount));
        Print(" 件\r\n");
    }
    return Check.errorCount != 0 ? 2 : Check.warningCount != 0 ? 1 : 0;
}

// For the package step, with CHECKINF_DIGESTS set: instead of the plan and
// the findings, one line "number<TAB>SHA-256" for each [Install] entry whose
// source lies in the distribution directory, read by the loaders SETUP.EXE
// reads them with, and hashed as the very file it would copy, and one line
// "number<TAB>-<TAB>source" for each entry whose source lies outside it,
// which no package can vouch for. The setup program and the script are left
// out: the package step changes both afterwards, and the program vouches for
// them by other means.
static void PrintDigests()
{
    char program[PATH_SIZE];
    CopyText(program, sizeof program, State.setupDir);
    AppendText(program, sizeof program, State.exeName);
    for (int n = 1; n <= State.fileCount; ++n) {
        LoadFileEntry(n);
        char full[PATH_SIZE];
        DWORD length = GetFullPathNameA(State.entryName, sizeof full, full, nullptr);
        unsigned char digest[SHA256_SIZE];
        char line[16 + 2 * SHA256_SIZE];
        if (SourceOutside(State.entryName)) {
            wsprintfA(line, "%d\t-\t", n);
            Print(line);
            Print(State.entryName);
            Print("\r\n");
            continue;
        }
        if (length == 0 || length >= sizeof full ||
            lstrcmpiA(full, program) == 0 || lstrcmpiA(full, State.scriptPath) == 0 ||
            !HashFile(State.entryName, digest, nullptr))
            continue;
        int at = wsprintfA(line, "%d\t", n);
        for (unsigned char byte : digest)
            at += wsprintfA(line + at, "%02x", byte);
        Print(line);
        Print("\r\n");
    }
}

static int RunChecker(const char *argument)
{
    if (!ResolveScriptPaths(argument))
        return Summary();
    // Relative sources resolve here during an installation.
    SetCurrentDirectoryA(State.setupDir);
    if (!CheckScriptEncoding() || !CheckRequiredKeys())
        return Summary();
    LoadSetupScript();
    if (GetEnvironmentVariableA("CHECKINF_DIGESTS", nullptr, 0) != 0) {
        PrintDigests();
        return 0;
    }
    CopyText(Check.loadedDir, INSTALL_DIR_SIZE, State.installDir);
    ReadDefaultInstallDir();

    PrintPlan();
    Print("\r\n検査結果:\r\n");
    CheckGlobalKeys();
    CheckFileEntries();
    CheckGroupEntries();
    CheckRegEntries();
    CheckRawKeys("Install", State.fileCount);
    CheckRawKeys("Group", State.groupCount);
    CheckRawKeys("Reg", Check.regCount);
    // After the keys never read, which are often why a file is never installed.
    CheckUnlistedFiles();
    CheckTotals();
    return Summary();
}

// The command line's one path, quoted or not. Read by hand rather than from
// argv, whose rules turn the quoted "C:\dist\" into C:\dist" .
static int ReadArgument(const char *tail, char *argument, int size)
{
    char delimiter = '\0';
    if (*tail == '"') {
        ++tail;
        delimiter = '"';
    }
    const char *end = delimiter != '\0' ? FindCharMbcs(tail, delimiter) : nullptr;
    int length = end != nullptr ? int(end - tail) : lstrlenA(tail);
    while (delimiter == '\0' && length > 0 && static_cast<unsigned char>(tail[length - 1]) <= 0x20)
        --length;
    if (length == 0 || length >= size)
        return 0;
    CopyMemory(argument, tail, length);
    argument[length] = '\0';
    return 1;
}

int main()
{
    char argument[PATH_SIZE];
    int status;
    if (!ReadArgument(GetCommandTail(GetCommandLineA()), argument, sizeof argument)) {
        Print("使い方: CHECKINF 配布ディレクトリ | 設定ファイル | セットアップの実行ファイル\r\n");
        status = 2;
    } else {
        status = RunChecker(argument);
    }
    FlushOutput();
    return status;
}
