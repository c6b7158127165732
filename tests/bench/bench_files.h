// Names of the generated product's files. The benchmark's product script and
// the bare loops take them from here, so both touch exactly the same files.
#pragma once

#include <cstdio>
#include <string>

namespace bench {

// Numbered data file n (1-based); five digits keep the names one length up to 99,999 entries.
inline std::string DataFileName(int n)
{
    char name[32];
    std::snprintf(name, sizeof name, "F%05d.DAT", n);
    return name;
}

// Every file an installation of count entries puts into the installation
// directory, in the order setup copies them: itself, its script, the entries.
inline std::string InstalledFileName(int index)
{
    if (index == -1)
        return "SETUP.EXE";
    if (index == 0)
        return "SETUP.INF";
    return DataFileName(index);
}

}  // namespace bench
