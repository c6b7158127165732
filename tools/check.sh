#!/usr/bin/env bash
# Checks a distribution folder with CHECKINF.EXE and prints the install plan
# and the findings in this terminal's encoding.
#   tools/check.sh DIST_DIR [--name NAME.EXE]
# The checker reads the script as SETUP.EXE does on Japanese Windows, so it
# runs under the Japanese code page in a Wine prefix of its own, whatever the
# locale here: the findings and the status are the same everywhere.
# --name checks the script of a setup program of another name (INSTALL.INF
# for INSTALL.EXE). CHECK_BUILD names the build root (default build/),
# CHECK_WINEPREFIX the prefix (default build/check-prefix, made on first use).
# Exit status: the checker's, 0 clean, 1 warnings, 2 errors (or wrong usage);
# 3 when the checker could not run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
  echo "usage: tools/check.sh DIST_DIR [--name NAME.EXE]" >&2
  exit 2
}
fail() {
  echo "check: $*" >&2
  exit 3
}

dist="" name=""
while [ $# -gt 0 ]; do
  case "$1" in
  --name) [ $# -ge 2 ] || usage; name=$2; shift 2 ;;
  --name=*) name=${1#--name=}; shift ;;
  -h | --help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
  -*) usage ;;
  *) [ -z "$dist" ] || usage; dist=$1; shift ;;
  esac
done
[ -n "$dist" ] || usage
[ -d "$dist" ] || { echo "check: $dist is not a folder" >&2; exit 2; }
case "$name" in */* | *\\*) echo "check: --name takes a file name, without a folder" >&2; exit 2 ;; esac

build=$(realpath -m "${CHECK_BUILD:-$root/build}")
# A 64-bit checker runs on every machine that runs Wine; the 32-bit one only
# where the kernel runs 32-bit code. Both find the same.
if [ -f "$build/x86_64/CHECKINF.EXE" ]; then
  checker=$build/x86_64/CHECKINF.EXE loader=/usr/lib/wine/wine64
elif [ -f "$build/i686/CHECKINF.EXE" ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  checker=$build/i686/CHECKINF.EXE loader=/usr/lib/wine/wine
else
  fail "no CHECKINF.EXE under $build that this machine can run: build first (tools/deps.sh, then tools/build.sh)"
fi
[ -x "$loader" ] || fail "no $loader: tools/deps.sh installs Wine"
locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' || fail "no ja_JP.UTF-8 locale: tools/deps.sh makes it"

# The terminal's encoding, read before the checker's locale is set; plain
# ASCII cannot show Japanese, and a terminal that says so is most likely UTF-8.
charmap=$(locale charmap 2>/dev/null || echo UTF-8)
case "$charmap" in ANSI_X3.4-1968 | ASCII | "") charmap=UTF-8 ;; esac

export WINEPREFIX=$(realpath -m "${CHECK_WINEPREFIX:-$build/check-prefix}") WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$(dirname "$WINEPREFIX")"
(
  # Two checks at once must not both make the prefix.
  flock 9
  if [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "check: preparing a Wine prefix for the checker in $WINEPREFIX (once)" >&2
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  fi
) 9>"$WINEPREFIX.lock"
[ -d "$WINEPREFIX/drive_c" ] || fail "could not prepare the Wine prefix $WINEPREFIX"

full=$(realpath "$dist")
windows="Z:${full//\//\\}"
argument=$windows
[ -z "$name" ] || argument="$windows\\$name"
# Without a console the checker writes code page 932, the Japanese locale's.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
(cd "$full" && LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$loader" "$checker" "$argument" >"$out")
status=$?
case $status in 0 | 1 | 2) ;; *) fail "CHECKINF.EXE ended with status $status under $loader" ;; esac

# The maker's own path in place of the one Wine sees.
shown="${full%/}/"
[ "$full" = / ] && shown=/
iconv -f CP932 -t "$charmap//TRANSLIT" <"$out" | tr -d '\r' | while IFS= read -r line; do
  line=${line//"$windows\\"/"$shown"}
  printf '%s\n' "$line"
done
exit $status
