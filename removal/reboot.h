// The WININIT.INI route of ScheduleDeleteAtReboot, kept apart so that it can
// be tried on any file, also where the platform's delayed deletion works.
#pragma once

// Adds "NUL=" + shortPath to the [Rename] section of the file iniPath,
// keeping every line already pending there, and makes the file when there
// is none. 1 when the line was written; 0 when the file was left as it was.
int AddWininitDeletion(const char *iniPath, const char *shortPath);

enum {
    SECTION_SIZE = 0x8000,  // each work block
    SECTION_READ_SIZE = 0x7FFF,  // the most a section read may be given on every system
    SECTION_LIMIT = 30000   // more section text than this is not written back
};

// Builds "[Rename]" CR LF, each of the NUL-separated lines (a list ended by an
// empty line, as GetPrivateProfileSectionA gives it) with CR LF, and
// "NUL=" + shortPath CR LF into text, a block of SECTION_SIZE bytes; *used is
// its length (no terminator). 0 when the text would pass SECTION_LIMIT.
int BuildRenameSection(const char *lines, const char *shortPath, char *text, int *used);
