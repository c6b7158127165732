#include "script/state.h"

SetupState State;

void ResetSetupState()
{
    ZeroMemory(&State, sizeof State);
}
