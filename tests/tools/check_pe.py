#!/usr/bin/env python3
"""Static checks of a built PE file, printing what it found:
- always: every imported DLL is a Windows system DLL (a static build must
  not need libstdc++, libgcc or libwinpthread beside it);
- --known-dlls-only: every imported DLL is one that Windows always takes
  from its own directory, never from beside the program (a downloads
  folder, where anyone may have left a DLL of that name);
- --old-systems: a 32-bit file imports only functions that Windows NT 3.51
  and Windows 95 both export, and asks for a subsystem version of at most
  4.0; anything newer must be looked up at run time, or the loader refuses
  the whole program there;
- --baseline i486: a 32-bit file's code holds only instructions of the i486
  (the disassembly is read with MinGW's objdump).
Exit status 1 when a check fails."""
import argparse
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll",
               "comdlg32.dll", "ole32.dll", "shell32.dll", "msvcrt.dll", "oleaut32.dll"}

# The DLLs that Windows loads from the system directory whatever lies beside
# the program: its known DLLs (COMCTL32 is not one of them, since the
# side-by-side assemblies that hold its newer versions are found by name).
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
              "comdlg32.dll"}

# Functions that both Windows NT 3.51 and Windows 95 export. A function
# joins this list only when it is known to be on both; a newer one is called
# through GetProcAddress, so that the program still loads without it.
OLD_SYSTEM_FUNCTIONS = {
    "advapi32.dll": """RegCloseKey RegCreateKeyExA RegDeleteKeyA RegEnumKeyA RegOpenKeyExA RegQueryValueExA
        RegSetValueExA""",
    "comctl32.dll": "PropertySheetA",
    "comdlg32.dll": "GetSaveFileNameA",
    "kernel32.dll": """CloseHandle CompareStringA CopyFileA CreateDirectoryA CreateFileA CreateProcessA DeleteFileA ExitProcess FindClose
        FindFirstFileA FindNextFileA FindResourceA GetCommandLineA GetCurrentProcess GetCurrentProcessId
        GetDiskFreeSpaceA GetEnvironmentVariableA GetExitCodeProcess GetFileAttributesA GetFileInformationByHandle GetFileSize GetFileTime GetFullPathNameA GetLastError
        GetLocalTime GetModuleFileNameA GetModuleHandleA GetPrivateProfileSectionA GetPrivateProfileStringA
        ExpandEnvironmentStringsA GetProcAddress GetShortPathNameA GetSystemDirectoryA GetTempPathA GetTickCount GetVersion GetWindowsDirectoryA
        GlobalAlloc GlobalFree IsDBCSLeadByte LoadLibraryA LoadLibraryExA LoadResource LockResource MoveFileExA MulDiv
        MultiByteToWideChar QueryPerformanceCounter ReadFile RemoveDirectoryA SetCurrentDirectoryA SetEndOfFile
        SetErrorMode SetFileAttributesA SetFilePointer SetFileTime SetLastError SizeofResource Sleep TerminateProcess
        WaitForSingleObject WinExec WriteFile
        WritePrivateProfileSectionA WritePrivateProfileStringA lstrcmpA lstrcmpiA lstrlenA""",
    "ole32.dll": "CoCreateInstance CoInitialize CoUninitialize",
    "shell32.dll": "ShellExecuteA",
    "user32.dll": """CallWindowProcA CharNextA CheckDlgButton DdeClientTransaction DdeConnect DdeCreateStringHandleA DdeDisconnect
        DdeFreeStringHandle DdeInitializeA DialogBoxParamA EnableWindow EndDialog GetClientRect GetDlgItem
        GetDlgItemTextA GetParent GetSystemMetrics GetWindowLongA GetWindowRect InvalidateRect IsDlgButtonChecked KillTimer
        MessageBoxA
        PostMessageA SendDlgItemMessageA SendMessageA SetDlgItemTextA SetFocus SetForegroundWindow SetTimer
        SetWindowLongA SetWindowPos SetWindowTextA ShowWindow UpdateWindow wsprintfA""",
}
OLD_SYSTEM_FUNCTIONS = {dll: set(names.split()) for dll, names in OLD_SYSTEM_FUNCTIONS.items()}

# The instructions of the i486, as objdump spells them: whatever is not
# here is newer (or undecodable) and dies with an illegal instruction on the
# processors that Windows 95 and NT 3.51 ran on. A list of what is allowed
# rather than of what is not: new extensions keep coming, and each would
# slip through a list of forbidden names. Sized forms (movl, fildll) are
# matched by their stem below; the FPU's are the 387's, built into the i486.
I486_INSTRUCTIONS = set("""
    aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbtw clc cld cli clts cltd cmc cmp
    cmps cmpxchg cwtd cwtl daa das dec div enter hlt idiv imul in inc ins int int3 into invd invlpg iret jmp lar
    lcall lds lea leave les lfs lgdt lgs lidt ljmp lldt lmsw lods loop loope loopne lret lsl lss ltr mov movs
    movsbl movsbw movswl movzbl movzbw movzwl mul neg nop not or out outs pop popa popf push pusha pushf rcl rcr
    ret rol ror sahf lahf sal sar sbb scas sgdt shl shld shr shrd sidt sldt smsw stc std sti stos str sub test
    verr verw wbinvd xadd xchg xlat xor
    ja jae jb jbe jcxz je jecxz jg jge jl jle jne jno jnp jns jo jp js
    seta setae setb setbe sete setg setge setl setle setne setno setnp setns seto setp sets
    f2xm1 fabs fadd faddp fbld fbstp fchs fclex fcom fcomp fcompp fcos fdecstp fdiv fdivp fdivr fdivrp ffree
    fiadd ficom ficomp fidiv fidivr fild fimul fincstp finit fist fistp fisub fisubr fld fld1 fldcw fldenv fldl2e
    fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnclex fninit fnop fnsave fnstcw fnstenv fnstsw fpatan fprem
    fprem1 fptan frndint frstor fsave fscale fsin fsincos fsqrt fst fstcw fstenv fstp fstsw fsub fsubp fsubr
    fsubrp ftst fucom fucomp fucompp fwait fxam fxch fxtract fyl2x fyl2xp1 wait
""".split())
# Prefixes the i486 knows; the instruction after them is what is judged.
I486_PREFIXES = set("data16 data32 addr16 addr32 lock rep repz repe repnz repne cs ds es fs gs ss".split())
# Operand sizes of the integer (b, w, l) and the FPU (s, l, t, ll) forms. A
# sized nop is the Pentium Pro's long NOP, never the i486's one-byte nop.
SIZE_SUFFIXES = ("b", "w", "l")
FPU_SIZE_SUFFIXES = ("s", "l", "t", "ll")
NEWER_REGISTERS = re.compile(r"%[xyz]?mm\d|%k[0-7]\b")


def newer_than_i486(instruction):
    """True when an instruction of objdump's listing is not the i486's."""
    words = instruction.split()
    while words and words[0] in I486_PREFIXES:
        words.pop(0)
    # A prefix on a line of its own: the next line is judged. Bytes that no
    # processor decodes are data the linker keeps in the code section (the
    # constructor lists), never run.
    if not words or words[0] == "(bad)":
        return False
    name = words[0].split(",")[0]  # drops the branch hints ,pt and ,pn
    suffixes = FPU_SIZE_SUFFIXES if name.startswith("f") else SIZE_SUFFIXES
    known = name in I486_INSTRUCTIONS or any(
        name.endswith(s) and name[:-len(s)] in I486_INSTRUCTIONS and name[:-len(s)] != "nop" for s in suffixes)
    return not known or bool(NEWER_REGISTERS.search(instruction))


def subsystem_version(data):
    """The subsystem version of the PE header: Windows 95 and NT 3.51 refuse
    to start a program that asks for more than 4.0."""
    opt = struct.unpack_from("<I", data, 0x3C)[0] + 24
    return struct.unpack_from("<HH", data, opt + 48)


def read_pe(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    machine, sections, _, _, _, opt_size = struct.unpack_from("<HHIIIH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    import_rva = struct.unpack_from("<I", data, dirs + 8)[0]
    table = []
    for i in range(sections):
        s = opt + opt_size + 40 * i
        vsize, va, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
        table.append((va, max(vsize, rsize), raw))

    def offset(rva):
        for va, size, raw in table:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva outside the sections")

    def text(rva):
        o = offset(rva)
        return data[o:data.index(b"\0", o)].decode("ascii")

    wide = magic != 0x10B
    thunk_size, ordinal_bit = (8, 1 << 63) if wide else (4, 1 << 31)
    imports = {}
    at = offset(import_rva) if import_rva else None
    while at is not None:
        lookup, _, _, name_rva, first = struct.unpack_from("<IIIII", data, at)
        if name_rva == 0:
            break
        functions = []
        entry = offset(lookup or first)
        while True:
            value = struct.unpack_from("<Q" if wide else "<I", data, entry)[0]
            if value == 0:
                break
            functions.append(f"#{value & 0xFFFF}" if value & ordinal_bit else text((value & 0x7FFFFFFF) + 2))
            entry += thunk_size
        imports[text(name_rva)] = functions
        at += 20
    # The load settings' dependent load flags, None without the record.
    settings_rva, settings_size = struct.unpack_from("<II", data, dirs + 8 * 10)
    flags_at = 78 if wide else 50
    dependent = None
    if settings_rva and settings_size >= flags_at + 2:
        dependent = struct.unpack_from("<H", data, offset(settings_rva) + flags_at)[0]
    return machine, imports, dependent


def newer_instructions(path):
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", path],
                             capture_output=True, text=True, check=True).stdout
    found = []
    for line in listing.splitlines():
        parts = line.split("\t")
        if len(parts) >= 2 and re.match(r"^\s*[0-9a-f]+:$", parts[0]):
            instruction = parts[1].strip()
            if newer_than_i486(instruction):
                found.append(f"{parts[0].strip()} {instruction}")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--known-dlls-only", action="store_true")
    parser.add_argument("--old-systems", action="store_true")
    parser.add_argument("--baseline", choices=["i486"])
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    failed = False
    for path in args.files:
        data = open(path, "rb").read()
        machine, imports, dependent = read_pe(data)
        arch = {0x14C: "i686", 0x8664: "x86_64"}.get(machine, hex(machine))
        print(f"{path}: {len(data)} bytes, {arch}, imports {', '.join(imports)}")
        foreign = [n for n in imports if n.lower() not in SYSTEM_DLLS]
        if foreign:
            print(f"  not system DLLs: {', '.join(foreign)}")
            failed = True
        planted = [n for n in imports if n.lower() not in KNOWN_DLLS]
        if args.known_dlls_only and planted:
            print(f"  looked for beside the program first: {', '.join(planted)}")
            failed = True
        if not imports:
            print("  no imports found")
            failed = True
        # The DLLs that the system's own DLLs import are looked for in the
        # system directory only, from the start of the 64-bit program; the
        # 32-bit one carries no load settings, whose fields the loaders of
        # its oldest systems read with other meanings.
        if args.known_dlls_only and machine == 0x8664 and dependent != 0x800:
            print(f"  dependent DLLs looked for beside the program first: load settings flags {dependent}")
            failed = True
        if args.known_dlls_only and machine == 0x14C and dependent is not None:
            print(f"  load settings in a 32-bit file: dependent load flags {dependent:#x}")
            failed = True
        if machine != 0x14C:
            continue  # the 64-bit file runs on 64-bit Windows only
        if args.old_systems:
            newer = [f"{dll}!{f}" for dll, functions in imports.items() for f in functions
                     if f not in OLD_SYSTEM_FUNCTIONS.get(dll.lower(), set())]
            print(f"  {sum(map(len, imports.values()))} functions imported, "
                  f"{len(newer)} not known on NT 3.51 and Windows 95")
            for name in newer[:20]:
                print(f"    {name}")
            failed |= bool(newer)
            version = subsystem_version(data)
            if version > (4, 0):
                print(f"  subsystem version {version[0]}.{version[1]}, above the 4.0 of Windows 95 and NT 3.51")
                failed = True
        if args.baseline:
            found = newer_instructions(path)
            print(f"  {len(found)} instructions newer than the {args.baseline}")
            for line in found[:20]:
                print(f"    {line}")
            failed |= bool(found)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
