#!/usr/bin/env bash
# Builds every package a second time under other conditions and compares it with the first
# build byte for byte: both Windows programs of both architectures, the setup, the MSIs, the
# zips and SHA256SUMS (scripts/package-windows.sh), the .deb and its debug symbols with their
# SHA256SUMS (dpkg-buildpackage). Then it signs the second build's packages with a throw-away
# certificate and shows that the signatures are all that differs (signed.py).
#   tests/reproducible/run.sh [--deb-from DIR]
# The first build is what this tree already has: the programs in build-win64/ and build-win32/
# (built if missing), packed by scripts/package-windows.sh, and the Debian packages from DIR (as
# the package test keeps them with --keep-build DIR; built from a copy of the tree without it).
# The second build is a clone of this tree (with its uncommitted changes) in a longer folder,
# built from scratch under another host name, time zone, locale and umask, a few minutes
# later; only SOURCE_DATE_EPOCH (the last commit's time; the changelog's for the .deb) links the
# two. A difference prints the start of diffoscope's report. As root (dpkg-buildpackage, host
# name); prints one line per artifact and "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/reproducible
deb_from=
case ${1:-} in
  --deb-from) deb_from=$(realpath "$2") ;;
  "") ;;
  *) echo "usage: $0 [--deb-from DIR]" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "run as root (another host name for the second build)" >&2; exit 2; }
for tool in diffoscope dpkg-buildpackage osslsigncode openssl unshare; do
  command -v $tool >/dev/null || { echo "missing $tool (scripts/install-deps.sh all)" >&2; exit 2; }
done
python=/usr/bin/python3
unset SOURCE_DATE_EPOCH
# The first build's conditions, and an order for listings.
export LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/companymain-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
a=$work/a
b=$work/b/a-longer-folder-for-the-second-build/companymain
mkdir -p "$a/dist" "$a/deb" "$(dirname "$b")"
started=$SECONDS

# ---- The first build ---------------------------------------------------------------------

echo "first build: this tree's programs, packed in the UTC time zone, C locale, umask 022"
(cd "$root" && umask 022 && TZ=UTC LC_ALL=C.UTF-8 bash scripts/package-windows.sh \
  --dist "$a/dist") >"$work/a.log" 2>&1 || { tail -20 "$work/a.log"; exit 1; }
for arch in win64 win32; do
  mkdir -p "$a/$arch"
  cp "$root/build-$arch/CompanyMain.exe" "$root/build-$arch/CompanyMainConfig.exe" \
    "$root/build-$arch/CompanyMainSettings.exe" "$a/$arch/"
done
if [ -n "$deb_from" ]; then
  cp "$deb_from"/*.deb "$deb_from/SHA256SUMS" "$a/deb/" || exit 1
else
  echo "first build of the .deb, in a copy of this tree"
  mkdir -p "$work/deb-a/companymain"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp -P --parents -t "$work/deb-a/companymain" 2>/dev/null)
  (cd "$work/deb-a/companymain" && DEB_BUILD_OPTIONS=parallel=2 dpkg-buildpackage -b -us -uc) \
    >"$work/deb-a.log" 2>&1 || { tail -20 "$work/deb-a.log"; exit 1; }
  cp "$work/deb-a"/*.deb "$work/deb-a/SHA256SUMS" "$a/deb/"
fi

# ---- The second build --------------------------------------------------------------------

git clone -q --shared "$root" "$b" && git -C "$b" checkout -q --detach "$(git -C "$root" rev-parse HEAD)" ||
  exit 1
# The uncommitted changes and new files, so that both builds have the same source.
git -C "$root" diff HEAD --binary | git -C "$b" apply --allow-empty || exit 1
(cd "$root" && git ls-files -z --others --exclude-standard | xargs -0 -r cp -P --parents -t "$b")

source "$root/tests/locales.sh"
locale=zh_CN.UTF-8
locales $locale 2>/dev/null || locale=C.UTF-8
echo "second build: from scratch in $b,"
echo "  host name another-builder, time zone UTC+14, locale $locale, umask 077"
second() {  # command...: in the clone, under the second build's conditions
  (cd "$b" && umask 077 && TZ=Pacific/Kiritimati LC_ALL=$locale LANG=$locale \
    unshare --uts sh -c 'hostname another-builder && exec "$@"' - "$@")
}
mkdir -p "$work/b/dist" "$work/b/signed"
second bash scripts/package-windows.sh --dist "$work/b/dist" >"$work/b.log" 2>&1 ||
  { tail -20 "$work/b.log"; exit 1; }
second env DEB_BUILD_OPTIONS=parallel=2 dpkg-buildpackage -b -us -uc >"$work/deb-b.log" 2>&1 ||
  { tail -20 "$work/deb-b.log"; exit 1; }
mkdir -p "$work/b/deb"
cp "$(dirname "$b")"/*.deb "$(dirname "$b")/SHA256SUMS" "$work/b/deb/"
for arch in win64 win32; do
  mkdir -p "$work/b/$arch"
  cp "$b/build-$arch/CompanyMain.exe" "$b/build-$arch/CompanyMainConfig.exe" \
    "$b/build-$arch/CompanyMainSettings.exe" "$work/b/$arch/"
done
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=CompanyMain reproducibility" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/sign.key" -out "$work/sign.crt" >/dev/null 2>&1
second env SIGN_CERT="$work/sign.crt" SIGN_KEY="$work/sign.key" bash scripts/package-windows.sh \
  --dist "$work/b/signed" >"$work/signed.log" 2>&1 || { tail -20 "$work/signed.log"; exit 1; }
echo "both builds took $((SECONDS - started)) s"
echo

# ---- The comparison ----------------------------------------------------------------------

passed=0 failed=0
compare() {  # path relative to both sides
  local x=$a/$1 y=$work/b/$1
  if [ ! -f "$x" ] || [ ! -f "$y" ]; then
    echo "FAIL  $1: missing in the $([ -f "$x" ] && echo second || echo first) build"
    failed=$((failed + 1))
  elif cmp -s "$x" "$y"; then
    echo "ok    $1  $(sha256sum <"$x" | cut -c1-64) in both"
    passed=$((passed + 1))
  else
    echo "FAIL  $1 differs: $(sha256sum <"$x" | cut -c1-64) / $(sha256sum <"$y" | cut -c1-64)"
    timeout 300 diffoscope --no-progress --text - "$x" "$y" 2>&1 | head -n 60 | sed 's/^/      /'
    failed=$((failed + 1))
  fi
}
artifacts=()
for arch in win64 win32; do
  artifacts+=("$arch/CompanyMain.exe" "$arch/CompanyMainConfig.exe" "$arch/CompanyMainSettings.exe")
done
for file in "$a"/dist/* "$a"/deb/*; do artifacts+=("${file#"$a"/}"); done
# Both sides must have made the same set of files, and each of the expected kinds.
[ "$(cd "$a" && ls dist deb)" = "$(cd "$work/b" && ls dist deb)" ] ||
  { echo "FAIL  the builds made different files: $(cd "$a" && ls dist deb | tr '\n' ' ') / $(cd "$work/b" && ls dist deb | tr '\n' ' ')"; failed=$((failed + 1)); }
[ "$(cd "$a/dist" && ls | sed -E 's/[0-9]+\.[0-9]+\.[0-9]+/V/' | tr '\n' ' ')" = "CompanyMain-V-win32.zip CompanyMain-V-win64.zip CompanyMain-V-x64.msi CompanyMain-V-x86.msi CompanyMain-Setup-V.exe SHA256SUMS " ] ||
  { echo "FAIL  the Windows packages are not the expected five: $(ls "$a/dist" | tr '\n' ' ')"; failed=$((failed + 1)); }
[ "$(ls "$a"/deb/*.deb | wc -l)" -eq 2 ] || { echo "FAIL  not two Debian packages"; failed=$((failed + 1)); }
for artifact in "${artifacts[@]}"; do compare "$artifact"; done

for file in "$a"/dist/*; do
  case $file in *.exe | *.msi | *.zip) ;; *) continue ;; esac
  name=$(basename "$file")
  if reason=$("$python" "$here/signed.py" "$file" "$work/b/signed/$name" 2>&1); then
    echo "ok    $name signed: only the signatures differ"
    passed=$((passed + 1))
  else
    echo "FAIL  $name signed: $reason"
    failed=$((failed + 1))
  fi
done

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
