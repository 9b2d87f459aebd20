#!/usr/bin/env bash
# Runs a command as on a machine whose kernel cannot execute 32-bit x86 programs, without
# touching the machine: in a mount namespace of its own, the 32-bit dynamic loader
# (/lib/ld-linux.so.2), Wine's 32-bit loader and its 32-bit wineserver are covered by a program
# for another machine (32-bit ARM), which the kernel refuses with "Exec format error", as such
# a kernel refuses them. With --removed, Wine's 32-bit side is missing instead, as after
# "apt-get remove wine32:i386". Only the command and what it starts see this. As root.
#   tests/wine/without-32bit.sh [--removed] bash tests/wine/packages.sh build-win64/CompanyMain.exe
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 [--removed] command [argument...]" >&2; exit 2; }
if [ "${COMPANYMAIN_IN_NAMESPACE:-}" != 1 ]; then
  exec env COMPANYMAIN_IN_NAMESPACE=1 unshare --mount --propagation private "$0" "$@"
fi
unset COMPANYMAIN_IN_NAMESPACE

if [ "$1" = --removed ]; then
  shift
  # The folder of Wine's loaders again, on a file system that ends with the namespace,
  # without the two files the wine32 package holds.
  kept=$(mktemp -d /tmp/companymain-wine.XXXXXX)
  cp -a /usr/lib/wine/. "$kept/"
  mount -t tmpfs -o mode=755 companymain-wine /usr/lib/wine
  cp -a "$kept/." /usr/lib/wine/
  rm -rf "$kept" /usr/lib/wine/wine /usr/lib/wine/wineserver32
  exec "$@"
fi

# An ELF header for 32-bit ARM: a foreign machine to this kernel (no binfmt handler takes it).
foreign=$(mktemp /tmp/companymain-foreign.XXXXXX)
python3 - "$foreign" <<'PY'
import struct, sys
header = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
header += struct.pack("<HHIIIIIHHHHHH", 2, 40, 1, 0x8000, 0, 0, 0x5000000, 52, 32, 0, 40, 0, 0)
open(sys.argv[1], "wb").write(header)
PY
chmod 755 "$foreign"
for file in /lib/ld-linux.so.2 /usr/lib/wine/wine /usr/lib/wine/wineserver32; do
  [ -e "$file" ] && mount --bind "$foreign" "$file"
done
# The mounts hold the file; the name can go.
rm -f "$foreign"
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "32-bit programs still run: cannot simulate" >&2
  exit 2
fi
exec "$@"
