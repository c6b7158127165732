#!/usr/bin/env python3
"""tools/package.sh on the host, its checker under the rig's Wine prefix.

    package_test.py TREE ARCH Package.test_...

TREE is a build tree (build/i686 or build/x86_64) and ARCH its architecture:
the package gets that tree's SETUP.EXE. Exit status 77 where the machine
cannot run the 32-bit programs a case needs.
"""
import hashlib
import http.server
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TREE, ARCH = os.path.abspath(sys.argv[1]), sys.argv[2]
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
import check_resources  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "package"))
import package as packaging  # noqa: E402


def run(command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                          **options)


def package(*arguments, lang="C.UTF-8", env=None):
    return run([os.path.join(ROOT, "tools", "package.sh"), "--build", os.path.dirname(TREE), "--arch", ARCH,
                *arguments], env=dict(env or os.environ, LANG=lang, LC_ALL=lang))


def work_dir(name):
    path = os.path.join(TREE, "package-tests", name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def script(text):
    """A script as makers write it: code page 932, CRLF."""
    return text.replace("\n", "\r\n").encode("cp932")


def digest(data):
    return hashlib.sha256(data).hexdigest()


def tree(top):
    """{relative name with '/': the content's digest, or None for a folder}."""
    found = {}
    for folder, folders, files in os.walk(top):
        rel = os.path.relpath(folder, top)
        prefix = "" if rel == "." else rel.replace(os.sep, "/") + "/"
        for name in folders:
            found[prefix + name + "/"] = None
        for name in files:
            found[prefix + name] = digest(read(os.path.join(folder, name)))
    return found


def central_directory(archive):
    """(flags, raw name) of each member, read straight from the archive's
    central directory, so that no reader's idea of the encoding comes in."""
    data = read(archive)
    end = data.rindex(b"PK\x05\x06")
    count, size, start = struct.unpack_from("<HII", data, end + 10)
    members = []
    at = start
    for _ in range(count):
        assert data[at:at + 4] == b"PK\x01\x02"
        flags = struct.unpack_from("<H", data, at + 8)[0]
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, at + 28)
        members.append((flags, data[at + 46:at + 46 + name_length]))
        at += 46 + name_length + extra_length + comment_length
    return members


def extract(archive, target):
    with zipfile.ZipFile(archive, metadata_encoding="cp932") as z:
        z.extractall(target)


class Certificates:
    """A throwaway code-signing certificate and a time-stamping authority
    answering on this machine's loopback address through openssl ts."""

    def __init__(self, folder):
        self.folder = folder
        for name, usage in (("maker", "codeSigning"), ("stranger", "codeSigning"), ("tsa", "critical,timeStamping")):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                            "-subj", f"/CN=Throwaway {name}", "-addext", f"extendedKeyUsage={usage}",
                            "-keyout", self.path(f"{name}.key"), "-out", self.path(f"{name}.pem")],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        write(self.path("serial"), b"01\n")
        write(self.path("tsa.cnf"), (
            "[tsa]\ndefault_tsa = answer\n[answer]\n"
            f"serial = {self.path('serial')}\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
            "digests = sha256, sha384, sha512\naccuracy = secs:1\ness_cert_id_alg = sha256\n").encode())
        folder_of = self

        class Answer(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                reply = subprocess.run(["openssl", "ts", "-reply", "-config", folder_of.path("tsa.cnf"),
                                        "-queryfile", "/dev/stdin", "-signer", folder_of.path("tsa.pem"),
                                        "-inkey", folder_of.path("tsa.key"), "-out", "/dev/stdout"],
                                       input=query, capture_output=True)
                folder_of.stamps += 1
                self.send_response(200 if reply.returncode == 0 else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply.stdout)))
                self.end_headers()
                self.wfile.write(reply.stdout)

            def log_message(self, *_):
                pass

        self.stamps = 0
        self.server = http.server.HTTPServer(("127.0.0.1", 0), Answer)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"

    def path(self, name):
        return os.path.join(self.folder, name)

    def close(self):
        self.server.shutdown()
        self.server.server_close()

    def verify(self, exe, ca="maker"):
        return run(["osslsigncode", "verify", "-CAfile", self.path(f"{ca}.pem"), "-TSA-CAfile", self.path("tsa.pem"),
                    "-in", exe])


class Package(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.environ.get("WINEPREFIX"), "run under the test rig (tools/rig.sh)")
        self.setup_exe = read(os.path.join(TREE, "SETUP.EXE"))

    def test_signed_sample(self):
        work = work_dir("signed")
        certificates = Certificates(work)
        self.addCleanup(certificates.close)
        archive = os.path.join(work, "sample.zip")
        # A signing failure names its cause first, and no option of osslsigncode's.
        signing = ["--cert", certificates.path("maker.pem"), os.path.join(TREE, "sample"), archive]
        for key, more, cause in (("stranger.key", [], "the private key " + certificates.path("stranger.key") +
                                  " does not belong to the certificate"),
                                 ("maker.key", ["--timestamp", "http://timestamp.invalid/"],
                                  "the time-stamp server http://timestamp.invalid/ cannot be reached (timestamp.invalid: ")):
            refused = package("--key", certificates.path(key), *more, *signing)
            self.assertEqual(1, refused.returncode, refused.stdout)
            self.assertIn("\npackage: signing failed: " + cause, "\n" + refused.stdout)
            self.assertNotIn('"-t" option', refused.stdout)
        made = package("--cert", certificates.path("maker.pem"), "--key", certificates.path("maker.key"),
                       "--timestamp", certificates.url, os.path.join(TREE, "sample"), archive)
        self.assertEqual(0, made.returncode, made.stdout)
        self.assertIn("signed SETUP.EXE, time-stamped by " + certificates.url, made.stdout)
        self.assertEqual(1, certificates.stamps)

        drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c", "e2e")
        dist = os.path.join(drive_c, "signed_package")
        if os.path.islink(dist):
            os.remove(dist)
        shutil.rmtree(dist, ignore_errors=True)
        extract(archive, dist)
        signed = os.path.join(dist, "SETUP.EXE")
        self.assertNotEqual(digest(self.setup_exe), digest(read(signed)), "left unsigned")
        verified = certificates.verify(signed)
        self.assertEqual(0, verified.returncode, verified.stdout)
        self.assertIn("/CN=Throwaway tsa", verified.stdout)
        # The check means something: a certificate that did not sign it fails.
        self.assertNotEqual(0, certificates.verify(signed, ca="stranger").returncode)
        self.assertTrue(check_resources.check(signed, "SETUP.EXE", "requireAdministrator"))

        checked = run([os.path.join(ROOT, "tools", "check.sh"), dist], env=dict(
            os.environ, CHECK_BUILD=os.path.dirname(TREE), CHECK_WINEPREFIX=os.environ["WINEPREFIX"]))
        self.assertEqual(0, checked.returncode, checked.stdout)  # the [Hash] section is the package's own
        # One byte more in the script, one byte other in a file it installs.
        for suffix, name, alter in (("_script", "SETUP.INF", lambda data: data + b" "),
                                    ("_file", "DATA.DAT", lambda data: data[:-1] + bytes([data[-1] ^ 1]))):
            shutil.rmtree(dist + suffix, ignore_errors=True)
            shutil.copytree(dist, dist + suffix)
            write(os.path.join(dist + suffix, name), alter(read(os.path.join(dist, name))))
        # Bound again as the package step would bind them: a script past 64 KiB,
        # whose [Hash] lines lie beyond what some systems' profile functions
        # read, and one whose entry 2 has no digest.
        bound = read(os.path.join(dist, "SETUP.INF"))
        at = bound.index(b"[Hash]\r\n")
        for suffix, text in (("_big", bound[:at] + b"[Notes]\r\n" + b"; padding\r\n" * 7000 + bound[at:]),
                             ("_nodigest", bound[:at] + re.sub(rb"\r\n2=[0-9a-f]{64}\r\n", b"\r\n", bound[at:]))):
            self.assertNotEqual(bound, text)
            shutil.rmtree(dist + suffix, ignore_errors=True)
            shutil.copytree(dist, dist + suffix)
            write(os.path.join(dist + suffix, "SETUP.INF"), text)
            packaging.bind_program(os.path.join(dist + suffix, "SETUP.EXE"), hashlib.sha256(text).digest())
        # Files unpacked from a download carry the mark of the web; under Wine
        # a stream is a file of that name beside its file.
        for name in ("SETUP.EXE", "SETUP.INF", "README.TXT"):
            write(os.path.join(dist, name + ":Zone.Identifier"), b"[ZoneTransfer]\r\nZoneId=3\r\n")

        # The folder is reached through a link, as a downloads folder may be.
        # While the wizard shows, the scenario asks for it to lead elsewhere:
        # to a folder of the same files and the script it sends.
        real = dist + "_real"
        shutil.rmtree(real, ignore_errors=True)
        os.rename(dist, real)
        os.symlink(os.path.basename(real), dist)
        ask, done = os.path.join(drive_c, "repoint.ask"), os.path.join(drive_c, "repoint.done")
        for marker in (ask, done):
            if os.path.exists(marker):
                os.remove(marker)
        finished = threading.Event()

        def repoint():
            while not finished.wait(0.1):
                if os.path.exists(ask):
                    os.rename(dist, dist + "_link")
                    shutil.copytree(real, dist, ignore=shutil.ignore_patterns("SETUP.INF", "*:Zone.Identifier"))
                    write(os.path.join(dist, "SETUP.INF"), read(ask))
                    write(done, b"")
                    return
        repointer = threading.Thread(target=repoint, daemon=True)
        repointer.start()
        kept = os.path.join(drive_c, "signed_installed.EXE")
        scenario = run([os.path.join(ROOT, "tools", "wine-run.sh"), os.path.join(TREE, "tests", "e2e_tests.exe"),
                        "--gtest_also_run_disabled_tests", "--gtest_filter=Package.DISABLED_*"],
                       timeout=170 * int(os.environ.get("DRIVER_TIME_SCALE", "1")))
        finished.set()
        repointer.join()
        if os.path.islink(dist + "_link"):
            shutil.rmtree(dist)
            os.rename(dist + "_link", dist)
        if scenario.returncode == 77:
            raise unittest.SkipTest("this machine runs no 32-bit code")
        self.assertEqual(0, scenario.returncode, scenario.stdout)
        self.assertIn("[  PASSED  ] 3 tests.", scenario.stdout)
        self.assertEqual(digest(read(signed)), digest(read(kept)))
        verified = certificates.verify(kept)
        self.assertEqual(0, verified.returncode, verified.stdout)
        os.remove(dist)
        for suffix in ("_real", "_script", "_file", "_big", "_nodigest"):
            shutil.rmtree(dist + suffix)
        for marker in (ask, done, kept):
            os.remove(marker)

    def test_token_signature(self):
        """The key on a software token (SoftHSM2) that osslsigncode reaches
        through PKCS#11, as a key on a hardware token is reached."""
        work = work_dir("token")
        certificates = Certificates(work)
        self.addCleanup(certificates.close)
        module = next((m for m in ("/usr/lib/softhsm/libsofthsm2.so",
                                   "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so") if os.path.isfile(m)), None)
        self.assertIsNotNone(module, "no SoftHSM2 (tools/deps.sh installs softhsm2)")
        os.makedirs(os.path.join(work, "tokens"))
        write(os.path.join(work, "softhsm2.conf"), f"directories.tokendir = {work}/tokens\n".encode())
        env = dict(os.environ, SOFTHSM2_CONF=os.path.join(work, "softhsm2.conf"))
        for command in (["--init-token", "--free", "--label", "maker", "--so-pin", "5678", "--pin", "1234"],
                        ["--import", certificates.path("maker.key"), "--token", "maker", "--label", "signing",
                         "--id", "01", "--pin", "1234"]):
            made = run(["softhsm2-util", *command], env=env)
            self.assertEqual(0, made.returncode, made.stdout)
        write(os.path.join(work, "pin"), b"1234\n")
        archive = os.path.join(work, "sample.zip")
        token = ["--cert", certificates.path("maker.pem"), "--pkcs11-module", module, "--password-file",
                 os.path.join(work, "pin"), os.path.join(TREE, "sample"), archive]
        refused = package("--pkcs11-key", "pkcs11:token=nobody;object=signing;type=private", *token, env=env)
        self.assertEqual(1, refused.returncode, refused.stdout)
        self.assertIn("signing failed", refused.stdout)
        self.assertFalse(os.path.exists(archive))
        made = package("--pkcs11-key", "pkcs11:token=maker;object=signing;type=private", *token, env=env)
        self.assertEqual(0, made.returncode, made.stdout)
        extract(archive, os.path.join(work, "out"))
        signed = os.path.join(work, "out", "SETUP.EXE")
        self.assertNotEqual(digest(self.setup_exe), digest(read(signed)), "left unsigned")
        verified = run(["osslsigncode", "verify", "-CAfile", certificates.path("maker.pem"), "-in", signed])
        self.assertEqual(0, verified.returncode, verified.stdout)

    def test_check_command(self):
        """tools/check.sh gives the same findings and status under any locale."""
        work = work_dir("check")
        env = dict(os.environ, CHECK_BUILD=os.path.dirname(TREE), CHECK_WINEPREFIX=os.environ["WINEPREFIX"])
        sample = os.path.join(TREE, "sample")
        utf8 = os.path.join(work, "utf8")
        shutil.copytree(sample, utf8)
        text = read(os.path.join(sample, "SETUP.INF")).decode("cp932")
        # Half-width ﾃｽ is C3 BD, well-formed two-byte UTF-8: still code page 932.
        halfwidth = os.path.join(work, "halfwidth")
        shutil.copytree(sample, halfwidth)
        write(os.path.join(halfwidth, "SETUP.INF"), text.replace("Title=サンプル", "Title=ﾃｽ").encode("cp932"))
        for folder, script, status, words in ((sample, None, 0, "問題は見つかりませんでした。"),
                                              (halfwidth, None, 0, "問題は見つかりませんでした。"),
                                              (utf8, text.encode(), 2, "iconv -f UTF-8 -t CP932"),
                                              (utf8, b"\xef\xbb\xbf" + text.encode(), 2, "\\xEF\\xBB\\xBF")):
            if script is not None:
                write(os.path.join(utf8, "SETUP.INF"), script)
            outputs = []
            for lang in ("C.UTF-8", "ja_JP.UTF-8"):
                with self.subTest(folder=folder, lang=lang, words=words):
                    checked = subprocess.run([os.path.join(ROOT, "tools", "check.sh"), folder],
                                             env=dict(env, LANG=lang, LC_ALL=lang), capture_output=True)
                    self.assertEqual(status, checked.returncode, checked.stdout.decode(errors="replace"))
                    shown = checked.stdout.decode()
                    self.assertIn(words, shown)
                    self.assertTrue(shown.endswith("エラー 1 件、警告 0 件\n" if status else words + "\n"), shown)
                    outputs.append(checked.stdout)
            self.assertEqual(outputs[0], outputs[1])
        self.assertIn(b":-:-: error: UTF-8 ", outputs[0])

    def test_trial(self):
        """tools/trial.sh on what ships: the packaged, signed sample runs as it is
        and passes on both shells, Wine's Program Manager alone refusing its
        item with arguments; an item really missing fails the trial; a script
        with errors is not tried."""
        if ARCH == "i686" and run(["sh", "-c", "/usr/lib/wine/wine --version"]).returncode != 0:
            raise unittest.SkipTest("this machine runs no 32-bit code")
        if os.environ.get("WINE_RUN_SKIP"):
            raise unittest.SkipTest(os.environ["WINE_RUN_SKIP"])
        work = work_dir("trial")
        certificates = Certificates(work)
        self.addCleanup(certificates.close)
        sample, archive = os.path.join(TREE, "sample"), os.path.join(work, "sample.zip")
        made = package("--cert", certificates.path("maker.pem"), "--key", certificates.path("maker.key"), sample, archive)
        self.assertEqual(0, made.returncode, made.stdout)
        self.assertIn("warning: signed without a time stamp", made.stdout)

        def trial(target, status, shells, *words):
            tried = run([os.path.join(ROOT, "tools", "trial.sh"), target, os.path.join(work, "report")],
                        env=dict(os.environ, TRIAL_BUILD=TREE, TRIAL_SHELLS=shells), timeout=240)
            self.assertEqual(status, tried.returncode, tried.stdout)
            for text in words:
                self.assertIn(text, tried.stdout)

        refused = "made on Windows, refused by Wine's Program Manager (it takes no arguments): サンプル (設定)"
        trial(archive, 0, "win7,nt351", f"- SETUP.EXE: the archive's own, built for {ARCH} ",
              "; bound to its script, which is the one it was bound to; signed by /CN=Throwaway maker, without a time "
              "stamp, the signature matching the file\n", f"- 2 shortcut(s) created, 2 of the 3 asked for; {refused}\n",
              "- result: installed without a message box, made every shortcut asked for that Wine can make")
        dist = os.path.join(work, "dist")
        shutil.copytree(sample, dist)
        text = read(os.path.join(dist, "SETUP.INF")).decode("cp932")
        write(os.path.join(dist, "SETUP.INF"), text.replace("3=ヘルプ,APP.HLP", "3=ヘルプ,APP.HLP\r\n4=ない,NONE.EXE").encode("cp932"))
        trial(dist, 1, "nt351", f"- 2 shortcut(s) created, 2 of the 4 asked for; {refused}; NOT made: ない\n",
              "- result: INCOMPLETE: ")
        shutil.copyfile(os.path.join(ROOT, "sample", "dist", "SETUP.INF"), os.path.join(dist, "SETUP.INF"))
        trial(dist, 2, "nt351", "- script checker: errors (exit status 2): nothing was tried",
              "  - SETUP.INF:-:-: error: UTF-8 で保存されています。", "- result: NOT tried")

    def test_winget(self):
        """The Windows package manager's manifests, read back by a YAML reader,
        say what the package holds."""
        import yaml
        work = work_dir("winget")
        archive, url = os.path.join(work, "sample.zip"), "https://example.com/downloads/sample.zip"
        made = package("--winget", url, "--id", "SampleMaker.Sample", os.path.join(TREE, "sample"), archive)
        self.assertEqual(0, made.returncode, made.stdout)
        with zipfile.ZipFile(archive, metadata_encoding="cp932") as z:
            shipped = z.read("SETUP.INF").decode("cp932")
            self.assertIn("SETUP.EXE", z.namelist())
        key = {k: v for k, v in (line.split("=", 1) for line in shipped.splitlines() if "=" in line)}
        manifests = {}
        for kind, suffix in (("version", ""), ("defaultLocale", ".locale.ja-JP"), ("installer", ".installer")):
            with open(os.path.join(work, f"SampleMaker.Sample{suffix}.yaml"), encoding="utf-8") as f:
                manifests[kind] = yaml.safe_load(f)
            self.assertEqual({"PackageIdentifier": "SampleMaker.Sample", "PackageVersion": key["Version"],
                              "ManifestType": kind, "ManifestVersion": "1.12.0"},
                             {k: manifests[kind].pop(k) for k in ("PackageIdentifier", "PackageVersion", "ManifestType",
                                                                  "ManifestVersion")})
        self.assertEqual({"DefaultLocale": "ja-JP"}, manifests["version"])
        self.assertEqual({"PackageLocale": "ja-JP", "Publisher": key["Publisher"], "PackageName": key["Title"],
                          "License": "Proprietary", "ShortDescription": key["Title"]}, manifests["defaultLocale"])
        self.assertEqual({
            "InstallerType": "zip", "NestedInstallerType": "exe", "NestedInstallerFiles": [{"RelativeFilePath": "SETUP.EXE"}],
            "Scope": "machine", "InstallModes": ["silent", "silentWithProgress"],
            "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S", "InstallLocation": "/D=<INSTALLPATH>"},
            "ExpectedReturnCodes": [{"InstallerReturnCode": code, "ReturnResponse": response} for code, response in
                                    ((2, "contactSupport"), (3, "invalidParameter"), (4, "fileInUse"), (5, "contactSupport"))],
            "UpgradeBehavior": "install", "ElevationRequirement": "elevatesSelf", "ProductCode": key["Folder"],
            "AppsAndFeaturesEntries": [{"DisplayName": key["Title"], "Publisher": key["Publisher"],
                                        "DisplayVersion": key["Version"], "ProductCode": key["Folder"]}],
            "Installers": [{"Architecture": {"i686": "x86", "x86_64": "x64"}[ARCH], "InstallerUrl": url,
                            "InstallerSha256": digest(read(archive)).upper()}]}, manifests["installer"])

    def test_japanese_names(self):
        work = work_dir("names")
        dist = os.path.join(work, "製品")
        # Names whose second bytes in code page 932 are backslashes: 表 is
        # 0x95 0x5C and ソ 0x83 0x5C.
        files = {
            "表示ソフト.EXE": read(os.path.join(TREE, "sample", "APP.EXE")),
            "表計算/ソース.DAT": bytes(range(256)) * 8,
            "説明書/はじめに.TXT": "はじめにお読みください。\r\n".encode("cp932"),
        }
        for name, data in files.items():
            write(os.path.join(dist, *name.split("/")), data)
        os.makedirs(os.path.join(dist, "空のフォルダ"))
        text = script("[Install]\nTitle=表示ソフト\nFolder=HyoujiSoft\nOpen=説明書\\はじめに.TXT\n"
                      "1=表示ソフト.EXE\n2=表計算\\ソース.DAT\n3=説明書\\はじめに.TXT\n"
                      "[Group]\n1=表示ソフト,表示ソフト.EXE\n")
        write(os.path.join(dist, "SETUP.INF"), text)

        for name, exe in (("製品.zip", "SETUP.EXE"), ("名前.zip", "インストール.EXE")):
            archive = os.path.join(work, name)
            made = package(os.path.join(dist), archive, *(["--name", exe] if exe != "SETUP.EXE" else []))
            self.assertEqual(0, made.returncode, made.stdout)
            self.assertIn("問題は見つかりませんでした。", made.stdout)
            self.assertIn(f"warning: {exe} is not signed", made.stdout)
            self.assertIn("表計算\\ソース.DAT", made.stdout)
            # Each file bound under its entry's number, the script so completed to the program.
            bound = text + b"[Hash]\r\n" + b"".join(b"%d=%s\r\n" % (n, digest(files[name]).encode()) for n, name in
                                    enumerate(("表示ソフト.EXE", "表計算/ソース.DAT", "説明書/はじめに.TXT"), 1))
            mark = self.setup_exe.index(b"SETUP.BINDING.1\0") + 16
            program = self.setup_exe[:mark] + hashlib.sha256(bound).digest() + self.setup_exe[mark + 32:]
            expected = {name: digest(data) for name, data in files.items()}
            expected.update({"表計算/": None, "説明書/": None, "空のフォルダ/": None,
                             exe: digest(program), exe[:-3] + "INF": digest(bound)})

            members = central_directory(archive)
            self.assertEqual([0] * len(members), [flags & 0x800 for flags, _ in members], "UTF-8 flag set")
            self.assertEqual(sorted(n.encode("cp932") for n in expected), sorted(raw for _, raw in members))
            out = os.path.join(work, "out-" + exe)
            extract(archive, out)
            self.assertEqual(expected, tree(out))
            tested = run(["unzip", "-tq", archive])
            self.assertEqual(0, tested.returncode, tested.stdout)

    def test_refusals(self):
        work = work_dir("refusals")
        sample = os.path.join(TREE, "sample")
        base = read(os.path.join(sample, "SETUP.INF")).decode("cp932").replace("\r\n", "\n")

        dist = os.path.join(work, "dist")
        script_path = dist + "/SETUP.INF"
        cases = [
            # the script, files added beside it, options, the status, what the output says, whether an archive is written
            (base.replace("4=README.TXT", "4=README.TXT\n5=MISSING.DLL"), [], [], 1,
             script_path + ":Install:5: error: MISSING.DLL - 配布ディレクトリにありません。", False),
            (base.replace("TSR=0", "TSR=yes"), [], [], 0, script_path + ":Install:TSR: warning: yes - ", True),
            (base, ["A:B.TXT"], [], 1, "A:B.TXT: the name holds :", False),
            (base, ["NOTE.TXT", "note.txt"], [], 1, "Windows takes it for", False),
            (base, ["CON.TXT"], [], 1, "is a device name", False),
            (base, ["\u00e9t\u00e9\u2603.TXT"], [], 1, "code page 932 cannot store", False),
            (base.replace("Title=サンプル\n", ""), [], [], 1, "error: Title がないか空です。", False),
            (base, [], ["--name", "表示.EXE"], 1, "ends in the byte of a backslash", False),
            (base, [], ["--name", "SETUP.COM"], 1, "it must end in .EXE", False),
            (base.encode(), [], [], 1, "/SETUP.INF:-:-: error: UTF-8 で保存されています", False),
            (base, ["EXTRA.TXT", "HELP/OLD.HLP"], [], 0,
             "SETUP.INF:Install:-: warning: HELP\\OLD.HLP - どの [Install] の項目もこのファイルを", True),
            (base, ["CON.TXT"], [], 1, "名前が Windows のデバイス名です", False, "ja_JP.UTF-8"),
            (base + "[ hash ]\n", [], [], 1, "SETUP.INF holds a [Hash] section", False),
            # A file from outside the folder is not the package's to vouch for.
            (base.replace("4=README.TXT", "4=README.TXT\n5=C:\\WINDOWS\\WIN.INI,WIN.INI"), [], [], 1,
             "[Install] 5: C:\\WINDOWS\\WIN.INI\nThe packaged SETUP.EXE installs only the files whose SHA-256", False),
            (base.replace("Publisher=サンプル工房\n", ""), [], ["--winget", "https://example.com/a.zip"], 1,
             "--winget: the script's [Install] section has no Publisher=: winget lists", False),
            (base.replace("Version=1.0\n", ""), [], ["--winget", "https://example.com/a.zip"], 1, "has no Version=", False),
            (base, [], ["--winget", "https://example.com/a.zip", "--id", "NoDot"], 1,
             "NoDot cannot be a package identifier", False),
            (base, [], ["--winget", "https://example.com/a.zip"], 0, "サンプル工房.SampleApp.installer.yaml", True),
        ]
        archive = os.path.join(work, "out.zip")
        for text, extra, options, status, words, written, *lang in cases:
            with self.subTest(words=words):
                shutil.rmtree(dist, ignore_errors=True)
                shutil.copytree(sample, dist)
                write(script_path, text if isinstance(text, bytes) else script(text))
                for name in extra:
                    write(os.path.join(dist, name), b"x")
                if os.path.exists(archive):
                    os.remove(archive)
                made = package(dist, archive, *options, lang=(lang or ["C.UTF-8"])[0])
                self.assertEqual(status, made.returncode, made.stdout)
                self.assertIn(words, made.stdout)
                self.assertEqual(written, os.path.exists(archive))

if __name__ == "__main__":
    result = unittest.main(argv=[sys.argv[0]] + sys.argv[3:], exit=False).result
    skipped = result.testsRun > 0 and len(result.skipped) == result.testsRun
    sys.exit(1 if not result.wasSuccessful() else 77 if skipped else 0)
