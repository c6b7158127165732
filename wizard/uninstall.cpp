// The one record an installation leaves in the registry: the entry in the
// system's list of removable programs. The script loader reads its command
// back to propose the same directory next time.
#include "script/state.h"

static const char UninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

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
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE *>(State.title),
                   lstrlenA(State.title) + 1);

    // The installed copy of the setup program, quoted: installDir may hold blanks.
    char command[1 + INSTALL_DIR_SIZE + NAME_SIZE + sizeof "\" /r"];
    CopyText(command, sizeof command, "\"");
    AppendText(command, sizeof command, State.installDir);
    AppendText(command, sizeof command, State.exeName);
    AppendText(command, sizeof command, "\" /r");
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE *>(command),
                   lstrlenA(command) + 1);
    RegCloseKey(key);
}
