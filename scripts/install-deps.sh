#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, as root.
#   install-deps.sh linux   what building and running the Linux launcher needs
#   install-deps.sh all     that, plus everything the whole test suite needs
# COMPANYMAIN_WINE32=no leaves Wine's 32-bit side out (and does not bring it back once removed):
# the suites then run as on a machine that cannot start 32-bit programs, skipping what needs one.
set -euo pipefail
what=${1:-all}
linux=(build-essential cmake git python3 qt6-base-dev qt6-qpa-plugins qt6-wayland qt6-translations-l10n
       libgl-dev fonts-noto-cjk xdg-utils xvfb xauth gettext)
tests=(googletest libgtest-dev xdotool x11-utils imagemagick locales clang libclang-rt-14-dev
       weston xwayland
       at-spi2-core python3-pyatspi dbus xxd libc-l10n man-db
       debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream
       g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
       nsis wixl msitools gir1.2-libmsi-1.0 python3-gi osslsigncode openssl ansible-core)
# Without their recommendations: diffoscope's would bring hundreds of megabytes of tools for
# formats this project does not make.
lean=(diffoscope-minimal)
packages=("${linux[@]}")
[ "$what" = all ] && packages+=("${tests[@]}")

# 32-bit Wine (the setup is a 32-bit program; the 32-bit packages get a prefix of their own)
# comes from Debian's i386 architecture.
if [ "$what" = all ] && [ "${COMPANYMAIN_WINE32:-yes}" != no ]; then
  packages+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
fi

missing() {  # package...: those not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing "${packages[@]}")
lean_missing=()
[ "$what" = all ] && mapfile -t lean_missing < <(missing "${lean[@]}")
if [ $((${#missing[@]} + ${#lean_missing[@]})) -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync fails one index and the update with it; the packages
  # may still be there in the indexes apt has, and apt-get install says so if they are not.
  apt-get update -q || echo "install-deps: apt-get update failed; installing from the indexes apt has" >&2
  [ ${#missing[@]} -eq 0 ] || apt-get install -y -q "${missing[@]}"
  [ ${#lean_missing[@]} -eq 0 ] || apt-get install -y -q --no-install-recommends "${lean_missing[@]}"
fi
