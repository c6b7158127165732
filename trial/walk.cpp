// The two walks of a trial: the wizard with the default answers, and the
// removal through the registered command with every question answered Yes.
#include "trial.h"

#include <prsht.h>
#include "resources/resource.h"
#include "shell/desktop.h"

namespace trial {

// Finish asks the desktop's shell to start the product. A rig that has just
// started, on a busy machine, may not serve the desktop's shell window yet,
// and SETUP.EXE rightly says so in a box: the trial waits for it first.
static void WaitForDesktopShell()
{
    CoInitialize(nullptr);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(250)) {
        if (IDispatch *desktop = DesktopWindow()) {
            desktop->Release();
            break;
        }
    }
    CoUninitialize();
}

using driver::Box;

static const DWORD WalkLimitMs = 120000;

static std::string Checked(HWND page, int id)
{
    HWND box = GetDlgItem(page, id);
    if (box == nullptr)
        return "absent";
    if (!IsWindowVisible(box))
        return "hidden";
    return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? "checked" : "unchecked";
}

// The visible texts of a page, in the order of its controls.
static std::string PageTexts(HWND page)
{
    std::string texts;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        std::string text = driver::Text(child);
        if (!text.empty())
            texts += "  - " + Cell(text) + "\n";
    }
    return texts;
}

static void RecordPage(InstallResult &result, HWND sheet, HWND page, const std::string &prefix,
                       const std::string &what, const std::string &facts)
{
    result.pages += "#### " + what + "\n\n" + Shot(sheet, prefix, what) + "\n\n";
    result.pages += "- texts on the page:\n" + PageTexts(page) + facts + "\n";
}

// The processes that Finish started since before was taken: those setup
// started itself, and those the desktop's shell started on its behalf (an
// elevated setup asks the shell, so that the product runs as the user).
// Wine starts services of its own beside them (winedevice.exe on the old
// shell), which are neither's doing.
static void WatchProcesses(const std::map<DWORD, RunningProcess> &before, DWORD setup, DWORD shell,
                           std::map<DWORD, Launched> &seen)
{
    // A process caught while it starts may not have a name yet. Wine gives
    // an ended process's number to the next one: setup's own, once it has
    // ended, may come back as the product the shell started.
    for (const auto &entry : ProcessList()) {
        const DWORD parent = entry.second.parent;
        const auto old = before.find(entry.first);
        if ((parent == setup || (parent == shell && shell != 0)) &&
            (old == before.end() || old->second.parent != parent) &&
            (seen.count(entry.first) == 0 || seen[entry.first].image.empty()))
            seen[entry.first] = Launched{entry.second.image, parent == setup ? "" : "the desktop's shell"};
    }
}

// The process of the desktop's shell: the one that owns the shell's window,
// else the desktop window (Wine's desktop process is its shell).
static DWORD DesktopShellProcess()
{
    DWORD id = 0;
    HWND window = GetShellWindow();
    GetWindowThreadProcessId(window != nullptr ? window : GetDesktopWindow(), &id);
    return id != GetCurrentProcessId() ? id : 0;
}

InstallResult RunInstall(const std::string &dist, const Script &script, const std::string &prefix)
{
    InstallResult result;
    WaitForDesktopShell();
    driver::Process process = driver::Start("\"" + dist + script.exe + "\"", dist);
    if (process.handle == nullptr) {
        result.pages = Utf8(script.exe) + " could not be started.\n\n";
        return result;
    }
    std::map<HWND, int> presses;  // a page that keeps coming back after Next is given up
    bool destinationSeen = false, optionsSeen = false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < WalkLimitMs) {
        if (driver::WaitExit(process, 0) != -1)
            break;
        Box box;
        if (driver::WaitBox(box, 0, process.id)) {
            result.boxes.push_back(AnswerBox(box, prefix, "install", false));
            continue;
        }
        HWND sheet = driver::WaitWizard(0, process.id);
        HWND page = sheet != nullptr ? driver::CurrentPage(sheet) : nullptr;
        if (page == nullptr) {
            Sleep(100);
            continue;
        }
        auto moveOn = [&] {
            if (++presses[page] > 3) {
                result.pages += "The wizard stayed on one page after three presses of Next; the trial pressed Cancel.\n\n";
                driver::Press(sheet, PSBTN_CANCEL);
                Sleep(500);
                return;
            }
            driver::Press(sheet, PSBTN_NEXT);
            driver::WaitFor([&] {
                return driver::CurrentPage(sheet) != page || !driver::NoBox(0, process.id);
            }, 10000);
        };
        if (GetDlgItem(page, IDC_DEST_EDIT) != nullptr) {
            if (!driver::ButtonEnabled(sheet, 0x3024)) {
                Sleep(100);
                continue;
            }
            result.installDir = driver::ItemText(page, IDC_DEST_EDIT);
            if (!destinationSeen)
                RecordPage(result, sheet, page, prefix, "destination",
                           "- proposed directory, taken as it is: `" + Utf8(result.installDir) + "`\n");
            destinationSeen = true;
            moveOn();
        } else if (GetDlgItem(page, IDC_OPT_STARTMENU) != nullptr) {
            if (!optionsSeen)
                RecordPage(result, sheet, page, prefix, "options",
                           "- Start menu: " + Checked(page, IDC_OPT_STARTMENU) +
                               ", desktop: " + Checked(page, IDC_OPT_DESKTOP) + " (left as proposed)\n");
            optionsSeen = true;
            moveOn();
        } else if (GetDlgItem(page, IDC_PROGRESS_TEXT) != nullptr) {
            if (!driver::ButtonEnabled(sheet, 0x3025) || !driver::NoBox(300, process.id))
                continue;
            RecordPage(result, sheet, page, prefix, "progress", "");
            // Finish starts the product: every process that SETUP.EXE starts
            // from here until it ends counts as launched, and is looked for
            // until a little after that.
            const std::map<DWORD, RunningProcess> before = ProcessList();
            const DWORD shell = DesktopShellProcess();
            std::map<DWORD, Launched> seen;
            driver::Press(sheet, PSBTN_FINISH);
            DWORD finish = GetTickCount();
            while (driver::WaitExit(process, 0) == -1 && GetTickCount() - finish < 20000) {
                WatchProcesses(before, process.id, shell, seen);
                // SETUP.EXE's word that it could not start the product.
                Box box;
                if (driver::WaitBox(box, 0, process.id))
                    result.boxes.push_back(AnswerBox(box, prefix, "finish", false));
                Sleep(5);
            }
            // The desktop's shell starts the product on its own time, later
            // than setup's end on a busy machine: nothing seen yet is waited for longer.
            DWORD ended = GetTickCount();
            while (GetTickCount() - ended < (seen.empty() ? 15000u : 3000u)) {
                WatchProcesses(before, process.id, shell, seen);
                Sleep(20);
            }
            for (auto &entry : seen) {
                Launched &launched = entry.second;
                if (launched.image.empty())
                    launched.image = "(ended before its name could be read)";
                // Still running: ended here so that the removal finds nothing in use.
                if (HANDLE running = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.first)) {
                    if (WaitForSingleObject(running, 0) == WAIT_TIMEOUT) {
                        TerminateProcess(running, 0);
                        launched.ended = true;
                    }
                    CloseHandle(running);
                }
                result.launched.push_back(launched);
            }
            result.finished = true;
            break;
        } else {
            Sleep(100);
        }
    }
    result.exitCode = driver::WaitExit(process, 20000);
    if (result.exitCode == -1) {
        if (HWND sheet = driver::WaitWizard(0, process.id))
            result.pages += "Still open when the trial gave up:\n\n" + Shot(sheet, prefix, "stuck") + "\n\n";
        driver::Kill(process);
    }
    return result;
}

// The removal dialog: a dialog with the removal status text.
static BOOL CALLBACK FindRemovalDialog(HWND window, LPARAM lParam)
{
    char cls[16];
    if (IsWindowVisible(window) && GetClassNameA(window, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0 &&
        GetDlgItem(window, IDC_REMOVAL_TEXT) != nullptr) {
        *reinterpret_cast<HWND *>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

static HWND RemovalDialog()
{
    HWND found = nullptr;
    EnumWindows(FindRemovalDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void RunRemoval(const Script &script, const InstallResult &install, const std::string &prefix,
                const std::map<std::string, Item> &shortcutsBefore)
{
    const std::string uninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + script.folder;
    const std::string command = driver::RegRead(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallString");
    Line("### Removal");
    Line();
    if (command.empty() || command[0] == '<') {
        Line("No UninstallString was registered: nothing to remove with.");
        Line();
        Summary("removal: no UninstallString registered");
        return;
    }
    Line("Started the registered command `" + Utf8(command) + "` (confirmation answered OK, every question Yes).");
    Line();
    driver::Process request = driver::Start(command, "C:\\");
    std::vector<BoxRecord> boxes;
    HWND dialog = nullptr;
    DWORD dialogPid = 0;
    std::string before, after, outcome;
    std::string copy;  // the removal's copy in the system directory, as its process names it
    DWORD start = GetTickCount(), quiet = 0;
    bool closed = false;
    while (GetTickCount() - start < WalkLimitMs) {
        Box box;
        if (driver::WaitBox(box, 0)) {
            bool confirmation = dialog == nullptr;
            boxes.push_back(AnswerBox(box, prefix, confirmation ? "request" : "removal", !confirmation, IDOK));
            quiet = 0;
            continue;
        }
        if (dialog == nullptr && (dialog = RemovalDialog()) != nullptr) {
            GetWindowThreadProcessId(dialog, &dialogPid);
            copy = driver::ImagePath(dialogPid);
            before = Shot(dialog, prefix, "removal-dialog") + "\n\n- caption: " + Cell(driver::Text(dialog)) +
                     "\n- status: " + Cell(driver::ItemText(dialog, IDC_REMOVAL_TEXT)) + "\n- button: " +
                     Cell(driver::ItemText(dialog, IDCANCEL)) +
                     (IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) ? " (enabled)" : " (disabled)") + "\n";
        }
        if (dialog != nullptr) {
            if (!IsWindow(dialog))
                break;
            // Finished once its button can be pressed and no question follows.
            if (IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) && driver::NoBox(800)) {
                outcome = driver::ItemText(dialog, IDC_REMOVAL_TEXT);
                after = Shot(dialog, prefix, "removal-done") + "\n\n- status: " + Cell(outcome) +
                        "\n- button: " + Cell(driver::ItemText(dialog, IDCANCEL)) + "\n";
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                driver::Process copyProcess;
                copyProcess.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                                                 FALSE, dialogPid);
                copyProcess.id = dialogPid;
                closed = driver::WaitExit(copyProcess, 20000) == 1;
                driver::Kill(copyProcess);
                break;
            }
        } else if (driver::WaitExit(request, 0) != -1) {
            // The request ended without a removal dialog (cancelled or refused).
            if (quiet == 0)
                quiet = GetTickCount();
            else if (GetTickCount() - quiet > 5000)
                break;
        }
        Sleep(100);
    }
    driver::Kill(request);

    Line("#### Message boxes");
    Line();
    WriteBoxes(boxes);
    Line("#### Removal dialog, when it appeared");
    Line();
    Line(before.empty() ? "No removal dialog appeared." : before);
    if (!after.empty()) {
        Line("#### Removal dialog, when it had finished");
        Line();
        Line(after);
        Line(closed ? "- closed with its button, and the removal's copy ended"
                    : "- closed with its button, but the removal's copy was still running 20 s later; the trial "
                      "ended it");
        Line();
    }
    Summary("removal: " + (outcome.empty() ? std::string("no outcome shown") : Utf8(outcome)) + ", " +
            std::to_string(boxes.size()) + " message box(es)");

    Line("#### What is left");
    Line();
    std::vector<Item> left = install.installDir.empty() ? std::vector<Item>() : ListTree(install.installDir);
    bool dirLeft = !install.installDir.empty() && driver::IsDirectory(install.installDir);
    Line("- installation directory `" + Utf8(install.installDir) + "`: " +
         (dirLeft ? "still there, " + std::to_string(left.size()) + " item(s)" : std::string("gone")));
    for (const Item &item : left)
        Line("  - " + Cell(item.name) + (item.directory ? "\\" : " (" + std::to_string(item.size) + " bytes)"));
    bool keyLeft = driver::RegKeyExists(HKEY_LOCAL_MACHINE, uninstallKey);
    Line("- uninstall key `HKLM\\" + Utf8(uninstallKey) + "`: " + (keyLeft ? "still there" : "gone"));
    int shortcutsLeft = 0;
    for (const auto &entry : ListShortcutFolders())
        if (shortcutsBefore.count(entry.first) == 0) {
            Line("- shortcut left: " + Cell(entry.first));
            ++shortcutsLeft;
        }
    if (shortcutsLeft == 0)
        Line("- shortcuts and groups: none of those made by the installation is left");
    for (const std::string &key : script.regKeys)
        Line("- [Reg] key `" + Utf8(key) + "`: " + (RegistryKeyExists(key) ? "still there" : "gone"));
    const std::string pending = driver::RegRead(
        HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
    bool scheduled = !copy.empty() &&
                     driver::Upper(pending).find(driver::Upper("\\??\\" + copy)) != std::string::npos;
    Line("- the removal's copy `" + Utf8(copy) + "`: " + (driver::Exists(copy) ? "present" : "absent") +
         ", deletion at next start " + (scheduled ? "scheduled" : "not scheduled"));
    Line();
    Summary("left after removal: directory " + std::string(dirLeft ? "still there" : "gone") + ", uninstall key " +
            (keyLeft ? "still there" : "gone") + ", " + std::to_string(shortcutsLeft) + " shortcut(s)");
    // What the next start would do, so that the next shell's trial begins clean.
    if (!copy.empty())
        DeleteFileA(copy.c_str());
}

}  // namespace trial
