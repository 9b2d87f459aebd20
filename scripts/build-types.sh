#!/usr/bin/env bash
# Builds the whole tree with every CMake build type and each toolchain (Linux, MinGW-w64 x64 and
# x86) as a packager or user would: plain cmake, no preset, so without -Werror. Prints one line
# per build with the number of compiler warnings in its log, and "N built, N failed"; a build
# that warns still counts as built, but the warnings are shown (the presets would stop there).
#   scripts/build-types.sh [build-folder]     (default build-types/; logs beside the builds)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-types}
mkdir -p "$out"
built=0 failed=0
for toolchain in linux mingw-w64-x86_64 mingw-w64-i686; do
  options=()
  [ $toolchain = linux ] || options=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake")
  for type in Debug Release RelWithDebInfo MinSizeRel; do
    dir=$out/$toolchain-$type
    log=$dir.log
    if timeout 3600 cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=$type "${options[@]}" >"$log" 2>&1 &&
      timeout 3600 cmake --build "$dir" -j2 >>"$log" 2>&1; then
      result=built
      built=$((built + 1))
    else
      result=FAILED
      failed=$((failed + 1))
    fi
    warnings=$(grep -c 'warning:' "$log")
    echo "$toolchain $type: $result, $warnings warnings"
    grep -m3 -E 'warning:|error:' "$log" | sed 's/^/  /'
  done
done
echo "$built built, $failed failed"
[ "$failed" -eq 0 ]
