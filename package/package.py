#!/usr/bin/env python3
"""From a product maker's distribution folder to the archive they publish.

    tools/package.sh [options] DIST_DIR [ARCHIVE.zip]

The folder's files are laid out again with the build's SETUP.EXE of the
architecture asked for and the script named after it; CHECKINF.EXE judges
that very layout under Wine (errors refuse, warnings are printed); the
script and every file it installs from the folder are bound to SETUP.EXE
(an entry whose source lies outside the folder refuses the package, since
nothing outside it can be bound), which is then signed when a certificate
is given; and the archive stores its names in code page 932, as the common
Japanese archivers do, so that they come out right when a customer extracts
it on Japanese Windows. With --winget, the Windows package manager's
manifests of the archive are written beside it. Nothing is written unless
every step succeeds. Messages are Japanese under a Japanese locale,
English otherwise. Exit status: 0 written, 1 refused or failed, 2 wrong usage.
"""
import argparse
import hashlib
import json
import os
import re
import socket
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
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


# ---------------------------------------------------------------- the script's own words

def install_values(script_path):
    """The [Install] keys, read as the profile reader of SETUP.EXE reads
    them: keys whatever their case, the first of a repeated key, blanks
    around a value dropped and a pair of quotes around it taken off."""
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
    return values


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
    SETUP.EXE would. An entry whose source lies outside the folder refuses
    the package: the packaged SETUP.EXE installs only what it has a digest
    for, and nothing outside the package can have one."""
    try:
        result = subprocess.run(find_checker(build) + [windows_path(stage)],
                                env=dict(wine_environment(build), CHECKINF_DIGESTS="1"),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=stage, timeout=600)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Refused(t(f"the checker could not run under Wine: {error}", f"検査プログラムを Wine で実行できませんでした: {error}"))
    digests, outside = [], []
    for line in result.stdout.decode("cp932", errors="replace").split("\r\n"):
        if line:
            number, _, digest = line.partition("\t")
            if digest.startswith("-\t"):
                outside.append((int(number), digest[2:]))
            else:
                digests.append((int(number), digest))
    if result.returncode != 0 or any(len(d) != 64 for _, d in digests):
        raise Refused(t("the checker could not hash the files", "検査プログラムがファイルのハッシュを計算できませんでした"))
    if outside:
        listed = "\n  ".join(f"[Install] {n}: {source}" for n, source in outside)
        raise Refused(t("these entries install a file from outside the distribution folder:\n  " + listed +
                        "\nThe packaged SETUP.EXE installs only the files whose SHA-256 the package recorded, and a "
                        "file outside the folder is not in the package, so none can be recorded for it. Put the file "
                        "into the folder and name it from there.",
                        "次の項目は配布ディレクトリの外のファイルをインストールします:\n  " + listed +
                        "\nパッケージにした SETUP.EXE は、パッケージが SHA-256 を記録したファイルだけをインストールします。"
                        "配布ディレクトリの外のファイルはパッケージに入らないので、記録できません。"
                        "そのファイルを配布ディレクトリに入れ、そこからの名前で指定してください。"))
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
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                text=True, errors="replace", timeout=300)
    except OSError as error:
        raise Refused(t(f"osslsigncode could not run ({error}); tools/deps.sh installs it",
                        f"osslsigncode を実行できませんでした ({error})。tools/deps.sh がインストールします"))
    if result.returncode != 0 or not os.path.isfile(signed):
        # osslsigncode names options of its own, which this command does not have.
        lines = [line for line in result.stdout.strip().splitlines() if not re.search(r'\buse the "?-\w', line, re.I)]
        raise Refused(t("signing failed: ", "署名に失敗しました: ") + signing_failure(result.stdout, args) +
                      "\n  " + "\n  ".join(lines))
    os.replace(signed, path)
    name = os.path.basename(path)
    if args.timestamp:
        say(t(f"signed {name}, time-stamped by {args.timestamp}", f"{name} に署名しました (タイムスタンプ: {args.timestamp})"))
    else:
        say(t(f"signed {name}", f"{name} に署名しました"))
        expires = certificate_end(args.cert)
        say(t(f"  warning: signed without a time stamp: the signature stops being valid when the certificate "
              f"expires{' (' + expires + ')' if expires else ''}; give --timestamp URL",
              f"  警告: タイムスタンプなしで署名しました。証明書の期限{'(' + expires + ')' if expires else ''}が"
              "切れると署名は無効になります。--timestamp URL を指定してください"))


def signing_failure(output, args):
    """The cause of a failed signature in one line, from what osslsigncode
    and OpenSSL printed (they print the cause among lines that follow from
    it) and, for a time-stamp server, from a connection of our own."""
    text = output.lower()
    key = args.pkcs11_key or args.key or args.pkcs12
    if "pin incorrect" in text or "pin_incorrect" in text or "login failed" in text:
        if args.password_file:
            return t(f"the token refused the PIN in {args.password_file}",
                     f"トークンが {args.password_file} の PIN を受け付けませんでした")
        return t("the token asks for a PIN: give it with --password-file FILE",
                 "トークンに PIN が要ります。--password-file FILE で指定してください")
    if any(words in text for words in ("wrong password", "bad decrypt", "mac verify failure", "bad password read")):
        if args.password_file:
            return t(f"the password in {args.password_file} does not open {key}",
                     f"{args.password_file} のパスワードでは {key} を開けません")
        return t(f"{key} is protected by a password: give it with --password-file FILE",
                 f"{key} はパスワードで保護されています。--password-file FILE で指定してください")
    if "key values mismatch" in text or "consistency of a private key" in text:
        return t(f"the private key {key} does not belong to the certificate {args.cert or args.pkcs12}",
                 f"秘密鍵 {key} は証明書 {args.cert or args.pkcs12} のものではありません")
    if "private key was not found" in text:
        return t(f"the token holds no private key at {args.pkcs11_key}: check its token= and object=",
                 f"トークンの {args.pkcs11_key} に秘密鍵がありません。token= と object= を確かめてください")
    if args.timestamp and ("timestamp" in text or "failed to get data from" in text):
        problem = unreachable(args.timestamp)
        if problem:
            return t(f"the time-stamp server {args.timestamp} cannot be reached ({problem}); check the address and "
                     "this machine's network, or leave out --timestamp to sign without a time stamp",
                     f"タイムスタンプサーバー {args.timestamp} に接続できません ({problem})。アドレスとこのマシンの"
                     "ネットワークを確かめるか、--timestamp を外してタイムスタンプなしで署名してください")
        return t(f"the time-stamp server {args.timestamp} answered, but gave no time stamp: is it an RFC 3161 server?",
                 f"タイムスタンプサーバー {args.timestamp} は応答しましたが、タイムスタンプを返しませんでした。"
                 "RFC 3161 のサーバーですか")
    return t("osslsigncode says:", "osslsigncode の出力:")


def unreachable(url):
    """Why a connection to the server of this address fails, or None."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        return t("not an http:// or https:// address", "http:// か https:// のアドレスではありません")
    try:
        port = parts.port or (443 if parts.scheme == "https" else 80)
        socket.create_connection((parts.hostname, port), timeout=15).close()
    except ValueError as error:
        return str(error)
    except OSError as error:
        return f"{parts.hostname}:{parts.port or ''}".rstrip(":") + ": " + (error.strerror or str(error))
    return None


def certificate_end(cert):
    """When the certificate file's certificate expires, as OpenSSL says it."""
    for form in ("PEM", "DER"):
        if not cert:
            break
        shown = subprocess.run(["openssl", "x509", "-noout", "-enddate", "-inform", form, "-in", cert],
                               capture_output=True, text=True, errors="replace")
        if shown.returncode == 0 and "=" in shown.stdout:
            return shown.stdout.strip().split("=", 1)[1]
    return None


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


# ---------------------------------------------------------------- the Windows package manager

# The manifest schema the community repository of the Windows package manager recommends.
WINGET_SCHEMA = "1.12.0"
# A segment of a package identifier, and a version, as that schema allows them.
WINGET_SEGMENT = r'[^.\s\\/:*?"<>|\x01-\x1f]{1,32}'
WINGET_VERSION = r'[^\\/:*?"<>|\x01-\x1f]{1,128}'
# SETUP.EXE's exit statuses of a silent installation, as winget should read
# them (0 is success, which winget knows without being told).
WINGET_RETURNS = ((2, "contactSupport"),    # the script is broken, or an entry of it refused
                  (3, "invalidParameter"),  # the installation folder was refused
                  (4, "fileInUse"),         # a file could not be copied
                  (5, "contactSupport"))    # a file failed its check against the package


def winget_package(args, script_path, exe_name):
    """What the manifests say, taken from the script's own words, or a
    refusal that says what is missing, before anything is done."""
    values = install_values(script_path)
    missing = [key for key in ("Publisher", "Version") if not values.get(key.upper())]
    if missing:
        keys = t(" and ", "と").join(f"{key}=" for key in missing)
        raise Refused(t(f"--winget: the script's [Install] section has no {keys}: winget lists a package under its "
                        "publisher and version; add them to the script",
                        f"--winget: 設定ファイルの [Install] セクションに {keys} がありません。winget はパッケージを"
                        "発行元とバージョンで扱うので、設定ファイルに書いてください"))
    version = values["VERSION"]
    if not re.fullmatch(WINGET_VERSION, version):
        raise Refused(t(f"--winget: Version={version} holds a character winget does not allow in a version",
                        f"--winget: Version={version} に winget のバージョンで使えない文字があります"))
    if not re.fullmatch(r"[Hh][Tt][Tt][Pp][Ss]?://.+", args.winget) or len(args.winget) > 2048:
        raise Refused(t(f"--winget {args.winget}: the address the archive is published at, http:// or https://",
                        f"--winget {args.winget}: アーカイブを公開するアドレスを http:// か https:// で指定してください"))
    identifier = args.id
    if identifier is None:
        # Vendor.Product from the publisher and the folder, with what an identifier cannot hold left out.
        identifier = ".".join(re.sub(r'[.\s\\/:*?"<>|\x00-\x1f]', "", part)[:32]
                              for part in (values["PUBLISHER"], values.get("FOLDER", "")))
    if not re.fullmatch(WINGET_SEGMENT + r"(\." + WINGET_SEGMENT + "){1,7}", identifier) or len(identifier) > 128:
        raise Refused(t(f"--winget: {identifier} cannot be a package identifier (Vendor.Product: two to eight parts "
                        "of up to 32 characters, no blanks); give one with --id",
                        f"--winget: {identifier} はパッケージの識別子にできません (Vendor.Product の形で 2 から 8 個、"
                        "それぞれ 32 文字まで、空白なし)。--id で指定してください"))
    return {"id": identifier, "version": version, "publisher": values["PUBLISHER"],
            "name": values.get("TITLE", ""), "folder": values.get("FOLDER", ""), "url": args.winget,
            "exe": exe_name, "architecture": {"i686": "x86", "x86_64": "x64"}[args.arch]}


def yaml_text(value):
    """A YAML scalar: plain where YAML can only read it as this very text,
    else quoted (a JSON string is a YAML double-quoted one)."""
    if not isinstance(value, str):
        return str(value)
    plain = re.fullmatch(r"[A-Za-z/][A-Za-z0-9_./<>=-]*", value) and value.lower() not in (
        "true", "false", "yes", "no", "on", "off", "y", "n", "null")
    return value if plain else json.dumps(value, ensure_ascii=False)


def yaml_lines(value, indent=0):
    """Block-style YAML of mappings, sequences and scalars."""
    pad, lines = " " * indent, []
    for key, item in (value.items() if isinstance(value, dict) else ((None, v) for v in value)):
        head = f"{pad}{key}:" if key is not None else f"{pad}-"
        if isinstance(item, (dict, list)) and key is not None:
            lines.append(head)
            lines += yaml_lines(item, indent + 2)
        elif isinstance(item, (dict, list)):
            inner = yaml_lines(item, indent + 2)
            lines += [f"{head} {inner[0][indent + 2:]}"] + inner[1:]
        else:
            lines.append(f"{head} {yaml_text(item)}")
    return lines


def write_manifest(path, kind, fields):
    lines = [f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{WINGET_SCHEMA}.schema.json", ""]
    lines += yaml_lines(dict(fields, ManifestType=kind, ManifestVersion=WINGET_SCHEMA))
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def write_winget(package, archive):
    """The version, default-locale and installer manifests of the package,
    beside the archive, in the community repository's multi-file form."""
    with open(archive, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    folder, identifier, locale = os.path.dirname(archive), package["id"], "ja-JP"
    common = {"PackageIdentifier": identifier, "PackageVersion": package["version"]}
    written = []

    def manifest(name, kind, fields):
        path = os.path.join(folder, name)
        write_manifest(path, kind, dict(common, **fields))
        written.append(path)

    manifest(f"{identifier}.yaml", "version", {"DefaultLocale": locale})
    manifest(f"{identifier}.locale.{locale}.yaml", "defaultLocale", {
        "PackageLocale": locale, "Publisher": package["publisher"], "PackageName": package["name"],
        # Both are required; these stand in until the maker writes their own.
        "License": "Proprietary", "ShortDescription": package["name"]})
    manifest(f"{identifier}.installer.yaml", "installer", {
        "InstallerType": "zip",
        "NestedInstallerType": "exe",
        "NestedInstallerFiles": [{"RelativeFilePath": package["exe"]}],
        "Scope": "machine",
        "InstallModes": ["silent", "silentWithProgress"],
        "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S", "InstallLocation": "/D=<INSTALLPATH>"},
        "ExpectedReturnCodes": [{"InstallerReturnCode": code, "ReturnResponse": response}
                                for code, response in WINGET_RETURNS],
        "UpgradeBehavior": "install",
        "ElevationRequirement": "elevatesSelf",
        "ProductCode": package["folder"],
        "AppsAndFeaturesEntries": [{"DisplayName": package["name"], "Publisher": package["publisher"],
                                    "DisplayVersion": package["version"], "ProductCode": package["folder"]}],
        "Installers": [{"Architecture": package["architecture"], "InstallerUrl": package["url"],
                        "InstallerSha256": sha256}]})
    say(t("winget manifests (schema " + WINGET_SCHEMA + "):", "winget のマニフェスト (スキーマ " + WINGET_SCHEMA + "):"))
    for path in written:
        say(f"  {path}")
    say(t(f"  License: Proprietary and ShortDescription: {package['name']} stand in: write your own into "
          f"{identifier}.locale.{locale}.yaml before you submit it",
          f"  License: Proprietary と ShortDescription: {package['name']} は仮の値です。提出する前に "
          f"{identifier}.locale.{locale}.yaml に製品のものを書いてください"))


# ---------------------------------------------------------------- the command

EPILOG = (t("""exit status:
  0  the archive was written
  1  refused or failed: the checker found errors, an entry's source lies outside the folder, a name
     cannot go to Windows, signing failed, --winget without the script's Publisher or Version ...
  2  wrong usage

environment:
  PACKAGE_BUILD       the build root, as --build
  PACKAGE_WINEPREFIX  the Wine prefix the checker runs in (default: WINEPREFIX when set,
                      else package-prefix/ in the build root, made on first use)
  LANG, LC_ALL        a Japanese locale (ja_JP.UTF-8) gives Japanese messages""",
              """終了状態:
  0  アーカイブを書きました
  1  作れませんでした: 検査でエラーが見つかった、コピー元が配布ディレクトリの外にある項目がある、
     Windows で使えない名前がある、署名に失敗した、--winget で設定ファイルに Publisher か Version がない など
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
    parser.add_argument("--winget", metavar="URL",
                        help=t("also write the Windows package manager's manifests beside the archive, for the "
                               "archive published at this address (the script's Publisher and Version are needed)",
                               "アーカイブの隣に Windows パッケージマネージャー (winget) のマニフェストも書きます。"
                               "URL はアーカイブを公開するアドレスです (設定ファイルの Publisher と Version が要ります)"))
    parser.add_argument("--id", metavar="Vendor.Product",
                        help=t("the package identifier in the manifests (default: Publisher.Folder of the script)",
                               "マニフェストのパッケージ識別子 (既定: 設定ファイルの Publisher.Folder)"))
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
    if args.id is not None and not args.winget:
        parser.error(t("--id goes with --winget", "--id は --winget と一緒に使います"))
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
    winget = winget_package(args, os.path.join(dist, script), exe_name) if args.winget else None

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
        bind(args.build, stage, script_name, exe_name)
        if args.pkcs12 or args.cert:
            sign(os.path.join(stage, exe_name), args)
        else:
            say(t(f"  warning: {exe_name} is not signed: the administrator prompt names no publisher "
                  "(\"Unknown publisher\"); sign it with --cert and --key, or --pkcs12",
                  f"  警告: {exe_name} に署名していません。管理者の確認で発行元が「不明な発行元」と表示されます。"
                  "--cert と --key、または --pkcs12 で署名してください"))

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
    if winget:
        write_winget(winget, archive)
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
