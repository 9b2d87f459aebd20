#!/usr/bin/env bash
# Draws CompanyMain.ico: a blue tile with a white page and the spinner's dots, at 16, 24, 32,
# 48 and 256 pixels, and the same picture as PNG files in icons/ at the sizes of the desktop's
# icon theme (which the Linux window module shows as well). All are committed; run this again
# (ImageMagick's convert) only to change them.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# One 256-pixel master; the small sizes are scaled from it.
convert -size 256x256 xc:none \
  -fill 'rgb(40,91,162)' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill white -draw 'polygon 72,48 156,48 196,88 196,208 72,208' \
  -fill 'rgb(170,196,230)' -draw 'polygon 156,48 156,88 196,88' \
  -fill 'rgb(40,91,162)' -draw 'rectangle 96,104 172,116' -draw 'rectangle 96,128 172,140' \
  -draw 'circle 104,172 114,172' -draw 'circle 134,172 144,172' \
  -fill 'rgb(120,150,200)' -draw 'circle 164,172 174,172' \
  "$tmp/master.png"
sizes=()
for s in 16 24 32 48 256; do
  convert "$tmp/master.png" -resize "${s}x${s}" -depth 8 "PNG32:$tmp/icon$s.png"
  sizes+=("$tmp/icon$s.png")
done
convert "${sizes[@]}" CompanyMain.ico
mkdir -p icons
for s in 16 24 32 48 64 128 256; do
  # No time stamps: the same picture gives the same bytes.
  convert "$tmp/master.png" -resize "${s}x${s}" -depth 8 -define png:exclude-chunks=date,time \
    "PNG32:icons/companymain-$s.png"
done
