// Placeholder until the removal engine lands.
#include "script/state.h"

int RemoveInstallation()
{
    return 0;
}
