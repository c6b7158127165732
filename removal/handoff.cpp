#include "script/state.h"

void RequestRemoval()
{
}

void RunRemoval()
{
}
