// Who may change what the installation puts on disk. The product's programs
// are later started by administrators, and its copy of the setup program and
// script are what the elevated removal obeys; a folder that inherits the
// permissions of a drive root lets every signed-in user change all of them.
// So each level the installation makes outside the Program Files folder gets
// a list of its own, not inherited: Administrators and SYSTEM may do
// anything, Users may read and run, and everything below inherits that.
#include "script/state.h"

// The list as the system stores it: revision 2, three entries that allow,
// each inherited by files and folders below (flags 3). The SIDs are
// S-1-5-18 (SYSTEM), S-1-5-32-544 (Administrators), S-1-5-32-545 (Users).
alignas(4) static const unsigned char ProtectedAcl[76] = {
    2, 0, 76, 0, 3, 0, 0, 0,
    0, 3, 20, 0, 0xFF, 0x01, 0x1F, 0x00, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    0, 3, 24, 0, 0xFF, 0x01, 0x1F, 0x00, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0,
    0, 3, 24, 0, 0xA9, 0x00, 0x12, 0x00, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};


// Whether the shorter of the two paths begins the longer, letter case aside.
static int OnePathHoldsTheOther(const char *a, const char *b)
{
    int length = TextLength(a), lengthB = TextLength(b);
    if (lengthB < length)
        length = lengthB;
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, length, b, length) == CSTR_EQUAL;
}

int FolderSecurity(const char *path, DWORD version, SECURITY_DESCRIPTOR *descriptor)
{
    // Windows 95, 98 and Me keep no permissions; the Start menu's folder
    // and anything else outside the installation is the user's own.
    if ((version & 0x80000000) != 0 || !OnePathHoldsTheOther(path, State.installDir))
        return 0;
    // The Program Files folders are made to let only administrators change
    // them, and what is made in them inherits that together with whatever
    // else the system puts there. Judged where the path really leads.
    char full[FULL_PATH_SIZE];
    if (CanonicalDirectory(path, full) && IsInProgramFiles(full))
        return 0;
    return ProtectedSecurity(version, descriptor);
}

int ProtectedSecurity(DWORD version, SECURITY_DESCRIPTOR *descriptor)
{
    if ((version & 0x80000000) != 0)
        return 0;
    // Before Windows 2000 nothing is inherited after a folder is made, and
    // the mark that keeps inheritance out is unknown.
    ZeroMemory(descriptor, sizeof *descriptor);
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    descriptor->Control = LOBYTE(LOWORD(version)) >= 5 ? SE_DACL_PRESENT | SE_DACL_PROTECTED : SE_DACL_PRESENT;
    descriptor->Dacl = reinterpret_cast<PACL>(const_cast<unsigned char *>(ProtectedAcl));
    return 1;
}
