#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build (unit, Qt and end-to-end tests), the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the Debian package's life
# (build, lint, install, upgrade, purge) with the Ansible role, both Windows builds with the Wine
# suite, a second build of every package compared with the first, the fault and concurrency
# report, and the fuzz targets.
# FUZZ_SECONDS sets the time per fuzz target (default 60).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh all || exit 1

passed=0 failed=0
step() {
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
    echo "=== $name: passed"
  else
    failed=$((failed + 1))
    echo "=== $name: FAILED"
  fi
}
linux_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2 && ctest --preset "$1" -j2
}
windows_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}

step "Linux build and tests" linux_build default
# Qt and fontconfig keep caches for the life of the process; leak reports would be theirs.
ASAN_OPTIONS=detect_leaks=0 step "Linux build and tests under ASan and UBSan" linux_build sanitize
# The package test's first build, which the reproducibility check compares with its own.
first_debs=$(mktemp -d /tmp/companymain-first-debs.XXXXXX)
trap 'rm -rf "$first_debs"' EXIT
step "Debian package: build, lint, install, upgrade, remove, purge; the Ansible role" \
  bash tests/package/run.sh --keep-build "$first_debs"
step "Windows build, 64-bit" windows_build windows-x64
step "Windows build, 32-bit" windows_build windows-x86
step "Windows DLL imports" bash scripts/check-imports.sh build-win64/CompanyMain.exe \
  build-win32/CompanyMain.exe build-win64/CompanyMainConfig.exe build-win32/CompanyMainConfig.exe
deb_from=()
ls "$first_debs"/*.deb >/dev/null 2>&1 && deb_from=(--deb-from "$first_debs")
step "Reproducible packages: a second build elsewhere, compared byte for byte" \
  bash tests/reproducible/run.sh "${deb_from[@]}"
step "Wine suite" bash tests/wine/run.sh build-win64/CompanyMain.exe build/CompanyMain
step "Configuration tool under Wine" bash tests/wine/tool.sh build-win64/CompanyMain.exe
step "Windows packages under Wine" bash tests/wine/packages.sh build-win64/CompanyMain.exe
step "Fault and concurrency report" bash tests/faults/run.sh build/CompanyMain build-win64/CompanyMain.exe
step "Fuzzing" bash tests/fuzz/run.sh "${FUZZ_SECONDS:-60}"

echo
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
