#!/usr/bin/env bash
# Records the SHA-256 of packages just made in SHA256SUMS in their folder; the lines of other
# files already listed there stay.
#   sha256sums.sh FOLDER FILE...        (FILE: names inside FOLDER)
# Check later with: cd FOLDER && sha256sum -c SHA256SUMS
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 FOLDER FILE..." >&2; exit 2; }
cd "$1"
shift
{
  # A line is the digest (64 characters), two spaces, the name.
  [ ! -f SHA256SUMS ] || awk 'NR == FNR { made[$0]; next } !(substr($0, 67) in made)' \
    <(printf '%s\n' "$@") SHA256SUMS
  sha256sum -- "$@"
} | LC_ALL=C sort -k 2 >SHA256SUMS.new
mv -f SHA256SUMS.new SHA256SUMS
