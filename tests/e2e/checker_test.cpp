// CHECKINF.EXE, run inside the prefix on distribution directories of our
// own making: the install plan it prints and the findings it reports.
#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>
#include "driver.h"
#include "testpaths.h"

using namespace driver;

namespace {

struct CheckRun {
    int status = -1;
    std::vector<std::string> lines;     // the whole output, code page 932
    std::vector<std::string> findings;  // "section:key: level: text", script path taken off
};

std::string ToCp932(const std::string &bytes, UINT codePage)
{
    if (codePage == 932 || bytes.empty())
        return bytes;
    std::wstring wide(bytes.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), &wide[0], int(wide.size())));
    std::string out(wide.size() * 2, '\0');
    out.resize(WideCharToMultiByte(932, 0, wide.data(), int(wide.size()), &out[0], int(out.size()), nullptr,
                                   nullptr));
    return out;
}

UINT CheckerCodePage()
{
    UINT codePage = GetConsoleOutputCP();
    return codePage != 0 ? codePage : GetOEMCP();
}

// Runs the checker with its output in a pipe; returns the raw bytes too.
CheckRun RunChecker(const std::string &argument, const std::string &directory = "C:\\", std::string *raw = nullptr)
{
    CheckRun run;
    std::string line = "\"" TEST_BUILD_DIR "\\CHECKINF.EXE\"";
    if (!argument.empty())
        line += " \"" + argument + "\"";
    std::string bytes;
    run.status = RunCaptured(line, directory, &bytes);
    if (raw != nullptr)
        *raw = bytes;
    std::string text = ToCp932(bytes, CheckerCodePage());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        run.lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    for (const std::string &l : run.lines) {
        if (l.find(": error: ") == std::string::npos && l.find(": warning: ") == std::string::npos)
            continue;
        // The path holds a drive colon; section and key follow the script's name.
        size_t name = l.find(".INF:");
        run.findings.push_back(name != std::string::npos ? l.substr(name + 5) : l);
    }
    return run;
}

bool HasLine(const CheckRun &run, const std::string &wanted)
{
    return std::find(run.lines.begin(), run.lines.end(), wanted) != run.lines.end();
}

int LineIndex(const CheckRun &run, const std::string &wanted)
{
    auto it = std::find(run.lines.begin(), run.lines.end(), wanted);
    return it == run.lines.end() ? -1 : int(it - run.lines.begin());
}

// The findings whose "section:key: level: " begins like this.
std::vector<std::string> FindingsAt(const CheckRun &run, const std::string &head)
{
    std::vector<std::string> found;
    for (const std::string &f : run.findings)
        if (f.compare(0, head.size(), head) == 0)
            found.push_back(f);
    return found;
}

// Exactly one finding at this place, and its text holds the words.
::testing::AssertionResult OneFinding(const CheckRun &run, const std::string &head, const std::string &words)
{
    std::vector<std::string> found = FindingsAt(run, head);
    if (found.size() != 1) {
        std::string all;
        for (const std::string &f : run.findings)
            all += "\n  " + f;
        return ::testing::AssertionFailure() << found.size() << " findings at '" << head << "'; all:" << all;
    }
    if (found[0].find(words) == std::string::npos)
        return ::testing::AssertionFailure() << "'" << found[0] << "' lacks '" << words << "'";
    return ::testing::AssertionSuccess();
}

bool HasFinding(const CheckRun &run, const std::string &head, const std::string &words)
{
    for (const std::string &f : FindingsAt(run, head))
        if (f.find(words) != std::string::npos)
            return true;
    return false;
}

unsigned long long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

const std::string Home = "C:\\Program Files\\";

// A text of the sources (UTF-8) in code page 932, as the checker prints it.
std::string SourceText(const std::string &path)
{
    std::string utf8 = ReadFile(std::string(TEST_SOURCE_DIR "\\") + path);
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], int(wide.size())));
    std::string out(wide.size() * 2, '\0');
    out.resize(WideCharToMultiByte(932, 0, wide.data(), int(wide.size()), &out[0], int(out.size()), nullptr,
                                   nullptr));
    return out;
}

// The fenced block that follows a marker line in a guide; "<missing>" without one.
std::string BlockAfter(const std::string &guide, const std::string &marker)
{
    size_t at = guide.find(marker + "\n");
    size_t open = at == std::string::npos ? at : guide.find("```", at);
    size_t start = open == std::string::npos ? open : guide.find('\n', open);
    size_t end = start == std::string::npos ? start : guide.find("\n```", start);
    if (end == std::string::npos)
        return "<missing>";
    return guide.substr(start + 1, end - start);
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// A distribution with only those of the sample's files that the script
// names, by their path or their folder: a file no entry installs is a
// finding of its own.
std::string CheckDist(const std::string &name, const char *script)
{
    const std::string dir = MakeDist(name, script, true), text = script != nullptr ? script : "";
    for (const std::string file : {"APP.EXE", "README.TXT", "DATA.DAT", "HELP\\APP.HLP"}) {
        const std::string folder = file.substr(0, file.find('\\'));
        if (text.find(file) == std::string::npos && text.find(folder) == std::string::npos)
            continue;
        if (folder != file)
            CreateDirectoryA((dir + folder).c_str(), nullptr);
        CopyFileA((TEST_SAMPLE_DIR "\\" + file).c_str(), (dir + file).c_str(), FALSE);
    }
    return dir;
}

}  // namespace

TEST(Checker, SampleProductPlanFollowsTheLoaders)
{
    CheckRun run = RunChecker(TEST_SAMPLE_DIR);
    // The sample is what makers copy first: nothing may be reported about it.
    EXPECT_EQ(0, run.status);
    EXPECT_TRUE(run.findings.empty()) << run.findings.front();

    std::string dir = Home + "SampleApp\\";
    EXPECT_TRUE(HasLine(run, "既定のインストール先: " + dir));
    std::string sizeOfApp = std::to_string(FileSize(TEST_SAMPLE_DIR "\\APP.EXE"));
    int first = LineIndex(run, "  -1  SETUP.EXE → " + dir + "SETUP.EXE  (" +
                                   std::to_string(FileSize(TEST_SAMPLE_DIR "\\SETUP.EXE")) + " バイト)");
    ASSERT_GE(first, 0);
    EXPECT_EQ(0u, run.lines[first + 1].find("   0  SETUP.INF → " + dir + "SETUP.INF  ("));
    EXPECT_EQ("   1  APP.EXE → " + dir + "APP.EXE  (" + sizeOfApp + " バイト)", run.lines[first + 2]);
    EXPECT_EQ(0u, run.lines[first + 3].find("   2  HELP\\APP.HLP → " + dir + "APP.HLP  ("));
    EXPECT_EQ(0u, run.lines[first + 4].find("   3  DATA.DAT → " + dir + "DATA\\DATA.DAT  ("));
    EXPECT_EQ(0u, run.lines[first + 5].find("   4  README.TXT → " + dir + "README.TXT  ("));
    // Room left by the longest destination, DATA\DATA.DAT.
    EXPECT_EQ(0u, run.lines[first + 6].find("インストール先のフォルダは 246 バイトまで"));
    EXPECT_TRUE(HasLine(run, "  " + dir + "DATA\\"));

    int setup = LineIndex(run, "    プログラム\\サンプル\\サンプル (設定).lnk");
    ASSERT_GE(setup, 0);
    EXPECT_EQ("      リンク先: " + dir + "APP.EXE", run.lines[setup + 1]);
    EXPECT_EQ("      引数: /setup", run.lines[setup + 2]);
    EXPECT_EQ("      作業フォルダ: " + dir, run.lines[setup + 3]);
    EXPECT_TRUE(HasLine(run, "    プログラム\\サンプル\\ヘルプ.lnk"));
    EXPECT_TRUE(HasLine(run, "    デスクトップ\\サンプル.lnk"));
    EXPECT_FALSE(HasLine(run, "    プログラム\\サンプル.lnk"));
    EXPECT_TRUE(HasLine(run, "    [CreateGroup(\"サンプル\",0)]"));
    EXPECT_TRUE(HasLine(run, "    [AddItem(\"" + dir + "APP.EXE /setup\",\"サンプル (設定)\")]"));
    EXPECT_TRUE(HasLine(run, "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp"));
    EXPECT_TRUE(HasLine(run, "    UninstallString = \"" + dir + "SETUP.EXE\" /r"));
    EXPECT_TRUE(HasLine(run, "    QuietUninstallString = \"" + dir + "SETUP.EXE\" /r /S"));
    for (const std::string &line : {"DisplayIcon = \"" + dir + "APP.EXE\",0", "InstallLocation = " + dir, std::string("Publisher = サンプル工房")})
        EXPECT_TRUE(HasLine(run, "    " + line)) << line;
    EXPECT_TRUE(HasLine(run, "  HKEY_CURRENT_USER\\Software\\SampleApp"));
    EXPECT_TRUE(HasLine(run, "「完了」で開く: README.TXT"));
}

TEST(Checker, CleanProductPassesWhicheverWayItIsNamed)
{
    std::string dir = CheckDist("chk_clean", SampleScript().c_str());
    CheckRun byDirectory = RunChecker(dir);
    EXPECT_EQ(0, byDirectory.status);
    EXPECT_TRUE(byDirectory.findings.empty()) << byDirectory.findings.front();
    EXPECT_TRUE(HasLine(byDirectory, "問題は見つかりませんでした。"));
    EXPECT_TRUE(HasLine(byDirectory, "   4  README.TXT → " + Home + "SampleApp\\README.TXT  (" +
                                         std::to_string(FileSize(dir + "README.TXT")) + " バイト)"));
    // The script, the executable, and a relative directory name give the same plan.
    for (const std::string &argument : {dir + "SETUP.INF", dir + "SETUP.EXE", std::string("chk_clean")}) {
        CheckRun other = RunChecker(argument, "C:\\e2e\\");
        EXPECT_EQ(0, other.status) << argument;
        EXPECT_EQ(byDirectory.lines, other.lines) << argument;
    }
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, KeysThatAreNeverRead)
{
    std::string dir = CheckDist("chk_gaps",
                               "[Install]\nTitle=ギャップ\nFolder=ChkGaps\n1=APP.EXE\n2=README.TXT\n4=DATA.DAT\n"
                               "01=HELP\\APP.HLP\n0=DATA.DAT\nTitel=typo\n2=DATA.DAT\nNOEQUALS\n"
                               "[Group]\n1=アプリ,APP.EXE\n3=説明,README.TXT\nname=x,APP.EXE\n"
                               "[Reg]\n1=HKEY_CURRENT_USER\\Software\\ChkGaps\n3=HKEY_CURRENT_USER\\Software\\ChkGaps2\n");
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(HasLine(run, "   2  README.TXT → " + Home + "ChkGaps\\README.TXT  (" +
                                 std::to_string(FileSize(dir + "README.TXT")) + " バイト)"));
    EXPECT_EQ(-1, LineIndex(run, "   4  DATA.DAT → " + Home + "ChkGaps\\DATA.DAT"));
    EXPECT_TRUE(OneFinding(run, "Install:4: warning: ", "3 番が抜けているので読まれません"));
    EXPECT_TRUE(OneFinding(run, "Install:01: warning: ", "先頭に0"));
    EXPECT_TRUE(OneFinding(run, "Install:0: warning: ", "1から始まる"));
    EXPECT_TRUE(OneFinding(run, "Install:Titel: warning: ", "読まれません"));
    EXPECT_TRUE(OneFinding(run, "Install:2: warning: ", "同じキーが前にも"));
    EXPECT_TRUE(OneFinding(run, "Install:NOEQUALS: warning: ", "「=」がない"));
    EXPECT_TRUE(OneFinding(run, "Group:3: warning: ", "2 番が抜けている"));
    EXPECT_TRUE(OneFinding(run, "Group:name: warning: ", "番号ではない"));
    EXPECT_TRUE(OneFinding(run, "Reg:3: warning: ", "2 番が抜けている"));
    EXPECT_TRUE(HasLine(run, "  HKEY_CURRENT_USER\\Software\\ChkGaps"));
    EXPECT_FALSE(HasLine(run, "  HKEY_CURRENT_USER\\Software\\ChkGaps2"));
    // The files of the entries never read are installed by none.
    EXPECT_TRUE(HasFinding(run, "Install:-: warning: ", "DATA.DAT - どの [Install] の項目も"));
    EXPECT_TRUE(HasFinding(run, "Install:-: warning: ", "HELP\\APP.HLP - どの [Install] の項目も"));
    EXPECT_EQ(11u, run.findings.size());
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, ListsThatEndEarly)
{
    // An empty source ends the file list at once.
    std::string dir = CheckDist("chk_ends", "[Install]\nTitle=終わり\nFolder=ChkEnds\n1=,APP.EXE\n2=DATA.DAT\n"
                                           "[Group]\n1=APP.EXE\n2=名前,APP.EXE\n");
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(2u, FindingsAt(run, "Install:1: warning: ").size());
    EXPECT_TRUE(HasFinding(run, "Install:1: warning: " + Home + "ChkEnds\\APP.EXE - ファイルの項目がない", ""));
    EXPECT_TRUE(HasFinding(run, "Install:1: warning: ", "コピー元が空なので、ファイルの一覧はここで終わります"));
    EXPECT_TRUE(OneFinding(run, "Install:2: warning: ", "1 番で一覧が終わっている"));
    EXPECT_TRUE(OneFinding(run, "Group:1: warning: ", "カンマがない"));
    EXPECT_TRUE(OneFinding(run, "Group:2: warning: ", "1 番で一覧が終わっている"));
    // No [Group] entries: one shortcut named after the title, to the
    // destination of entry 1 even though its empty source ended the list.
    int single = LineIndex(run, "    プログラム\\終わり.lnk");
    ASSERT_GE(single, 0);
    EXPECT_EQ("      リンク先: " + Home + "ChkEnds\\APP.EXE", run.lines[single + 1]);
    EXPECT_TRUE(HasLine(run, "    [AddItem(\"" + Home + "ChkEnds\\SETUP.EXE /r\",\"SETUP.EXEの削除\")]"));

    // An empty caption ends the shortcut list too; commas after the target are arguments.
    CheckDist("chk_ends", "[Install]\nTitle=終わり\nFolder=ChkEnds\n1=APP.EXE\n"
                         "[Group]\n1=Tool,APP.EXE,/a,/b\n2=,APP.EXE\n");
    run = RunChecker(dir);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(OneFinding(run, "Group:2: warning: ", "名前が空"));
    int tool = LineIndex(run, "    プログラム\\終わり\\Tool.lnk");
    ASSERT_GE(tool, 0);
    EXPECT_EQ("      引数: /a,/b", run.lines[tool + 2]);
    EXPECT_TRUE(HasLine(run, "    [AddItem(\"" + Home + "ChkEnds\\APP.EXE /a,/b\",\"Tool\")]"));
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, RegistryKeysThatTheRemovalWouldMishandle)
{
    std::string dir = CheckDist("chk_reg",
                               "[Install]\nTitle=レジストリ\nFolder=ChkReg\n1=APP.EXE\n[Reg]\n"
                               "1=HKEY_CURRENT_USER\\Software\\ChkReg\n"
                               "2=hkey_current_user\\Software\\ChkReg\n"
                               "3=HKCU\\Software\\ChkReg\n"
                               "4=HKEY_CURRENT_USER\n"
                               "5=HKEY_CURRENT_USER\\\n"
                               "6=HKEY_LOCAL_MACHINE\\SOFTWARE\n"
                               "7=HKEY_CURRENT_USER\\Software\\\n"
                               "8=HKEY_CURRENT_USER\\Software\\Microsoft\n"
                               "9=HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n"
                               "10=HKEY_CLASSES_ROOT\\.txt\n"
                               "11=HKEY_CLASSES_ROOT\\ChkReg.Document\n"
                               "12=HKEY_CURRENT_USERX\\Software\\ChkReg\n"
                               "13=HKEY_CURRENT_USER\\\\Software\\ChkReg\n"
                               "14=HKEY_CURRENT_USER\\Software\\\\ChkReg\n"
                               "15=HKEY_CURRENT_USER\\\\\\\n"
                               "16=HKEY_CLASSES_ROOT\\CLSID\n"
                               "17=HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-00000000C4EC}\n");
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(HasLine(run, "  HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-00000000C4EC}"));
    EXPECT_TRUE(FindingsAt(run, "Reg:1:").empty());
    EXPECT_TRUE(OneFinding(run, "Reg:2: error: ", "大文字で"));
    EXPECT_TRUE(OneFinding(run, "Reg:3: error: ", "どれでもありません"));
    EXPECT_TRUE(OneFinding(run, "Reg:4: error: ", "ルート名だけ"));
    EXPECT_TRUE(OneFinding(run, "Reg:5: error: ", "ルート名だけ"));
    EXPECT_TRUE(OneFinding(run, "Reg:6: error: ", "ルート直下"));
    // The registry opens "Software\" as Software itself.
    EXPECT_TRUE(HasFinding(run, "Reg:7: error: ", "ルート直下"));
    EXPECT_TRUE(OneFinding(run, "Reg:8: error: ", "共有のキー"));
    EXPECT_TRUE(OneFinding(run, "Reg:9: error: ", "共有のキー"));
    EXPECT_TRUE(OneFinding(run, "Reg:10: error: ", "ルート直下"));
    // Removal never deletes a key directly below a root, a class of its own included.
    EXPECT_TRUE(OneFinding(run, "Reg:11: error: ", "ルート直下"));
    EXPECT_TRUE(OneFinding(run, "Reg:12: error: ", "「\\」ではありません"));
    // Empty levels are dropped as the registry drops them, wherever they are.
    EXPECT_TRUE(OneFinding(run, "Reg:13: warning: ", "「\\」が続いている"));
    EXPECT_TRUE(OneFinding(run, "Reg:14: warning: ", "「\\」が続いている"));
    EXPECT_TRUE(OneFinding(run, "Reg:15: error: ", "ルート名だけ"));
    EXPECT_TRUE(OneFinding(run, "Reg:16: error: ", "ルート直下"));
    EXPECT_TRUE(FindingsAt(run, "Reg:17:").empty());
    // The plan lists each key as the removal takes it: what it refuses stays.
    const std::string kept = "  (削除されません。検査結果を見てください)";
    for (const char *key : {"HKEY_CURRENT_USER\\Software\\ChkReg", "HKEY_CURRENT_USER\\\\Software\\ChkReg"})
        EXPECT_TRUE(HasLine(run, std::string("  ") + key)) << key;
    for (const char *key : {"hkey_current_user\\Software\\ChkReg", "HKEY_CURRENT_USER\\", "HKEY_LOCAL_MACHINE\\SOFTWARE",
                            "HKEY_CURRENT_USER\\Software\\Microsoft", "HKEY_CLASSES_ROOT\\ChkReg.Document"})
        EXPECT_TRUE(HasLine(run, "  " + std::string(key) + kept)) << key;
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, FileEntriesThatWouldNotInstallAsWritten)
{
    std::string longName(240, 'L');
    std::string script = "[Install]\nTitle=ファイル\nFolder=ChkFiles\n"
                         "1=README.TXT\n"                       // not a program, yet started at Finish
                         "2=MISSING.DLL\n"                      // not in the distribution
                         "3=HELP\n"                             // a folder
                         "4=..\\OUTSIDE.DAT\n"                  // outside the distribution, and missing
                         "5=DATA.DAT,..\\..\\WINDOWS\\DATA.DAT\n"  // leaves the installation directory
                         "6=DATA.DAT,C:\\DATA.DAT\n"
                         "7=DATA.DAT,SUB\\\n"
                         "8=DATA.DAT,SETUP.INF\n"               // overwrites the script copy
                         "9=DATA.DAT,README.TXT\n"              // same place as entry 1
                         "10=DATA.DAT," + longName + "\n"          // too long with the default directory
                         "11=DATA.DAT,SUB\\\\DATA.DAT\n"
                         "12=DATA.DAT,A*B.DAT\n"
                         "13=DATA.DAT,表示\\ソフト\\DATA.DAT\n"  // trail bytes 0x5C are no separators
                         "14=DATA.DAT," + std::string(260, 'V') + "\n";  // cut by the reader
    std::string dir = CheckDist("chk_files", script.c_str());
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    std::string home = Home + "ChkFiles\\";
    EXPECT_TRUE(OneFinding(run, "Install:1: warning: ", "プログラム (.EXE .COM .BAT) ではありません"));
    EXPECT_TRUE(OneFinding(run, "Install:2: error: ", "MISSING.DLL - 配布ディレクトリにありません"));
    EXPECT_TRUE(OneFinding(run, "Install:3: error: ", "HELP - フォルダです"));
    // The folder's file goes into a package, but no entry installs it.
    EXPECT_TRUE(OneFinding(run, "Install:-: warning: ", "HELP\\APP.HLP - どの [Install] の項目もこのファイルを"));
    // Without a comma the source is the destination too.
    EXPECT_EQ(3u, FindingsAt(run, "Install:4: ").size());
    EXPECT_TRUE(HasFinding(run, "Install:4: warning: ", "配布ディレクトリの外"));
    EXPECT_TRUE(HasFinding(run, "Install:4: error: ", "配布ディレクトリにありません"));
    EXPECT_TRUE(HasFinding(run, "Install:4: error: ", "外に出ます"));
    EXPECT_TRUE(OneFinding(run, "Install:5: error: ", "外に出ます"));
    EXPECT_TRUE(OneFinding(run, "Install:6: error: ", "ドライブ名"));
    EXPECT_TRUE(OneFinding(run, "Install:7: error: ", "ファイル名がありません"));
    EXPECT_TRUE(OneFinding(run, "Install:8: error: ", "セットアップ自身のコピーを上書き"));
    EXPECT_TRUE(OneFinding(run, "Install:9: warning: ", "1 番と同じ場所"));
    EXPECT_TRUE(OneFinding(run, "Install:10: error: ", "259バイトを超える"));
    EXPECT_TRUE(HasLine(run, "   10  DATA.DAT → (インストール先と結ぶと259バイトを超えるため、使われません)  (" +
                                 std::to_string(FileSize(dir + "DATA.DAT")) + " バイト)"));
    EXPECT_TRUE(OneFinding(run, "Install:11: error: ", "空の階層"));
    EXPECT_TRUE(OneFinding(run, "Install:12: error: ", "使えない文字"));
    EXPECT_TRUE(FindingsAt(run, "Install:13:").empty());
    EXPECT_TRUE(HasLine(run, "  " + home + "表示\\"));
    EXPECT_TRUE(HasLine(run, "  " + home + "表示\\ソフト\\"));
    // Entry 14 is both cut by the reader and, cut, still too long to join.
    EXPECT_TRUE(HasFinding(run, "Install:14: error: ", "切り詰めて読まれます"));
    // Entry 5's destination is the longest that joins.
    EXPECT_TRUE(HasLine(run, "インストール先のフォルダは " + std::to_string(259 - lstrlenA("..\\..\\WINDOWS\\DATA.DAT")) +
                                 " バイトまで指定できます (これより長いと入りきらないファイルがあります)。"));
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, ShortcutEntries)
{
    std::string dir = CheckDist("chk_group",
                               "[Install]\nTitle=ショートカット\nFolder=ChkGroup\n1=APP.EXE\n2=HELP\\APP.HLP,HELP\\APP.HLP\n"
                               "3=README.TXT,DOC\\ソフトの使い方.TXT\n[Group]\n1=アプリ,APP.EXE\n2=ヘルプ,HELP\\APP.HLP\n3=A/B,APP.EXE\n4=CON,APP.EXE\n"
                               "5=アプリ,APP.EXE,/again\n6=メモ帳,NOTEPAD.EXE\n7=外,..\\OTHER\\TOOL.EXE\n"
                               "8=ドライブ,C:\\WINDOWS\\NOTEPAD.EXE\n9=フォルダ,\n10=末尾 ,APP.EXE\n"
                               "11=使い方,DOC\\ソフトの使い方.TXT\n");
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(FindingsAt(run, "Group:1:").empty());
    EXPECT_TRUE(FindingsAt(run, "Group:2:").empty());
    EXPECT_TRUE(OneFinding(run, "Group:3: warning: ", "A/B - ファイル名に使えない文字"));
    EXPECT_TRUE(OneFinding(run, "Group:4: warning: ", "デバイス名"));
    EXPECT_TRUE(OneFinding(run, "Group:5: warning: ", "1 番と同じ名前"));
    EXPECT_TRUE(OneFinding(run, "Group:6: warning: ", "NOTEPAD.EXE - どの [Install] の項目も"));
    EXPECT_TRUE(OneFinding(run, "Group:7: warning: ", "どの [Install] の項目も"));
    EXPECT_TRUE(OneFinding(run, "Group:8: error: ", "ドライブ名"));
    EXPECT_TRUE(OneFinding(run, "Group:9: warning: ", "フォルダそのもの"));
    EXPECT_TRUE(OneFinding(run, "Group:10: warning: ", "ピリオドか空白で終わって"));
    int help = LineIndex(run, "    プログラム\\ショートカット\\ヘルプ.lnk");
    ASSERT_GE(help, 0);
    EXPECT_EQ("      作業フォルダ: " + Home + "ChkGroup\\HELP\\", run.lines[help + 2]);
    // ソ ends in the byte of a backslash: the folder ends before it, as the shortcut's does.
    int manual = LineIndex(run, "    プログラム\\ショートカット\\使い方.lnk");
    ASSERT_GE(manual, 0);
    EXPECT_EQ("      作業フォルダ: " + Home + "ChkGroup\\DOC\\", run.lines[manual + 2]);
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, ScriptsThatSetupRefuses)
{
    std::string dir = CheckDist("chk_refused", "[Install]\nFolder=ChkRefused\n1=APP.EXE\n");
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(OneFinding(run, "Install:Title: error: ", "設定ファイルが壊れているか、または見つかりません。"));
    EXPECT_EQ(1u, run.findings.size());
    EXPECT_EQ(-1, LineIndex(run, "コピーするファイル (この順番):"));  // no plan for a refused script

    CheckDist("chk_refused", "[Install]\nTitle=拒否\nFolder=\n");
    run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(OneFinding(run, "Install:Folder: error: ", "Folder がないか空です"));
    EXPECT_EQ(1u, run.findings.size());

    CheckDist("chk_refused", nullptr);
    run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    ASSERT_EQ(1u, run.findings.size());
    EXPECT_NE(std::string::npos, run.findings[0].find("設定ファイル (SETUP.INF) がありません"));
    run = RunChecker(dir + "SETUP.INF");
    EXPECT_EQ(2, run.status);
    ASSERT_EQ(1u, run.findings.size());
    EXPECT_NE(std::string::npos, run.findings[0].find("設定ファイルが見つかりません"));

    // The executable's name must leave room for the script's: 3 to 51 bytes.
    CheckDist("chk_refused", SampleScript().c_str());
    for (const std::string &name : {std::string("AB"), std::string(52, 'N')}) {
        run = RunChecker(dir + name);
        EXPECT_EQ(2, run.status) << name;
        ASSERT_EQ(1u, run.lines.size() - 1) << name;
        EXPECT_NE(std::string::npos, run.lines[0].find(name + " - 実行ファイル名が")) << name;
    }
    run = RunChecker(dir + std::string(51, 'N'));  // 51 bytes: fine, if the script were there
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.lines[0].find("設定ファイルが見つかりません"));

    // A comma in the executable's name splits its own copy like any entry.
    CopyFileA((dir + "SETUP.INF").c_str(), (dir + "SET,UP.INF").c_str(), FALSE);
    CopyFileA((dir + "SETUP.EXE").c_str(), (dir + "SET,UP.EXE").c_str(), FALSE);
    run = RunChecker(dir + "SET,UP.EXE");
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(OneFinding(run, "-:-: error: ", "SET,UP.EXE - 実行ファイル名にカンマ"));
    EXPECT_TRUE(HasLine(run, "  -1  SET → " + Home + "SampleApp\\UP.EXE  (見つかりません)"));

    // 表 ends in the byte of a backslash: SETUP.EXE would take 示.EXE for its name.
    CopyFileA((dir + "SETUP.INF").c_str(), (dir + "表示.INF").c_str(), FALSE);
    CopyFileA((dir + "SETUP.EXE").c_str(), (dir + "表示.EXE").c_str(), FALSE);
    run = RunChecker(dir + "表示.EXE");
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(OneFinding(run, "-:-: error: ", "表示.EXE - 名前に2バイト目が「\\」(0x5C) の文字があるので、SETUP.EXE は自分の名前を「示.EXE」と読み違え"));
    EXPECT_EQ(-1, LineIndex(run, "コピーするファイル (この順番):"));
    DeleteFileA((dir + "表示.INF").c_str());
    DeleteFileA((dir + "表示.EXE").c_str());

    // Two scripts and no SETUP.INF: the directory alone does not say which.
    DeleteFileA((dir + "SETUP.INF").c_str());
    CopyFileA((dir + "SET,UP.INF").c_str(), (dir + "OTHER.INF").c_str(), FALSE);
    run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.lines[0].find("設定ファイルが複数あります"));
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, GlobalKeysAndResidentProducts)
{
    struct Tsr {
        const char *line;
        bool resident;
        bool warned;
    };
    const Tsr cases[] = {{"TSR=1\n", true, false},   {"TSR=1abc\n", true, true}, {"TSR=10\n", true, true},
                         {"TSR=0\n", false, false},  {"TSR=\n", false, false},   {"", false, false},
                         {"TSR=yes\n", false, true}, {"TSR= 1\n", true, false}};
    std::string dir;
    for (const Tsr &c : cases) {
        std::string script = std::string("[Install]\nTitle=常駐\nFolder=ChkTsr\n") + c.line +
                             "1=APP.EXE\n[Group]\n1=設定,APP.EXE,/setup\n";
        dir = CheckDist("chk_tsr", script.c_str());
        CheckRun run = RunChecker(dir);
        EXPECT_EQ(c.resident, HasLine(run, "    スタートアップ\\常駐.lnk")) << c.line;
        EXPECT_EQ(!c.resident, HasLine(run, "    プログラム\\常駐\\設定.lnk")) << c.line;
        EXPECT_EQ(!c.resident, HasLine(run, "    デスクトップ\\常駐.lnk")) << c.line;
        // The old shell's start-up item takes [Group] entry 1 with its arguments.
        EXPECT_EQ(c.resident, HasLine(run, "    [ShowGroup(\"スタートアップ\",1)]")) << c.line;
        EXPECT_EQ(c.resident, HasLine(run, "    [AddItem(\"" + Home + "ChkTsr\\APP.EXE /setup\",\"常駐\")]"))
            << c.line;
        EXPECT_EQ(c.warned ? 1u : 0u, FindingsAt(run, "Install:TSR: warning: ").size()) << c.line;
        EXPECT_EQ(c.resident ? 1u : 0u, FindingsAt(run, "Group:1: warning: ").size()) << c.line;
        EXPECT_EQ(c.warned || c.resident ? 1 : 0, run.status) << c.line;
    }

    std::string title(120, 'T');
    std::string script = "[Install]\nTitle=" + title + "\nFolder=Chk:Bad\nOpen=MANUAL.TXT\n1=APP.EXE\nPublisher=" +
                         title + "\nVersion=1\x01\n";
    CheckDist("chk_tsr", script.c_str());
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(OneFinding(run, "Install:Title: warning: " + title.substr(0, 99) + " - ", "切り詰めて"));
    EXPECT_TRUE(OneFinding(run, "Install:Publisher: warning: " + title.substr(0, 99) + " - ", "切り詰めて"));
    EXPECT_TRUE(OneFinding(run, "Install:Version: warning: 1\x01 - ", "制御文字"));
    EXPECT_TRUE(OneFinding(run, "Install:Folder: error: Chk:Bad - ", "使えない文字"));
    EXPECT_TRUE(OneFinding(run, "Install:Open: warning: MANUAL.TXT - ", "インストールしません"));

    CheckDist("chk_tsr", "[Install]\nTitle=入れ子\nFolder=Vendor\\ChkNested\nOpen=http://example.invalid/\n1=APP.EXE\n");
    run = RunChecker(dir);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(OneFinding(run, "Install:Folder: warning: ", "入れ子"));
    EXPECT_TRUE(HasLine(run, "既定のインストール先: " + Home + "Vendor\\ChkNested\\"));
    EXPECT_TRUE(FindingsAt(run, "Install:Open:").empty());
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, PlansAgainstTheDefaultEvenWithAnEarlierInstallation)
{
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ChkEarlier";
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &handle, nullptr));
    const char command[] = "\"D:\\Apps\\Earlier\\SETUP.EXE\" /r";
    RegSetValueExA(handle, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE *>(command), sizeof command);
    RegCloseKey(handle);
    std::string dir = CheckDist("chk_earlier", "[Install]\nTitle=前回\nFolder=ChkEarlier\n1=APP.EXE\n");
    CheckRun run = RunChecker(dir);
    RegDeleteTree(HKEY_LOCAL_MACHINE, key);
    EXPECT_EQ(0, run.status);
    EXPECT_TRUE(HasLine(run, "既定のインストール先: " + Home + "ChkEarlier\\"));
    int earlier = LineIndex(run, "既定のインストール先: " + Home + "ChkEarlier\\") + 1;
    ASSERT_LT(earlier, int(run.lines.size()));
    EXPECT_EQ(0u, run.lines[earlier].find("このマシンに登録された前回のインストール先: D:\\Apps\\Earlier\\ ("));
    EXPECT_TRUE(HasLine(run, "   1  APP.EXE → " + Home + "ChkEarlier\\APP.EXE  (" +
                                 std::to_string(FileSize(dir + "APP.EXE")) + " バイト)"));
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, ProductsOfAHundredMegabytesOrMore)
{
    std::string dir = CheckDist("chk_big", "[Install]\nTitle=大きい\nFolder=ChkBig\n1=APP.EXE\n2=BIG.DAT\n");
    // A sparse file: the size counts, not the blocks.
    auto makeBig = [&](LONGLONG size) {
        HANDLE file = CreateFileA((dir + "BIG.DAT").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        LARGE_INTEGER at;
        at.QuadPart = size;
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    };
    unsigned long long rest = FileSize(dir + "APP.EXE") + FileSize(dir + "SETUP.EXE") + FileSize(dir + "SETUP.INF");
    makeBig(100LL * 1048576 - LONGLONG(rest) - 1);
    CheckRun run = RunChecker(dir);
    EXPECT_EQ(0, run.status);
    EXPECT_TRUE(HasLine(run, "合計サイズ: " + std::to_string(100ULL * 1048576 - 1) +
                                 " バイト (インストール先のドライブの空きが 100 MB、104857600 バイト未満のときだけ確認が出ます)"));
    makeBig(100LL * 1048576 - LONGLONG(rest));
    run = RunChecker(dir);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(OneFinding(run, "-:-: warning: ", "100 MB以上"));
    RemoveTree(dir.substr(0, dir.size() - 1));
}

TEST(Checker, WritesInTheConsoleCodePage)
{
    std::string dir = CheckDist("chk_cp", SampleScript().c_str());
    std::string cp932;
    CheckRun native = RunChecker(dir, "C:\\", &cp932);
    // The checker shares our console. Wine gives a test run without a
    // terminal a console with no code page; a console of our own has one.
    HANDLE saved[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
    bool made = false;
    if (GetConsoleOutputCP() == 0) {
        FreeConsole();
        made = AllocConsole() != FALSE;
    }
    UINT before = GetConsoleOutputCP();
    ASSERT_NE(0u, before);
    ASSERT_TRUE(SetConsoleOutputCP(65001));
    std::string utf8;
    CheckRun converted = RunChecker(dir, "C:\\", &utf8);
    SetConsoleOutputCP(before);
    if (made)
        FreeConsole();
    SetStdHandle(STD_INPUT_HANDLE, saved[0]);
    SetStdHandle(STD_OUTPUT_HANDLE, saved[1]);
    SetStdHandle(STD_ERROR_HANDLE, saved[2]);
    EXPECT_EQ(0, native.status);
    EXPECT_EQ(0, converted.status);
    EXPECT_EQ(native.lines, converted.lines);  // same text once read back in its code page
    EXPECT_NE(std::string::npos, utf8.find("\xE5\x95\x8F\xE9\xA1\x8C"));  // 問題 in UTF-8
    EXPECT_NE(std::string::npos, cp932.find("\x96\xE2\x91\xE8"));        // 問題 in code page 932
    RemoveTree(dir.substr(0, dir.size() - 1));
}

// Every example of the guides is a file of the sources, shown there as it
// is, and the checker's findings printed after it are the ones it reports.
TEST(Checker, GuideExamples)
{
    struct Example {
        const char *file;  // below the source directory
        int status;
    };
    const Example examples[] = {
        {"sample\\dist\\SETUP.INF", 0},         {"docs\\examples\\minimal.inf", 0},
        {"docs\\examples\\commas.inf", 0},      {"docs\\examples\\lists.inf", 1},
        {"docs\\examples\\resident.inf", 0},    {"docs\\examples\\files.inf", 2},
        {"docs\\examples\\shortcuts.inf", 1},   {"docs\\examples\\registry.inf", 2},
    };
    const std::string guides[] = {SourceText("docs\\guide.ja.md"), SourceText("docs\\guide.en.md")};
    for (const std::string &guide : guides) {
        EXPECT_EQ(std::size(examples), Count(guide, "<!-- example: "));
        EXPECT_EQ(std::size(examples), Count(guide, "<!-- checker: "));
    }
    // No example file is left out of the table.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(TEST_SOURCE_DIR "\\docs\\examples\\*", &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string file = std::string("docs\\examples\\") + found.cFileName;
        EXPECT_TRUE(std::any_of(std::begin(examples), std::end(examples),
                                [&](const Example &e) { return file == e.file; }))
            << file;
    } while (FindNextFileA(search, &found));
    FindClose(search);

    for (const Example &example : examples) {
        std::string script = SourceText(example.file);
        std::string dir = CheckDist("chk_guide", script.c_str());
        CheckRun run = RunChecker(dir);
        EXPECT_EQ(example.status, run.status) << example.file;
        std::string shown;
        for (const std::string &finding : run.findings)
            shown += "SETUP.INF:" + finding + "\n";
        auto last = std::find_if(run.lines.rbegin(), run.lines.rend(), [](const std::string &l) { return !l.empty(); });
        shown += (last != run.lines.rend() ? *last : std::string()) + "\n";
        std::string name = example.file;
        std::replace(name.begin(), name.end(), '\\', '/');
        for (const std::string &guide : guides) {
            EXPECT_EQ(script, BlockAfter(guide, "<!-- example: " + name + " -->")) << name;
            EXPECT_EQ(shown, BlockAfter(guide, "<!-- checker: " + name + " -->")) << name;
        }
    }
    RemoveTree("C:\\e2e\\chk_guide");
}
