#include "scenarios.h"

#include "bench_files.h"
#include "driver.h"
#include "timing.h"

#include <commctrl.h>
#include <prsht.h>

namespace bench {

namespace {

const char CompleteText[] = "インストールが完了しました。「完了」を押すと起動します。";
const int NextButton = 0x3024, FinishButton = 0x3025;

bool IsClass(HWND window, const char *name)
{
    char found[64];
    return GetClassNameA(window, found, sizeof found) && lstrcmpiA(found, name) == 0;
}

template <class F> struct TopSearch {
    DWORD pid;
    F *match;
    HWND found;
};

template <class F> BOOL CALLBACK SearchTop(HWND window, LPARAM lParam)
{
    TopSearch<F> *search = reinterpret_cast<TopSearch<F> *>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search->pid != 0 && owner != search->pid) || !IsWindowVisible(window) || !(*search->match)(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// One pass over the visible top-level windows of process pid (any process
// when 0), without waiting: the watchers below call it between their polls.
template <class F> HWND FindTopNow(DWORD pid, F match)
{
    TopSearch<F> search = {pid, &match, nullptr};
    EnumWindows(SearchTop<F>, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND MessageBoxOf(DWORD pid)
{
    return FindTopNow(pid, [](HWND window) {
        return IsClass(window, "#32770") && GetDlgItem(window, 0xFFFF) != nullptr &&
               GetDlgItem(window, NextButton) == nullptr;
    });
}

// Checks for a message box at most every 100 ms: often enough to stop a round
// that hangs on a question, seldom enough not to burden the program watched.
struct BoxWatch {
    DWORD pid = 0;
    double last = 0;
    std::string text;
    bool Seen()
    {
        if (NowMs() - last < 100)
            return false;
        last = NowMs();
        if (HWND box = MessageBoxOf(pid)) {
            text = driver::ItemText(box, 0xFFFF);
            return true;
        }
        return false;
    }
};

// The visible page of the sheet that holds control id, found without sending
// the sheet a message.
HWND VisiblePageWith(HWND sheet, int id)
{
    for (HWND page = FindWindowExA(sheet, nullptr, "#32770", nullptr); page != nullptr;
         page = FindWindowExA(sheet, page, "#32770", nullptr))
        if (IsWindowVisible(page) && GetDlgItem(page, id) != nullptr)
            return page;
    return nullptr;
}

Timed Failed(Timed timed, const std::string &why, driver::Process &process)
{
    timed.ok = false;
    timed.failure = why;
    if (process.id != 0)
        if (HWND box = MessageBoxOf(process.id))
            timed.failure += " (message: " + Printable(driver::ItemText(box, 0xFFFF)) + ")";
    driver::Kill(process);
    return timed;
}

std::string WithoutBackslash(const std::string &dir)
{
    return dir.substr(0, dir.size() - 1);
}

// While the steps run, the watcher looks less often: every look is a request
// to the wineserver that the program watched also waits on, and a few
// milliseconds more or less do not matter to a figure of seconds.
const DWORD WorkPollMs = 5;

// Generous limits: the slowest figure, 10,000 entries, takes seconds, not minutes.
double StepsTimeoutMs(const Product &product)
{
    return 60000 + 20.0 * product.count;
}

}  // namespace

std::string Printable(const std::string &text)
{
    int wide = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring unicode(wide, L'\0');
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), &unicode[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, unicode.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, unicode.data(), wide, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

Timed TimeSetupInstall(const Product &product)
{
    Timed timed;
    driver::Process process = driver::Start("\"" + product.dist + "SETUP.EXE\"", product.dist);
    timed.pid = process.id;
    HWND sheet = driver::WaitWizard(20000, process.id);
    HWND page = sheet != nullptr ? driver::WaitPage(sheet, 1001) : nullptr;
    if (page == nullptr || !driver::WaitFor([&] { return driver::ButtonEnabled(sheet, NextButton); }, 5000))
        return Failed(timed, "no destination page", process);
    driver::SetItemText(page, 1001, WithoutBackslash(product.installDir));
    driver::Press(sheet, PSBTN_NEXT);

    // Shortcuts are left out: the figure is the file work, which the bare loop matches.
    HWND options = driver::WaitPage(sheet, 1006, 10000);
    if (options == nullptr)
        return Failed(timed, "no options page", process);
    SendMessageA(GetDlgItem(options, 1006), BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageA(GetDlgItem(options, 1005), BM_SETCHECK, BST_UNCHECKED, 0);
    HWND finish = GetDlgItem(sheet, FinishButton);
    driver::Press(sheet, PSBTN_NEXT);

    HWND progress = nullptr;
    double shown = PollUntil([&] { return (progress = VisiblePageWith(sheet, 1008)) != nullptr; }, 10000);
    if (shown < 0)
        return Failed(timed, "no progress page", process);

    // The bar moves at the end of each step, so its first move marks the end
    // of step 0, one tick after the page was shown.
    HWND bar = GetDlgItem(progress, 1003);
    BoxWatch boxes;
    boxes.pid = process.id;
    auto finished = [&] { return IsWindowVisible(finish) && IsWindowEnabled(finish); };
    double firstStep = PollUntil([&] {
        DWORD_PTR position = 0;
        SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position);
        return position > 0 || finished() || boxes.Seen();
    }, 10000);
    double done = PollUntil([&] { return finished() || boxes.Seen(); }, StepsTimeoutMs(product), WorkPollMs);
    if (!boxes.text.empty())
        return Failed(timed, "message during the install: " + Printable(boxes.text), process);
    if (done < 0)
        return Failed(timed, "Finish never became available", process);
    timed.workMs = done - shown - FirstTickMs;
    timed.firstStepMs = firstStep - shown;

    // A thread that has run steps without a break may count as hung for a
    // moment, and a hung window's text reads as empty: wait for it.
    if (!driver::WaitItemText(progress, 1008, CompleteText, 5000))
        return Failed(timed, "Finish without the completion text", process);
    driver::Press(sheet, PSBTN_CANCEL);
    if (driver::WaitExit(process, 20000) != 1)
        return Failed(timed, "SETUP.EXE did not end with status 1", process);
    driver::Kill(process);

    int bad = CountBadInstalledFiles(product);
    if (bad != 0)
        return Failed(timed, bad < 0 ? "no installation directory" : std::to_string(bad) + " files missing or wrong",
                      process);
    std::string registered = driver::RegRead(HKEY_LOCAL_MACHINE, UninstallKey(product), "UninstallString");
    if (registered != "\"" + product.installDir + "SETUP.EXE\" /r")
        return Failed(timed, "uninstall command " + Printable(registered), process);
    timed.ok = true;
    return timed;
}

Timed TimeSetupRemoval(const Product &product)
{
    Timed timed;
    std::string command = driver::RegRead(HKEY_LOCAL_MACHINE, UninstallKey(product), "UninstallString");
    driver::Process request = driver::Start(command, product.installDir);
    driver::Box box;
    if (!driver::WaitBox(box, 15000, request.id))
        return Failed(timed, "no confirmation", request);
    if (box.text != product.title + "を削除します。")
        return Failed(timed, "confirmation " + Printable(box.text), request);
    driver::Answer(box, IDOK);
    if (driver::WaitExit(request, 20000) != 1)
        return Failed(timed, "the removal request did not end with status 1", request);
    driver::Kill(request);

    HWND dialog = nullptr;
    double shown = PollUntil([&] {
        dialog = FindTopNow(0, [](HWND window) {
            return IsClass(window, "#32770") && GetDlgItem(window, 1010) != nullptr &&
                   GetDlgItem(window, IDCANCEL) != nullptr;
        });
        return dialog != nullptr;
    }, 20000);
    driver::Process copy;
    if (shown < 0)
        return Failed(timed, "no removal dialog", copy);
    GetWindowThreadProcessId(dialog, &copy.id);
    copy.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, copy.id);

    // The dialog appears some milliseconds after its timer was set, so the
    // work is timed from the first deletion instead: files go from the last
    // entry down, and the last one disappearing marks the first tick. Only
    // that one deletion is left out of the figure.
    HWND close = GetDlgItem(dialog, IDCANCEL);
    const std::string firstGone = product.installDir + InstalledFileName(product.count);
    BoxWatch boxes;
    boxes.pid = copy.id;
    double firstStep = PollUntil([&] { return !driver::Exists(firstGone) || IsWindowEnabled(close) || boxes.Seen(); },
                                 StepsTimeoutMs(product));
    double done = PollUntil([&] { return IsWindowEnabled(close) || boxes.Seen(); }, StepsTimeoutMs(product),
                            WorkPollMs);
    if (!boxes.text.empty())
        return Failed(timed, "message during the removal: " + Printable(boxes.text), copy);
    if (done < 0 || firstStep < 0)
        return Failed(timed, "the removal never finished", copy);
    timed.workMs = done - firstStep;
    timed.firstStepMs = firstStep - shown;

    // The removal ran inside one message, so the dialog counts as hung until
    // it is back in its message loop, and its text reads as empty till then.
    const std::string removed = product.title + "は正常に削除されました。";
    if (!driver::WaitItemText(dialog, 1010, removed, 5000))
        return Failed(timed, "outcome " + Printable(driver::ItemText(dialog, 1010)), copy);
    if (driver::Text(dialog) != product.title + "の削除")
        return Failed(timed, "removal dialog caption " + Printable(driver::Text(dialog)), copy);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (driver::WaitExit(copy, 20000) != 1)
        return Failed(timed, "the removal did not end with status 1", copy);
    driver::Kill(copy);
    if (!InstallationGone(product))
        return Failed(timed, "the installation is not wholly gone", copy);
    timed.ok = true;
    return timed;
}

double TimeSetupStartup(const Product &product, std::string *failure)
{
    double start = NowMs();
    driver::Process process = driver::Start("\"" + product.dist + "SETUP.EXE\"", product.dist);
    HWND sheet = nullptr;
    double shown = PollUntil([&] {
        sheet = FindTopNow(process.id, [](HWND window) {
            return IsClass(window, "#32770") && GetDlgItem(window, NextButton) != nullptr;
        });
        return sheet != nullptr && VisiblePageWith(sheet, 1001) != nullptr;
    }, 20000);
    if (shown < 0) {
        *failure = "no destination page";
        driver::Kill(process);
        return -1;
    }
    driver::Press(sheet, PSBTN_CANCEL);
    int status = driver::WaitExit(process, 20000);
    driver::Kill(process);
    if (status != 1) {
        *failure = "SETUP.EXE did not end with status 1 after Cancel";
        return -1;
    }
    return shown - start;
}

double TimeBoxStartup(std::string *failure)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, length);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);

    double start = NowMs();
    driver::Process process = driver::Start("\"" + dir + "BENCHBOX.EXE\"", dir);
    HWND box = nullptr;
    double shown = PollUntil([&] { return (box = MessageBoxOf(process.id)) != nullptr; }, 20000);
    if (shown < 0) {
        *failure = "no message box";
        driver::Kill(process);
        return -1;
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    int status = driver::WaitExit(process, 20000);
    driver::Kill(process);
    if (status != 0) {
        *failure = "BENCHBOX.EXE did not end with status 0";
        return -1;
    }
    return shown - start;
}

double TimePeerRun(const std::string &commandLine, double timeoutMs, std::string *failure, DWORD *pid)
{
    double start = NowMs();
    driver::Process process = driver::Start(commandLine, "C:\\");
    if (pid != nullptr)
        *pid = process.id;
    if (process.handle == nullptr) {
        *failure = "did not start";
        return -1;
    }
    BoxWatch boxes;
    boxes.pid = process.id;
    double end = PollUntil([&] { return WaitForSingleObject(process.handle, 0) == WAIT_OBJECT_0 || boxes.Seen(); },
                           timeoutMs, WorkPollMs);
    DWORD status = 1;
    GetExitCodeProcess(process.handle, &status);
    driver::Kill(process);
    if (!boxes.text.empty())
        *failure = "message: " + Printable(boxes.text);
    else if (end < 0)
        *failure = "no end";
    else if (status != 0)
        *failure = "exit status " + std::to_string(status);
    else
        return end - start;
    return -1;
}

}  // namespace bench
