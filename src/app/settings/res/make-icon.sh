#!/usr/bin/env bash
# Draws the settings window's icon, companymain-settings: the launcher's picture
# (src/app/launcher/res/icons) with a gear at its lower right, as PNG files in icons/ at the
# sizes of the desktop's icon theme. All are committed; run this again (ImageMagick's convert)
# only to change them.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The gear: eight teeth around a wheel with a hole, white on a disc of the tile's blue that
# sets it off the page. One 256-pixel master; the small sizes are scaled from it.
teeth=()
for angle in 0 45 90 135 180 225 270 315; do
  teeth+=(-draw "translate 176,176 rotate $angle rectangle -14,-62 14,-38")
done
convert ../../launcher/res/icons/companymain-256.png \
  -fill 'rgb(40,91,162)' -draw 'circle 176,176 176,104' \
  -fill white "${teeth[@]}" -draw 'circle 176,176 176,130' \
  -fill 'rgb(40,91,162)' -draw 'circle 176,176 176,160' \
  "$tmp/master.png"
mkdir -p icons
for s in 16 24 32 48 64 128 256; do
  # No time stamps: the same picture gives the same bytes.
  convert "$tmp/master.png" -resize "${s}x${s}" -depth 8 -define png:exclude-chunks=date,time \
    "PNG32:icons/companymain-settings-$s.png"
done
