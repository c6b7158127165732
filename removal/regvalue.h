// Reading a [Reg] value: a root name, one separator and a key path.
#pragma once

// Copies the key path into normal with its empty levels dropped, as the
// registry reads them ("Software\\Maker\" is "Software\Maker"). The number of
// levels that remain, or -1 when they do not fit into size bytes.
int NormalizeKeyPath(const char *path, char *normal, int size);

// The root of a [Reg] value and its key path, normalised into subkey. 1 when
// the value names a key at least two levels below one of the three roots;
// 0 for an unknown or lower-case root, for the root itself and for a key
// directly below it (Software, SOFTWARE, SYSTEM, a class of every program),
// whose deletion would take other programs' keys with it, and for a shared key.
// 1 for a normalised key path that other programs keep their data under
// (Software\Microsoft, ...\CurrentVersion\Run and the like, in any letter
// case), whose deletion would take their keys with it.
int IsSharedKey(const char *normal);

int SplitRegValue(const char *value, HKEY *root, char *subkey, int size);
