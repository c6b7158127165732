#!/usr/bin/env bash
# The size and speed benchmark. Builds, starts a rig of its own (one Xvfb, one
# fresh prefix), prints SETUP.EXE's size and imports for both architectures,
# builds the same product as an NSIS installer (the peer) and binds a copy of
# it to its SETUP.EXE as tools/package.sh does, then runs the measurements
# under Wine and ends with the targets. A missed
# target is printed, never turned into a failing status: the figures move
# with the machine's load. Options go to the measuring program, for instance
#   tools/bench.sh --rounds 3 --skip growth
# BENCH_BUILD_DIR (default build, through tools/build.sh) and BENCH_RIG_DIR
# (default build/bench-rig) let a developer keep the benchmark apart.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BENCH_BUILD_DIR:-$root/build}")
rigdir=$(realpath -m "${BENCH_RIG_DIR:-$root/build/bench-rig}")
began=$(date +%s)

echo "== build"
if [ -z "${BENCH_BUILD_DIR:-}" ]; then
  "$root/tools/build.sh"
else
  for arch in i686 x86_64; do
    cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
          -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$build/$arch" -j"$(nproc)" --target setup -- --no-print-directory >/dev/null
  done
fi
cmake --build "$build/x86_64" -j"$(nproc)" --target bench -- --no-print-directory >/dev/null
benchdir="$build/x86_64/tests/bench"

trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$("$root/tools/rig.sh" start "$rigdir")"

echo "== machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"

echo
echo "== SETUP.EXE size and imports"
python3 "$root/tests/tools/check_pe.py" "$build/i686/SETUP.EXE" "$build/x86_64/SETUP.EXE" || true
size_targets=()
for pair in i686:24 x86_64:32; do
  arch=${pair%%:*} limit_kib=${pair##*:}
  bytes=$(stat -c %s "$build/$arch/SETUP.EXE")
  verdict=MISS
  [ "$bytes" -le $((limit_kib * 1024)) ] && verdict=PASS
  size_targets+=("$(printf 'TARGET %-40s %10s  (at most %d KiB = %d bytes)  %s' \
                    "SETUP.EXE $arch size, bytes" "$bytes" "$limit_kib" $((limit_kib * 1024)) "$verdict")")
  awk -v a="$arch" -v b="$bytes" 'BEGIN { printf "  %-7s %6d bytes = %.1f KiB\n", a, b, b / 1024 }'
done
printf '%s\n' "${size_targets[@]}"

# The figures are only as good as their arithmetic.
/usr/lib/wine/wine64 "$benchdir/BENCHRUN.EXE" --check

# The install product, and beside it the peer's script.
mkdir -p "$WINEPREFIX/drive_c/bench/nsis"
installer="$WINEPREFIX/drive_c/bench/nsis/NSISBENCH.EXE"
/usr/lib/wine/wine64 "$benchdir/BENCHRUN.EXE" "$@" --nsis-script "$installer" >/dev/null

# A copy bound to its SETUP.EXE by the package step's own function (not
# signed: the signature costs the install nothing), to time what checking
# every copy adds.
bound="$WINEPREFIX/drive_c/bench/bound"
rm -rf "$bound"
cp -r "$WINEPREFIX/drive_c/bench/install" "$bound"
rm -f "$bound/NSISBENCH.NSI"
binding=()
if python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import package
package.bind(sys.argv[2], sys.argv[3], "SETUP.INF", "SETUP.EXE")' "$root/package" "$build" "$bound"; then
  binding=(--bound 'C:\bench\bound\')
else
  echo "== the product could not be bound: the bound figures are left out"
fi

# The peer: the same files through an NSIS installer, built with Debian's
# makensis. It is installed here for the benchmark only (the tests never need
# it); where it cannot be had, the peer's figures are left out.
peer=()
if ! command -v makensis >/dev/null; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nsis >/dev/null 2>&1 || true
fi
if command -v makensis >/dev/null; then
  made=$(date +%s%N)
  if (cd "$WINEPREFIX/drive_c/bench/install" && makensis -V1 NSISBENCH.NSI >/dev/null); then
    echo "== NSIS installer made by $(makensis -VERSION) in $(( ($(date +%s%N) - made) / 1000000 )) ms:" \
         "$(stat -c %s "$installer") bytes"
    peer=(--nsis 'C:\bench\nsis\NSISBENCH.EXE')
  else
    echo "== makensis failed: the peer is left out"
  fi
else
  echo "== no makensis (Debian's nsis package): the peer is left out"
fi

log=$(mktemp)
status=0
/usr/lib/wine/wine64 "$benchdir/BENCHRUN.EXE" "$@" "${peer[@]}" "${binding[@]}" | tee "$log" || status=$?

echo
echo "== targets"
printf '%s\n' "${size_targets[@]}"
grep '^TARGET' "$log" || true
rm -f "$log"
echo "== load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; whole command $(( $(date +%s) - began )) s"
exit $status
