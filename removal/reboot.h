// The WININIT.INI route of ScheduleDeleteAtReboot, kept apart so that it can
// be tried on any file, also where the platform's delayed deletion works.
#pragma once

// Adds "NUL=" + shortPath to the [Rename] section of the file iniPath,
// keeping every line already pending there. 1 when the line was written; 0
// when the file was left as it was.
int AddWininitDeletion(const char *iniPath, const char *shortPath);
