#!/usr/bin/env bash
# Icons through the real program driven through its window: each converts its largest picture,
# with its transparency where the output format holds it and on white where not; checked with
# ImageMagick.
#   icon_conversion_test.sh <build folder>
# Runs on a display (ctest under xvfb-run); exits 1 when a row fails.
set -euo pipefail
build=$1
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"

# A blue square with a yellow disc and a transparent top left corner, in ImageMagick's icons of
# several sizes: the largest is a PNG in one (256) and a bitmap in the other (128).
work=$(mktemp -d "$(realpath "$build")/icon-conversion.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/icons"
"$im_convert" -size 256x256 xc:'#3366cc' -fill '#ffcc00' -draw 'circle 128,128 128,60' -alpha set \
    \( -size 64x64 xc:none \) -geometry +0+0 -compose Copy -composite "$work/picture.png"
"$im_convert" "$work/picture.png" -define icon:auto-resize=16,32,48,256 "$work/icons/four.ico"
"$im_convert" "$work/picture.png" -define icon:auto-resize=16,128,64 "$work/icons/bitmaps.ico"

# input, its largest picture's size
inputs='four 256
bitmaps 128'
# format, whether the output keeps the transparency
formats='BMP no
GIF no
JPEG no
PNG yes
TIFF yes
WEBP yes'

windows_path() { printf 'Z:%s' "$(realpath "$1" | sed 's#/#\\#g')"; }
# A pixel as "r,g,b,a" in levels of 255.
pixel() { # <file> <x> <y>
    local p="p{$2,$3}"
    "$im_convert" "$1[0]" -alpha on -format \
        "%[fx:round(255*$p.r)],%[fx:round(255*$p.g)],%[fx:round(255*$p.b)],%[fx:round(255*$p.a)]" info:
}
# True when two pixels differ by at most 12 levels in each of r, g, b and a: what JPEG and
# WebP change in flat colour, and what a palette entry's mean moves.
near() {
    awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, ","); split(b, y, ",");
        for (i = 1; i <= 4; i++) if (x[i] - y[i] > 12 || y[i] - x[i] > 12) exit 1 }'
}

failures=0
rows=0
while read -r format keeps; do
    "$here/../scripts/wine-run" "$build/tools/vorandel_drive.exe" \
        "$(windows_path "$build/ui/Vorandel.exe")" "$(windows_path "$work/icons")" \
        --format "$format" --quality 95 --timeout 120 >"$work/$format.log" 2>&1 || true
    mv "$work/icons/converted_images" "$work/$format" 2>/dev/null || mkdir "$work/$format"
    corner=255,255,255,255
    [ "$keeps" = yes ] && corner=0,0,0,0
    while read -r input size; do
        output=$work/$format/$input.${format,,}
        problems=()
        if [ ! -f "$output" ]; then
            problems+=("no output")
        else
            got=$("$im_convert" "$output[0]" -format '%wx%h' info:)
            [ "$got" = "${size}x$size" ] || problems+=("${got}, not ${size}x$size")
            middle=$(pixel "$output" $((size / 2)) $((size / 2)))
            near "$middle" 255,204,0,255 || problems+=("middle $middle, not the disc's 255,204,0,255")
            # A transparent pixel's colour is the encoder's; only its alpha counts.
            top=$(pixel "$output" 2 2)
            [ "$keeps" = yes ] && top=0,0,0,${top##*,}
            near "$top" "$corner" || problems+=("corner $top, not $corner")
        fi
        rows=$((rows + 1))
        if [ ${#problems[@]} -gt 0 ]; then
            failures=$((failures + 1))
            echo "FAIL $input.ico to $format: $(printf '%s; ' "${problems[@]}")"
        else
            echo "ok   $input.ico to $format"
        fi
    done <<<"$inputs"
done <<<"$formats"
echo "$failures of $rows rows failed"
[ "$failures" -eq 0 ]
