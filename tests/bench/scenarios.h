// SETUP.EXE driven through its windows and timed from outside, and the
// minimal program its start-up is compared with.
#pragma once

#include "product.h"

#include <string>

namespace bench {

// The first step of the install and of the removal waits for a 300 ms timer;
// the figures are given beyond it.
const double FirstTickMs = 300;

struct Timed {
    bool ok = false;
    double workMs = 0;        // the first tick to completion
    double firstStepMs = -1;  // page or dialog shown to the first step seen done (the tick and that step)
    DWORD pid = 0;            // the process timed, for finding it in a trace of the wineserver
    std::string failure;
};

// Installs the product through the wizard (shortcut options cleared) into
// product.installDir; timed from the progress page being shown to Finish
// being enabled. The sheet is then closed; the files and the registration stay.
Timed TimeSetupInstall(const Product &product);

// Removes the installation through the registered command: the confirmation,
// then the removal dialog of the relocated copy, timed from the first file
// deletion (the first tick) to the outcome. A question or an error on the way
// fails the round.
Timed TimeSetupRemoval(const Product &product);

// Process start to SETUP.EXE's destination page, or to the minimal program's
// message box; both windows are then closed. Negative on failure.
double TimeSetupStartup(const Product &product, std::string *failure);
double TimeBoxStartup(std::string *failure);

// A peer's installer or uninstaller, from its process start to its end, as a
// user would start it. Negative on failure: a message box on the way, no end
// within timeoutMs, or an exit status other than 0 (the reason in *failure).
// Its process id goes to *pid when asked for.
double TimePeerRun(const std::string &commandLine, double timeoutMs, std::string *failure, DWORD *pid = nullptr);

// A code page 932 text as UTF-8, for the terminal the figures are printed to.
std::string Printable(const std::string &text);

}  // namespace bench
