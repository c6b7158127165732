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
/usr/lib/wine/wine64 e2e_tests.exe --gtest_filter='MainJob.*' --gtest_also_run_disabled_tests
