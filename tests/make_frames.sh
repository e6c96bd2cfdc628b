#!/usr/bin/env bash
# Pictures of more than one frame, made with ImageMagick and libwebp's img2webp:
#   make_frames.sh <folder>
# anim4.gif    4 frames of 160x120, delays 30, 500, 1000 and 70 ms, played forever
# anim3.gif    3 frames on 120x90, the later ones smaller and offset, transparency, disposal
#              none/background/previous, delays of 0, 20 and 1 hundredths, played 3 times
# anim.webp    3 frames of 140x100 with alpha, 80/250/400 ms, loop count 2
# pages.tif    3 pages of 200x150, 200x150 and 150x200
set -euo pipefail
out=$1
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"
command -v img2webp >/dev/null || { echo "FAIL: img2webp is missing (./dev.sh installs webp)" >&2; exit 1; }
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$im_convert" -size 160x120 -delay 3 xc:red -delay 50 gradient:green-white \
    -delay 100 xc:blue -delay 7 xc:yellow -loop 0 "$out/anim4.gif"
# ImageMagick's -loop is how often it plays: it writes one less into the loop extension.
"$im_convert" -dispose none -delay 0 -size 120x90 xc:red -fill yellow -draw 'rectangle 0,0 59,44' \
    -dispose background -delay 20 -page 60x40+10+10 \( -size 60x40 xc:blue \) \
    -dispose previous -delay 1 -page 50x30+50+40 \
    \( -size 50x30 xc:none -fill green -draw 'rectangle 0,0 24,29' \) \
    -loop 3 -set page 120x90 "$out/anim3.gif"
"$im_convert" -size 140x100 xc:none -fill 'rgba(255,0,0,0.8)' -draw 'circle 70,50 70,10' "$scratch/1.png"
"$im_convert" -size 140x100 xc:none -fill blue -draw 'rectangle 10,10 80,60' "$scratch/2.png"
"$im_convert" -size 140x100 xc:'rgba(0,255,0,0.6)' -fill white -draw 'circle 30,30 30,10' "$scratch/3.png"
img2webp -loop 2 -lossless -d 80 "$scratch/1.png" -d 250 "$scratch/2.png" \
    -d 400 "$scratch/3.png" -o "$out/anim.webp" >/dev/null 2>&1
"$im_convert" -size 200x150 xc:red -size 200x150 gradient:blue-yellow -size 150x200 xc:green \
    -depth 8 "$out/pages.tif"
