#!/usr/bin/env bash
# Trial run of a distribution directory under Wine, on the new shell and on
# the old one: installs it with the wizard's default answers, removes it
# through its registered uninstall command, and writes REPORT_DIR/report.md
# with a PNG picture of every page, dialog and message box.
#   tools/trial.sh DIST_DIR [REPORT_DIR] [--name NAME.EXE]   (default REPORT_DIR: ./trial-report)
# DIST_DIR holds the script and the product's files, and the maker's setup
# program when they have one. Its name is --name, else the script's with
# .EXE (SETUP.EXE for SETUP.INF, or the only other *.INF). Without one, the
# build's SETUP.EXE goes in: the i686 one that tools/package.sh ships, where
# this machine runs 32-bit code, else the x86_64 one; the report says which.
# TRIAL_BUILD picks the build tree of TRIAL.EXE (default build/x86_64),
# TRIAL_SHELLS the shells (default win7,nt351). The exit status is 0 when
# every shell installed without a message box, made every shortcut or item
# that the script asks for, and removed everything; 1 otherwise; 2 on wrong usage.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: tools/trial.sh DIST_DIR [REPORT_DIR] [--name NAME.EXE]" >&2; exit 2; }
name="" args=()
while [ $# -gt 0 ]; do
  case "$1" in
  --name) [ $# -ge 2 ] || usage; name=$2; shift 2 ;;
  --name=*) name=${1#--name=}; shift ;;
  -*) usage ;;
  *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -ge 1 ] && [ ${#args[@]} -le 2 ] && [ -d "${args[0]}" ] || usage
dist=$(realpath "${args[0]}")
report=$(realpath -m "${args[1]:-$PWD/trial-report}")
build=$(realpath -m "${TRIAL_BUILD:-$root/build/x86_64}")
shells=${TRIAL_SHELLS:-win7,nt351}

# The setup program's name, found as tools/package.sh finds it.
if [ -z "$name" ]; then
  if [ -f "$dist/SETUP.INF" ]; then
    name=SETUP.EXE
  else
    scripts=("$dist"/*.[Ii][Nn][Ff])
    [ ${#scripts[@]} -eq 1 ] && [ -f "${scripts[0]}" ] ||
      { echo "trial: $dist holds no SETUP.INF and not exactly one other script; name the setup program with --name" >&2; exit 2; }
    script=$(basename "${scripts[0]}")
    name=${script%???}EXE
  fi
fi
case "$name" in *.[Ee][Xx][Ee]) ;; *) echo "trial: --name $name: the setup program's name ends in .EXE" >&2; exit 2 ;; esac
[ -f "$dist/${name%???}INF" ] || { echo "trial: $dist holds no ${name%???}INF, the script of $name" >&2; exit 2; }

[ -f "$build/TRIAL.EXE" ] || cmake --build "$build" --target trial -- --no-print-directory >/dev/null

# Which SETUP.EXE is tried: the maker's own, unless it is 32-bit and this
# machine runs no 32-bit code; else the build's, 32-bit where it can run.
runs32=0
/usr/lib/wine/wine --version >/dev/null 2>&1 && runs32=1
is32() { [ "$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" | tr -d ' ')" = 4c01 ]; }
setup="" origin=""
if [ -f "$dist/$name" ]; then
  if is32 "$dist/$name" && [ $runs32 = 0 ]; then
    origin="the distribution's own is 32-bit and this machine runs no 32-bit code: the build's x86_64 one in its place"
  else
    origin="the distribution's own"
  fi
else
  origin="none in the distribution:"
fi
if [ "$origin" != "the distribution's own" ]; then
  arch=x86_64
  [ $runs32 = 1 ] && [ -f "$(dirname "$build")/i686/SETUP.EXE" ] && arch=i686
  setup=$(dirname "$build")/$arch/SETUP.EXE
  [ -f "$setup" ] || { echo "trial: no $setup: build first (tools/build.sh)" >&2; exit 2; }
  [[ $origin == none* ]] && origin="$origin the build's $arch one ($setup)"
fi

rigdir="$(dirname "$build")/trial-rig"
trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$("$root/tools/rig.sh" start "$rigdir")"

# The distribution as the prefix sees it: a copy, so that the trial cannot
# change the maker's directory.
inside="$WINEPREFIX/drive_c/trial/dist"
rm -rf "$inside"
mkdir -p "$inside"
cp -r "$dist/." "$inside/"
[ -z "$setup" ] || cp "$setup" "$inside/$name"

mkdir -p "$report"
rm -f "$report"/report.md "$report"/*.bmp "$report"/*.png
status=0
/usr/lib/wine/wine64 "$build/TRIAL.EXE" 'C:\trial\dist' "Z:${report//\//\\}" "$shells" "$dist" "$name" "$origin" || status=$?

for bmp in "$report"/*.bmp; do
  [ -e "$bmp" ] || continue
  # A palette of what the window shows keeps the pictures small.
  convert "$bmp" -strip PNG8:"${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "report: $report/report.md"
exit $status
