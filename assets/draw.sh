#!/usr/bin/env bash
# Redraws the two bundled pictures with ImageMagick 6. They are committed, so
# the build does not need ImageMagick; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf

# The placeholder shown while no picture is open: 217 x 217, the views' size.
convert -size 217x217 xc:'#e4e4e4' \
  -fill none -stroke '#a0a0a0' -strokewidth 2 -draw 'rectangle 8,8 208,208' \
  -stroke '#c0c0c0' -strokewidth 1 -draw 'line 8,8 208,208' -draw 'line 208,8 8,208' \
  -fill '#e4e4e4' -stroke none -draw 'rectangle 38,84 178,132' \
  -fill '#606060' -font "$font" -pointsize 26 -gravity center -annotate +0-8 'NO IMAGE' \
  -pointsize 14 -annotate +0+16 '画像がありません' \
  -type TrueColor BMP3:NoImage.bmp

# The program's own picture: a disc in half shadow, 96 x 96, 24 bits a pixel.
convert -size 96x96 gradient:'#fdf6e3-#d8c9a3' \
  -fill '#f2b134' -stroke '#7a4a00' -strokewidth 2 -draw 'circle 48,48 48,14' \
  -fill '#3a2f5b' -stroke none -draw 'path "M 48,15 A 33,33 0 0,1 48,81 A 20,33 0 0,0 48,15 Z"' \
  -fill none -stroke '#7a4a00' -strokewidth 2 -draw 'circle 48,48 48,14' \
  -type TrueColor BMP3:penumbrix.bmp
convert penumbrix.bmp -define icon:auto-resize=96 penumbrix.png

# The desktop's icons: drawn in icons/penumbrix.svg (installed as the scalable
# icon), rendered to the fixed sizes with rsvg-convert (librsvg2-bin).
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" icons/penumbrix.svg -o "icons/penumbrix-$size.png"
done
