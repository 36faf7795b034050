#!/usr/bin/env bash
# Draws the picture of the signer-PIN dialog: a 181 x 54, 16-colour BMP (a
# card with its chip, four masked digits and a small keypad), written to the
# path given. Shapes only, so no font needs to be installed.
# Usage: make-pin-bitmap.sh OUTPUT.bmp
set -euo pipefail
out=${1:?usage: make-pin-bitmap.sh OUTPUT.bmp}
tmp=$out.tmp.bmp

draw=(
  # the card
  -fill '#1f4e8c' -stroke '#0b2445' -draw 'roundrectangle 4,5 96,49 6,6'
  -fill '#d9b44a' -stroke '#7a5c12' -draw 'roundrectangle 14,16 32,30 2,2'
  -stroke '#7a5c12' -draw 'line 14,23 32,23' -draw 'line 23,16 23,30'
  -stroke none -fill '#9fb7d9' -draw 'rectangle 14,38 86,41'
  # four masked digits in the entry box
  -fill white -stroke '#0b2445' -draw 'rectangle 40,14 90,32'
  -stroke none -fill black
  -draw 'circle 47,23 50,23' -draw 'circle 59,23 62,23'
  -draw 'circle 71,23 74,23' -draw 'circle 83,23 86,23'
)
# a 3 x 4 keypad
for row in 0 1 2 3; do
  for col in 0 1 2; do
    x=$((112 + col * 21))
    y=$((4 + row * 12))
    draw+=(-fill '#c0c0c0' -stroke '#404040' -draw "rectangle $x,$y $((x + 17)),$((y + 9))")
  done
done
draw+=(-fill '#2e8b3e' -stroke '#404040' -draw 'rectangle 154,40 171,49')

convert -size 181x54 xc:'#ece9d8' +antialias "${draw[@]}" \
  +dither -colors 16 -type Palette -compress None "BMP3:$tmp"
mv -f "$tmp" "$out"
