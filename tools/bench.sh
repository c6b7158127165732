#!/usr/bin/env bash
# The size and speed benchmark. Builds, starts a rig of its own (one Xvfb, one
# fresh prefix), prints SETUP.EXE's size and imports for both architectures,
# builds the same product as an NSIS installer (the peer) and binds a copy of
# it to its SETUP.EXE as tools/package.sh does, then runs the measurements
# under Wine, counts the wineserver requests each installer makes per file
# in a traced run of its own, and ends with the targets. A missed
# target is printed, never turned into a failing status: the figures move
# with the machine's load. Options go to the measuring program, for instance
#   tools/bench.sh --rounds 3 --skip growth
# BENCH_BUILD_DIR (default build, through tools/build.sh) and BENCH_RIG_DIR
# (default build/bench-rig) let a developer keep the benchmark apart;
# BENCH_ARCH=i686 measures the 32-bit build (default x86_64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BENCH_BUILD_DIR:-$root/build}")
rigdir=$(realpath -m "${BENCH_RIG_DIR:-$root/build/bench-rig}")
arch=${BENCH_ARCH:-x86_64}
case "$arch" in
  x86_64) wine=/usr/lib/wine/wine64 ;;
  i686) wine=/usr/lib/wine/wine ;;
  *) echo "BENCH_ARCH must be i686 or x86_64" >&2; exit 2 ;;
esac
began=$(date +%s)

echo "== build"
if [ -z "${BENCH_BUILD_DIR:-}" ]; then
  "$root/tools/build.sh"
else
  for each in i686 x86_64; do
    cmake -S "$root" -B "$build/$each" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$each.cmake" \
          -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    # The checker hashes the files when the product is bound.
    cmake --build "$build/$each" -j"$(nproc)" --target setup checkinf -- --no-print-directory >/dev/null
  done
fi
cmake --build "$build/$arch" -j"$(nproc)" --target bench -- --no-print-directory >/dev/null
benchdir="$build/$arch/tests/bench"

trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$("$root/tools/rig.sh" start "$rigdir")"

echo "== machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"

echo
echo "== SETUP.EXE size and imports"
python3 "$root/tests/tools/check_pe.py" "$build/i686/SETUP.EXE" "$build/x86_64/SETUP.EXE" || true
size_targets=()
for pair in i686:24 x86_64:32; do
  each=${pair%%:*} limit_kib=${pair##*:}
  bytes=$(stat -c %s "$build/$each/SETUP.EXE")
  verdict=MISS
  [ "$bytes" -le $((limit_kib * 1024)) ] && verdict=PASS
  size_targets+=("$(printf 'TARGET %-40s %10s  (at most %d KiB = %d bytes)  %s' \
                    "SETUP.EXE $each size, bytes" "$bytes" "$limit_kib" $((limit_kib * 1024)) "$verdict")")
  awk -v a="$each" -v b="$bytes" 'BEGIN { printf "  %-7s %6d bytes = %.1f KiB\n", a, b, b / 1024 }'
done
printf '%s\n' "${size_targets[@]}"

# The figures are only as good as their arithmetic.
echo "== measured: the $arch build"
"$wine" "$benchdir/BENCHRUN.EXE" --check
python3 "$root/tests/bench/server_requests.py" --check

# The install product, and beside it the peer's script.
mkdir -p "$WINEPREFIX/drive_c/bench/nsis"
installer="$WINEPREFIX/drive_c/bench/nsis/NSISBENCH.EXE"
"$wine" "$benchdir/BENCHRUN.EXE" "$@" --nsis-script "$installer" >/dev/null

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
"$wine" "$benchdir/BENCHRUN.EXE" "$@" "${peer[@]}" "${binding[@]}" --keep-products | tee "$log" || status=$?

# The requests each installer makes per file, from the wineserver's own
# trace (-d1: every request it answers). Tracing slows every request, and a
# server never stops tracing once it has begun, so the timed rounds above ran
# on the rig's untraced server; now that one is ended, and a tracing server
# of the same prefix serves one install by each installer. Their output goes
# to a file, not a pipe, since the services the first program starts keep it.
trace="$rigdir/server-trace.txt"
if [ $status -eq 0 ]; then
  started=$(date +%s)
  /usr/lib/wine/wineserver -k
  /usr/lib/wine/wineserver -p -d1 2>"$trace" </dev/null >/dev/null
  "$wine" "$benchdir/BENCHRUN.EXE" "$@" "${peer[@]}" "${binding[@]}" --traced-runs \
    </dev/null >"$rigdir/traced-runs.txt" 2>&1 || true
  /usr/lib/wine/wineserver -k
  python3 "$root/tests/bench/server_requests.py" "$trace" "$rigdir/traced-runs.txt" || true
  echo "   (the traced installs took $(( $(date +%s) - started )) s; the trace is kept in $trace," \
       "$(( $(stat -c %s "$trace") / 1048576 )) MiB)"
fi

echo
echo "== targets"
printf '%s\n' "${size_targets[@]}"
grep '^TARGET' "$log" || true
rm -f "$log"
echo "== load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; whole command $(( $(date +%s) - began )) s"
exit $status
