#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both architectures,
# starts the rig (one Xvfb, one fresh prefix) and runs every CTest test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh"
"$root/tools/build.sh"

rigdir="$root/build/rig"
trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$("$root/tools/rig.sh" start "$rigdir")"

status=0
for arch in i686 x86_64; do
  echo "== tests, $arch"
  (cd "$root/build/$arch" && ctest --output-on-failure -j2 "$@") || status=1
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
exit $status
