#!/usr/bin/env python3
"""Reads the application manifest and the version resource back from the
built executables, through the PE resource directory, and fails unless
SETUP.EXE asks for elevation (it writes HKEY_LOCAL_MACHINE, the Program
Files folder and the system directory), the checker never does, both declare
Vista to 10/11, and both carry one Japanese version block 041103A4 whose
texts agree with their fixed version numbers and file names."""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

RT_VERSION = 16
RT_MANIFEST = 24
JAPANESE = 0x0411
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11",
}
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        _, sections, _, _, _, opt_size = struct.unpack_from("<HHIIIH", data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        dirs = opt + (96 if magic == 0x10B else 112)
        self.rsrc_rva, self.rsrc_size = struct.unpack_from("<II", data, dirs + 2 * 8)
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            vsize, va, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"rva {rva:#x} outside the sections")

    def resources(self):
        """{(type, name, language): bytes} for every leaf; names are ids or strings."""
        if not self.rsrc_rva:
            return {}
        base = self.offset(self.rsrc_rva)
        found = {}

        def name_of(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return entry_name

        def walk(directory, path):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                entry_name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                key = path + (name_of(entry_name),)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    at = self.offset(rva)
                    found[key] = self.data[at:at + size]

        walk(0, ())
        return found


def version_node(blob, at):
    """One node of a version resource: (key, value, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    end = at + length
    key_at = at + 6
    key_end = key_at
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[key_at:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    if kind == 1:  # text, its length in characters with the terminator
        value = blob[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        value_end = value_at + 2 * value_length
    else:
        value = blob[value_at:value_at + value_length]
        value_end = value_at + value_length
    children = []
    child = (value_end + 3) & ~3
    while child < end:
        node = version_node(blob, child)
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, end


def check_version(blob, original_name, problems):
    key, fixed, children, _ = version_node(blob, 0)
    if key != "VS_VERSION_INFO":
        problems.append(f"version root is {key!r}")
        return
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed, 0)
    file_type = struct.unpack_from("<I", fixed, 36)[0]
    if signature != 0xFEEF04BD:
        problems.append(f"fixed file info signature {signature:#x}")
    if file_type != 1:
        problems.append(f"file type {file_type}, not an application")
    fixed_version = f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}.{file_ls & 0xFFFF}"
    fixed_product = f"{product_ms >> 16}.{product_ms & 0xFFFF}.{product_ls >> 16}.{product_ls & 0xFFFF}"

    blocks = {}
    translations = []
    for name, _, grandchildren, _ in children:
        if name == "StringFileInfo":
            for table, _, strings, _ in grandchildren:
                blocks[table] = {k: v for k, v, _, _ in strings}
        elif name == "VarFileInfo":
            for var, value, _, _ in grandchildren:
                if var == "Translation":
                    translations += [struct.unpack_from("<HH", value, i) for i in range(0, len(value), 4)]
    if list(blocks) != ["041103A4"]:
        problems.append(f"string blocks {sorted(blocks)}, wanted exactly 041103A4")
    if translations != [(JAPANESE, 932)]:
        problems.append(f"translations {translations}, wanted [(0x0411, 932)]")
    strings = blocks.get("041103A4", {})
    print(f"  version {fixed_version}, strings {strings}")
    expected = {"OriginalFilename": original_name, "FileVersion": fixed_version, "ProductVersion": fixed_product}
    for name, wanted in expected.items():
        if strings.get(name) != wanted:
            problems.append(f"{name} is {strings.get(name)!r}, wanted {wanted!r}")
    for name in ("FileDescription", "ProductName"):
        text = strings.get(name, "")
        # Japanese, and representable in the code page the block declares.
        if not text or not any(ord(c) > 0x7F for c in text):
            problems.append(f"{name} {text!r} is not a Japanese text")
        else:
            try:
                text.encode("cp932")
            except UnicodeEncodeError:
                problems.append(f"{name} {text!r} does not fit code page 932")


def check_manifest(text, level, problems):
    root = ET.fromstring(text)
    levels = [e.get("level") for e in root.iter(f"{{{ASM_V3}}}requestedExecutionLevel")]
    ui_access = [e.get("uiAccess") for e in root.iter(f"{{{ASM_V3}}}requestedExecutionLevel")]
    if levels != [level]:
        problems.append(f"execution level {levels}, wanted [{level!r}]")
    if ui_access not in (["false"], [None]):
        problems.append(f"uiAccess {ui_access}")
    ids = [e.get("Id", "").lower() for e in root.iter(f"{{{COMPAT}}}supportedOS")]
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in ids]
    unknown = [guid for guid in ids if guid not in SUPPORTED_OS]
    if missing:
        problems.append(f"supportedOS lacks {missing}")
    if unknown:
        problems.append(f"unknown supportedOS {unknown}")
    print(f"  execution level {levels}, supported {[SUPPORTED_OS.get(g, g) for g in ids]}")


def check(path, original_name, level):
    problems = []
    resources = Pe(open(path, "rb").read()).resources()
    print(f"{path}:")
    manifests = {k: v for k, v in resources.items() if k[0] == RT_MANIFEST}
    if list(k[1] for k in manifests) != [1]:
        problems.append(f"manifest resources {sorted(manifests)}, wanted one with id 1")
    for blob in manifests.values():
        check_manifest(blob.decode("utf-8"), level, problems)
    versions = {k: v for k, v in resources.items() if k[0] == RT_VERSION}
    if list(versions) != [(RT_VERSION, 1, JAPANESE)]:
        problems.append(f"version resources {sorted(versions)}, wanted one Japanese with id 1")
    for blob in versions.values():
        check_version(blob, original_name, problems)
    for problem in problems:
        print(f"  {problem}")
    return not problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--setup", required=True)
    parser.add_argument("--checker", required=True)
    args = parser.parse_args()
    results = [check(args.setup, "SETUP.EXE", "requireAdministrator"),
               check(args.checker, "CHECKINF.EXE", "asInvoker")]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
