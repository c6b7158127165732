// Placeholder until shell links land.
#include "script/state.h"

void UpdateShellItems(int, int)
{
}
