#!/usr/bin/env bash
# scripts/install-deps.sh where Wine's 32-bit side cannot be had, against an apt and a dpkg
# database of the suite's own (APT_CONFIG, DPKG_ADMINDIR): the machine's sources, indexes,
# architectures and packages are neither read nor changed. A local repository, served over
# HTTP, breaks its i386 index as a mirror in the middle of a sync does. As root. Prints one
# line per case and "N passed, N failed, N skipped"; exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" = 0 ] || { echo "usage: as root, $0" >&2; exit 2; }
work=$(mktemp -d /tmp/companymain-install.XXXXXX)
chmod 755 "$work" # apt fetches as a user of its own
server=
cleanup() { [ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
passed=0 failed=0 skipped=0
report() { # case, what went wrong (nothing when it passed)
  if [ -z "$2" ]; then echo "$1: ok"; passed=$((passed + 1)); else
    printf '%s: FAILED: %s\n' "$1" "$2"; failed=$((failed + 1)); fi
}

# The repository: wine32 only in the i386 index, whose Release entry no longer fits it.
dists=$work/repo/dists/bookworm
mkdir -p "$work/deb/DEBIAN" "$dists/main/binary-amd64" "$dists/main/binary-i386" "$work/repo/pool"
printf 'Package: wine32\nVersion: 9.0\nArchitecture: i386\nMaintainer: t <t@invalid>\nDescription: stand-in\n' \
  >"$work/deb/DEBIAN/control"
dpkg-deb -b "$work/deb" "$work/repo/pool/wine32_9.0_i386.deb" >/dev/null
(cd "$work/repo" && dpkg-scanpackages -a i386 pool 2>/dev/null) >"$dists/main/binary-i386/Packages"
: >"$dists/main/binary-amd64/Packages"
{
  printf 'Suite: bookworm\nCodename: bookworm\nDate: %s\nArchitectures: amd64 i386\nComponents: main\nSHA256:\n' "$(date -Ru)"
  for f in main/binary-amd64/Packages main/binary-i386/Packages; do
    printf ' %s %s %s\n' "$(sha256sum <"$dists/$f" | cut -d' ' -f1)" "$(stat -c %s "$dists/$f")" "$f"
  done
} >"$dists/Release"
echo >>"$dists/main/binary-i386/Packages"
python3 -u -m http.server --bind 127.0.0.1 --directory "$work/repo" 0 >"$work/http.log" 2>&1 &
server=$!
port=
for _ in $(seq 100); do # at most 10 s
  port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' "$work/http.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the repository's HTTP server did not start: $(cat "$work/http.log")" >&2; exit 1; }

# fresh NAME: an apt (sources, indexes, cache) and a dpkg database of the suite's own, with no
# package installed and no foreign architecture, in $work/NAME; sets $conf and $admin.
fresh() {
  local dir=$work/$1
  mkdir -p "$dir"/etc/{apt.conf.d,preferences.d,sources.list.d,trusted.gpg.d} "$dir"/{state,cache,log} \
    "$dir"/dpkg/{info,updates}
  echo "deb [trusted=yes] http://127.0.0.1:$port bookworm main" >"$dir/etc/sources.list"
  : >"$dir/dpkg/status"
  conf=$dir/apt.conf admin=$dir/dpkg
  printf 'Dir::Etc "%s/etc";\nDir::State "%s/state";\nDir::State::status "%s/status";\nDir::Cache "%s/cache";\nDir::Log "%s/log";\n' \
    "$dir" "$dir" "$admin" "$dir" "$dir" >"$conf"
}
# own COMMAND...: runs it with the suite's apt and dpkg database and nothing of the caller's
# environment, for at most 5 minutes.
own() {
  env -i PATH="${fake:+$fake:}/usr/sbin:/usr/bin:/sbin:/bin" LANG=C.UTF-8 HOME="$work" \
    APT_CONFIG="$conf" DPKG_ADMINDIR="$admin" timeout 300 "$@"
}

# The fixture itself: apt under it sees the architectures of the suite's dpkg database, and
# its update fails on the i386 index only, with the error mirrors give.
fresh fixture
own dpkg --add-architecture i386
out=$(own apt-get update -q 2>&1)
why=
grep -q '^E: Failed to fetch .*binary-i386/Packages .*File has unexpected size .*Mirror sync in progress' <<<"$out" ||
  why="apt-get update with i386 did not fail on the i386 index as a mirror in sync does: $(tail -3 <<<"$out")"
own dpkg --remove-architecture i386
own apt-get update -q >/dev/null 2>&1 || why+=" apt-get update without i386 failed"
report "fixture: the suite's own apt sees its i386 and the broken index" "$why"

# The 32-bit step on such a machine, with no i386 architecture before, and with one an earlier
# run left behind.
for before in none i386; do
  fresh "wine32-$before"
  [ "$before" = none ] || own dpkg --add-architecture i386
  status=$(sha256sum <"$admin/status")
  out=$(own bash "$root/scripts/install-deps.sh" wine32 2>&1)
  code=$?
  why=
  [ $code -eq 0 ] || why+=" exit code $code;"
  [ "$(wc -l <<<"$out")" -eq 1 ] || why+=" not one line of output;"
  grep -qx "install-deps: Wine's 32-bit side cannot be installed here (.*unexpected size.*).*" <<<"$out" ||
    why+=" the line does not say it cannot be installed, and why;"
  [ "$(sha256sum <"$admin/status")" = "$status" ] || why+=" the dpkg status changed;"
  [ -z "$(own dpkg --print-foreign-architectures)" ] || why+=" a foreign architecture is left;"
  own apt-get update -q >/dev/null 2>&1 || why+=" a later apt-get update fails;"
  [ -z "$why" ] || why+=" output: $out"
  report "wine32, broken i386 index, architecture before: $before" "$why"
done

# "all": the main list is asked for with no i386 package in it (apt would refuse it whole for
# one it cannot have); wine32:i386 after it, alone. apt-get is a stand-in that notes its calls.
fresh all
fake=$work/fake
mkdir -p "$fake"
printf '#!/bin/sh\necho "$*" >>%s/apt-calls\n' "$work" >"$fake/apt-get"
chmod +x "$fake/apt-get"
out=$(own bash "$root/scripts/install-deps.sh" all 2>&1)
code=$?
fake=
calls=$(cat "$work/apt-calls" 2>/dev/null)
main=$(grep -n -m1 -E '^install -y -q .* cmake .* wine64( |$)' <<<"$calls" | cut -d: -f1)
why=
[ $code -eq 0 ] && ! grep -q 'cannot be installed' <<<"$out" ||
  why+=" with apt agreeing, exit code $code and: $out;"
[ -n "$main" ] || why+=" the main list was not asked for;"
[ "$(grep -n i386 <<<"$calls" | sed 's/:.*//' | sort -n | head -1)" -gt "${main:-0}" ] 2>/dev/null ||
  why+=" an i386 package was asked for with or before the main list;"
[ "$(grep i386 <<<"$calls")" = $'install -s -q wine32:i386\ninstall -y -q wine32:i386' ] ||
  why+=" wine32:i386 was not asked for alone;"
[ -z "$why" ] || why+=" apt-get calls: $calls"
report "all: the main list without i386, wine32:i386 alone after it" "$why"

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
