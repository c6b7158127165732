// Console output. The checker's texts are code page 932 in the binary, like
// the rest of the program; a console set to another code page gets them
// converted, so that a maker's terminal shows Japanese rather than mojibake.
#include "checker/checker.h"

CheckState Check;

static const UINT TextCodePage = 932;

static char pending[8192];
static int pendingLength;

static UINT OutputCodePage()
{
    UINT codePage = GetConsoleOutputCP();
    // No console at all (output piped by a process without one): the code
    // page a console would start with.
    return codePage != 0 ? codePage : GetOEMCP();
}

static void WriteConverted(const char *text, int length)
{
    static wchar_t wide[sizeof pending];
    static char converted[sizeof pending * 3];
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written;
    DWORD mode;
    if (GetConsoleMode(handle, &mode)) {
        int count = MultiByteToWideChar(TextCodePage, 0, text, length, wide, sizeof pending);
        WriteConsoleW(handle, wide, count, &written, nullptr);
        return;
    }
    UINT codePage = OutputCodePage();
    if (codePage == TextCodePage) {
        WriteFile(handle, text, length, &written, nullptr);
        return;
    }
    int count = MultiByteToWideChar(TextCodePage, 0, text, length, wide, sizeof pending);
    int bytes = WideCharToMultiByte(codePage, 0, wide, count, converted, sizeof converted, nullptr, nullptr);
    WriteFile(handle, converted, bytes, &written, nullptr);
}

void FlushOutput()
{
    if (pendingLength > 0)
        WriteConverted(pending, pendingLength);
    pendingLength = 0;
}

void Print(const char *text)
{
    int length = lstrlenA(text);
    while (length > 0) {
        if (pendingLength == sizeof pending)
            FlushOutput();
        int room = sizeof pending - pendingLength;
        int take = length < room ? length : room;
        // Never part a double-byte character between two conversions.
        // cppcheck-suppress knownConditionTrueFalse ; false when the text fits, true when room is short
        if (take < length && IsDbcsTrailByte(text, take))
            --take;
        if (take == 0) {
            FlushOutput();
            continue;
        }
        CopyMemory(pending + pendingLength, text, take);
        pendingLength += take;
        text += take;
        length -= take;
    }
}

void PrintNumber(unsigned long long number)
{
    char digits[24];
    int at = sizeof digits - 1;
    digits[at] = '\0';
    do {
        digits[--at] = char('0' + number % 10);
        number /= 10;
    } while (number != 0);
    Print(digits + at);
}

void ReportFinding(int level, const char *section, const char *key, const char *value, const char *text,
                   const char *more)
{
    if (level == FindingError)
        ++Check.errorCount;
    else
        ++Check.warningCount;
    Print(State.scriptPath);
    Print(":");
    Print(section);
    Print(":");
    Print(key);
    Print(level == FindingError ? ": error: " : ": warning: ");
    if (value != nullptr)
        Print(value);
    Print(text);
    if (more != nullptr)
        Print(more);
    Print("\r\n");
}
