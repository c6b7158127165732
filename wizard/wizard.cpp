#include "script/state.h"

void RunInstallWizard()
{
}
