#include "product.h"

#include "bench_files.h"
#include "driver.h"
#include "testpaths.h"

#include <cstdio>
#include <cstdlib>

namespace bench {

static std::string WithoutBackslash(const std::string &dir)
{
    return dir.substr(0, dir.size() - 1);
}

Product DescribeProduct(const std::string &name, const std::string &title, const std::string &folder, int count,
                        DWORD size)
{
    Product product;
    product.dist = "C:\\bench\\" + name + "\\";
    product.title = title;
    product.folder = folder;
    product.installDir = "C:\\Program Files\\" + folder + "\\";
    product.count = count;
    product.size = size;
    return product;
}

Product MakeProduct(const std::string &name, const std::string &title, const std::string &folder, int count,
                    DWORD size)
{
    Product product = DescribeProduct(name, title, folder, count, size);
    driver::RemoveTree(WithoutBackslash(product.dist));
    CreateDirectoryA("C:\\bench", nullptr);
    CreateDirectoryA(product.dist.c_str(), nullptr);
    CopyFileA(TEST_SETUP_EXE, (product.dist + "SETUP.EXE").c_str(), FALSE);

    // No [Group] and no Open: the figures are about the files.
    std::string script = "[Install]\r\nTitle=" + title + "\r\nFolder=" + folder + "\r\n";
    std::string bytes(size, '\0');
    for (int n = 1; n <= count; ++n) {
        // Each file differs from the others, so nothing below can share them:
        // the pattern alone comes round again every 256 files, and makensis
        // stores equal files once, so each file also begins with its number.
        for (DWORD i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i < 4 ? (n >> (8 * i)) & 0xFF : (i * 131 + n * 7) & 0xFF);
        std::string file = DataFileName(n);
        driver::WriteFile(product.dist + file, bytes);
        script += std::to_string(n) + "=" + file + "\r\n";
    }
    driver::WriteFile(product.dist + "SETUP.INF", script);
    return product;
}

std::string UninstallKey(const Product &product)
{
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product.folder;
}

int CountBadInstalledFiles(const Product &product)
{
    if (!driver::IsDirectory(WithoutBackslash(product.installDir)))
        return -1;
    int bad = 0;
    for (int i = -1; i <= product.count; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::string path = product.installDir + InstalledFileName(i);
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            ++bad;
        else if (i >= 1 && (data.nFileSizeHigh != 0 || data.nFileSizeLow != product.size))
            ++bad;
    }
    return bad;
}

bool InstallationGone(const Product &product)
{
    return !driver::Exists(WithoutBackslash(product.installDir)) &&
           !driver::RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey(product));
}

void ClearInstallation(const Product &product)
{
    driver::RemoveTree(WithoutBackslash(product.installDir));
    driver::RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey(product));
}

static std::string ProgramBeside(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of('\\') + 1) + name;
}

bool RunBeside(const char *program, const std::string &arguments, std::string *output)
{
    // The growth rounds' loops over 10,000 entries take tens of seconds.
    return driver::RunCaptured("\"" + ProgramBeside(program) + "\" " + arguments, "", output, 300000) >= 0;
}

// Runs the bare loop and reads its "microseconds failures".
static double RunBare(const std::string &arguments, std::string *failure)
{
    std::string output;
    if (!RunBeside("BENCHBARE.EXE", arguments, &output)) {
        *failure = "BENCHBARE.EXE did not run to its end";
        return -1;
    }
    double microseconds = 0;
    int failed = 0;
    if (std::sscanf(output.c_str(), "%lf %d", &microseconds, &failed) != 2) {
        *failure = "unreadable bare loop output: " + output;
        return -1;
    }
    if (failed != 0) {
        *failure = std::to_string(failed) + " calls of the bare loop failed";
        return -1;
    }
    return microseconds / 1000.0;
}

double RunBareCopy(const Product &product, std::string *failure)
{
    return RunBare("copy \"" + WithoutBackslash(product.dist) + "\" \"" + WithoutBackslash(product.installDir) + "\" " +
                       std::to_string(product.count),
                   failure);
}

double RunBareDelete(const Product &product, std::string *failure)
{
    return RunBare("delete \"" + WithoutBackslash(product.installDir) + "\" " + std::to_string(product.count),
                   failure);
}

void WriteNsisScript(const Product &product, const std::string &installerPath)
{
    // makensis runs on the host in the script's directory: the files are
    // named relative to it, and the installer's path is given as the host
    // sees it by the caller.
    std::string script =
        "; The benchmark's product as an NSIS installer: no compression, no CRC\r\n"
        "; check, the progress page only, closed at its end.\r\n"
        "Name \"BenchNsis\"\r\nOutFile \"" + installerPath + "\"\r\n"
        "InstallDir \"" + WithoutBackslash(NsisInstallDir) + "\"\r\n"
        "SetCompress off\r\nCRCCheck off\r\nRequestExecutionLevel user\r\n"
        "ShowInstDetails nevershow\r\nShowUninstDetails nevershow\r\nAutoCloseWindow true\r\n"
        "Page instfiles\r\nUninstPage instfiles\r\n"
        "Section\r\n  SetOutPath \"$INSTDIR\"\r\n";
    for (int n = 1; n <= product.count; ++n)
        script += "  File \"" + DataFileName(n) + "\"\r\n";
    script += "  WriteUninstaller \"$INSTDIR\\uninst.exe\"\r\nSectionEnd\r\n"
              "Section \"Uninstall\"\r\n";
    for (int n = product.count; n >= 1; --n)
        script += "  Delete \"$INSTDIR\\" + DataFileName(n) + "\"\r\n";
    script += "  Delete \"$INSTDIR\\uninst.exe\"\r\n  RMDir \"$INSTDIR\"\r\n  SetAutoClose true\r\nSectionEnd\r\n";
    driver::WriteFile(product.dist + NsisScriptName, script);
}

int CountBadNsisFiles(const Product &product)
{
    if (!driver::IsDirectory(WithoutBackslash(NsisInstallDir)))
        return -1;
    int bad = 0;
    for (int n = 1; n <= product.count; ++n) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::string path = NsisInstallDir + DataFileName(n);
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeHigh != 0 ||
            data.nFileSizeLow != product.size)
            ++bad;
    }
    return bad;
}

}  // namespace bench
