#!/usr/bin/env bash
# Fuzzes the program's pure text routines on the host with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer.
#   tools/fuzz.sh [SECONDS_PER_TARGET]   (default 12; the test run uses that)
# The seed corpus lives in tests/fuzz/corpus/<target>; inputs found in a run
# go to build/fuzz/corpus/<target> and are merged back with FUZZ_MERGE=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-12}
out="$root/build/fuzz"
mkdir -p "$out"

# Each target with the program files it exercises.
declare -A sources=(
  [text]="entry/text.cpp"
  [command]="entry/command.cpp entry/text.cpp"
  [entries]="script/entries.cpp entry/text.cpp"
  [registry]="removal/regvalue.cpp entry/text.cpp"
  [rename]="removal/rename.cpp entry/text.cpp"
)

flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -finput-charset=UTF-8 -I"$root" -I"$root/tests/fuzz")
total_runs=0
failed=0
for target in $(echo "${!sources[@]}" | tr ' ' '\n' | sort); do
  srcs=()
  for s in ${sources[$target]}; do srcs+=("$root/$s"); done
  clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_$target.cpp" "${srcs[@]}" -o "$out/fuzz_$target"
  corpus="$out/corpus/$target"
  mkdir -p "$corpus" "$root/tests/fuzz/corpus/$target"
  log="$out/$target.log"
  if "$out/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/$target-" \
       "$corpus" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz $target: ${runs:-0} executions, 0 crashes, 0 sanitizer findings"
    total_runs=$((total_runs + ${runs:-0}))
  else
    echo "fuzz $target: FAILED"
    grep -E 'ERROR|SUMMARY|runtime error|deadly signal' "$log" | head -5
    failed=$((failed + 1))
  fi
  if [ "${FUZZ_MERGE:-0}" = 1 ]; then
    "$out/fuzz_$target" -merge=1 "$root/tests/fuzz/corpus/$target" "$corpus" >/dev/null 2>&1
  fi
done
echo "fuzz: $total_runs executions in all, $failed targets failed"
[ "$failed" -eq 0 ]
