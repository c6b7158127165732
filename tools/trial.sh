#!/usr/bin/env bash
# Trial run of a distribution directory under Wine, on the new shell and on
# the old one: installs it with the wizard's default answers, removes it
# through its registered uninstall command, and writes REPORT_DIR/report.md
# with a PNG picture of every page, dialog and message box.
#   tools/trial.sh DIST_DIR [REPORT_DIR]      (default REPORT_DIR: ./trial-report)
# DIST_DIR holds SETUP.INF and the product's files, and the maker's SETUP.EXE
# (when it has none, the build's is used and the report says so).
# TRIAL_BUILD picks the build tree (default build/x86_64), TRIAL_SHELLS the
# shells (default win7,nt351). The exit status is 0 when every shell
# installed without a message box and removed everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] && [ -d "$1" ] || { echo "usage: tools/trial.sh DIST_DIR [REPORT_DIR]" >&2; exit 2; }
[ -f "$1/SETUP.INF" ] || { echo "trial: $1 holds no SETUP.INF" >&2; exit 2; }
dist=$(realpath "$1")
report=$(realpath -m "${2:-$PWD/trial-report}")
build=$(realpath -m "${TRIAL_BUILD:-$root/build/x86_64}")
shells=${TRIAL_SHELLS:-win7,nt351}

[ -f "$build/TRIAL.EXE" ] || cmake --build "$build" --target trial -- --no-print-directory >/dev/null

rigdir="$(dirname "$build")/trial-rig"
trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$("$root/tools/rig.sh" start "$rigdir")"

# The distribution as the prefix sees it: a copy, so that the trial cannot
# change the maker's directory.
inside="$WINEPREFIX/drive_c/trial/dist"
rm -rf "$inside"
mkdir -p "$inside"
cp -r "$dist/." "$inside/"

mkdir -p "$report"
rm -f "$report"/report.md "$report"/*.bmp "$report"/*.png
status=0
/usr/lib/wine/wine64 "$build/TRIAL.EXE" 'C:\trial\dist' "Z:${report//\//\\}" "$shells" "$dist" || status=$?

for bmp in "$report"/*.bmp; do
  [ -e "$bmp" ] || continue
  # A palette of what the window shows keeps the pictures small.
  convert "$bmp" -strip PNG8:"${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "report: $report/report.md"
exit $status
