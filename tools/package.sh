#!/usr/bin/env bash
# A maker's distribution folder to the archive they publish, in one command:
# checked by CHECKINF.EXE (errors refuse, warnings are printed), the build's
# SETUP.EXE of the architecture asked for put in (32-bit by default) with the
# script named after it, signed when a certificate is given, and zipped with
# the names in code page 932. See package/package.py or --help.
#   tools/package.sh [--arch i686|x86_64] [--name SETUP.EXE]
#                    [--pkcs12 FILE | --cert FILE --key FILE] [--password-file FILE]
#                    [--timestamp URL] DIST_DIR [ARCHIVE.zip]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 "$root/package/package.py" "$@"
