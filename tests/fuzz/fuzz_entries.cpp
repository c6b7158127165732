// Splitting script values into their fields, and the previous installation
// directory read back from a stored uninstall command. Whatever the bytes:
// nothing is written outside a field, a destination is either joined whole
// to installDir or refused, and the directory read back is a prefix of the
// command ending in a backslash.
#include <stdlib.h>
#include <string>
#include "script/state.h"

SetupState State;

static void Check(bool condition)
{
    if (!condition)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 1200)
        return 0;
    // First byte: what to test and how long installDir is; the rest: the value.
    int kind = data[0] % 3;
    std::string value(reinterpret_cast<const char *>(data + 1), size - 1);
    value = value.substr(0, strnlen(value.c_str(), value.size()));

    memset(&State, 0xA5, sizeof State);
    if (kind == 2) {
        // A stored command: at most 260 bytes arrive from the registry.
        std::string command = value.substr(0, PATH_SIZE);
        char dir[INSTALL_DIR_SIZE + 8];
        memset(dir, 0x5A, sizeof dir);
        if (ReadPreviousInstallDir(command.c_str(), dir, INSTALL_DIR_SIZE)) {
            std::string got(dir);
            Check(got.size() < INSTALL_DIR_SIZE);
            std::string body = command[0] == '"' ? command.substr(1) : command;
            Check(body.compare(0, got.size(), got) == 0);
            Check(got == body || (!got.empty() && got.back() == '\\'));
        }
        for (size_t i = INSTALL_DIR_SIZE; i < sizeof dir; ++i)
            Check(dir[i] == 0x5A);
        return 0;
    }

    size_t dirLen = data[0] / 3 % 200 + 60;  // up to 259 bytes of installDir
    std::string installDir(dirLen, 'D');
    installDir.back() = '\\';
    memcpy(State.installDir, installDir.c_str(), dirLen + 1);
    std::string entry = value.substr(0, PATH_SIZE - 1);  // the reader's cut
    memcpy(State.entryName, entry.c_str(), entry.size() + 1);
    SetupState before = State;

    if (kind == 0)
        SplitFileEntry();
    else
        SplitGroupEntry();

    Check(memchr(State.entryName, 0, PATH_SIZE) != nullptr);
    Check(memcmp(State.installDir, before.installDir, sizeof State.installDir) == 0);
    Check(memcmp(State.title, before.title, sizeof State.title) == 0);
    Check(State.fileCount == before.fileCount && State.stepIndex == before.stepIndex);
    std::string name(State.entryName);
    Check(entry.compare(0, name.size(), name) == 0);
    if (kind == 1 && name.empty() && (entry.empty() || entry[0] != ',')) {
        // No comma: the list ends; entryPath untouched. (An empty caption
        // also ends the list, but its target is still joined.)
        Check(memcmp(State.entryPath, before.entryPath, PATH_SIZE) == 0);
        return 0;
    }
    Check(memchr(State.entryPath, 0, PATH_SIZE) != nullptr);
    std::string path(State.entryPath);
    std::string rest = name.size() < entry.size() ? entry.substr(name.size() + 1) : name;
    if (path.empty()) {
        Check(installDir.size() + rest.size() >= PATH_SIZE);  // refused only when it cannot fit
    } else {
        Check(path == installDir + rest);
        if (kind == 0)
            Check(State.entryTail == State.entryPath + installDir.size());
    }
    if (kind == 1)
        Check(State.entryTail == before.entryTail);
    return 0;
}
