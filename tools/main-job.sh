#!/usr/bin/env bash
# The main job: builds both executables, then starts SETUP.EXE beside the
# sample product's script under Wine and shows what it did.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh"
"$root/tools/build.sh"
python3 "$root/tests/tools/check_pe.py" "$root"/build/*/SETUP.EXE

rigdir="$root/build/main-rig"
trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$("$root/tools/rig.sh" start "$rigdir")"
cd "$root/build/x86_64/tests"
# The test prints in the program's code page.
/usr/lib/wine/wine64 e2e_tests.exe --gtest_filter='MainJob.*' --gtest_also_run_disabled_tests |
  iconv -f CP932 -t UTF-8 -c
# Pictures of the wizard's pages, as PNG beside the BMP files the test saved.
if command -v convert >/dev/null; then
  for bmp in "$root"/build/x86_64/mainjob/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && echo "picture: ${bmp%.bmp}.png"
  done
fi
