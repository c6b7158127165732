#!/usr/bin/env python3
"""From a product maker's distribution folder to the archive they publish.

    tools/package.sh [options] DIST_DIR [ARCHIVE.zip]

The folder's files are laid out again with the build's SETUP.EXE of the
architecture asked for and the script named after it; CHECKINF.EXE judges
that very layout under Wine (errors refuse, warnings are printed); SETUP.EXE
is signed when a certificate is given; and the archive stores its names in
code page 932, as the common Japanese archivers do, so that they come out
right when a customer extracts it on Japanese Windows. Nothing is written
unless every step succeeds. Exit status: 0 written, 1 refused or failed,
2 wrong usage.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zlib
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARCHES = ("i686", "x86_64")
# What the program keeps a setup program's name in: 51 bytes and the terminator.
NAME_LIMIT = 51
FORBIDDEN = set('\\/:*?"<>|')
DEVICES = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{n}" for d in ("COM", "LPT") for n in range(1, 10)}


class Refused(Exception):
    """Something the maker has to put right; the message says what."""


def say(text=""):
    print(text, flush=True)


# ---------------------------------------------------------------- names

def windows_name_fault(name):
    """Why a file or folder name cannot exist on Windows, or None."""
    if any(ord(c) < 0x20 for c in name):
        return "holds a control character"
    bad = sorted(FORBIDDEN & set(name))
    if bad:
        return "holds " + " ".join(bad) + ", which Windows does not allow in a name"
    if name.endswith((".", " ")):
        return "ends with a period or a blank, which Windows drops"
    if name.split(".")[0].upper() in DEVICES:
        return "is a device name on Windows"
    try:
        name.encode("cp932")
    except UnicodeEncodeError:
        return "holds characters that code page 932 cannot store"
    return None


def cp932(relative):
    """An archive member's name: its folders joined by '/', in code page 932."""
    return relative.replace(os.sep, "/").encode("cp932")


# ---------------------------------------------------------------- the layout

def find_script(dist, exe_name):
    """The script in the top of dist: the one named after exe_name when given
    and present, else SETUP.INF, else the only *.INF (names as Windows
    compares them, whatever their case)."""
    files = {n.upper(): n for n in os.listdir(dist) if os.path.isfile(os.path.join(dist, n))}
    if exe_name is not None:
        wanted = exe_name[:-3].upper() + "INF"
        if wanted in files:
            return files[wanted]
    if "SETUP.INF" in files:
        return files["SETUP.INF"]
    scripts = [n for u, n in files.items() if u.endswith(".INF")]
    if len(scripts) == 1:
        return scripts[0]
    if not scripts:
        raise Refused(f"{dist} holds no setup script (SETUP.INF)")
    raise Refused(f"{dist} holds several scripts ({', '.join(sorted(scripts))}) and no SETUP.INF; "
                  "name the setup program with --name to pick one")


def check_exe_name(name):
    what = f"the setup program's name {name}"
    if "/" in name or os.sep in name:
        raise Refused(f"{what}: a file name, without a folder")
    if not name.upper().endswith(".EXE"):
        raise Refused(f"{what}: it must end in .EXE")
    fault = windows_name_fault(name)
    if fault:
        raise Refused(f"{what}: it {fault}")
    if len(name.encode("cp932")) > NAME_LIMIT:
        raise Refused(f"{what}: longer than {NAME_LIMIT} bytes, so SETUP.EXE could not name its script")
    # SETUP.EXE finds its own name after the last backslash byte of its path,
    # and in code page 932 the second byte of 表, ソ, 能 and others is one.
    if b"\\" in name.encode("cp932"):
        raise Refused(f"{what}: a character of it (表, ソ, 能 ...) ends in the byte of a backslash in "
                      "code page 932, where SETUP.EXE would cut its own name")


def lay_out(dist, stage, script, exe_name, script_name, setup_exe):
    """Copies dist into stage with the setup program and its script under
    their package names. Returns the members, relative paths sorted as
    Windows lists them, folders with a trailing separator."""
    members = []
    # The setup program and the script are put in under their package names;
    # the script's own file does not go in a second time under its old one.
    top_names = {exe_name.upper(), script_name.upper(), script.upper()}
    faults = []

    def walk(relative):
        here = os.path.join(dist, relative)
        seen = {}
        for name in sorted(os.listdir(here), key=lambda n: (n.upper(), n)):
            path = os.path.join(here, name)
            rel = os.path.join(relative, name) if relative else name
            if not relative and name.upper() in top_names:
                continue  # replaced below
            fault = windows_name_fault(name)
            if fault:
                faults.append(f"{path}: the name {fault}")
                continue
            if name.upper() in seen:
                faults.append(f"{path}: Windows takes it for {os.path.join(here, seen[name.upper()])}")
                continue
            seen[name.upper()] = name
            if os.path.isdir(path):
                os.mkdir(os.path.join(stage, rel))
                members.append(rel + os.sep)
                walk(rel)
            elif os.path.isfile(path):
                shutil.copyfile(path, os.path.join(stage, rel))
                shutil.copystat(path, os.path.join(stage, rel))
                members.append(rel)
            else:
                faults.append(f"{path}: neither a file nor a folder")

    walk("")
    if faults:
        raise Refused("these names cannot go into a package for Windows:\n  " + "\n  ".join(faults))
    shutil.copyfile(setup_exe, os.path.join(stage, exe_name))
    members.append(exe_name)
    members.append(script_name)
    return sorted(members, key=lambda m: (m.upper(), m))


# ---------------------------------------------------------------- the checker

def wine_environment(build):
    env = dict(os.environ)
    prefix = env.get("PACKAGE_WINEPREFIX") or env.get("WINEPREFIX")
    if not prefix:
        prefix = os.path.join(build, "package-prefix")
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
               # The checker is a console program: no browser or runtime installer is wanted.
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    if not os.path.isdir(os.path.join(prefix, "drive_c")):
        say(f"preparing a Wine prefix for the checker in {prefix} (once)")
        subprocess.run(["/usr/lib/wine/wine64", "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_checker(build, stage, script_name, shown_script):
    """Runs CHECKINF.EXE on the layout; returns its status after printing its
    findings with the maker's own script path."""
    for arch, wine in (("x86_64", "/usr/lib/wine/wine64"), ("i686", "/usr/lib/wine/wine")):
        checker = os.path.join(build, arch, "CHECKINF.EXE")
        if os.path.isfile(checker):
            break
    else:
        raise Refused(f"no CHECKINF.EXE under {build}: build first (tools/build.sh)")
    try:
        result = subprocess.run([wine, checker, windows_path(stage)], env=wine_environment(build),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=stage, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Refused(f"the checker could not run under Wine: {error}")
    # Without a console the checker writes in the code page a console would
    # start with, which is 932 in the Japanese locale given above.
    text = result.stdout.decode("cp932", errors="replace").replace("\r\n", "\n")
    staged_script = windows_path(os.path.join(stage, script_name))
    lines = text.split("\n")
    findings = [line for line in lines if ": error: " in line or ": warning: " in line]
    for line in findings:
        say("  " + line.replace(staged_script, shown_script, 1))
    summary = [line for line in lines if line.strip()][-1:] or ["(no output)"]
    if result.returncode not in (0, 1, 2):
        raise Refused(f"the checker ended with status {result.returncode}: {summary[0]}")
    say(f"checker: {summary[0]}")
    return result.returncode


# ---------------------------------------------------------------- signing

def sign(path, args):
    command = ["osslsigncode", "sign", "-h", "sha256"]
    if args.pkcs12:
        command += ["-pkcs12", args.pkcs12]
    else:
        command += ["-certs", args.cert, "-key", args.key]
    if args.password_file:
        command += ["-readpass", args.password_file]
    if args.timestamp:
        command += ["-ts", args.timestamp]
    signed = path + ".signed"
    command += ["-in", path, "-out", signed]
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                errors="replace", timeout=300)
    except OSError as error:
        raise Refused(f"osslsigncode could not run ({error}); tools/deps.sh installs it")
    if result.returncode != 0 or not os.path.isfile(signed):
        raise Refused("signing failed:\n  " + "\n  ".join(result.stdout.strip().splitlines()))
    os.replace(signed, path)
    say("signed " + os.path.basename(path) + (f", time-stamped by {args.timestamp}" if args.timestamp else ""))


# ---------------------------------------------------------------- the archive

def dos_time(seconds):
    t = time.localtime(seconds)
    if t.tm_year < 1980:
        return 0, (1 << 5) | 1  # 1980-01-01, the earliest a member can carry
    year = min(t.tm_year, 2107)
    return ((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2),
            ((year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday)


def write_zip(stage, members, target):
    """A plain zip: names in code page 932 without the UTF-8 flag, deflated
    where that saves room, MS-DOS attributes. Members larger than 4 GiB or
    more than 65535 of them would need extensions that not every archiver
    reads, so they are refused."""
    if len(members) > 0xFFFF:
        raise Refused("more than 65535 files and folders")
    central = bytearray()
    listing = []
    with open(target, "wb") as out:
        for member in members:
            path = os.path.join(stage, member)
            name = cp932(member)
            folder = member.endswith(os.sep)
            clock, date = dos_time(os.stat(path).st_mtime)
            data = b""
            if not folder:
                with open(path, "rb") as source:
                    data = source.read()
            if len(data) > 0xFFFFFFFE:
                raise Refused(f"{member} is larger than 4 GiB")
            crc = zlib.crc32(data)
            packer = zlib.compressobj(9, zlib.DEFLATED, -15)
            packed = packer.compress(data) + packer.flush()
            method, needed = (8, 20) if len(packed) < len(data) else (0, 10)
            stored = packed if method == 8 else data
            offset = out.tell()
            out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, needed, 0, method, clock, date, crc,
                                  len(stored), len(data), len(name), 0) + name + stored)
            attributes = 0x10 if folder else 0x20
            central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, needed, 0, method, clock, date, crc,
                                   len(stored), len(data), len(name), 0, 0, 0, 0, attributes, offset) + name
            listing.append((member, len(data), folder))
        start = out.tell()
        out.write(central)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), start, 0))
    return listing


# ---------------------------------------------------------------- the command

def parse(argv):
    parser = argparse.ArgumentParser(
        prog="tools/package.sh",
        description="Checks a distribution folder, puts in SETUP.EXE, signs it if asked, and writes a zip "
                    "archive with Japanese names in code page 932.")
    parser.add_argument("dist", metavar="DIST_DIR", help="the distribution folder: the script and the product's files")
    parser.add_argument("archive", metavar="ARCHIVE.zip", nargs="?",
                        help="the archive to write (default: DIST_DIR.zip beside the folder)")
    parser.add_argument("--arch", choices=ARCHES, default="i686",
                        help="which SETUP.EXE: i686 (default) runs on every Windows the program is for, "
                             "x86_64 on 64-bit Windows only")
    parser.add_argument("--name", help="the setup program's name in the package (default: the script's name "
                                       "with .EXE, SETUP.EXE for SETUP.INF); the script is named after it")
    parser.add_argument("--pkcs12", metavar="FILE", help="sign with the certificate and key in this PKCS#12 file")
    parser.add_argument("--cert", metavar="FILE", help="sign with this certificate (chain), PEM or DER ...")
    parser.add_argument("--key", metavar="FILE", help="... and this private key")
    parser.add_argument("--password-file", metavar="FILE", help="the key's password, read from this file")
    parser.add_argument("--timestamp", metavar="URL", help="RFC 3161 time-stamp server for the signature")
    parser.add_argument("--build", metavar="DIR", default=os.environ.get("PACKAGE_BUILD", os.path.join(ROOT, "build")),
                        help="the build root holding i686/ and x86_64/ (default: build/ of this repository)")
    args = parser.parse_args(argv)
    if args.pkcs12 and (args.cert or args.key):
        parser.error("--pkcs12 or --cert with --key, not both")
    if bool(args.cert) != bool(args.key):
        parser.error("--cert and --key go together")
    signing = args.pkcs12 or args.cert
    if (args.timestamp or args.password_file) and not signing:
        parser.error("--timestamp and --password-file need a certificate (--pkcs12, or --cert with --key)")
    return args


def package(args):
    dist = os.path.abspath(args.dist)
    if not os.path.isdir(dist):
        raise Refused(f"{args.dist} is not a folder")
    archive = os.path.abspath(args.archive or dist.rstrip(os.sep) + ".zip")
    if not archive.lower().endswith(".zip"):
        raise Refused(f"{archive}: the archive's name must end in .zip")
    if os.path.commonpath([dist, archive]) == dist:
        raise Refused(f"{archive} lies inside the folder it would hold")
    for path in (args.pkcs12, args.cert, args.key, args.password_file):
        if path and not os.path.isfile(path):
            raise Refused(f"{path}: no such file")
    setup_exe = os.path.join(args.build, args.arch, "SETUP.EXE")
    if not os.path.isfile(setup_exe):
        raise Refused(f"no {setup_exe}: build first (tools/build.sh)")

    if args.name is not None:
        check_exe_name(args.name)
    script = find_script(dist, args.name)
    exe_name = args.name or script[:-3] + "EXE"
    check_exe_name(exe_name)
    script_name = exe_name[:-3] + "INF"

    with tempfile.TemporaryDirectory(prefix="package-") as work:
        stage = os.path.join(work, "dist")
        os.mkdir(stage)
        members = lay_out(dist, stage, script, exe_name, script_name, setup_exe)
        shutil.copyfile(os.path.join(dist, script), os.path.join(stage, script_name))
        say(f"{dist}: {script} as {script_name}, {exe_name} for {args.arch}")

        status = run_checker(args.build, stage, script_name, os.path.join(dist, script))
        if status == 2:
            raise Refused("the checker found errors: no archive written")
        if args.pkcs12 or args.cert:
            sign(os.path.join(stage, exe_name), args)

        partial = os.path.join(work, "archive.zip")
        listing = write_zip(stage, members, partial)
        os.makedirs(os.path.dirname(archive), exist_ok=True)
        shutil.move(partial, archive)

    say(f"{archive}:")
    total = 0
    for member, size, folder in listing:
        shown = member.replace(os.sep, "\\")
        say(f"  {'':>10}  {shown}" if folder else f"  {size:>10}  {shown}")
        total += size
    files = sum(1 for _, _, folder in listing if not folder)
    say(f"  {total:>10}  bytes in {files} files, names in code page 932")
    return 0


def main(argv):
    args = parse(argv)
    try:
        return package(args)
    except Refused as refusal:
        print(f"package: {refusal}", file=sys.stderr, flush=True)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
