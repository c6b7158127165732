// The generated products the benchmark installs, and the bare loops that do
// the same file work without setup around it.
#pragma once

#include <windows.h>
#include <string>

namespace bench {

struct Product {
    std::string dist;        // distribution directory, with its backslash
    std::string title;
    std::string folder;
    std::string installDir;  // where every round installs, with its backslash
    int count = 0;           // numbered file entries
    DWORD size = 0;          // bytes of each numbered file
};

// A distribution directory C:\bench\<name>\ holding SETUP.EXE, count files of
// size bytes each and a script that lists them in order.
Product MakeProduct(const std::string &name, const std::string &title, const std::string &folder, int count,
                    DWORD size);
// The same product as MakeProduct made it before, without touching its files.
Product DescribeProduct(const std::string &name, const std::string &title, const std::string &folder, int count,
                        DWORD size);

std::string UninstallKey(const Product &product);

// Files of a finished installation that are missing or of the wrong size
// (the implicit entries only need to be there); -1 when the directory is gone.
int CountBadInstalledFiles(const Product &product);
bool InstallationGone(const Product &product);
// Removes whatever a round left: the installation directory and the registration.
void ClearInstallation(const Product &product);

// Runs a console program of ours that lies beside this one and collects what
// it prints; false when it could not be started or did not end.
bool RunBeside(const char *program, const std::string &arguments, std::string *output);

// Runs the bare copy or delete loop over the product's files; returns the
// loop's own time in milliseconds, or a negative value when it failed (the
// reason in *failure).
double RunBareCopy(const Product &product, std::string *failure);
double RunBareDelete(const Product &product, std::string *failure);

// The same files as a peer's installer: an NSIS script beside the product's
// files (NsisScriptName), uncompressed, that installs them into NsisInstallDir
// with its progress page only and an uninstaller that deletes them one by one.
// tools/bench.sh compiles it with makensis on the host.
const char NsisScriptName[] = "NSISBENCH.NSI";
const char NsisInstallDir[] = "C:\\Program Files\\BenchNsis\\";
void WriteNsisScript(const Product &product, const std::string &installerPath);
// The NSIS installation as the installer left it: its files, missing or of
// the wrong size; -1 when the directory is gone.
int CountBadNsisFiles(const Product &product);

}  // namespace bench
