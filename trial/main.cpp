// TRIAL.EXE DIST REPORT [SHELLS] [SHOWN] [NAME] [ORIGIN]
//   DIST    the distribution directory inside the prefix (the script and
//           files; the setup program too, else the build's own is put there)
//   REPORT  where report.md and the pictures (BMP) go
//   SHELLS  "win7,nt351" (default): the shells to try, one after the other
//   SHOWN   how the report names the distribution (its path on the host)
//   NAME    the setup program's name (default SETUP.EXE); its script is NAME.INF
//   ORIGIN  where the setup program came from, as the report says it (UTF-8)
// Exit status 0 when every shell installed and removed the product cleanly
// and made every shortcut the script asks for.
#include "trial.h"
#include <objbase.h>
#include <stdio.h>
#include "testpaths.h"

using namespace trial;

namespace {

std::string WithBackslash(std::string path)
{
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

const char *ShellName(const std::string &version)
{
    return version == "nt351" ? "old shell (Program Manager groups, Windows NT 3.51)"
                              : "new shell (shell links, Windows 7)";
}

// Returns the shortcuts or items that the script asked for and the shell did not make.
std::vector<std::string> WriteInstallSurvey(const Script &script, const InstallResult &install,
                                            const std::map<std::string, Item> &shortcutsBefore, bool oldShell)
{
    Line("#### Copied");
    Line();
    std::vector<Item> items = install.installDir.empty() ? std::vector<Item>() : ListTree(install.installDir);
    int files = 0;
    unsigned long long bytes = 0;
    Line("Into `" + Utf8(install.installDir) + "`:");
    Line();
    Line("| file | bytes |");
    Line("|---|---:|");
    for (const Item &item : items)
        if (!item.directory) {
            Line("| " + Cell(item.name) + " | " + std::to_string(item.size) + " |");
            ++files;
            bytes += item.size;
        }
    Line();
    Summary(std::to_string(files) + " file(s), " + std::to_string(bytes) + " bytes copied into " +
            Utf8(install.installDir));

    Line("#### Created");
    Line();
    Line("- directory " + Cell(install.installDir) +
         (driver::IsDirectory(install.installDir) ? "" : " (missing after the installation)"));
    for (const Item &item : items)
        if (item.directory)
            Line("- directory " + Cell(install.installDir + item.name + "\\"));
    int shortcuts = 0;
    std::vector<std::string> made;
    for (const auto &entry : ListShortcutFolders()) {
        if (shortcutsBefore.count(entry.first) != 0)
            continue;
        const Item &item = entry.second;
        if (item.directory) {
            Line("- folder (group) " + Cell(entry.first));
            continue;
        }
        ++shortcuts;
        made.push_back(entry.first);
        std::string detail = DescribeLink(ShortcutFolderPath(entry.first));
        Line("- shortcut " + Cell(entry.first) + ": " + Cell(detail));
    }
    if (shortcuts == 0)
        Line("- no shortcut");
    const std::vector<std::string> asked = AskedShortcuts(script, oldShell);
    const std::vector<std::string> missing = MissingShortcuts(asked, made);
    std::string notMade;
    for (const std::string &name : missing) {
        Line("- NOT made: " + std::string(oldShell ? "item " : "shortcut ") + Cell(name) +
             " (asked for by the script, refused or skipped)");
        notMade += (notMade.empty() ? "" : ", ") + Utf8(name);
    }
    Line();
    Summary(std::to_string(shortcuts) + " shortcut(s) created, " + std::to_string(asked.size() - missing.size()) +
            " of the " + std::to_string(asked.size()) + " asked for" +
            (missing.empty() ? std::string() : "; NOT made: " + notMade));

    Line("#### Registered");
    Line();
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + script.folder;
    auto values = RegistryValues(HKEY_LOCAL_MACHINE, key);
    Line("`HKLM\\" + Utf8(key) + "`" + (values.empty() ? ": no such key or no values" : ":"));
    Line();
    if (!values.empty()) {
        Line("| value | data |");
        Line("|---|---|");
        for (const auto &value : values) {
            Line("| " + Cell(value.first) + " | " + Cell(value.second) + " |");
            if (value.first == "UninstallString")
                Summary("UninstallString = " + Utf8(value.second));
        }
        Line();
    }

    Line("#### Launched at Finish");
    Line();
    if (!install.finished) {
        Line("Finish was not reached.");
        Line();
        return missing;
    }
    std::string first = script.first;
    size_t comma = first.find(',');  // the file's name in the installation, when one is given
    std::string target = comma != std::string::npos ? first.substr(comma + 1) : first;
    Line("- entry 1: `\"" + Utf8(install.installDir + target) + "\"` started in `" + Utf8(install.installDir) +
         "`, by " + Utf8(script.exe) + " itself or, when it runs elevated, through the desktop's shell, so that "
         "it runs as the user");
    Line("- Open: " + (script.open.empty() ? std::string("none") :
                       "`" + Utf8(script.open) + "` handed to the shell's \"open\" verb (whatever that "
                       "started is among the new processes below)"));
    if (install.launched.empty())
        Line("- Finish was seen to start no process (a program that ends at once may slip through)");
    for (const Launched &process : install.launched)
        Line("- new process: `" + Utf8(process.image) + "`, started by " +
             (process.by.empty() ? Utf8(script.exe) : process.by) +
             (process.ended ? " (still running after 3 s; ended by the trial)" : ""));
    for (const std::string &regKey : script.regKeys) {
        Line("- [Reg] key `" + Utf8(regKey) + "` after Finish: " +
             (RegistryKeyExists(regKey) ? "present (written by what was started)" : "absent"));
        size_t slash = regKey.find('\\');
        HKEY root = regKey.compare(0, slash, "HKEY_LOCAL_MACHINE") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        if (slash != std::string::npos)
            for (const auto &value : RegistryValues(root, regKey.substr(slash + 1)))
                Line("  - " + Cell(value.first) + " = " + Cell(value.second));
    }
    Line();
    std::string names;
    for (const Launched &process : install.launched) {
        size_t slash = process.image.rfind('\\');
        names += (names.empty() ? "" : ", ") +
                 Utf8(process.image.substr(slash == std::string::npos ? 0 : slash + 1)) +
                 (process.by.empty() ? "" : " (through " + process.by + ")");
    }
    Summary("launched at Finish: " + (names.empty() ? std::string("nothing seen") : names));
    return missing;
}

enum Verdict { Clean, Incomplete, NotClean };

Verdict TryShell(const std::string &version, const std::string &dist, const Script &script)
{
    Line("## " + std::string(ShellName(version)));
    Line();
    Summary("**" + std::string(ShellName(version)) + "**");
    const std::map<std::string, Item> shortcutsBefore = ListShortcutFolders();
    driver::SetWindowsVersion(version.c_str());
    InstallResult install = RunInstall(dist, script, version);
    Line("### Installation");
    Line();
    Line("The wizard, given the default answers (the proposed directory and options, every message box's "
         "default button). SETUP.EXE ended with status " + std::to_string(install.exitCode) + ".");
    Line();
    Line(install.pages);
    Line("#### Message boxes");
    Line();
    WriteBoxes(install.boxes);
    Summary(std::string(install.finished ? "install finished" : "install did NOT reach Finish") + ", " +
            std::to_string(install.boxes.size()) + " message box(es), SETUP.EXE status " +
            std::to_string(install.exitCode));
    const bool missing = !WriteInstallSurvey(script, install, shortcutsBefore, version == "nt351").empty();
    RunRemoval(script, install, version, shortcutsBefore);
    driver::SetWindowsVersion("win7");
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + script.folder;
    if (!install.finished || install.exitCode != 1 || !install.boxes.empty() ||
        driver::RegKeyExists(HKEY_LOCAL_MACHINE, key) || driver::IsDirectory(install.installDir))
        return NotClean;
    return missing ? Incomplete : Clean;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: TRIAL.EXE DIST REPORT [win7,nt351] [shown name] [setup name] [origin]\n");
        return 2;
    }
    const std::string dist = WithBackslash(argv[1]);
    Out.dir = WithBackslash(argv[2]);
    std::string shells = argc > 3 ? argv[3] : "win7,nt351";
    const std::string shown = argc > 4 ? argv[4] : dist;
    const std::string exe = argc > 5 && argv[5][0] != '\0' ? argv[5] : "SETUP.EXE";
    CreateDirectoryA(Out.dir.c_str(), nullptr);
    CoInitialize(nullptr);

    std::string origin = argc > 6 ? Utf8(argv[6]) : "the distribution's own";
    if (!driver::Exists(dist + exe)) {
        CopyFileA(TEST_SETUP_EXE, (dist + exe).c_str(), FALSE);
        origin = "none in the distribution: the build's (" + Utf8(TEST_SETUP_EXE) + ")";
    }
    origin += ", built for " + Machine(dist + exe);
    const Script script = ReadScript(dist, exe);
    Line("## Distribution");
    Line();
    Line("- directory: `" + Utf8(shown) + "`, copied into the prefix as `" + Utf8(dist) + "`");
    Line("- " + Utf8(exe) + ": " + origin);
    Line("- Title `" + Utf8(script.title) + "`, Folder `" + Utf8(script.folder) + "`, TSR `" + Utf8(script.tsr) +
         "`, Open `" + Utf8(script.open) + "`");
    Line();
    Line("| file in the distribution | bytes |");
    Line("|---|---:|");
    for (const Item &item : ListTree(dist))
        if (!item.directory)
            Line("| " + Cell(item.name) + " | " + std::to_string(item.size) + " |");
    Line();
    Summary(Utf8(exe) + ": " + origin);

    Line("## Script checker (CHECKINF.EXE)");
    Line();
    std::string checked;
    int status = RunChecker(dist + exe, checked);
    Line("Exit status " + std::to_string(status) + " (0 clean, 1 warnings, 2 errors):");
    Line();
    Line("```");
    for (char c : checked)
        if (c != '\r')
            Out.markdown += c;
    if (!checked.empty() && checked.back() != '\n')
        Line();
    Line("```");
    Line();
    Summary("script checker: exit status " + std::to_string(status));

    Verdict verdict = Clean;
    for (size_t at = 0; at < shells.size();) {
        size_t comma = shells.find(',', at);
        if (comma == std::string::npos)
            comma = shells.size();
        Verdict shell = TryShell(shells.substr(at, comma - at), dist, script);
        if (shell > verdict)
            verdict = shell;
        at = comma + 1;
    }

    static const char *const Results[] = {
        "installed without a message box, made every shortcut asked for, and removed completely",
        "INCOMPLETE: installed and removed without a message box, but a shortcut or item the script asks for "
        "was not made (see \"NOT made\" above)",
        "NOT clean"};
    std::string report = "# Trial run: " + Utf8(script.title) + "\n\n## Summary\n\n" + Out.summary +
                         "- result: " + Results[verdict] + (verdict == NotClean ? ", see below" : "") + "\n\n" +
                         Out.markdown;
    driver::WriteFile(Out.dir + "report.md", report);
    std::string printed = Out.summary + "- result: " + Results[verdict] + "\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), printed.data(), DWORD(printed.size()), &written, nullptr);
    CoUninitialize();
    return verdict == Clean ? 0 : 1;
}
