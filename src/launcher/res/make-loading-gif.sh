#!/usr/bin/env bash
# Draws loading.gif: a 16 x 16 spinner of 12 dots, 12 frames of 100 ms, looping without end.
# The GIF is committed; run this again (ImageMagick's convert) only to change the picture.
set -euo pipefail
cd "$(dirname "$0")"
frames=()
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for f in $(seq 0 11); do
  draw=()
  for i in $(seq 0 11); do
    # The dot the spinner has just reached is darkest; the ones behind it fade out.
    age=$(( (f - i + 12) % 12 ))
    read -r x y < <(awk -v i="$i" 'BEGIN { a = i * 3.14159265 / 6; printf "%.2f %.2f\n", 7.5 + 5.6 * sin(a), 7.5 - 5.6 * cos(a) }')
    r=$(awk -v x="$x" 'BEGIN { printf "%.2f", x + 1.3 }')
    draw+=(-fill "rgb($(( 40 + age * 16 )),$(( 91 + age * 12 )),$(( 162 + age * 6 )))" -draw "circle $x,$y $r,$y")
  done
  convert -size 16x16 xc:white "${draw[@]}" "$tmp/frame$f.png"
  frames+=("$tmp/frame$f.png")
done
convert -delay 10 -loop 0 -dispose background "${frames[@]}" -colors 32 loading.gif
