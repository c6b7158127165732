// The trial run behind the README's main job (tools/main-job.sh), on the
// sample product and the new shell only: its report must hold every part
// with the facts of this installation, and the installation must be gone.
#include <gtest/gtest.h>
#include "driver.h"
#include "testpaths.h"

using namespace driver;

namespace {

std::string Utf8(const std::string &ansi)
{
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(MultiByteToWideChar(932, 0, ansi.data(), int(ansi.size()), &wide[0], int(wide.size())));
    std::string out(wide.size() * 4, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &out[0], int(out.size()), nullptr,
                                   nullptr));
    return out;
}

DWORD FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

}  // namespace

TEST(MainJob, TrialReportOnTheSample)
{
    const std::string dist = MakeDist("trialsmoke", SampleScript().c_str());
    const std::string reportDir = TEST_BUILD_DIR "\\trial-smoke";
    RemoveTree(reportDir);
    // No backslash before a closing quote: the C runtime would take it as an escape.
    const std::string distArgument = dist.substr(0, dist.size() - 1);
    Process trial = Start("\"" TEST_BUILD_DIR "\\TRIAL.EXE\" \"" + distArgument + "\" \"" + reportDir + "\" win7",
                          "C:\\");
    ASSERT_NE(nullptr, trial.handle) << "TRIAL.EXE not built";
    // Something else starts while the trial watches what Finish starts, as
    // Wine's own services may: the report names only what setup started.
    Running bystander;
    HWND sheet = WaitWizard(60000);
    EXPECT_NE(nullptr, sheet);
    WaitFor([&] { return !IsWindow(sheet); }, 60000);
    bystander.process = Start("cmd /c ping -n 4 127.0.0.1 >nul", "C:\\");
    EXPECT_EQ(0, WaitExit(trial, 120000));
    Kill(trial);

    const std::string report = ReadFile(reportDir + "\\report.md");
    ASSERT_NE("<missing>", report);
    for (const char *section : {"## Summary", "## Distribution", "## Script checker (CHECKINF.EXE)",
                                "### Installation", "#### destination", "#### options", "#### progress",
                                "#### Copied", "#### Created", "#### Registered", "#### Launched at Finish",
                                "### Removal", "#### Removal dialog, when it appeared",
                                "#### Removal dialog, when it had finished", "#### What is left"})
        EXPECT_NE(std::string::npos, report.find(std::string("\n") + section + "\n")) << section;
    // Texts from the prefix arrive converted from code page 932.
    EXPECT_NE(std::string::npos, report.find("# Trial run: " + Utf8("サンプル") + "\n"));
    EXPECT_NE(std::string::npos, report.find("| DisplayName | " + Utf8("サンプル") + " |"));
    EXPECT_NE(std::string::npos,
              report.find("| UninstallString | \"C:\\Program Files\\SampleApp\\SETUP.EXE\" /r |"));
    EXPECT_NE(std::string::npos, report.find(Utf8("問題は見つかりませんでした。")));
    // What was copied, with the sizes the files have in the distribution.
    DWORD kib = 0;  // the Uninstall entry's size of them
    for (const char *pair : {"APP.EXE|APP.EXE", "HELP\\APP.HLP|APP.HLP", "DATA.DAT|DATA\\DATA.DAT",
                             "README.TXT|README.TXT", "SETUP.INF|SETUP.INF", "SETUP.EXE|SETUP.EXE"}) {
        std::string source(pair, std::string(pair).find('|'));
        std::string target = std::string(pair).substr(source.size() + 1);
        kib += (FileSize(dist + source) + 1023) / 1024;
        EXPECT_NE(std::string::npos,
                  report.find("| " + target + " | " + std::to_string(FileSize(dist + source)) + " |"))
            << target;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string date = std::to_string(now.wYear * 10000 + now.wMonth * 100 + now.wDay);
    for (const std::string &row : std::vector<std::string>{"| DisplayIcon | \"C:\\Program Files\\SampleApp\\APP.EXE\",0 |",
             "| InstallLocation | C:\\Program Files\\SampleApp\\ |", "| Publisher | " + Utf8("サンプル工房") + " |",
             "| DisplayVersion | 1.0 |", "| EstimatedSize | dword " + std::to_string(kib) + " |",
             "| InstallDate | " + date + " |", "| NoModify | dword 1 |", "| NoRepair | dword 1 |"})
        EXPECT_NE(std::string::npos, report.find(row)) << row;
    EXPECT_NE(std::string::npos, report.find(Utf8("shortcut Programs\\サンプル\\サンプル.lnk: target "
                                                  "C:\\Program Files\\SampleApp\\APP.EXE")));
    // The elevated setup has the desktop's shell start the product.
    EXPECT_NE(std::string::npos, report.find("- new process: `C:\\Program Files\\SampleApp\\APP.EXE`, started by "
                                             "the desktop's shell\n"));
    EXPECT_NE(std::string::npos, report.find("- launched at Finish: APP.EXE (through the desktop's shell)\n"));
    // Every line says something to act on: what became of the document, how
    // the removal's copy ended, and no status that every run ends with.
    EXPECT_NE(std::string::npos, report.find("- Open: `README.TXT`: nothing was started for it: no program is "
                                             "associated with `.TXT` files in this Wine prefix"));
    EXPECT_NE(std::string::npos, report.find("- closed with its button, and the removal's copy ended\n"));
    EXPECT_EQ(std::string::npos, report.find("status 1"));
    EXPECT_NE(std::string::npos, report.find("| 1 | request | " + Utf8("サンプル") + " | information | " +
                                             Utf8("サンプルを削除します。") + " | OK (default), Cancel | OK |"));
    EXPECT_NE(std::string::npos, report.find("- status: " + Utf8("サンプルは正常に削除されました。")));
    EXPECT_NE(std::string::npos, report.find("- installation directory `C:\\Program Files\\SampleApp\\`: gone"));
    EXPECT_NE(std::string::npos, report.find("- 3 shortcut(s) created, 3 of the 3 asked for\n"));
    EXPECT_NE(std::string::npos, report.find("- result: installed without a message box, made every shortcut asked "
                                             "for, and removed completely"));
    for (const char *picture : {"win7-01-destination", "win7-02-options", "win7-03-progress", "win7-04-box",
                                "win7-05-removal-dialog", "win7-06-removal-done"}) {
        EXPECT_NE(std::string::npos, report.find(std::string("(") + picture + ".png)")) << picture;
        EXPECT_TRUE(Exists(reportDir + "\\" + picture + ".bmp")) << picture;
    }
    // The trial leaves nothing installed behind it.
    EXPECT_FALSE(Exists("C:\\Program Files\\SampleApp"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp"));
    RemoveTree(dist.substr(0, dist.size() - 1));
}
