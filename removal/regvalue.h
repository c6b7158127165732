// Reading a [Reg] value: a root name, one separator and a key path.
#pragma once

// The key path of a [Reg] value and its root, or nullptr when the value names
// no key below one of the three roots (unknown or lower-case root, or nothing
// after the root and its separator).
const char *SplitRegValue(const char *value, HKEY *root);
// 0 for a key path that is empty or starts with a separator: deleting it
// would start at the root key itself.
int NamesSubkey(const char *path);
