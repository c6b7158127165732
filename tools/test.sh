#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both architectures,
# and runs every CTest test of each in a rig of its own (tools/rig.sh: one
# Xvfb, one fresh prefix), then the static analysis and a short fuzzing run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh"
"$root/tools/build.sh"
# How the i686 half runs: natively the whole tree; emulated, its unit tests
# and a chosen set of scenarios (tests/emulation); not at all, only the
# checks that start no 32-bit program.
runs32=$("$root/tools/runs32.sh")

# Each architecture gets a fresh rig of its own, so that nothing one tree's
# tests leave in the prefix (pending deletions, shell windows, registry
# values) can change the other's results, and a second run starts as the first.
rigdir=""
trap '[ -z "$rigdir" ] || "$root/tools/rig.sh" stop "$rigdir"' EXIT
status=0
summary=()
for arch in i686 x86_64; do
  rigdir="$root/build/rig-$arch"
  eval "$("$root/tools/rig.sh" start "$rigdir")"
  echo "== tests, $arch"
  log="$root/build/$arch/ctest.log"
  if ! (cd "$root/build/$arch" && ctest --output-on-failure -j2 "$@") 2>&1 | tee "$log"; then
    status=1
  fi
  "$root/tools/rig.sh" stop "$rigdir"
  rigdir=""
  how=${runs32%%:*}
  [ "$how" != none ] || how="no 32-bit code"
  label=$arch
  [ "$arch" = x86_64 ] || label="$arch ($how)"
  summary+=("$(awk -v arch="$label" '
    / Test +#[0-9]+: / {
      if ($0 ~ / Passed +[0-9.]+ sec/) passed++
      else if ($0 ~ /\*\*\*Skipped/) skipped++
      else if ($0 ~ /Not Run \(Disabled\)/) disabled++
      else failed++
    }
    END { printf "%s: %d passed, %d failed, %d skipped, %d disabled\n", arch, passed, failed, skipped, disabled }' "$log")")
done
echo "== static analysis"
if cppcheck --enable=warning,style,portability,performance --inline-suppr --std=c++17 --language=c++ \
     -I"$root" -D_WIN32 --platform=win64 --suppress=missingIncludeSystem --error-exitcode=1 -q \
     "$root"/{entry,script,wizard,shell,removal,checker}; then
  echo "cppcheck: no findings"
else
  status=1
fi
echo "== fuzzing the text routines on the host"
"$root/tools/fuzz.sh" 12 || status=1
echo "== summary"
printf '%s\n' "${summary[@]}"
case $runs32 in
native:*) echo "32-bit code runs natively: ${runs32#*: }" ;;
emulated:*) echo "32-bit code runs emulated: ${runs32#*: }" ;;
*) echo "32-bit code does not run: ${runs32#*: }" ;;
esac
exit $status
