#!/usr/bin/env bash
# A maker's distribution folder to the archive they publish, in one command:
# checked by CHECKINF.EXE (errors refuse, warnings are printed, among them
# every file that no [Install] entry installs; an entry whose source lies
# outside the folder is refused, since nothing outside the package can be
# bound to it), the build's SETUP.EXE of the
# architecture asked for put in (32-bit by default) with the script named
# after it, the script and every file it installs bound to SETUP.EXE by
# their SHA-256, signed when a certificate is given (its key in a file or on a
# PKCS#11 token; a package left unsigned, or signed without a time stamp, is
# warned of), and zipped with the names in code page 932; with --winget, the
# Windows package manager's manifests are written beside it. Messages are
# Japanese under a Japanese locale. See --help for every option, the
# environment and the exit statuses (0 written, 1 refused, 2 wrong usage).
#   tools/package.sh [--arch i686|x86_64] [--name SETUP.EXE]
#                    [--pkcs12 FILE | --cert FILE (--key FILE | --pkcs11-module FILE --pkcs11-key URI)]
#                    [--password-file FILE] [--timestamp URL] [--winget URL [--id Vendor.Product]]
#                    [--build DIR] DIST_DIR [ARCHIVE.zip]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 "$root/package/package.py" "$@"
