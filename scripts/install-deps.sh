#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, as root.
#   install-deps.sh linux   what building and running the Linux launcher needs
#   install-deps.sh all     that, plus everything the whole test suite needs, then Wine's
#                           32-bit side where it can be had
#   install-deps.sh wine32  Wine's 32-bit side alone, where it can be had
# Wine's 32-bit side is optional: where it cannot be installed (no usable i386 index, a held or
# missing package) this says so in one line, installs nothing of it and leaves no i386
# architecture behind that nothing uses; the suites then run as on a machine that cannot start
# 32-bit programs and skip, by name, what needs one. COMPANYMAIN_WINE32=no leaves it out (and
# does not bring it back once removed).
set -euo pipefail
what=${1:-all}
case $what in linux | all | wine32) ;; *) echo "usage: $0 [linux|all|wine32]" >&2; exit 2 ;; esac
linux=(build-essential cmake git python3 qt6-base-dev qt6-qpa-plugins qt6-wayland qt6-translations-l10n
       libgl-dev fonts-noto-cjk xdg-utils xvfb xauth gettext nlohmann-json3-dev)
tests=(googletest libgtest-dev xdotool x11-utils imagemagick locales clang libclang-rt-14-dev
       weston xwayland
       at-spi2-core python3-pyatspi dbus xxd libc-l10n man-db gdb time
       debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream libxml2-utils polkitd debconf po-debconf
       g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
       nsis wixl msitools gir1.2-libmsi-1.0 python3-gi osslsigncode openssl ansible-core)
# Without their recommendations: diffoscope's would bring hundreds of megabytes of tools for
# formats this project does not make.
lean=(diffoscope-minimal)
export DEBIAN_FRONTEND=noninteractive

installed() {  # package: whether it is installed
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing() {  # package...: those not installed
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}
update() {
  # A mirror in the middle of a sync fails one index and the update with it; the packages may
  # still be there in the indexes apt has, and apt-get install says so if they are not.
  apt-get update -q || echo "install-deps: apt-get update failed; installing from the indexes apt has" >&2
}

# Wine's 32-bit side (the setup is a 32-bit program; the 32-bit packages get a prefix of their
# own) comes from Debian's i386 architecture, whose index a mirror may serve broken for days.
wine32() {
  installed wine32:i386 && return 0
  local fetched reason
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  # An index that fails to update leaves apt an older one or none; whether wine32 can still be
  # had from what apt has is for apt-get install to say, not the update (which also fails for
  # indexes wine32 does not need).
  fetched=$(apt-get update -q 2>&1) && fetched=
  # Asked first without installing anything: apt refuses a whole list for one package it cannot
  # have, and an install that fails half-way would leave i386 libraries for nothing.
  if reason=$(apt-get install -s -q wine32:i386 2>&1) &&
     reason=$(apt-get install -y -q wine32:i386 2>&1 >/dev/null); then
    return 0
  fi
  # Kept only while something of it is installed: a foreign architecture with a broken index
  # fails every later apt-get update, for nothing (also one an earlier run left behind).
  # (grep reads a here-string: in a pipe under pipefail, grep -q ending at its first match
  # would fail dpkg-query's long listing, and with it the test.)
  if ! grep -qx i386 <<<"$(dpkg-query -W -f='${Architecture}\n' 2>/dev/null)"; then
    dpkg --remove-architecture i386
    apt-get update -q >/dev/null 2>&1 || true
  fi
  # apt's first error says why, a failed index's first: the rest follows from it. (sed alone:
  # a grep finding nothing would end the script under pipefail.)
  reason=$(printf '%s\n' "$fetched" "$reason" | sed -n '/^E: /{s///p;q}')
  echo "install-deps: Wine's 32-bit side cannot be installed here (${reason:-apt refused it}); the suites skip, by name, what needs a 32-bit program"
}

if [ "$what" != wine32 ]; then
  packages=("${linux[@]}")
  [ "$what" = all ] && packages+=("${tests[@]}")
  mapfile -t missing < <(missing "${packages[@]}")
  lean_missing=()
  [ "$what" = all ] && mapfile -t lean_missing < <(missing "${lean[@]}")
  if [ $((${#missing[@]} + ${#lean_missing[@]})) -gt 0 ]; then
    update
    [ ${#missing[@]} -eq 0 ] || apt-get install -y -q "${missing[@]}"
    [ ${#lean_missing[@]} -eq 0 ] || apt-get install -y -q --no-install-recommends "${lean_missing[@]}"
  fi
fi
if [ "$what" != linux ] && [ "${COMPANYMAIN_WINE32:-yes}" != no ]; then
  wine32
fi
# In a clone, the repository's own commit hooks (a subject of at most 72 characters).
if git -C "$(dirname "$0")/.." rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$(dirname "$0")/.." config core.hooksPath scripts/hooks
fi
