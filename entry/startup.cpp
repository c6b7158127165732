// Start-up: derives the program's own paths and the script's path, decides the
// shell generation, loads the script and hands the process to one mode.
#include "script/state.h"

// Everything from the paths to the end of the mode; StartSetup lets go of
// what this took, however it ends.
static void RunSetup(HINSTANCE instance, const char *tail)
{
    State.instance = instance;
    State.newShell = LOBYTE(LOWORD(GetVersion())) > 3;
    GetModuleFileNameA(instance, State.modulePath, PATH_SIZE);

    const char *setupPath, *folder;
    SetupMode mode = ReadCommand(tail, &setupPath, &folder);
    if (mode != ModeRunRemoval)
        setupPath = State.modulePath;
    // Whatever ends the run before its mode begins is the script's fault.
    State.exitStatus = StatusBrokenScript;

    // A path whose parts cannot be held names no script we could read.
    if (!DeriveSetupPaths(setupPath)) {
        ReportBrokenScript();
        return;
    }
    // A packaged program obeys only the script it was packaged with, and an
    // installation copies no entry that could write outside its directory.
    if (!CheckBoundScript()) {
        ReportBrokenScript();
        return;
    }
    if (!LoadSetupScript())
        return;
    // The rule the checker applies: a Title or Folder it calls an error would
    // make the Start menu's folder, or the installation's, another's.
    if (!IsSoundLabel(State.title, 0) || !IsSoundLabel(State.folder, 1)) {
        ReportBrokenScript();
        return;
    }
    if (mode == ModeInstall) {
        for (int n = 1; n <= State.fileCount; ++n) {
            if (!IsFileEntrySound(n)) {
                ReportBrokenScript();
                return;
            }
        }
        // /D= names the installation folder, quoted or not, as the
        // destination page would take it; what does not fit is refused there.
        if (folder != nullptr) {
            int quoted = *folder == '"';
            if (!CopyText(State.installDir, PATH_SIZE, folder + quoted))
                State.installDir[0] = '\0';
            int length = TextLength(State.installDir);
            if (quoted && length > 0 && State.installDir[length - 1] == '"')
                State.installDir[length - 1] = '\0';
            AddTrailingBackslash(State.installDir);
        }
    }

    State.exitStatus = StatusDone;
    switch (mode) {
    case ModeRequestRemoval:
        RequestRemoval();
        break;
    case ModeRunRemoval:
        RunRemoval();
        break;
    default:
        RunInstallWizard();
        break;
    }
}

int StartSetup(HINSTANCE instance, const char *tail)
{
    RunSetup(instance, tail);
    // The private copy of a packaged script and its folder go with the process.
    ReleaseBoundScript();
    return State.silent ? State.exitStatus : 1;
}
