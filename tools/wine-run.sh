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
machine=$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$exe") + 4 ))" -N2 "$exe" | tr -d ' ')
if [ "$machine" = "4c01" ]; then
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "wine-run: this machine cannot run 32-bit code; $exe not run" >&2
    exit 77
  fi
  exec /usr/lib/wine/wine "$@"
fi
exec /usr/lib/wine/wine64 "$@"
