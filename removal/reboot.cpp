// The removal run cannot delete its own file while it runs, so it leaves the
// deletion to the next start of the machine: through the platform's delayed
// deletion where it has one, else through a NUL= line in the [Rename] section
// of WININIT.INI, which the platform works through at start-up.
#include "script/state.h"
#include "removal/reboot.h"
#include "removal/seams.h"

static HANDLE OpenIniFile(const char *path, DWORD disposition)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Appends the section text at the end of the file, in place of a closing 0x1A
// byte if there is one. 1 when every byte was written; otherwise the file is
// cut back to its former end.
static int AppendSectionText(HANDLE file, const char *text, int used)
{
    DWORD size = SetFilePointer(file, 0, nullptr, FILE_END);
    if (size == INVALID_SET_FILE_POINTER)
        return 0;
    char tail[2] = {0, 0};
    DWORD tailSize = size < 2 ? size : 2;
    DWORD got = 0;
    if (tailSize > 0) {
        SetFilePointer(file, LONG(size - tailSize), nullptr, FILE_BEGIN);
        if (!ReadFile(file, tail + 2 - tailSize, tailSize, &got, nullptr) || got != tailSize)
            return 0;
    }
    DWORD position = size;
    char before = tail[1];
    if (size > 0 && tail[1] == 0x1A) {
        position = size - 1;
        before = tail[0];
    }
    if (SetFilePointer(file, LONG(position), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;

    DWORD written = 0;
    int ok = 1;
    // A last line without its line break would swallow "[Rename]" and put the
    // new line into the section before it.
    if (position > 0 && before != '\n')
        ok = WriteFile(file, "\r\n", 2, &written, nullptr) && written == 2;
    if (ok)
        ok = WriteFile(file, text, DWORD(used), &written, nullptr) && written == DWORD(used);
    if (!ok) {
        SetFilePointer(file, LONG(size), nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
    return ok;
}

int AddWininitDeletion(const char *iniPath, const char *shortPath)
{
    // Zeroed: what a reader leaves unwritten is never taken for lines.
    char *lines = static_cast<char *>(GlobalAlloc(GPTR, SECTION_SIZE));
    char *text = static_cast<char *>(GlobalAlloc(GPTR, SECTION_SIZE));
    int done = 0;
    if (lines != nullptr && text != nullptr) {
        // A missing file is the rule on Windows 95, whose start-up renames
        // the file it has worked through: it has no lines, whatever a reader
        // would make of it.
        int missing = GetFileAttributesA(iniPath) == INVALID_FILE_ATTRIBUTES;
        // Windows 95 takes at most 32,767 characters for a section.
        DWORD got = missing ? 0 : GetPrivateProfileSectionA("Rename", lines, SECTION_READ_SIZE, iniPath);
        if (got == 0 || got >= SECTION_READ_SIZE)
            lines[0] = lines[1] = '\0';
        int used = 0;
        // A section that fills what was asked for has been cut by the reader.
        if (got < SECTION_READ_SIZE - 2 && BuildRenameSection(lines, shortPath, text, &used)) {
            // The section is only deleted once the file is known to take the
            // rebuilt text; a file that is read-only stays as it is. A missing
            // file is made, or nothing would be deleted.
            HANDLE file = OpenIniFile(iniPath, missing ? CREATE_NEW : OPEN_EXISTING);
            if (file != INVALID_HANDLE_VALUE) {
                CloseOnce(file);
                WritePrivateProfileStringA("Rename", nullptr, nullptr, iniPath);
                WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniPath);
                file = OpenIniFile(iniPath, OPEN_EXISTING);
                if (file != INVALID_HANDLE_VALUE) {
                    done = AppendSectionText(file, text, used);
                    CloseOnce(file);
                }
                if (!done && missing)
                    DeleteFileA(iniPath);
                if (!done && lines[0] != '\0') {
                    // Whatever went wrong, the deletions pending before ours stay pending.
                    WritePrivateProfileSectionA("Rename", lines, iniPath);
                    WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniPath);
                }
            }
        }
    }
    if (text != nullptr)
        GlobalFree(text);
    if (lines != nullptr)
        GlobalFree(lines);
    return done;
}

void ScheduleDeleteAtReboot(const char *path)
{
    if (!TestRefuses("MoveFileExA") && MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return;

    char iniPath[PATH_SIZE];
    UINT len = GetWindowsDirectoryA(iniPath, sizeof iniPath);
    if (len == 0 || len >= sizeof iniPath - 1)
        return;
    AddTrailingBackslash(iniPath);
    if (!AppendText(iniPath, sizeof iniPath, "WININIT.INI"))
        return;

    // The start-up processing reads 8.3 names only.
    char shortPath[PATH_SIZE];
    DWORD shortLen = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (shortLen == 0 || shortLen >= sizeof shortPath)
        return;
    AddWininitDeletion(iniPath, shortPath);
}
