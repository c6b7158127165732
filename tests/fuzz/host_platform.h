// Just enough of the Windows interface for the program's pure text routines
// to compile on the Linux build host, where libFuzzer and the sanitizers run.
// IsDBCSLeadByte answers for code page 932, the code page the program is for.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef long LONG;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef struct HINSTANCE__ *HINSTANCE;
typedef struct HWND__ *HWND;
typedef struct HKEY__ *HKEY;
typedef struct HCONV__ *HCONV;
typedef struct HSZ__ *HSZ;
typedef struct HDDEDATA__ *HDDEDATA;
typedef struct HANDLE__ *HANDLE;
typedef struct HINSTANCE__ *HMODULE;
typedef void (*FARPROC)();
typedef struct SECURITY_DESCRIPTOR__ SECURITY_DESCRIPTOR;
#define CALLBACK
#define WINAPI
#define TRUE 1
#define FALSE 0

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002)

// Lead bytes of code page 932: 0x81-0x9F and 0xE0-0xFC.
inline BOOL IsDBCSLeadByte(BYTE c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

inline int lstrlenA(const char *s)
{
    return s ? static_cast<int>(strlen(s)) : 0;
}

inline int lstrcmpA(const char *a, const char *b)
{
    return strcmp(a, b);
}

inline int lstrcmpiA(const char *a, const char *b)
{
    return strcasecmp(a, b);
}

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define NORM_IGNORECASE 1
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
// Enough of it for the comparisons the text routines make: letter case
// ignored, lengths of -1 meaning up to the terminator.
inline int CompareStringA(DWORD, DWORD, const char *a, int aLength, const char *b, int bLength)
{
    size_t la = aLength < 0 ? strlen(a) : size_t(aLength), lb = bLength < 0 ? strlen(b) : size_t(bLength);
    int order = strncasecmp(a, b, la < lb ? la : lb);
    if (order == 0)
        order = la < lb ? -1 : la > lb ? 1 : 0;
    return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

inline int wsprintfA(char *buffer, const char *format, ...)
{
    // wsprintfA never writes more than 1024 bytes.
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, 1024, format, args);
    va_end(args);
    return n;
}

#define CopyMemory(d, s, n) memcpy((d), (s), (n))
#define MoveMemory(d, s, n) memmove((d), (s), (n))
#define ZeroMemory(d, n) memset((d), 0, (n))
#define FillMemory(d, n, c) memset((d), (c), (n))
