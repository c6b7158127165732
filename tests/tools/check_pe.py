#!/usr/bin/env python3
"""Reads a PE file's import table and fails unless every imported DLL is a
Windows system DLL: a static build must not need libstdc++, libgcc or
libwinpthread beside it. Prints the size, the machine and the import list."""
import struct
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll",
               "comdlg32.dll", "ole32.dll", "shell32.dll", "msvcrt.dll", "oleaut32.dll"}


def imports(data):
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

    names = []
    at = offset(import_rva) if import_rva else None
    while at is not None:
        name_rva = struct.unpack_from("<I", data, at + 12)[0]
        if name_rva == 0:
            break
        o = offset(name_rva)
        names.append(data[o:data.index(b"\0", o)].decode("ascii"))
        at += 20
    return machine, names


def main():
    failed = False
    for path in sys.argv[1:]:
        data = open(path, "rb").read()
        machine, names = imports(data)
        arch = {0x14C: "i686", 0x8664: "x86_64"}.get(machine, hex(machine))
        print(f"{path}: {len(data)} bytes, {arch}, imports {', '.join(names)}")
        foreign = [n for n in names if n.lower() not in SYSTEM_DLLS]
        if foreign:
            print(f"  not system DLLs: {', '.join(foreign)}")
            failed = True
        if not names:
            print("  no imports found")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
