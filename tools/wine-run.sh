#!/usr/bin/env bash
# Runs one Windows program of ours inside the test rig's prefix (tools/rig.sh).
# Exit status 77 tells CTest that this machine cannot run the program at all,
# which is the case for 32-bit programs where the kernel runs no 32-bit code.
set -u
exe=$1
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "${WINEPREFIX}/drive_c" ]; then
  echo "wine-run: no rig prefix; run the tests through tools/test.sh" >&2
  exit 2
fi
# Where 32-bit code runs only emulated, CTest gives the i686 tests one of two
# more (tests/emulation): WINE_RUN_SKIP, the reason why the test is skipped,
# or WINE_RUN_RESULTS, the results of the one run of every unit test, from
# which the test named by --gtest_filter is answered.
if [ -n "${WINE_RUN_SKIP:-}" ]; then
  echo "wine-run: skipped: $WINE_RUN_SKIP" >&2
  exit 77
fi
if [ -n "${WINE_RUN_RESULTS:-}" ]; then
  for arg; do [[ $arg == --gtest_filter=* ]] && filter=${arg#*=}; done
  exec python3 -c '
import json, sys
name = sys.argv[2]
result = json.load(open(sys.argv[1], encoding="utf-8")).get(name)
if result is None:
    sys.exit(f"wine-run: {name} is not among the results in {sys.argv[1]}")
print(name + ", in the one run of the unit tests:\n" + result["output"], end="")
sys.exit(0 if result["passed"] else 1)' "$WINE_RUN_RESULTS" "${filter:?wine-run: which test? no --gtest_filter}"
fi
# WINE_RUN_WINE names another loader for the 64-bit programs (the test of
# this script gives it a stand-in).
wine=${WINE_RUN_WINE:-/usr/lib/wine/wine64}
machine=$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$exe") + 4 ))" -N2 "$exe" | tr -d ' ')
if [ "$machine" = "4c01" ]; then
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "wine-run: this machine cannot run 32-bit code; $exe not run" >&2
    exit 77
  fi
  wine=/usr/lib/wine/wine
fi

# Now and then Wine ends a start before the program ever ran: a failure with
# no output at all, for a test that did not run. The test programs write the
# file that WINE_RUN_STARTED names as they start (tests/common/started.cpp);
# a failure without that file is Wine's, and the start is tried again, as
# the scenarios' driver does. A program that fails on its own, or one that
# writes no such file, runs once.
grep -q WINE_RUN_STARTED "$exe" || exec "$wine" "$@"
marker=$(mktemp -u "${TMPDIR:-/tmp}/wine-run.XXXXXX")
export WINE_RUN_STARTED="Z:$marker"
for attempt in 1 2 3; do
  "$wine" "$@"
  status=$?
  if [ "$status" -eq 0 ] || [ -e "$marker" ]; then
    break
  fi
  echo "wine-run: Wine did not start $exe (exit status $status), attempt $attempt of 3" >&2
  sleep 1
done
rm -f "$marker"
exit "$status"
