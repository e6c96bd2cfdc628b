#!/usr/bin/env bash
# Pictures that hold more than one plain RGB picture, through the real program driven through
# its window, read by ImageMagick: an icon converts its largest picture, transparent where the
# output format holds alpha and on white where not; a CMYK JPEG comes out in the colours its
# printer's profile gives it.
#   picture_kinds_test.sh <build folder> <corpus> <a CMYK profile>   (on a display: ctest under xvfb-run)
set -euo pipefail
build=$1 corpus=$2 cmyk_icc=$3
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"
work=$(mktemp -d "$(realpath "$build")/picture-kinds.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A blue square with a yellow disc and a transparent corner, as ImageMagick's icons: the
# largest picture is a PNG in four.ico, a bitmap amid smaller ones in bitmaps.ico.
mkdir "$work/pictures"
"$im_convert" -size 256x256 xc:'#3366cc' -fill '#ffcc00' -draw 'circle 128,128 128,60' -alpha set \
    \( -size 64x64 xc:none \) -geometry +0+0 -compose Copy -composite "$work/picture.png"
"$im_convert" "$work/picture.png" -define icon:auto-resize=16,32,48,256 "$work/pictures/four.ico"
"$im_convert" "$work/picture.png" -define icon:auto-resize=16,128,64 "$work/pictures/bitmaps.ico"
# The flower in a printer's colours, and as its profile shows them.
"$im_convert" "$corpus/jpeg/pillow/flower.jpg" -strip -profile "$srgb_icc" -profile "$cmyk_icc" \
    -quality 95 "$work/pictures/cmyk.jpg"
to_srgb "$work/pictures/cmyk.jpg" "$work/cmyk_reference.png" "$cmyk_icc" >/dev/null

# Pixel x,y of a file as "r,g,b,a", each 0..255.
pixel() {
    local p="p{$2,$3}"
    "$im_convert" "${1}[0]" -alpha on -format \
        "%[fx:round(255*$p.r)],%[fx:round(255*$p.g)],%[fx:round(255*$p.b)],%[fx:round(255*$p.a)]" info:
}
# Within 12 levels in every channel: what JPEG and WebP change in flat colour, and what a
# palette entry's mean moves.
near() {
    awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, ","); split(b, y, ",");
        for (i = 1; i <= 4; i++) if (x[i] - y[i] > 12 || y[i] - x[i] > 12) exit 1 }'
}

failures=0 error=""
for format in BMP GIF JPEG PNG TIFF WEBP; do
    convert_through_window "$build" "$work/pictures" "$format" "$work/$format" "$work/$format.log"
    corner=255,255,255,255
    case $format in PNG | TIFF | WEBP) corner=0,0,0,0 ;; esac
    for row in four:256 bitmaps:128 cmyk:480x360; do
        input=${row%:*} size=${row#*:} output=$work/$format/${row%:*}.${format,,} problems=()
        if [ ! -f "$output" ]; then
            problems+=("no output")
        elif [ "$input" = cmyk ]; then
            # Without the profile the colours are 4 % off; GIF's palette adds up to 3 %, as
            # for photos.
            limit=1.2
            [ "$format" = GIF ] && limit=3
            [ "$(to_srgb "$output" "$work/out.png" "" | tr ' ' x)" = "$size" ] || problems+=("not $size")
            error=$(mae_percent "$work/cmyk_reference.png" "$work/out.png")
            awk -v e="$error" -v l="$limit" 'BEGIN { exit !(e != "" && e + 0 <= l) }' ||
                problems+=("colours ${error:-?} % off, more than $limit %")
        else
            got=$("$im_convert" "${output}[0]" -format '%wx%h' info:)
            [ "$got" = "${size}x$size" ] || problems+=("${got}, not ${size}x$size")
            middle=$(pixel "$output" $((size / 2)) $((size / 2)))
            near "$middle" 255,204,0,255 || problems+=("middle $middle, not 255,204,0,255")
            top=$(pixel "$output" 2 2)
            # A transparent pixel's colour is the encoder's; only its alpha counts.
            [ "$corner" = 0,0,0,0 ] && top=0,0,0,${top##*,}
            near "$top" "$corner" || problems+=("corner $top, not $corner")
        fi
        verdict=ok
        row_failed "$input to $format" && verdict=FAIL
        echo "$verdict $input to $format ${error:+($error %) }${problems[*]:-}"
        error=""
    done
done
echo "$failures of 18 rows failed"
[ "$failures" -eq 0 ]
