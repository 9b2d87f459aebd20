#!/usr/bin/env bash
# The fault and concurrency report: bad input, killed and simultaneous copies, and a second
# user on the same machine, against the real Linux CompanyMain.
#   run.sh LINUX_PROGRAM [WINDOWS_EXE]
# With the Windows build given, its bad-input cases run under Wine as well.
# As root it runs the cases as two ordinary users it creates (companymain-a, companymain-b),
# so that unreadable files really are unreadable and the users really are different.
# Prints one line per case and a closing "N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "$1")
stage=$(mktemp -d /tmp/companymain-faults.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/tests"
cp -r "$here/../e2e" "$here/../faults" "$stage/tests/"
cp "$program" "$stage/CompanyMain"
cp "$(dirname "$program")/CompanyMainWindow.so" "$(dirname "$program")/companymain-config" "$stage/"
chmod -R a+rX "$stage"
script="$stage/tests/faults/run.py"
base_env=(PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 ASAN_OPTIONS=detect_leaks=0)

if [ "$(id -u)" -eq 0 ]; then
  for user in companymain-a companymain-b; do
    id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    # A home of their own, where the lock goes when another user has taken its /tmp name.
    home=$(getent passwd "$user" | cut -d: -f6)
    [ -d "$home" ] || install -d -m 755 -o "$user" -g "$(id -gn "$user")" "$home"
  done
  runuser -u companymain-a -- env -i "${base_env[@]}" HOME="$stage" \
    dbus-run-session -- /usr/bin/python3 "$script" matrix "$stage/CompanyMain" 2>/dev/null |
    tee "$stage/matrix.out"
  /usr/bin/python3 "$script" users "$stage/CompanyMain" companymain-b companymain-a |
    tee "$stage/users.out"
else
  env -i "${base_env[@]}" HOME="$HOME" dbus-run-session -- /usr/bin/python3 "$script" matrix \
    "$stage/CompanyMain" 2>/dev/null | tee "$stage/matrix.out"
  echo "(cases between two users need root: not run)"
fi

if [ -n "${2:-}" ]; then
  bash "$here/../wine/faults.sh" "$2" | tee "$stage/wine.out"
fi

passed=0 failed=0
for out in "$stage"/*.out; do
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out" | tail -1)
  if [ -z "$line" ]; then
    echo "$(basename "$out" .out): no closing line (the runner broke)"
    failed=$((failed + 1))
    continue
  fi
  passed=$((passed + $(echo "$line" | cut -d' ' -f1)))
  failed=$((failed + $(echo "$line" | cut -d' ' -f3)))
done
echo "faults: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
