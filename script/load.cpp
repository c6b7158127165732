// Reading the setup script into the shared record. The script is read only
// through the profile functions, one key at a time.
#include "script/state.h"

static const char UninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

const char BrokenScriptText[] = "設定ファイルが壊れているか、または見つかりません。";

void ReportBrokenScript()
{
    Ask(nullptr, BrokenScriptText, nullptr, MB_ICONERROR | MB_OK);
}

void ReadDefaultInstallDir()
{
    char windowsDir[PATH_SIZE];
    if (GetWindowsDirectoryA(windowsDir, sizeof windowsDir) != 0 && windowsDir[1] == ':') {
        State.installDir[0] = windowsDir[0];
        State.installDir[1] = ':';
        State.installDir[2] = '\0';
        AppendText(State.installDir, INSTALL_DIR_SIZE, "\\Program Files\\");
    } else {
        CopyText(State.installDir, INSTALL_DIR_SIZE, "c:\\");
    }
    // At most 17 + 99 + 1 bytes: always fits.
    AppendText(State.installDir, INSTALL_DIR_SIZE, State.folder);
    AppendText(State.installDir, INSTALL_DIR_SIZE, "\\");
}

static void ReadRegisteredInstallDir()
{
    char keyPath[sizeof UninstallKeyPrefix + LABEL_SIZE];
    CopyText(keyPath, sizeof keyPath, UninstallKeyPrefix);
    AppendText(keyPath, sizeof keyPath, State.folder);

    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char command[PATH_SIZE + 1];
    DWORD size = PATH_SIZE;
    if (RegQueryValueExA(key, "UninstallString", nullptr, nullptr,
                         reinterpret_cast<BYTE *>(command), &size) == ERROR_SUCCESS) {
        // The stored value need not carry its terminator.
        command[size < DWORD(PATH_SIZE) ? size : DWORD(PATH_SIZE)] = '\0';
        ReadPreviousInstallDir(command, State.installDir, INSTALL_DIR_SIZE);
    }
    CloseKeyOnce(key);
}

int LoadSetupScript()
{
    GetPrivateProfileStringA("Install", "Title", "", State.title, LABEL_SIZE, State.scriptPath);
    GetPrivateProfileStringA("Install", "Folder", "", State.folder, LABEL_SIZE, State.scriptPath);
    if (State.title[0] == '\0' || State.folder[0] == '\0') {
        ReportBrokenScript();
        return 0;
    }

    char tsr[10];
    GetPrivateProfileStringA("Install", "TSR", "", tsr, sizeof tsr, State.scriptPath);
    if (tsr[0] == '1')
        State.resident = 1;

    ReadDefaultInstallDir();
    ReadRegisteredInstallDir();

    State.fileCount = 0;
    LoadFileEntry(1);
    while (State.entryName[0] != '\0') {
        ++State.fileCount;
        LoadFileEntry(State.fileCount + 1);
    }
    State.groupCount = 0;
    LoadGroupEntry(1);
    while (State.entryName[0] != '\0') {
        ++State.groupCount;
        LoadGroupEntry(State.groupCount + 1);
    }
    return 1;
}

void LoadFileEntry(int n)
{
    if (n == -1)
        CopyText(State.entryName, PATH_SIZE, State.exeName);
    else if (n == 0)
        CopyText(State.entryName, PATH_SIZE, State.scriptName);
    else
        GetPrivateProfileStringA("Install", FormatIndex(n), "", State.entryName, PATH_SIZE, State.scriptPath);

    SplitFileEntry();
}

void LoadGroupEntry(int n)
{
    GetPrivateProfileStringA("Group", FormatIndex(n), "", State.entryName, PATH_SIZE, State.scriptPath);
    SplitGroupEntry();
}

int IsFileEntrySound(int n)
{
    // One byte more than any field takes: a value that fills it was cut,
    // and a cut path names some other file.
    char value[PATH_SIZE + 1];
    if (GetPrivateProfileStringA("Install", FormatIndex(unsigned(n)), "", value, sizeof value, State.scriptPath) >=
        PATH_SIZE)
        return 0;
    char *comma = FindCharMbcs(value, ',');
    return RelativePathFault(comma != nullptr ? comma + 1 : value) == PathSound;
}
