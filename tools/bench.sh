#!/usr/bin/env bash
# The size and speed benchmark. Builds, starts a rig of its own (one Xvfb, one
# fresh prefix), prints SETUP.EXE's size and imports for both architectures,
# then runs the measurements under Wine and ends with the targets. A missed
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

log=$(mktemp)
status=0
/usr/lib/wine/wine64 "$benchdir/BENCHRUN.EXE" "$@" | tee "$log" || status=$?

echo
echo "== targets"
printf '%s\n' "${size_targets[@]}"
grep '^TARGET' "$log" || true
rm -f "$log"
echo "== load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; whole command $(( $(date +%s) - began )) s"
exit $status
