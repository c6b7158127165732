// The floor the installation and the removal are measured against: the same
// file work as setup, with nothing around it.
//   BENCHBARE copy SOURCEDIR DESTDIR COUNT   makes DESTDIR, then CopyFileA and
//                                            SetFileAttributesA(normal) per file
//   BENCHBARE delete DESTDIR COUNT           DeleteFileA per file, last entry
//                                            first, then removes DESTDIR
// Directories come without their trailing backslash, which a quoted argument
// could not end in. Prints the loop's own time in microseconds and the number
// of calls that failed.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_files.h"

static double Microseconds(const LARGE_INTEGER &from, const LARGE_INTEGER &to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

int main(int argc, char **argv)
{
    bool copy = argc == 5 && std::strcmp(argv[1], "copy") == 0;
    bool remove = argc == 4 && std::strcmp(argv[1], "delete") == 0;
    if (!copy && !remove) {
        std::fprintf(stderr, "usage: BENCHBARE copy SOURCEDIR DESTDIR COUNT | delete DESTDIR COUNT\n");
        return 2;
    }
    const std::string source = copy ? std::string(argv[2]) + "\\" : "";
    const std::string destDir = copy ? argv[3] : argv[2];
    const std::string dest = destDir + "\\";
    const int count = std::atoi(argv[argc - 1]);

    // Paths are composed before the clock starts: composing text is not the
    // file work compared here.
    std::vector<std::string> from, to;
    for (int i = -1; i <= count; ++i) {
        from.push_back(source + bench::InstalledFileName(i));
        to.push_back(dest + bench::InstalledFileName(i));
    }

    int failed = 0;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (copy) {
        if (!CreateDirectoryA(destDir.c_str(), nullptr))
            ++failed;
        for (size_t i = 0; i < to.size(); ++i) {
            if (!CopyFileA(from[i].c_str(), to[i].c_str(), FALSE))
                ++failed;
            else if (!SetFileAttributesA(to[i].c_str(), FILE_ATTRIBUTE_NORMAL))
                ++failed;
        }
    } else {
        for (size_t i = to.size(); i-- > 0;)
            if (!DeleteFileA(to[i].c_str()))
                ++failed;
        if (!RemoveDirectoryA(destDir.c_str()))
            ++failed;
    }
    QueryPerformanceCounter(&end);

    std::printf("%.0f %d\n", Microseconds(start, end), failed);
    return failed == 0 ? 0 : 1;
}
