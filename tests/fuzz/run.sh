#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 60 s)
# from its committed seed corpus. Prints executions per target; a crash fails the run and
# leaves the input in build-fuzz/findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCOMPANYMAIN_FUZZ=ON -DCOMPANYMAIN_WERROR=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
passed=0 failed=0
for target in base64_decode ini_read ini_edit page_address code_page json_read; do
  work="$build/corpus/$target"
  mkdir -p "$work" "$build/findings"
  log="$build/$target.log"
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" "$work" "$root/tests/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $target: ok, $runs executions in ${seconds} s"
    passed=$((passed + 1))
  else
    echo "fuzz $target: FAILED"; grep -E 'ERROR|property failed|SUMMARY' "$log" | head -5
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
