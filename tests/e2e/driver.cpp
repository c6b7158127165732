#include "driver.h"

#include <algorithm>
#include <commctrl.h>
#include <prsht.h>
#include "testpaths.h"

namespace driver {

void SetWindowsVersion(const char *version)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                       lstrlenA(version) + 1);
        RegCloseKey(key);
    }
}

static std::string Crlf(const char *text)
{
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (*p == '\n' && (p == text || p[-1] != '\r'))
            out += '\r';
        out += *p;
    }
    return out;
}

std::string SampleScript()
{
    return ReadFile(TEST_SAMPLE_DIR "\\SETUP.INF");
}

std::string InstallScript(const std::string &title, const std::string &folder, const std::string &rest)
{
    return "[Install]\nTitle=" + title + "\nFolder=" + folder + "\n" + rest;
}

std::string MakeDist(const std::string &name, const char *script, bool bare)
{
    std::string dir = "C:\\e2e\\" + name + "\\";
    RemoveTree(dir.substr(0, dir.size() - 1));
    CreateDirectoryA("C:\\e2e", nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    CopyFileA(TEST_SETUP_EXE, (dir + "SETUP.EXE").c_str(), FALSE);
    if (!bare) {
        CreateDirectoryA((dir + "HELP").c_str(), nullptr);
        for (const char *file : {"APP.EXE", "README.TXT", "DATA.DAT", "HELP\\APP.HLP"})
            CopyFileA((std::string(TEST_SAMPLE_DIR "\\") + file).c_str(), (dir + file).c_str(), FALSE);
    }
    if (script != nullptr)
        WriteFile(dir + "SETUP.INF", Crlf(script));
    return dir;
}

// Under load Wine may fail to bring up a new process at all (one CI run saw
// it once, in the robustness groups). The program never ran then, so a
// second try tests the same thing; a file that cannot start fails every try.
static bool CreateRetried(const std::string &commandLine, const std::string &directory, BOOL inherit,
                          STARTUPINFOA &startup, PROCESS_INFORMATION &info, DWORD *error)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            Sleep(250);
        std::string line = commandLine;
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, inherit, 0, nullptr,
                           directory.empty() ? nullptr : directory.c_str(), &startup, &info))
            return true;
        *error = GetLastError();
        if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND || *error == ERROR_BAD_EXE_FORMAT)
            break;
    }
    return false;
}

Process Start(const std::string &commandLine, const std::string &directory)
{
    Process process;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateRetried(commandLine, directory, FALSE, startup, info, &process.error)) {
        CloseHandle(info.hThread);
        process.handle = info.hProcess;
        process.id = info.dwProcessId;
    }
    return process;
}

DWORD Scaled(DWORD ms)
{
    static const DWORD scale = [] {
        char text[16] = "";
        GetEnvironmentVariableA("DRIVER_TIME_SCALE", text, sizeof text);
        return DWORD(atoi(text) > 1 ? atoi(text) : 1);
    }();
    return ms == INFINITE ? ms : ms * scale;
}

int WaitExit(Process &process, DWORD timeoutMs)
{
    if (process.handle == nullptr)
        return -2;
    if (WaitForSingleObject(process.handle, Scaled(timeoutMs)) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.handle, &code);
    return static_cast<int>(code);
}

void Kill(Process &process)
{
    if (process.handle == nullptr)
        return;
    TerminateProcess(process.handle, 99);
    WaitForSingleObject(process.handle, Scaled(5000));
    CloseHandle(process.handle);
    process.handle = nullptr;
}

int RunCaptured(const std::string &commandLine, const std::string &directory, std::string *output, DWORD timeoutMs)
{
    timeoutMs = Scaled(timeoutMs);
    output->clear();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info = {};
    DWORD error = 0;
    BOOL started = CreateRetried(commandLine, directory, TRUE, startup, info, &error);
    CloseHandle(writeEnd);
    int status = -1;
    if (started) {
        // Not until end of file: Wine's desktop process, started on the
        // program's behalf, may hold the pipe open for good.
        DWORD start = GetTickCount();
        bool ended = false;
        for (;;) {
            DWORD available = 0;
            BOOL open = PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
            if (open && available > 0) {
                char buffer[4096];
                DWORD got = 0;
                if (!::ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr))
                    break;
                output->append(buffer, got);
                continue;
            }
            DWORD elapsed = GetTickCount() - start;
            if (ended || elapsed > timeoutMs)
                break;
            if (!open) {  // every writer gone: the program has ended or is about to
                ended = WaitForSingleObject(info.hProcess, timeoutMs - elapsed) == WAIT_OBJECT_0;
                break;
            }
            // One more look at the pipe after the end: the last bytes may have just arrived.
            ended = WaitForSingleObject(info.hProcess, 20) == WAIT_OBJECT_0;
        }
        if (ended) {
            DWORD code;
            GetExitCodeProcess(info.hProcess, &code);
            status = int(code);
        } else {
            TerminateProcess(info.hProcess, 99);
        }
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(readEnd);
    return status;
}

Running StartSetupIn(const std::string &dir)
{
    return Running{Start("\"" + dir + "SETUP.EXE\"", dir)};
}

std::string Text(HWND window)
{
    char buffer[4096];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, Scaled(5000), &length))
        return std::string();
    return std::string(buffer, length);
}

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? Text(item) : std::string("<no control>");
}

void SetItemText(HWND dialog, int id, const std::string &text)
{
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool WaitItemText(HWND dialog, int id, const std::string &expected, DWORD timeoutMs)
{
    return WaitFor([&] { return ItemText(dialog, id) == expected; }, timeoutMs);
}

static bool IsClass(HWND window, const char *name)
{
    char cls[64];
    return GetClassNameA(window, cls, sizeof cls) && lstrcmpiA(cls, name) == 0;
}

struct Search {
    DWORD pid;
    bool (*match)(HWND, const void *);
    const void *context;
    HWND found;
};

static BOOL CALLBACK SearchTop(HWND window, LPARAM lParam)
{
    Search *search = reinterpret_cast<Search *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (search->pid != 0 && pid != search->pid)
        return TRUE;
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->match(window, search->context)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND FindTop(bool (*match)(HWND, const void *), const void *context, DWORD pid, DWORD timeoutMs)
{
    Search search = {pid, match, context, nullptr};
    WaitFor([&] {
        EnumWindows(SearchTop, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, timeoutMs);
    return search.found;
}

static bool IsMessageBox(HWND window, const void *)
{
    return message_box::IsMessageBox(window);
}

bool WaitBox(Box &box, DWORD timeoutMs, DWORD pid)
{
    box = Box();
    HWND window = FindTop(IsMessageBox, nullptr, pid, timeoutMs);
    if (window == nullptr)
        return false;
    box = message_box::Read(window);
    return true;
}

void Answer(const Box &box, int id)
{
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, id)));
    WaitFor([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 5000);
}

bool NoBox(DWORD timeoutMs, DWORD pid)
{
    return FindTop(IsMessageBox, nullptr, pid, timeoutMs) == nullptr;
}

static bool IsWizard(HWND window, const void *)
{
    return IsClass(window, "#32770") && GetDlgItem(window, 0x3024) != nullptr;
}

HWND WaitWizard(DWORD timeoutMs, DWORD pid)
{
    return FindTop(IsWizard, nullptr, pid, timeoutMs);
}

HWND CurrentPage(HWND sheet)
{
    DWORD_PTR page = 0;
    SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, Scaled(5000), &page);
    return reinterpret_cast<HWND>(page);
}

HWND WaitPage(HWND sheet, int controlId, DWORD timeoutMs)
{
    HWND page = nullptr;
    WaitFor([&] {
        page = CurrentPage(sheet);
        return page != nullptr && GetDlgItem(page, controlId) != nullptr;
    }, timeoutMs);
    return page != nullptr && GetDlgItem(page, controlId) != nullptr ? page : nullptr;
}

void Press(HWND sheet, int psbtn)
{
    // Posted, not sent: the sheet may answer with a modal message box.
    PostMessageA(sheet, PSM_PRESSBUTTON, psbtn, 0);
}

bool ButtonEnabled(HWND sheet, int id)
{
    HWND button = GetDlgItem(sheet, id);
    return button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button);
}

bool ButtonVisible(HWND sheet, int id)
{
    HWND button = GetDlgItem(sheet, id);
    return button != nullptr && IsWindowVisible(button);
}

static bool HasCaption(HWND window, const void *context)
{
    return IsClass(window, "#32770") && Text(window) == *static_cast<const std::string *>(context);
}

HWND WaitDialog(const std::string &caption, DWORD timeoutMs)
{
    return FindTop(HasCaption, &caption, 0, timeoutMs);
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFile(const std::string &path)
{
    std::string data;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[65536];
    DWORD got;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    CloseHandle(file);
    return data;
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}


void RegWrite(HKEY root, const std::string &key, const std::string &value, const std::string &data)
{
    HKEY opened;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(opened, value.empty() ? nullptr : value.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(data.c_str()), static_cast<DWORD>(data.size() + 1));
        RegCloseKey(opened);
    }
}

void RemoveShortcuts(const std::string &title)
{
    RemoveTree(ShellFolder("Programs") + "\\" + title);
    for (const char *kind : {"Programs", "Desktop", "Startup"})
        RemoveTree(ShellFolder(kind) + "\\" + title + ".lnk");
}

std::string SystemDirectory()
{
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    return dir;
}

std::string RelocationDirectory()
{
    BOOL wow64 = FALSE;
    char dir[MAX_PATH];
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && GetSystemWow64DirectoryA(dir, sizeof dir))
        return dir;
    return SystemDirectory();
}

std::string ImagePath(DWORD pid)
{
    char image[MAX_PATH] = "";
    DWORD size = sizeof image;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return "";
    if (!QueryFullProcessImageNameA(process, 0, image, &size))
        image[0] = '\0';
    CloseHandle(process);
    return image;
}

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], DWORD(text.size()));
    return text;
}

std::string RegRead(HKEY root, const std::string &key, const std::string &value, DWORD *type, DWORD *size)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return "<no key>";
    // Sized by the value itself: the deletions pending at the next start
    // grow past any fixed buffer over a long run, and a value that did not
    // fit would read as missing.
    DWORD length = 0, kind = 0;
    LONG result = RegQueryValueExA(opened, value.c_str(), nullptr, &kind, nullptr, &length);
    std::string buffer(length, '\0');
    if (result == ERROR_SUCCESS && length > 0)
        result = RegQueryValueExA(opened, value.c_str(), nullptr, &kind, reinterpret_cast<BYTE *>(&buffer[0]),
                                  &length);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS)
        return "<no value>";
    if (type)
        *type = kind;
    if (size)
        *size = length;
    if (kind == REG_SZ && length > 0 && buffer[length - 1] == '\0')
        --length;
    return buffer.substr(0, length);
}

bool RegKeyExists(HKEY root, const std::string &key)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

void RegDeleteTree(HKEY root, const std::string &key)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
        char name[256];
        while (RegEnumKeyA(opened, 0, name, sizeof name) == ERROR_SUCCESS) {
            size_t before = key.size();
            RegDeleteTree(opened, name);
            (void)before;
            char again[256];
            if (RegEnumKeyA(opened, 0, again, sizeof again) == ERROR_SUCCESS && lstrcmpA(again, name) == 0)
                break;
        }
        RegCloseKey(opened);
    }
    RegDeleteKeyA(root, key.c_str());
}

std::string ShellFolder(const char *name)
{
    return RegRead(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                   name);
}

static std::string Rectangle(const RECT &r)
{
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

struct Outside {
    HWND top;
    std::string found;
};

static BOOL CALLBACK CheckInside(HWND control, LPARAM lParam)
{
    Outside *outside = reinterpret_cast<Outside *>(lParam);
    if (!IsWindowVisible(control))
        return TRUE;
    RECT rect;
    GetWindowRect(control, &rect);
    for (HWND parent = GetAncestor(control, GA_PARENT); parent != nullptr; parent = GetAncestor(parent, GA_PARENT)) {
        RECT client;
        GetClientRect(parent, &client);
        MapWindowPoints(parent, nullptr, reinterpret_cast<POINT *>(&client), 2);
        if (rect.left < client.left || rect.top < client.top || rect.right > client.right ||
            rect.bottom > client.bottom) {
            outside->found += "control " + std::to_string(GetDlgCtrlID(control)) + " " + Rectangle(rect) +
                              " outside " + Rectangle(client) + "\n";
            break;
        }
        if (parent == outside->top)
            break;
    }
    return TRUE;
}

std::string ControlsOutside(HWND window)
{
    Outside outside = {window, std::string()};
    EnumChildWindows(window, CheckInside, reinterpret_cast<LPARAM>(&outside));
    return outside.found;
}

bool SaveWindowBitmap(HWND window, const std::string &path)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return false;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(200);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files store it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&header), DIB_RGB_COLORS, &bits,
                                   nullptr, 0);
    bool saved = false;
    if (dib != nullptr) {
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + stride * height;
        std::string bytes(reinterpret_cast<const char *>(&file), sizeof file);
        bytes.append(reinterpret_cast<const char *>(&header), sizeof header);
        bytes.append(static_cast<const char *>(bits), stride * height);
        WriteFile(path, bytes);
        saved = Exists(path);
        SelectObject(memory, old);
        DeleteObject(dib);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

bool InstallSample(const std::string &dir, const std::string &installDir, bool desktop, const std::string &shots)
{
    static const char Complete[] = "インストールが完了しました。「完了」を押すと起動します。";
    Process process = Start("\"" + dir + "SETUP.EXE\"", dir);
    bool finished = false;
    HWND sheet = WaitWizard(15000, process.id);
    HWND page = sheet != nullptr ? WaitPage(sheet, 1001) : nullptr;
    auto boxShown = [&] { return FindTop(IsMessageBox, nullptr, process.id, 0) != nullptr; };
    if (page != nullptr && WaitFor([&] { return ButtonEnabled(sheet, 0x3024); }, 5000)) {
        if (!installDir.empty())
            SetItemText(page, 1001, installDir);
        if (!shots.empty())
            SaveWindowBitmap(sheet, shots + "1-destination.bmp");
        Press(sheet, PSBTN_NEXT);
        // A resident product goes straight to the progress page.
        HWND next = nullptr;
        WaitFor([&] {
            next = CurrentPage(sheet);
            return boxShown() || (next != nullptr && (GetDlgItem(next, 1006) || GetDlgItem(next, 1008)));
        }, 10000);
        if (next != nullptr && GetDlgItem(next, 1006) != nullptr && !boxShown()) {
            if (desktop)
                SendMessageA(GetDlgItem(next, 1005), BM_SETCHECK, BST_CHECKED, 0);
            if (!shots.empty())
                SaveWindowBitmap(sheet, shots + "2-options.bmp");
            Press(sheet, PSBTN_NEXT);
            next = WaitPage(sheet, 1008, 10000);
        }
        if (next != nullptr && GetDlgItem(next, 1008) != nullptr &&
            WaitFor([&] { return boxShown() || ItemText(next, 1008) == Complete; }, 60000) && !boxShown() &&
            WaitFor([&] { return ButtonEnabled(sheet, 0x3025); }, 5000)) {
            if (!shots.empty())
                SaveWindowBitmap(sheet, shots + "3-progress.bmp");
            Press(sheet, PSBTN_FINISH);
            finished = WaitExit(process, 20000) == 1;
        }
    }
    Kill(process);
    return finished;
}

static const char TextClass[] = "Software\\Classes\\.txt";
static const char TextType[] = "Software\\Classes\\WizInstallText";

void RegisterTextOpener(const std::string &record)
{
    const std::string cmd = "C:\\windows\\system32\\cmd.exe /c ";
    RegWrite(HKEY_LOCAL_MACHINE, TextClass, "", "WizInstallText");
    RegWrite(HKEY_LOCAL_MACHINE, std::string(TextType) + "\\shell", "", "view");
    RegWrite(HKEY_LOCAL_MACHINE, std::string(TextType) + "\\shell\\open\\command", "",
             cmd + "cd > " + record + " & echo %1>> " + record);
    RegWrite(HKEY_LOCAL_MACHINE, std::string(TextType) + "\\shell\\view\\command", "",
             cmd + "echo view> " + record);
}

void UnregisterTextOpener()
{
    RegDeleteTree(HKEY_LOCAL_MACHINE, TextType);
    RegDeleteTree(HKEY_LOCAL_MACHINE, TextClass);
}

std::string OpenedRecord(const std::string &record)
{
    std::string text;
    WaitFor([&] {
        text = ReadFile(record);
        return std::count(text.begin(), text.end(), '\n') >= 2;
    }, 10000);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

size_t PendingCount(const std::string &name)
{
    std::string pending = Upper(RegRead(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                                        "PendingFileRenameOperations"));
    const std::string entry = std::string(1, '\0') + Upper(name) + '\0' + '\0';
    pending.insert(0, 1, '\0');
    size_t count = 0;
    for (size_t at = pending.find(entry); at != std::string::npos; at = pending.find(entry, at + 1))
        ++count;
    return count;
}

}  // namespace driver
