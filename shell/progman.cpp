// Placeholder until Program Manager groups land.
#include "script/state.h"

void UpdateProgmanItems(int, int)
{
}
