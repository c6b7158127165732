// Process entry. Kept apart from start-up so that tests link everything else.
#include "script/state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return StartSetup(instance, GetCommandTail(GetCommandLineA()));
}
