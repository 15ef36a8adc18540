#!/bin/sh
# Draws the program's icon (a gold school bell on a navy tile) with
# ImageMagick and writes the sizes the desktop and the tray use.
# Run from anywhere: tools/make-icons.sh
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/app/desktop/icons"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# 256 × 256 master, scaled down for every size.
convert -size 256x256 xc:none \
  -fill '#000080' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#FFFBF0' -draw 'roundrectangle 20,20 235,235 30,30' \
  -fill '#000080' -draw 'roundrectangle 28,28 227,227 24,24' \
  -fill '#F2B705' -stroke '#8A5A00' -strokewidth 6 \
  -draw 'path "M 128,40 C 84,40 72,80 72,120 L 72,160 L 48,192 L 208,192 L 184,160 L 184,120 C 184,80 172,40 128,40 Z"' \
  -stroke none -fill '#F2B705' -draw 'circle 128,40 128,28' \
  -fill '#8A5A00' -draw 'circle 128,208 128,190' \
  -fill '#FF0000' -draw 'rectangle 60,184 196,194' \
  "$tmp/master.png"

for s in 16 32 48 128; do
  convert "$tmp/master.png" -filter Lanczos -resize ${s}x${s} \
    -define png:exclude-chunks=date,time -strip "$out/daling-$s.png"
done
echo "icons written to $out"
