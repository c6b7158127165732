#!/usr/bin/env python3
"""Points the load-configuration entry of a linked 64-bit SETUP.EXE at the
load settings that entry/winmain.cpp defines (_load_config_used). The linker
of Debian 12 fills that entry for no program, and Windows reads the record
only through it. The record is found by its bytes: its size (80), zeros, and
the dependent load flags LOAD_LIBRARY_SEARCH_SYSTEM32 (0x800) at its end;
exactly one such record must be in the file."""
import struct
import sys

RECORD = struct.pack("<I", 80) + bytes(74) + struct.pack("<H", 0x800)
LOAD_CONFIG = 10

path = sys.argv[1]
with open(path, "r+b") as f:
    image = bytearray(f.read())
    at = image.find(RECORD)
    if at < 0 or image.find(RECORD, at + 1) >= 0:
        sys.exit(f"set_load_config: {path}: no single load settings record in it")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        sys.exit(f"set_load_config: {path}: not a 64-bit program")
    for i in range(sections):
        header = optional + optional_size + 40 * i
        virtual_address, raw_size, raw_at = struct.unpack_from("<III", image, header + 12)
        if raw_at <= at < raw_at + raw_size:
            rva = virtual_address + at - raw_at
            break
    else:
        sys.exit(f"set_load_config: {path}: the record lies in no section")
    struct.pack_into("<II", image, optional + 112 + 8 * LOAD_CONFIG, rva, len(RECORD))
    f.seek(0)
    f.write(image)
