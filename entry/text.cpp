// Text utilities shared by every part of the program. All text is ANSI in the
// system code page, which for this program is double-byte (code page 932): a
// lead byte and the byte after it form one character, and that second byte may
// equal an ASCII separator such as the backslash (0x5C).
#include "script/state.h"

// One place that calls lstrlenA, for every text of the program: each place
// that calls an imported function directly costs the 32-bit program an entry
// among its relocations.
__attribute__((noinline)) int TextLength(const char *text)
{
    return lstrlenA(text);
}

char *FormatIndex(unsigned int number)
{
    // Key names of numbered entries; one static buffer, overwritten by each call.
    static char buffer[32];
    wsprintfA(buffer, "%u", number);
    return buffer;
}

char *FindCharMbcs(const char *text, char wanted)
{
    const char *p = text;
    for (;;) {
        if (*p == '\0')
            return nullptr;
        // Compare before the lead-byte test: the sought character is always single-byte.
        if (*p == wanted)
            return const_cast<char *>(p);
        if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            if (p[1] == '\0')
                return nullptr;  // a lone lead byte at the end: never read past the terminator
            p += 2;
        } else {
            p += 1;
        }
    }
}

int IsDbcsTrailByte(const char *text, int offset)
{
    int pos = 0;
    while (pos < offset) {
        if (text[pos] == '\0')
            return 0;
        // A lone lead byte before the terminator pairs with nothing: stepping
        // two would walk past the end of the text.
        if (IsDBCSLeadByte(static_cast<BYTE>(text[pos])) && text[pos + 1] != '\0')
            pos += 2;
        else
            pos += 1;
    }
    return pos > offset;
}

void AddTrailingBackslash(char *path)
{
    int len = TextLength(path);
    if (len >= 1 && path[len - 1] == '\\' && !IsDbcsTrailByte(path, len - 1))
        return;
    path[len] = '\\';
    path[len + 1] = '\0';
}

int CopyText(char *dest, int destSize, const char *src)
{
    // Refuses rather than cuts: a cut path would name a different file.
    int len = TextLength(src);
    if (destSize <= 0 || len >= destSize)
        return 0;
    CopyMemory(dest, src, len + 1);
    return 1;
}

int AppendText(char *dest, int destSize, const char *src)
{
    int used = TextLength(dest);
    if (used >= destSize)
        return 0;
    return CopyText(dest + used, destSize - used, src);
}
