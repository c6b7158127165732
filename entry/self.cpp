// The program's own file, held for as long as the process runs. Windows lets
// anyone who may write to a folder rename a running program in it and put
// another file at its name; the installation copies the program into the
// product's folder as its uninstaller, and the removal into the system
// directory, both to be run elevated later. So the file is opened once, at
// the start, so that nobody may write, rename or delete it any more; it is
// confirmed to be the image that is running, hashed, and every copy of the
// program is made from that handle, never found again by its name.
#include "script/state.h"

#include <stddef.h>

// Systems of the Windows 95 line keep no boundary between users; their
// profile functions must still be able to open what the program holds.
DWORD HeldShareMode()
{
    return (GetVersion() & 0x80000000) != 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
}

// Relocations name any byte: what they change need not be aligned.
typedef DWORD UnalignedDword __attribute__((aligned(1)));
typedef unsigned long long UnalignedQword __attribute__((aligned(1)));

// Where an RVA lies in a file of size bytes, or 0 when no section's raw data
// holds all of its count bytes there.
__attribute__((noinline)) static DWORD FileOffset(const IMAGE_NT_HEADERS *nt, DWORD rva, DWORD count, DWORD size)
{
    const IMAGE_SECTION_HEADER *s = IMAGE_FIRST_SECTION(nt);
    for (int i = nt->FileHeader.NumberOfSections; i > 0; --i, ++s) {
        DWORD into = rva - s->VirtualAddress;
        if (rva >= s->VirtualAddress && into < s->SizeOfRawData && s->SizeOfRawData - into >= count &&
            s->PointerToRawData <= size && size - s->PointerToRawData >= into + count)
            return s->PointerToRawData + into;
    }
    return 0;
}

int IsRunningImage(unsigned char *file, DWORD size, const unsigned char *image)
{
    // The loaded image's own headers say where everything is: the loader
    // made it from them, and the file's must be the same, byte for byte,
    // apart from the base that the loader may write in when it chose another.
    LONG at = reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew;
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(image + at);
    const IMAGE_OPTIONAL_HEADER &loaded = nt->OptionalHeader;
    if (size < loaded.SizeOfHeaders)
        return 0;
    IMAGE_OPTIONAL_HEADER &own = reinterpret_cast<IMAGE_NT_HEADERS *>(file + at)->OptionalHeader;
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(image);
    ULONG_PTR delta = base - ULONG_PTR(own.ImageBase);
    if (ULONG_PTR(loaded.ImageBase) == base)
        own.ImageBase = loaded.ImageBase;
    if (memcmp(file, image, loaded.SizeOfHeaders) != 0)
        return 0;

    // Where it was not loaded at its preferred address, every absolute
    // address in it moved by the same amount; the loader does not change
    // the list of them.
    const IMAGE_DATA_DIRECTORY &relocations = loaded.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (DWORD done = 0; delta != 0 && done + sizeof(IMAGE_BASE_RELOCATION) <= relocations.Size;) {
        const IMAGE_BASE_RELOCATION *block =
            reinterpret_cast<const IMAGE_BASE_RELOCATION *>(image + relocations.VirtualAddress + done);
        if (block->SizeOfBlock < sizeof *block)
            return 0;
        const WORD *entry = reinterpret_cast<const WORD *>(block + 1);
        for (DWORD e = sizeof *block; e + 2 <= block->SizeOfBlock; e += 2, ++entry) {
            int type = *entry >> 12;
            if (type == IMAGE_REL_BASED_ABSOLUTE)
                continue;  // padding
            DWORD width = type == IMAGE_REL_BASED_HIGHLOW ? 4 : type == IMAGE_REL_BASED_DIR64 ? 8 : 0;
            DWORD target = width != 0 ? FileOffset(nt, block->VirtualAddress + (*entry & 0xFFF), width, size) : 0;
            if (target == 0)
                return 0;  // no other kind is ever made for these programs
            if (width == 4)
                *reinterpret_cast<UnalignedDword *>(file + target) += DWORD(delta);
            else
                *reinterpret_cast<UnalignedQword *>(file + target) += delta;
        }
        done += block->SizeOfBlock;
    }

    // The loader writes the addresses of the imported functions too.
    const IMAGE_DATA_DIRECTORY &imports = loaded.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    if (imports.Size != 0) {
        DWORD iat = FileOffset(nt, imports.VirtualAddress, imports.Size, size);
        if (iat == 0)
            return 0;
        CopyMemory(file + iat, image + imports.VirtualAddress, imports.Size);
    }

    // Every section that the file gives bytes to, writable ones included:
    // the resources (the package's binding among them) lie in one that the
    // linker marks writable, and the program has written nothing yet.
    const IMAGE_SECTION_HEADER *s = IMAGE_FIRST_SECTION(nt);
    for (int i = nt->FileHeader.NumberOfSections; i > 0; --i, ++s) {
        DWORD bytes = s->SizeOfRawData;
        if (s->Misc.VirtualSize != 0 && s->Misc.VirtualSize < bytes)
            bytes = s->Misc.VirtualSize;
        if (bytes != 0 && (FileOffset(nt, s->VirtualAddress, bytes, size) != s->PointerToRawData ||
                           memcmp(file + s->PointerToRawData, image + s->VirtualAddress, bytes) != 0))
            return 0;
    }
    return 1;
}

const char ReplacedProgram[] =
    " - このファイルは実行中に別のファイルに置き換えられたため、処理を中止します。製品をもう一度入手してください。";
const char LocalRedirection[] =
    ".local - この名前のファイルかフォルダがあると、別のDLLが読み込まれるおそれがあるため、処理を中止します。削除してから、もう一度実行してください。";

const char *HoldRunningProgram()
{
    DWORD length = GetModuleFileNameA(nullptr, State.modulePath, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        return ReplacedProgram;
    HANDLE file = CreateFileA(State.modulePath, GENERIC_READ, HeldShareMode(), nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ReplacedProgram;
    State.programFile = file;
    // Far more than the program will ever be: a file that fills it is not it.
    DWORD size = 0;
    if (!ReadFile(file, WorkBuffer, WORK_BUFFER_SIZE, &size, nullptr) || size == WORK_BUFFER_SIZE)
        return ReplacedProgram;
    // The digest is of the bytes as read, before the comparison moves any.
    Sha256 hash;
    StartSha256(&hash);
    AddSha256(&hash, WorkBuffer, size);
    EndSha256(&hash, State.programDigest);
    if (!IsRunningImage(WorkBuffer, size, reinterpret_cast<const unsigned char *>(GetModuleHandleA(nullptr))))
        return ReplacedProgram;
    // A file or folder named like the program with ".local" makes Windows
    // 2000 take every DLL from the program's folder, whatever path is asked
    // for: nothing may be loaded while one is there.
    char local[PATH_SIZE + 8];
    CopyText(local, sizeof local, State.modulePath);
    AppendText(local, sizeof local, ".local");
    return GetFileAttributesA(local) != INVALID_FILE_ATTRIBUTES ? LocalRedirection : nullptr;
}

