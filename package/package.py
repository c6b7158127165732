#!/usr/bin/env python3
"""From a product maker's distribution folder to the archive they publish.

    tools/package.sh [options] DIST_DIR [ARCHIVE.zip]

The folder's files are laid out again with the build's SETUP.EXE of the
architecture asked for and the script named after it; CHECKINF.EXE judges
that very layout under Wine (errors refuse, warnings are printed); the
script and every file it installs from the folder are bound to SETUP.EXE,
which is then signed when a certificate is given; and the archive stores its names in
code page 932, as the common Japanese archivers do, so that they come out
right when a customer extracts it on Japanese Windows. Nothing is written
unless every step succeeds. Messages are Japanese under a Japanese locale,
English otherwise. Exit status: 0 written, 1 refused or failed, 2 wrong usage.
"""
import argparse
import hashlib
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


def japanese_locale():
    """Whether the maker's locale asks for Japanese: the first of LC_ALL,
    LC_MESSAGES and LANG that is set decides, as for any program."""
    for variable in ("LC_ALL", "LC_MESSAGES", "LANG"):
        value = os.environ.get(variable)
        if value:
            return value.lower().startswith("ja")
    return False


JAPANESE = japanese_locale()


def t(english, japanese):
    """The message in the maker's language."""
    return japanese if JAPANESE else english


# ---------------------------------------------------------------- names

def windows_name_fault(name):
    """Why a file or folder name cannot exist on Windows, or None."""
    if any(ord(c) < 0x20 for c in name):
        return t("holds a control character", "名前に制御文字があります")
    bad = sorted(FORBIDDEN & set(name))
    if bad:
        return t("holds " + " ".join(bad) + ", which Windows does not allow in a name",
                 "名前に " + " ".join(bad) + " があります。Windows では名前に使えません")
    if name.endswith((".", " ")):
        return t("ends with a period or a blank, which Windows drops",
                 "名前がピリオドか空白で終わっています。Windows はそれを落とします")
    if name.split(".")[0].upper() in DEVICES:
        return t("is a device name on Windows", "名前が Windows のデバイス名です")
    try:
        name.encode("cp932")
    except UnicodeEncodeError:
        return t("holds characters that code page 932 cannot store", "名前にコードページ 932 で書けない文字があります")
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
        raise Refused(t(f"{dist} holds no setup script (SETUP.INF)", f"{dist} に設定ファイル (SETUP.INF) がありません"))
    raise Refused(t(f"{dist} holds several scripts ({', '.join(sorted(scripts))}) and no SETUP.INF; "
                    "name the setup program with --name to pick one",
                    f"{dist} には SETUP.INF がなく、設定ファイルが複数あります ({', '.join(sorted(scripts))})。"
                    "--name でセットアップの実行ファイル名を指定して選んでください"))


def check_exe_name(name):
    what = t(f"the setup program's name {name}", f"セットアップの実行ファイル名 {name}")
    if "/" in name or os.sep in name:
        raise Refused(t(f"{what}: a file name, without a folder", f"{what}: フォルダを含まないファイル名にしてください"))
    if not name.upper().endswith(".EXE"):
        raise Refused(t(f"{what}: it must end in .EXE", f"{what}: .EXE で終わる名前にしてください"))
    fault = windows_name_fault(name)
    if fault:
        raise Refused(t(f"{what}: it {fault}", f"{what}: {fault}"))
    if len(name.encode("cp932")) > NAME_LIMIT:
        raise Refused(t(f"{what}: longer than {NAME_LIMIT} bytes, so SETUP.EXE could not name its script",
                        f"{what}: {NAME_LIMIT} バイトを超えるので、SETUP.EXE が設定ファイルの名前を作れません"))
    # SETUP.EXE finds its own name after the last backslash byte of its path,
    # and in code page 932 the second byte of 表, ソ, 能 and others is one.
    if b"\\" in name.encode("cp932"):
        raise Refused(t(f"{what}: a character of it (表, ソ, 能 ...) ends in the byte of a backslash in "
                        "code page 932, where SETUP.EXE would cut its own name",
                        f"{what}: 2バイト目が「\\」(0x5C) の文字 (表、ソ、能 など) があるので、"
                        "SETUP.EXE がそこで自分の名前を切ってしまいます"))


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
                faults.append(t(f"{path}: the name {fault}", f"{path}: {fault}"))
                continue
            if name.upper() in seen:
                other = os.path.join(here, seen[name.upper()])
                faults.append(t(f"{path}: Windows takes it for {other}", f"{path}: Windows では {other} と同じ名前です"))
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
                faults.append(t(f"{path}: neither a file nor a folder", f"{path}: ファイルでもフォルダでもありません"))

    walk("")
    if faults:
        raise Refused(t("these names cannot go into a package for Windows:", "次の名前は Windows 用のパッケージに入れられません:")
                      + "\n  " + "\n  ".join(faults))
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
        say(t(f"preparing a Wine prefix for the checker in {prefix} (once)",
              f"検査プログラム用の Wine のプレフィックスを {prefix} に用意します (初回だけです)"))
        subprocess.run(["/usr/lib/wine/wine64", "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def find_checker(build):
    """The command that starts CHECKINF.EXE of the build under Wine."""
    for arch, wine in (("x86_64", "/usr/lib/wine/wine64"), ("i686", "/usr/lib/wine/wine")):
        checker = os.path.join(build, arch, "CHECKINF.EXE")
        if os.path.isfile(checker):
            return [wine, checker]
    raise Refused(t(f"no CHECKINF.EXE under {build}: build first (tools/build.sh)",
                    f"{build} に CHECKINF.EXE がありません。先にビルドしてください (tools/build.sh)"))


def run_checker(build, stage, script_name, shown_script):
    """Runs CHECKINF.EXE on the layout; returns its status after printing its
    findings with the maker's own script path."""
    try:
        result = subprocess.run(find_checker(build) + [windows_path(stage)], env=wine_environment(build),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=stage, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Refused(t(f"the checker could not run under Wine: {error}", f"検査プログラムを Wine で実行できませんでした: {error}"))
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
        raise Refused(t(f"the checker ended with status {result.returncode}: {summary[0]}",
                        f"検査プログラムが終了状態 {result.returncode} で終わりました: {summary[0]}"))
    say(t("checker: ", "検査: ") + summary[0])
    return result.returncode


# ---------------------------------------------------------------- files the script leaves out

def install_sources(script_path):
    """The sources of the [Install] entries, read as the profile reader of
    SETUP.EXE reads them: keys whatever their case, the first of a repeated
    key, blanks around a value dropped and a pair of quotes around it taken
    off, entries from 1 up to the first missing number or empty source."""
    with open(script_path, "rb") as f:
        text = f.read().decode("cp932", errors="replace")
    values, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line[1:line.index("]")].strip().upper() if "]" in line else None
        elif section == "INSTALL" and "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            value = value.strip()
            if len(value) >= 2 and value[0] == value[-1] == '"':
                value = value[1:-1]
            values.setdefault(key.strip().upper(), value)
    sources = []
    for n in range(1, len(values) + 1):
        source = values.get(str(n), "").split(",", 1)[0].rstrip()
        if not source:
            break
        sources.append(source)
    return sources


def warn_uninstalled(stage, members, own, script_name):
    """A warning for each file of the folder that no [Install] entry copies:
    it goes into the archive, but never onto the customer's machine, which
    is seldom what was meant (a file forgotten in the script, or one that
    was never meant to ship)."""
    listed = set()
    for source in install_sources(os.path.join(stage, script_name)):
        parts = [p for p in source.split("\\") if p not in ("", ".")]
        listed.add("\\".join(parts).upper())
    for member in members:
        if member.endswith(os.sep) or member.upper() in own:
            continue
        shown = member.replace(os.sep, "\\")
        if shown.upper() not in listed:
            say(t(f"  warning: {shown} - no [Install] entry installs this file; it goes into the archive "
                  "but never onto the customer's machine",
                  f"  警告: {shown} - どの [Install] の項目もこのファイルをインストールしません。"
                  "アーカイブには入りますが、お客様のマシンにはコピーされません"))


# ---------------------------------------------------------------- the binding

# Where the build's SETUP.EXE keeps the script's digest: this mark, then 32
# bytes that are all zero until the package step fills them.
BINDING_MARK = b"SETUP.BINDING.1\0"


def holds_hash_section(script):
    """Whether the script has a [Hash] section, in any letter case: the
    package step writes that one, and the program would obey whichever
    came first."""
    for line in script.split(b"\n"):
        line = line.strip(b" \t\r")
        if line.startswith(b"[") and line[1:].split(b"]")[0].strip().upper() == b"HASH":
            return True
    return False


def entry_digests(build, stage):
    """[(entry number, SHA-256 in hex)] of every [Install] entry whose source
    lies in the staged folder, as CHECKINF.EXE gives them: its loaders read
    the entries exactly as SETUP.EXE does, and Wine opens each source as
    SETUP.EXE would."""
    try:
        result = subprocess.run(find_checker(build) + [windows_path(stage)],
                                env=dict(wine_environment(build), CHECKINF_DIGESTS="1"),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=stage, timeout=600)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Refused(t(f"the checker could not run under Wine: {error}", f"検査プログラムを Wine で実行できませんでした: {error}"))
    digests = []
    for line in result.stdout.decode("ascii", errors="replace").split("\r\n"):
        if line:
            number, _, digest = line.partition("\t")
            digests.append((int(number), digest))
    if result.returncode != 0 or any(len(d) != 64 for _, d in digests):
        raise Refused(t("the checker could not hash the files", "検査プログラムがファイルのハッシュを計算できませんでした"))
    return digests


def bind(build, stage, script_name, exe_name):
    """Binds the staged script and every file it installs from the folder to
    the staged setup program, which the maker's signature then covers: the
    script gets a [Hash] section with each such entry's SHA-256 under its
    number, and SETUP.EXE the SHA-256 of the script so completed."""
    script_path = os.path.join(stage, script_name)
    with open(script_path, "rb") as f:
        script = f.read()
    if holds_hash_section(script):
        raise Refused(t(f"{script_name} holds a [Hash] section: the package step writes it; take it out",
                        f"{script_name} に [Hash] セクションがあります。パッケージの作成時に書くものなので、削除してください"))
    digests = entry_digests(build, stage)
    if script and not script.endswith(b"\n"):
        script += b"\r\n"
    script += b"[Hash]\r\n" + b"".join(b"%d=%s\r\n" % (n, d.encode()) for n, d in digests)
    with open(script_path, "wb") as f:
        f.write(script)
    bind_program(os.path.join(stage, exe_name), hashlib.sha256(script).digest())
    say(t(f"bound {exe_name} to {script_name} and the {len(digests)} files it installs from the folder",
          f"{exe_name} に {script_name} と、それが配布フォルダからインストールする {len(digests)} 個のファイルを結び付けました"))


def bind_program(path, digest):
    """Writes the script's digest after the mark in the setup program."""
    with open(path, "r+b") as f:
        program = f.read()
        at = program.find(BINDING_MARK)
        if at < 0 or program.find(BINDING_MARK, at + 1) >= 0:
            raise Refused(t(f"{path}: no single place for the binding in it; rebuild it (tools/build.sh)",
                            f"{path}: 結び付けの場所が一つに定まりません。ビルドし直してください (tools/build.sh)"))
        f.seek(at + len(BINDING_MARK))
        f.write(digest)


# ---------------------------------------------------------------- signing

def sign(path, args):
    command = ["osslsigncode", "sign", "-h", "sha256"] + signing_key(args)
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
        raise Refused(t(f"osslsigncode could not run ({error}); tools/deps.sh installs it",
                        f"osslsigncode を実行できませんでした ({error})。tools/deps.sh がインストールします"))
    if result.returncode != 0 or not os.path.isfile(signed):
        raise Refused(t("signing failed:", "署名に失敗しました:") + "\n  " + "\n  ".join(result.stdout.strip().splitlines()))
    os.replace(signed, path)
    name = os.path.basename(path)
    if args.timestamp:
        say(t(f"signed {name}, time-stamped by {args.timestamp}", f"{name} に署名しました (タイムスタンプ: {args.timestamp})"))
    else:
        say(t(f"signed {name}", f"{name} に署名しました"))


def signing_key(args):
    """osslsigncode's options for the key: a PKCS#12 file, a certificate with
    a key file, or a certificate with a key that stays on a hardware token,
    reached through its PKCS#11 module (publicly trusted code-signing keys
    have to live on one)."""
    if args.pkcs12:
        return ["-pkcs12", args.pkcs12]
    if args.pkcs11_key:
        engine = ["-pkcs11engine", args.pkcs11_engine] if args.pkcs11_engine else []
        return engine + ["-pkcs11module", args.pkcs11_module, "-certs", args.cert, "-key", args.pkcs11_key]
    return ["-certs", args.cert, "-key", args.key]


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
        raise Refused(t("more than 65535 files and folders", "ファイルとフォルダが 65535 個を超えています"))
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
                raise Refused(t(f"{member} is larger than 4 GiB", f"{member} が 4 GiB を超えています"))
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

EPILOG = (t("""exit status:
  0  the archive was written
  1  refused or failed: the checker found errors, a name cannot go to Windows, signing failed ...
  2  wrong usage

environment:
  PACKAGE_BUILD       the build root, as --build
  PACKAGE_WINEPREFIX  the Wine prefix the checker runs in (default: WINEPREFIX when set,
                      else package-prefix/ in the build root, made on first use)
  LANG, LC_ALL        a Japanese locale (ja_JP.UTF-8) gives Japanese messages""",
              """終了状態:
  0  アーカイブを書きました
  1  作れませんでした: 検査でエラーが見つかった、Windows で使えない名前がある、署名に失敗した など
  2  使い方が正しくありません

環境変数:
  PACKAGE_BUILD       ビルドのルート (--build と同じ)
  PACKAGE_WINEPREFIX  検査プログラムを動かす Wine のプレフィックス (既定: WINEPREFIX があればそれ、
                      なければビルドのルートの package-prefix/。初回に作ります)
  LANG, LC_ALL        日本語のロケール (ja_JP.UTF-8) ならメッセージは日本語です"""))


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="tools/package.sh", formatter_class=argparse.RawDescriptionHelpFormatter, epilog=EPILOG,
        description=t("Checks a distribution folder, puts in SETUP.EXE, binds the script and the files it "
                      "installs to it, signs it if asked, and writes a zip archive with Japanese names in "
                      "code page 932.",
                      "配布フォルダを検査し、SETUP.EXE を入れ、設定ファイルとそれがインストールするファイルを"
                      "SETUP.EXE に結び付け、指定があれば署名して、日本語の名前をコードページ 932 で格納した "
                      "zip アーカイブを書きます。"))
    parser.add_argument("dist", metavar="DIST_DIR",
                        help=t("the distribution folder: the script and the product's files",
                               "配布フォルダ: 設定ファイルと製品のファイル"))
    parser.add_argument("archive", metavar="ARCHIVE.zip", nargs="?",
                        help=t("the archive to write (default: DIST_DIR.zip beside the folder)",
                               "書くアーカイブ (既定: フォルダの隣の DIST_DIR.zip)"))
    parser.add_argument("--arch", choices=ARCHES, default="i686",
                        help=t("which SETUP.EXE: i686 (default) runs on every Windows the program is for, "
                               "x86_64 on 64-bit Windows only",
                               "どの SETUP.EXE か: i686 (既定) は対象のすべての Windows で、x86_64 は "
                               "64 ビットの Windows でだけ動きます"))
    parser.add_argument("--name", help=t("the setup program's name in the package (default: the script's name "
                                         "with .EXE, SETUP.EXE for SETUP.INF); the script is named after it",
                                         "パッケージでのセットアップの実行ファイル名 (既定: 設定ファイルの名前の"
                                         "拡張子を .EXE にしたもの、SETUP.INF なら SETUP.EXE)。設定ファイルの"
                                         "名前はこれに合わせます"))
    parser.add_argument("--pkcs12", metavar="FILE", help=t("sign with the certificate and key in this PKCS#12 file",
                                                           "この PKCS#12 ファイルの証明書と鍵で署名します"))
    parser.add_argument("--cert", metavar="FILE", help=t("sign with this certificate (chain), PEM or DER, and "
                                                         "--key or --pkcs11-key",
                                                         "この証明書 (チェーン、PEM か DER) と --key か "
                                                         "--pkcs11-key で署名します"))
    parser.add_argument("--key", metavar="FILE", help=t("... the private key in a file", "... 秘密鍵のファイル"))
    parser.add_argument("--pkcs11-key", metavar="URI",
                        help=t("... or the private key on a hardware token, as a PKCS#11 URI "
                               "(pkcs11:token=...;object=...), with --pkcs11-module",
                               "... またはハードウェアトークンの秘密鍵を PKCS#11 の URI "
                               "(pkcs11:token=...;object=...) で。--pkcs11-module と一緒に使います"))
    parser.add_argument("--pkcs11-module", metavar="FILE",
                        help=t("the token's PKCS#11 module (its vendor's .so)", "トークンの PKCS#11 モジュール (.so)"))
    parser.add_argument("--pkcs11-engine", metavar="FILE",
                        help=t("the OpenSSL engine for PKCS#11 (default: the one osslsigncode finds, "
                               "libengine-pkcs11-openssl on Debian)",
                               "PKCS#11 用の OpenSSL エンジン (既定: osslsigncode が見つけるもの。"
                               "Debian では libengine-pkcs11-openssl)"))
    parser.add_argument("--password-file", metavar="FILE",
                        help=t("the key's password, or the token's PIN, read from this file",
                               "鍵のパスワードまたはトークンの PIN を、このファイルから読みます"))
    parser.add_argument("--timestamp", metavar="URL", help=t("RFC 3161 time-stamp server for the signature",
                                                             "署名に使う RFC 3161 のタイムスタンプサーバー"))
    parser.add_argument("--build", metavar="DIR", default=os.environ.get("PACKAGE_BUILD", os.path.join(ROOT, "build")),
                        help=t("the build root holding i686/ and x86_64/ (default: build/ of this repository)",
                               "i686/ と x86_64/ のあるビルドのルート (既定: このリポジトリの build/)"))
    args = parser.parse_args(argv)
    keys = [option for option, given in (("--pkcs12", args.pkcs12), ("--key", args.key),
                                         ("--pkcs11-key", args.pkcs11_key)) if given]
    if len(keys) > 1:
        parser.error(t(f"{' and '.join(keys)}: one way to the key, not several",
                       f"{'と'.join(keys)}: 鍵の指定はどれか一つにしてください"))
    if bool(args.cert) != bool(args.key or args.pkcs11_key):
        parser.error(t("--cert goes with --key or --pkcs11-key", "--cert は --key か --pkcs11-key と一緒に使います"))
    if bool(args.pkcs11_key) != bool(args.pkcs11_module) or (args.pkcs11_engine and not args.pkcs11_key):
        parser.error(t("--pkcs11-key and --pkcs11-module go together (--pkcs11-engine with them)",
                       "--pkcs11-key と --pkcs11-module は一緒に使います (--pkcs11-engine もそれと一緒に)"))
    if args.pkcs11_key and not args.pkcs11_key.startswith("pkcs11:"):
        parser.error(t("--pkcs11-key takes a PKCS#11 URI, beginning with pkcs11:",
                       "--pkcs11-key には pkcs11: で始まる PKCS#11 の URI を指定します"))
    signing = args.pkcs12 or args.cert
    if (args.timestamp or args.password_file) and not signing:
        parser.error(t("--timestamp and --password-file need a certificate (--pkcs12, or --cert with a key)",
                       "--timestamp と --password-file には証明書 (--pkcs12、または --cert と鍵) が要ります"))
    return args


def package(args):
    dist = os.path.abspath(args.dist)
    if not os.path.isdir(dist):
        raise Refused(t(f"{args.dist} is not a folder", f"{args.dist} はフォルダではありません"))
    archive = os.path.abspath(args.archive or dist.rstrip(os.sep) + ".zip")
    if not archive.lower().endswith(".zip"):
        raise Refused(t(f"{archive}: the archive's name must end in .zip",
                        f"{archive}: アーカイブの名前は .zip で終わるようにしてください"))
    if os.path.commonpath([dist, archive]) == dist:
        raise Refused(t(f"{archive} lies inside the folder it would hold", f"{archive} が、中に入れるフォルダの中にあります"))
    for path in (args.pkcs12, args.cert, args.key, args.password_file, args.pkcs11_module, args.pkcs11_engine):
        if path and not os.path.isfile(path):
            raise Refused(t(f"{path}: no such file", f"{path}: ファイルがありません"))
    setup_exe = os.path.join(args.build, args.arch, "SETUP.EXE")
    if not os.path.isfile(setup_exe):
        raise Refused(t(f"no {setup_exe}: build first (tools/build.sh)",
                        f"{setup_exe} がありません。先にビルドしてください (tools/build.sh)"))

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
        say(t(f"{dist}: {script} as {script_name}, {exe_name} for {args.arch}",
              f"{dist}: {script} を {script_name} として、{args.arch} 用の {exe_name} と入れます"))

        status = run_checker(args.build, stage, script_name, os.path.join(dist, script))
        if status == 2:
            raise Refused(t("the checker found errors: no archive written", "検査でエラーが見つかったので、アーカイブは作りませんでした"))
        warn_uninstalled(stage, members, {exe_name.upper(), script_name.upper()}, script_name)
        bind(args.build, stage, script_name, exe_name)
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
    say(f"  {total:>10}  " + t(f"bytes in {files} files, names in code page 932",
                              f"バイト、{files} ファイル、名前はコードページ 932"))
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
