#!/usr/bin/env bash
# Builds SETUP.EXE, APP.EXE, the sample distribution and the tests for both
# architectures: build/i686 and build/x86_64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
for arch in i686 x86_64; do
  cmake -S "$root" -B "$root/build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DSETUP_WERROR="$([ "${CI:-}" = true ] && echo ON || echo OFF)" >/dev/null
  cmake --build "$root/build/$arch" -j"$(nproc)" -- --no-print-directory | grep -v -E '^\[ *[0-9]+%\] (Building|Linking|Built)' || true
  test -f "$root/build/$arch/SETUP.EXE"
done
