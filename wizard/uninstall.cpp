// The one record an installation leaves in the registry: the entry in the
// system's list of removable programs. The script loader reads its command
// back to propose the same directory next time.
#include "script/state.h"

static const char UninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// What a copy step left at its destination: the new file, whose size the
// copy counted, or the older one that a failed copy could not replace,
// which is the product's all the same and goes at removal. A copy that left
// nothing adds nothing, so the figure never counts what is not on the disk
// (a directory in the way counts 0).
void AddInstalledSize(int copied)
{
    unsigned long long size = CopiedBytes;
    if (!copied) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(State.entryPath, &found);
        if (search == INVALID_HANDLE_VALUE)
            return;
        FindClose(search);
        size = (unsigned long long)found.nFileSizeHigh << 32 | found.nFileSizeLow;
    }
    // Whole KiB for each file, rounded up as the system shows a file's size.
    State.installedKib += DWORD((size + 1023) >> 10);
}

// RegSetValueExA with its casts, for texts and numbers alike.
static void SetValue(HKEY key, const char *name, DWORD type, const void *data, DWORD size)
{
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size);
}

// An empty text is a value this installation does not have: nothing is
// written, and whatever the key holds under that name stays.
static void SetText(HKEY key, const char *name, const char *text)
{
    if (text[0] != '\0')
        SetValue(key, name, REG_SZ, text, TextLength(text) + 1);
}

static const char *const NumberNames[] = {"EstimatedSize", "NoModify", "NoRepair"};

// Script keys written as they are, when present: as long as Title at most.
static const char *const ScriptValues[][2] = {{"Publisher", "Publisher"}, {"DisplayVersion", "Version"}};

void RegisterUninstall()
{
    char keyPath[sizeof UninstallKeyPrefix + LABEL_SIZE];
    CopyText(keyPath, sizeof keyPath, UninstallKeyPrefix);
    AppendText(keyPath, sizeof keyPath, State.folder);

    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, &disposition) != ERROR_SUCCESS)
        return;
    // DisplayName and UninstallString are always written: the loader
    // refuses an empty Title, and the command is never empty.
    SetText(key, "DisplayName", State.title);

    // The installed copy of the setup program, quoted: installDir may hold blanks.
    char command[1 + INSTALL_DIR_SIZE + NAME_SIZE + sizeof "\" /r /S"];
    CopyText(command, sizeof command, "\"");
    AppendText(command, sizeof command, State.installDir);
    AppendText(command, sizeof command, State.exeName);
    AppendText(command, sizeof command, "\" /r");
    SetText(key, "UninstallString", command);
    // The same command without a question or a window, for the tools that
    // remove software unattended.
    AppendText(command, sizeof command, " /S");
    SetText(key, "QuietUninstallString", command);

    // The icon of the main program, quoted for the blanks of its path. A
    // script without file entries has no program to take it from.
    char icon[1 + PATH_SIZE + sizeof "\",0"];
    icon[0] = '\0';
    LoadFileEntry(1);
    if (State.fileCount > 0 && State.entryPath[0] != '\0')
        wsprintfA(icon, "\"%s\",0", State.entryPath);  // fits: entryPath holds at most 259 bytes
    SetText(key, "DisplayIcon", icon);
    SetText(key, "InstallLocation", State.installDir);
    for (const auto &value : ScriptValues) {
        char text[LABEL_SIZE];
        GetPrivateProfileStringA("Install", value[1], "", text, sizeof text, State.scriptPath);
        SetText(key, value[0], text);
    }

    SYSTEMTIME today;
    GetLocalTime(&today);
    // YYYYMMDD: the system's years have four digits.
    SetText(key, "InstallDate", FormatIndex(today.wYear * 10000u + today.wMonth * 100u + today.wDay));

    // The size, then NoModify and NoRepair, since the program can neither
    // change nor repair an installation.
    DWORD numbers[] = {State.installedKib, 1, 1};
    for (int i = 0; i < 3; ++i)
        SetValue(key, NumberNames[i], REG_DWORD, &numbers[i], sizeof numbers[i]);
    CloseKeyOnce(key);
}
