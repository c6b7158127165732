// The desktop's window as the shell's window list knows it: where Finish
// asks the shell, which runs as the signed-in user, to start the product.
#pragma once
#include <windows.h>
#include <oaidl.h>

// Its dispatch interface, to be released; none while the desktop's shell
// does not serve its window (not started yet, or none at all).
IDispatch *DesktopWindow();
