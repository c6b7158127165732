// Reading a [Reg] value: a root name, one separator and a key path.
#pragma once

// The key path of a [Reg] value and its root, or nullptr when the value names
// no key below one of the three roots (unknown or lower-case root, or nothing
// after the root and its separator).
const char *SplitRegValue(const char *value, HKEY *root);
// 0 for a key path with an empty level (empty, or a separator at its start,
// its end or twice in a row): deleting it would start at a key above the one meant.
int NamesSubkey(const char *path);
