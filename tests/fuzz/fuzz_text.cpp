// Double-byte search, trail-byte rule, trailing backslash and the bounded
// copies, on arbitrary bytes. Each property is checked against a walk of the
// text that is written out here independently.
#include <stdlib.h>
#include "script/state.h"

static void Check(bool condition)
{
    if (!condition)
        abort();
}

// Offsets at which a character starts, stepping as code page 932 does.
static bool StartsCharacter(const char *text, int offset)
{
    int pos = 0;
    while (pos < offset && text[pos] != '\0')
        pos += (IsDBCSLeadByte(static_cast<BYTE>(text[pos])) && text[pos + 1] != '\0') ? 2 : 1;
    return pos == offset;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 600)
        return 0;
    char wanted = static_cast<char>(data[0] & 0x7F);  // callers only search single-byte characters
    int destSize = data[1] % 64;
    int len = static_cast<int>(size) - 2;
    char *text = static_cast<char *>(malloc(len + 1));
    memcpy(text, data + 2, len);
    text[len] = '\0';
    int real = lstrlenA(text);

    char *found = FindCharMbcs(text, wanted);
    if (wanted == '\0') {
        Check(found == nullptr);
    } else if (found != nullptr) {
        int at = static_cast<int>(found - text);
        Check(at >= 0 && at < real && *found == wanted);
        Check(StartsCharacter(text, at) && !IsDbcsTrailByte(text, at));
        for (int i = 0; i < at; ++i)
            Check(text[i] != wanted || !StartsCharacter(text, i));
    } else {
        for (int i = 0; i < real; ++i)
            Check(text[i] != wanted || !StartsCharacter(text, i));
    }

    for (int i = 0; i <= real; ++i)
        Check(IsDbcsTrailByte(text, i) == !StartsCharacter(text, i));

    // Room for exactly two more bytes, as the callers guarantee.
    char *path = static_cast<char *>(malloc(real + 2));
    memcpy(path, text, real + 1);
    AddTrailingBackslash(path);
    int after = lstrlenA(path);
    // Unchanged only when the text already ended in a real backslash; else one is appended
    // (after a lone lead byte it pairs with that byte: such text was no valid path anyway).
    bool endedInBackslash = real >= 1 && text[real - 1] == '\\' && !IsDbcsTrailByte(text, real - 1);
    Check(after == (endedInBackslash ? real : real + 1));
    Check(path[after - 1] == '\\');
    Check(memcmp(path, text, real) == 0);
    free(path);

    // Bounded copies either fit whole or leave the destination untouched.
    char *dest = static_cast<char *>(malloc(destSize + 1));
    memset(dest, 'Z', destSize + 1);
    if (destSize > 0)
        dest[0] = '\0';
    int copied = CopyText(dest, destSize, text);
    Check(copied == (real < destSize));
    if (copied)
        Check(strcmp(dest, text) == 0);
    else if (destSize > 0)
        Check(dest[0] == '\0');
    Check(dest[destSize] == 'Z');
    if (destSize > 0) {
        int before = lstrlenA(dest);
        int appended = AppendText(dest, destSize, text);
        Check(appended == (before + real < destSize));
        Check(lstrlenA(dest) == (appended ? before + real : before));
        Check(dest[destSize] == 'Z');
    }
    free(dest);
    free(text);
    return 0;
}
