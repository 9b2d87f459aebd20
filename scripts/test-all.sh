#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build (unit, Qt and end-to-end tests), the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the Debian package's life
# (build, lint, install, upgrade, purge) with the Ansible role, install-deps without Wine's
# 32-bit side, both Windows builds with the Wine suites, a second build of every package
# compared with the first, the fault and concurrency report, and the fuzz targets.
# FUZZ_SECONDS sets the time per fuzz target (default 20).
#
# The programs are built once, first; then the suites that share nothing run at the same time,
# in lanes: each Wine suite has prefixes and screens of its own, the package suites use apt one
# after another, and the builds of their own (sanitizers, the second build of the packages,
# fuzzing) overlap the suites that mostly wait on Wine. Each suite runs within a time limit of
# its own; its output is printed whole when it ends. The closing lines give each suite's result
# and time, the line counts of the tests and the product, then
# "suites: N passed, N failed, N with skips": a suite that skipped cases this machine cannot run
# (and failed none) is counted apart, neither as failed nor as passed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh all || exit 1

logs=$(mktemp -d /tmp/companymain-test-all.XXXXXX)
first_debs=$(mktemp -d /tmp/companymain-first-debs.XXXXXX)
mkdir -p "$logs/running"
trap 'rm -rf "$logs" "$first_debs"' EXIT
# Interrupted: every running suite ends too (each cleans up after itself), then this script.
stop() {
  local pid
  for pid in "$logs"/running/*; do
    [ -e "$pid" ] && kill -TERM "$(cat "$pid")" 2>/dev/null
  done
  wait
  exit 130
}
trap stop INT TERM
started=$SECONDS

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

# step NUMBER NAME LIMIT COMMAND...: runs a suite, at most LIMIT seconds. timeout gives it a
# process group of its own, which it ends whole. Its output goes to a log, printed in one piece
# when it ends (suites run side by side); NUMBER orders the closing summary.
step() {
  local number=$1 name=$2 limit=$3
  shift 3
  local log=$logs/$number.log begin=$SECONDS status skipped closing result kind cpu
  echo "=== started: $name"
  # The CPU seconds of the suite: of every process it started, in a control group of its own
  # (Wine's server and programs outlive their parents, which time(1) alone would not count);
  # without one, of those of its processes that ended (time).
  # Inside the group this script runs in, whose own count then holds the suites' too.
  local group
  group=/sys/fs/cgroup/cpuacct$(awk -F: '$2 ~ /(^|,)cpuacct(,|$)/ { print $3 }' /proc/self/cgroup)
  group=${group%/}/companymain-test.$$.$number
  mkdir "$group" 2>/dev/null || group=
  /usr/bin/time -f '%U %S' -o "$logs/$number.cpu" \
    bash -c 'echo $$ >"$0"; [ -z "$1" ] || echo $$ >"$1/cgroup.procs"; shift; exec timeout -k 60 "$@"' \
    "$logs/running/$number" "$group" "$limit" "$@" >"$log" 2>&1 </dev/null
  status=$?
  if [ -n "$group" ] && [ -r "$group/cpuacct.usage" ]; then
    cpu=$(($(cat "$group/cpuacct.usage") / 1000000000))
    rmdir "$group" 2>/dev/null
  else
    cpu=$(tail -n 1 "$logs/$number.cpu" | awk '{ printf "%d", $1 + $2 }')
  fi
  rm -f "$logs/running/$number"
  skipped=$(skips "$log")
  closing=$(grep -a -E '^([a-z]+: )?[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' "$log" | tail -1)
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    kind=failed result="FAILED: still running after its limit of $limit s"
  elif [ "$status" -ne 0 ]; then
    kind=failed result="FAILED${closing:+ (${closing#*: })}"
  elif [ "$skipped" -gt 0 ]; then
    kind=skips result="passed, $skipped skipped"
  else
    kind=passed result=passed
  fi
  {
    flock 9
    echo "=== $name"
    cat "$log"
    echo "=== $name: $result ($((SECONDS - begin)) s, $cpu CPU s)"
  } 9>"$logs/print.lock"
  printf '%s\t%s\t%s\t%s\n' "$number" "$kind" "$name: $result ($((SECONDS - begin)) s, $cpu CPU s)" \
    "$cpu" >>"$logs/results"
  [ "$kind" != failed ]
}

# after NUMBER: waits until step NUMBER has ended (another lane's), at most an hour.
after() {
  local waited=0
  until cut -f1 "$logs/results" 2>/dev/null | grep -qx "$1"; do
    [ $waited -lt 3600 ] || return 1
    sleep 2
    waited=$((waited + 2))
  done
}

linux_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}
linux_tests() {
  ctest --preset "$1" -j2
}
windows_build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}
export -f linux_build linux_tests windows_build

# The locales the Wine suites need, made before they run side by side.
for locale in zh_CN.UTF-8:UTF-8 zh_CN.GBK:GBK zh_TW.UTF-8:UTF-8 en_US.UTF-8:UTF-8; do
  want=$(echo "${locale%%:*}" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  locale -a 2>/dev/null | tr 'A-Z' 'a-z' | grep -qx "$want" ||
    localedef -i "${locale%%.*}" -f "${locale##*:}" "${locale%%:*}" >/dev/null 2>&1
done

# ---- The programs, built once for every suite that needs them -----------------------------
built=yes
step 01 "Linux build" 1200 bash -c 'linux_build default' || built=no
step 02 "Windows build, 64-bit" 1200 bash -c 'windows_build windows-x64' || built=no
step 03 "Windows build, 32-bit" 1200 bash -c 'windows_build windows-x86' || built=no

if [ "$built" = yes ]; then
  # ---- The suites, in lanes side by side ---------------------------------------------------
  (
    step 04 "Linux tests" 1800 bash -c 'linux_tests default'
    # Qt and fontconfig keep caches for the life of the process; leak reports would be theirs.
    ASAN_OPTIONS=detect_leaks=0 step 05 "Linux build and tests under ASan and UBSan" 2400 \
      bash -c 'linux_build sanitize && linux_tests sanitize'
  ) &
  (
    step 07 "Windows DLL imports" 300 bash scripts/check-imports.sh build-win64/CompanyMain.exe \
      build-win64/CompanyMainSettings.exe build-win32/CompanyMainSettings.exe \
      build-win32/CompanyMain.exe build-win64/CompanyMainConfig.exe build-win32/CompanyMainConfig.exe
    step 08 "Wine suite" 1800 bash tests/wine/run.sh build-win64/CompanyMain.exe build/CompanyMain
    step 09 "Configuration tool under Wine" 1200 bash tests/wine/tool.sh build-win64/CompanyMain.exe
    step 06 "Fuzzing" 1200 bash tests/fuzz/run.sh "${FUZZ_SECONDS:-20}"
  ) &
  (
    step 10 "Windows packages under Wine" 2400 bash tests/wine/packages.sh build-win64/CompanyMain.exe
  ) &
  (
    step 11 "Fault and concurrency report" 2400 bash tests/faults/run.sh build/CompanyMain \
      build-win64/CompanyMain.exe
    # It compares the package test's first build with its own.
    after 12
    deb_from=()
    ls "$first_debs"/*.deb >/dev/null 2>&1 && deb_from=(--deb-from "$first_debs")
    step 14 "Reproducible packages: a second build elsewhere, compared byte for byte" 2400 \
      bash tests/reproducible/run.sh "${deb_from[@]}"
  ) &
  (
    # apt and dpkg, one after another.
    step 12 "Debian package: build, lint, install, upgrade, remove, purge; the Ansible role" 2400 \
      bash tests/package/run.sh --keep-build "$first_debs"
    step 13 "install-deps where Wine's 32-bit side cannot be installed" 600 bash tests/install/run.sh
  ) &
  wait
fi

# Lines of the tests (harness scripts included, the fuzzers' seed corpus not) and of the
# product (the programs, their packaging and deployment).
lines() { git ls-files -z "$@" | xargs -0 cat 2>/dev/null | wc -l; }
test_lines=$(lines tests ':!tests/fuzz/corpus')
product_lines=$(lines src packaging deploy debian ':!*.png' ':!*.ico' ':!*.gif')

echo
sort -n "$logs/results" | cut -f3
echo "all suites: $((SECONDS - started)) s, $(cut -f4 "$logs/results" | awk '{ s += $1 } END { print s + 0 }') CPU s"
echo "lines: tests $test_lines, product $product_lines ($(awk -v t="$test_lines" -v p="$product_lines" 'BEGIN { printf "%.2f", t / p }')x)"
passed=$(cut -f2 "$logs/results" | grep -c -x passed)
failed=$(cut -f2 "$logs/results" | grep -c -x failed)
with_skips=$(cut -f2 "$logs/results" | grep -c -x skips)
[ "$built" = yes ] || echo "(a build failed: the suites did not run)"
echo "suites: $passed passed, $failed failed, $with_skips with skips"
[ "$failed" -eq 0 ] && [ "$built" = yes ]
