// TRIAL.EXE DIST REPORT [SHELLS] [SHOWN] [NAME] [ORIGIN] [FACTS]
//   DIST    the distribution directory inside the prefix (the script and
//           files; the setup program too, else the build's own is put there)
//   REPORT  where report.md and the pictures (BMP) go
//   SHELLS  "win7,nt351" (default): the shells to try, one after the other
//   SHOWN   how the report names the distribution (its path on the host)
//   NAME    the setup program's name (default SETUP.EXE); its script is NAME.INF
//   ORIGIN  where the setup program came from, as the report says it (UTF-8)
//   FACTS   what else is known of it: bound, signed (UTF-8)
// TRIAL_DDE_TRACE names the file where the desktop's process traces the DDE
// commands its Program Manager executes (tools/trial.sh sets it up).
// Exit status 0 when every shell installed and removed the product cleanly
// and made every shortcut the script asks for; 2 when the checker finds
// errors in the script, which is then not tried; 1 otherwise.
#include "trial.h"
#include <objbase.h>
#include <stdio.h>
#include "testpaths.h"

using namespace trial;

namespace {

// Whether an item that only Wine's Program Manager refused was named.
bool refusedByWine = false;

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

// Whether a shortcut or item that the script asked for was not made (other
// than one Wine's Program Manager alone refused).
bool WriteInstallSurvey(const Script &script, const InstallResult &install,
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
    Summary(install.installDir.empty() ? std::string("nothing copied: the destination page was never reached")
                                       : std::to_string(files) + " file(s), " + std::to_string(bytes) +
                                             " bytes copied into " + Utf8(install.installDir));

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
    const std::vector<AskedItem> asked = AskedShortcuts(script, oldShell);
    std::vector<AskedItem> missing;
    std::string notMade, refused;
    size_t refusedCount = 0;
    for (const AskedItem &item : MissingShortcuts(asked, made)) {
        // Program Manager on Windows takes an item's command line with its
        // arguments; Wine's looks the whole line up as one file name and
        // refuses it. Such an item is not the program's fault when SETUP.EXE
        // sent exactly the command it should, for a program that is there.
        std::string command, path = install.installDir + item.target;
        char shortPath[MAX_PATH];
        DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
        command = "[AddItem(\"" + (length != 0 && length < sizeof shortPath ? std::string(shortPath) : path) + " " +
                  item.arguments + "\",\"" + item.name + "\")]";
        const bool arguments = oldShell && !item.arguments.empty();
        if (arguments && driver::Exists(path) && ProgmanExecuted(command)) {
            Line("- made on Windows, refused by Wine's Program Manager (it takes no arguments): item " + Cell(item.name) +
                 ", sent as `" + Utf8(command) + "` (Wine's trace of the DDE commands it executed)");
            refused += (refused.empty() ? "" : ", ") + Utf8(item.name);
            ++refusedCount;
            refusedByWine = true;
            continue;
        }
        Line("- NOT made: " + std::string(oldShell ? "item " : "shortcut ") + Cell(item.name) +
             (arguments ? " (asked for by the script; Wine's Program Manager takes no command line with arguments, "
                          "but its trace does not show SETUP.EXE sending `" + Utf8(command) +
                          "` for a program that is there, so this is not told apart from a fault)"
                        : " (asked for by the script, refused or skipped)"));
        notMade += (notMade.empty() ? "" : ", ") + Utf8(item.name);
        missing.push_back(item);
    }
    Line();
    Summary(std::to_string(shortcuts) + " shortcut(s) created, " +
            std::to_string(asked.size() - missing.size() - refusedCount) + " of the " +
            std::to_string(asked.size()) + " asked for" +
            (refused.empty() ? std::string()
                             : "; made on Windows, refused by Wine's Program Manager (it takes no arguments): " +
                                   refused) +
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
        return !missing.empty();
    }
    // What Finish started for entry 1, and what for the Open document.
    const size_t comma = script.first.find(',');  // the file's name in the installation, when one is given
    const std::string program =
        install.installDir + (comma != std::string::npos ? script.first.substr(comma + 1) : script.first);
    std::string programBy, documentBy;
    for (const Launched &process : install.launched) {
        std::string by = process.by.empty() ? Utf8(script.exe) : process.by;
        if (lstrcmpiA(process.image.c_str(), program.c_str()) == 0)
            programBy = by;
        else if (!script.open.empty())
            documentBy += (documentBy.empty() ? "opened with `" : ", `") + Utf8(process.image) + "`, started by " + by;
    }
    Line("- entry 1 `\"" + Utf8(program) + "\"`, in `" + Utf8(install.installDir) + "`: " +
         (programBy.empty() ? std::string("NOT seen starting (a program that ends at once may slip through)")
          : programBy == Utf8(script.exe) ? "started by " + programBy + " itself"
                                          : "started by " + programBy + ", so that it runs as the user"));
    if (!script.open.empty() && documentBy.empty()) {
        // An address goes to the shell as it is; anything else is the installed file.
        const bool address = script.open.find(':') != std::string::npos;
        const std::string document = address || script.open[0] == '\\' ? script.open : install.installDir + script.open;
        const std::string dot = script.open.substr(script.open.rfind('.') == std::string::npos ? script.open.size()
                                                                                              : script.open.rfind('.'));
        documentBy = address ? "nothing was seen started for it"
                     : !driver::Exists(document) ? "nothing was started for it: `" + Utf8(document) + "` is not there"
                     : AssociatedProgram(document).empty()
                         ? "nothing was started for it: no program is associated with `" + Utf8(dot) +
                               "` files in this Wine prefix (on the customer's Windows, the program registered for "
                               "them opens it)"
                         : "nothing was seen started for it, although `" + Utf8(AssociatedProgram(document)) +
                               "` is associated with its type (it may have ended at once)";
    }
    Line("- Open: " + (script.open.empty() ? std::string("none") : "`" + Utf8(script.open) + "`: " + documentBy));
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
    if (!script.open.empty())
        Summary("Open " + Utf8(script.open) + ": " + documentBy);
    return !missing.empty();
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
    // The wizard always ends with status 1: only another end is worth a word.
    const std::string end = install.exitCode == 1 ? std::string()
                            : install.exitCode == -1 ? " SETUP.EXE had not ended when the trial gave up waiting; the trial ended it."
                            : " SETUP.EXE ended with status " + std::to_string(install.exitCode) +
                                  ", where the wizard always ends with 1.";
    Line("The wizard, given the default answers (the proposed directory and options, every message box's "
         "default button)." + end);
    Line();
    Line(install.pages);
    Line("#### Message boxes");
    Line();
    WriteBoxes(install.boxes);
    Summary(std::string(install.finished ? "install finished" : "install did NOT reach Finish") + ", " +
            std::to_string(install.boxes.size()) + " message box(es)" +
            (end.empty() ? std::string() : "; " + end.substr(1)));
    const bool missing = WriteInstallSurvey(script, install, shortcutsBefore, version == "nt351");
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
        fprintf(stderr, "usage: TRIAL.EXE DIST REPORT [win7,nt351] [shown name] [setup name] [origin] [facts]\n");
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
    if (argc > 7 && argv[7][0] != '\0')
        origin += "; " + Utf8(argv[7]);
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
    // A script with errors would give a trial of something the maker did
    // not mean: the errors are what there is to act on.
    if (status == 2) {
        const std::string shownDist = Utf8(dist);
        Summary("script checker: errors (exit status 2): nothing was tried; mend these first (tools/check.sh "
                "shows the same findings):");
        for (size_t at = 0; at < checked.size();) {
            size_t end = checked.find('\n', at);
            std::string line = checked.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            // The script as the maker knows it, not as the prefix sees it.
            if (line.find(": error: ") != std::string::npos)
                Out.summary += "  - " + (line.compare(0, shownDist.size(), shownDist) == 0
                                             ? line.substr(shownDist.size()) : line) + "\n";
            at = end == std::string::npos ? checked.size() : end + 1;
        }
        const std::string result = "- result: NOT tried: the script checker found errors\n";
        driver::WriteFile(Out.dir + "report.md", "# Trial run: " + Utf8(script.title) + "\n\n## Summary\n\n" +
                                                     Out.summary + result + "\n" + Out.markdown);
        std::string printed = Out.summary + result;
        DWORD written;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), printed.data(), DWORD(printed.size()), &written, nullptr);
        CoUninitialize();
        return 2;
    }
    Summary("script checker: " + std::string(status == 0 ? "no findings" : status == 1 ? "warnings, see the report"
                                                                      : "did not run (exit status " +
                                                                            std::to_string(status) + ")"));

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
    const std::string result =
        "- result: " + std::string(verdict == Clean && refusedByWine
                                       ? "installed without a message box, made every shortcut asked for that "
                                         "Wine can make (its Program Manager alone refused the item(s) named "
                                         "above), and removed completely"
                                       : Results[verdict]);
    std::string report = "# Trial run: " + Utf8(script.title) + "\n\n## Summary\n\n" + Out.summary + result +
                         (verdict == NotClean ? ", see below" : "") + "\n\n" + Out.markdown;
    driver::WriteFile(Out.dir + "report.md", report);
    std::string printed = Out.summary + result + "\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), printed.data(), DWORD(printed.size()), &written, nullptr);
    CoUninitialize();
    return verdict == Clean ? 0 : 1;
}
