#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build (unit, Qt and end-to-end tests), the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the Debian package's life
# (build, lint, install, upgrade, purge) with the Ansible role, both Windows builds with the Wine
# suite, a second build of every package compared with the first, the fault and concurrency
# report, and the fuzz targets.
# FUZZ_SECONDS sets the time per fuzz target (default 30).
# Each suite runs within a time limit of its own. The closing lines give each suite's result
# and time, then "suites: N passed, N failed, N with skips": a suite that skipped cases this
# machine cannot run (and failed none) is counted apart, neither as failed nor as passed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh all || exit 1

logs=$(mktemp -d /tmp/companymain-test-all.XXXXXX)
trap 'rm -rf "$logs"' EXIT
# Interrupted: the running suite ends too (it cleans up after itself), then this script.
trap 'kill -TERM "$(cat "$logs/suite.pid" 2>/dev/null)" 2>/dev/null; wait; exit 130' INT TERM
passed=0 failed=0 with_skips=0 started=$SECONDS
results=()

# skips LOG: how many cases the suite skipped: the count of its closing line
# "N passed, N failed, N skipped", or the tests ctest did not run.
skips() {
  local line
  line=$(grep -a -E '^([a-z]+: )?[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' "$1" | tail -1)
  if [ -n "$line" ]; then
    echo "$line" | sed -E 's/.* ([0-9]+) skipped$/\1/'
  else
    grep -a -c -E '^[[:space:]]*[0-9]+ - .* \((Skipped|Disabled)\)$' "$1"
  fi
}

# step NAME LIMIT COMMAND...: runs a suite, at most LIMIT seconds. timeout gives the suite a
# process group of its own, which it ends whole; Ctrl-C reaches it through the trap above.
step() {
  local name=$1 limit=$2
  shift 2
  local log=$logs/${#results[@]}.log begin=$SECONDS status skipped closing result
  echo "=== $name"
  (
    bash -c 'echo $$ >"$0"; exec timeout -k 60 "$@"' "$logs/suite.pid" "$limit" "$@" 2>&1 |
      tee "$log"
    exit "${PIPESTATUS[0]}"
  ) &
  wait $!
  status=$?
  skipped=$(skips "$log")
  closing=$(grep -a -E '^([a-z]+: )?[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' "$log" | tail -1)
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    failed=$((failed + 1))
    result="FAILED: still running after its limit of $limit s"
  elif [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
    result="FAILED${closing:+ (${closing#*: })}"
  elif [ "$skipped" -gt 0 ]; then
    with_skips=$((with_skips + 1))
    result="passed, $skipped skipped"
  else
    passed=$((passed + 1))
    result=passed
  fi
  echo "=== $name: $result"
  results+=("$name: $result ($((SECONDS - begin)) s)")
}
linux_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2 && ctest --preset "$1" -j2
}
windows_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}
export -f linux_build windows_build

step "Linux build and tests" 2400 bash -c 'linux_build default'
# Qt and fontconfig keep caches for the life of the process; leak reports would be theirs.
ASAN_OPTIONS=detect_leaks=0 step "Linux build and tests under ASan and UBSan" 2400 \
  bash -c 'linux_build sanitize'
# The package test's first build, which the reproducibility check compares with its own.
first_debs=$(mktemp -d /tmp/companymain-first-debs.XXXXXX)
trap 'rm -rf "$logs" "$first_debs"' EXIT
step "Debian package: build, lint, install, upgrade, remove, purge; the Ansible role" 2400 \
  bash tests/package/run.sh --keep-build "$first_debs"
step "Windows build, 64-bit" 1200 bash -c 'windows_build windows-x64'
step "Windows build, 32-bit" 1200 bash -c 'windows_build windows-x86'
step "Windows DLL imports" 300 bash scripts/check-imports.sh build-win64/CompanyMain.exe \
  build-win32/CompanyMain.exe build-win64/CompanyMainConfig.exe build-win32/CompanyMainConfig.exe
deb_from=()
ls "$first_debs"/*.deb >/dev/null 2>&1 && deb_from=(--deb-from "$first_debs")
step "Reproducible packages: a second build elsewhere, compared byte for byte" 2400 \
  bash tests/reproducible/run.sh "${deb_from[@]}"
step "Wine suite" 1800 bash tests/wine/run.sh build-win64/CompanyMain.exe build/CompanyMain
step "Configuration tool under Wine" 1200 bash tests/wine/tool.sh build-win64/CompanyMain.exe
step "Windows packages under Wine" 2400 bash tests/wine/packages.sh build-win64/CompanyMain.exe
step "Fault and concurrency report" 2400 bash tests/faults/run.sh build/CompanyMain \
  build-win64/CompanyMain.exe
step "Fuzzing" 1800 bash tests/fuzz/run.sh "${FUZZ_SECONDS:-30}"

echo
printf '%s\n' "${results[@]}"
echo "all suites: $((SECONDS - started)) s"
echo "suites: $passed passed, $failed failed, $with_skips with skips"
[ "$failed" -eq 0 ]
